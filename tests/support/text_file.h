// A whole text file as a string ("" when it cannot be read), for tests
// that look at what a program wrote.
#ifndef VELTA36_TESTS_SUPPORT_TEXT_FILE_H
#define VELTA36_TESTS_SUPPORT_TEXT_FILE_H

#include <fstream>
#include <sstream>
#include <string>

namespace velta36test {

inline std::string ReadTextFile(const std::string& path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace velta36test

#endif

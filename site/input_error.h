// What the user gave is wrong: a configuration, an option, a request.
// what() is one line that names the bad value; a front end shows it as it
// stands (the tool exits with status 2).
#ifndef VELTA36_SITE_INPUT_ERROR_H
#define VELTA36_SITE_INPUT_ERROR_H

#include <stdexcept>
#include <string>

namespace velta36site {

class InputError : public std::runtime_error {
public:
    explicit InputError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace velta36site

#endif

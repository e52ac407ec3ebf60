// The velta36.so a loading test loads: the one the build made
// (VELTA36_PLUGIN_PATH, set by CMake), or the file named by the environment
// variable VELTA36_PLUGIN, so that the same tests check a packaged copy.
#ifndef VELTA36_TESTS_SUPPORT_PLUGIN_UNDER_TEST_H
#define VELTA36_TESTS_SUPPORT_PLUGIN_UNDER_TEST_H

#include <cstdlib>

namespace velta36test {

inline const char* PluginUnderTest()
{
    const char* fromEnvironment = std::getenv("VELTA36_PLUGIN");
    return fromEnvironment != nullptr && *fromEnvironment != '\0' ? fromEnvironment : VELTA36_PLUGIN_PATH;
}

}  // namespace velta36test

#endif

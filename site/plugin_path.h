// Where the tool finds velta36.so when --plugin is not given.
#ifndef VELTA36_CLI_PLUGIN_PATH_H
#define VELTA36_CLI_PLUGIN_PATH_H

#include <string>
#include <vector>

namespace velta36cli {

// In order: $VELTA36_PLUGIN, next to the executable, the installed
// lib/velta36/ beside its bin/, the build tree's plugin/ folder.
std::vector<std::string> PluginCandidates();
// The first candidate that exists; throws InputError listing them all.
std::string DefaultPluginPath();

}  // namespace velta36cli

#endif

// Where a site finds velta36.so when no path is given.
#ifndef VELTA36_SITE_PLUGIN_PATH_H
#define VELTA36_SITE_PLUGIN_PATH_H

#include <string>
#include <vector>

namespace velta36site {

// In order: $VELTA36_PLUGIN, next to the executable, the installed
// lib/velta36/ beside its bin/, the build tree's plugin/ folder.
std::vector<std::string> PluginCandidates();
// The first of the candidates that exists; throws InputError listing them
// all.
std::string FirstPluginFound(const std::vector<std::string>& candidates);

}  // namespace velta36site

#endif

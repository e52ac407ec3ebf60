#include "plugin_path.h"

#include <unistd.h>

#include <cstdlib>

#include "input_error.h"

namespace velta36site {

namespace {

std::string ExecutableDir()
{
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (n <= 0)
        return ".";
    std::string path(buffer, static_cast<std::size_t>(n));
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

}  // namespace

std::vector<std::string> PluginCandidates()
{
    std::vector<std::string> candidates;
    if (const char* fromEnvironment = std::getenv("VELTA36_PLUGIN")) {
        if (*fromEnvironment)
            candidates.push_back(fromEnvironment);
    }
    const std::string dir = ExecutableDir();
    candidates.push_back(dir + "/velta36.so");
    candidates.push_back(dir + "/../lib/velta36/velta36.so");
    candidates.push_back(dir + "/../plugin/velta36.so");
    return candidates;
}

std::string FirstPluginFound(const std::vector<std::string>& candidates)
{
    std::string tried;
    for (const std::string& candidate : candidates) {
        if (access(candidate.c_str(), R_OK) == 0)
            return candidate;
        tried += (tried.empty() ? "" : ", ") + candidate;
    }
    throw InputError("cannot find velta36.so (tried " + tried + "); pass --plugin PATH");
}

}  // namespace velta36site

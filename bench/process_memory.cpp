#include "process_memory.h"

#include <malloc.h>

#include <fstream>
#include <sstream>

namespace velta36bench {

long long StatusKb(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string key = field + ":";
    while (std::getline(status, line)) {
        if (line.compare(0, key.size(), key) == 0) {
            std::istringstream value(line.substr(key.size()));
            long long kb = -1;
            value >> kb;
            return kb;
        }
    }
    return -1;
}

long long HeapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return static_cast<long long>(info.uordblks + info.hblkhd);
}

}  // namespace velta36bench

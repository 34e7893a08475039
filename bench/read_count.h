#pragma once

#include <fstream>
#include <string>

namespace tampod::bench {

// Bytes this process has read by read(2) and pread(2) so far; -1 where the kernel does not say.
inline long long bytesRead()
{
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value)
        if (key == "rchar:")
            return value;
    return -1;
}

} // namespace tampod::bench

#pragma once

#include <fstream>
#include <string>

// A figure of this process's memory from /proc/self/status, in KiB
// ("VmRSS:" now, "VmHWM:" the peak since the last resetPeak), or -1.
inline long statusKilobytes(char const* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0)
            return std::stol(line.substr(std::string(field).size()));
    }
    return -1;
}

// Starts the peak ("VmHWM:") afresh from what the process holds now.
inline void resetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

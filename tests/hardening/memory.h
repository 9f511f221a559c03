#pragma once

#include <fstream>
#include <string>

namespace tempikon::hardening {

// A field of /proc/self/status in KiB (VmRSS, VmHWM); -1 when unknown.
inline long long StatusKiB(const std::string& field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field + ":", 0) == 0) return std::stoll(line.substr(field.size() + 1));
    }
    return -1;
}

// Resets the peak resident size (VmHWM) to the current one.
inline bool ResetPeak() {
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
    out.flush();
    return static_cast<bool>(out);
}

}  // namespace tempikon::hardening

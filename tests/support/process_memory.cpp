#include "support/process_memory.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace zucam::test {
namespace {

// A "Name:   1234 kB" line of /proc/self/status, in bytes.
uint64_t StatusKilobytes(const char* name) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t nameLength = std::strlen(name);
    while (std::getline(status, line)) {
        if (line.compare(0, nameLength, name) != 0 || line.size() <= nameLength || line[nameLength] != ':') continue;
        unsigned long long kilobytes = 0;
        if (std::sscanf(line.c_str() + nameLength + 1, "%llu", &kilobytes) != 1) return 0;
        return static_cast<uint64_t>(kilobytes) * 1024;
    }
    return 0;
}

}  // namespace

uint64_t ResidentBytes() { return StatusKilobytes("VmRSS"); }

uint64_t PeakResidentBytes() { return StatusKilobytes("VmHWM"); }

bool ResetPeakResident() {
    // "5" resets the peak resident size to the current one.
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

}  // namespace zucam::test

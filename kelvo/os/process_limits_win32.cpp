// The processors this process may use on Windows: its process affinity mask. Windows has no
// cgroups; a job object's limits are not read.
#include <windows.h>

#include <algorithm>

#include "kelvo/os/process_limits.h"

int UsableProcessorCount() {
    int active = static_cast<int>(GetActiveProcessorCount(ALL_PROCESSOR_GROUPS));
    if (active < 1) {
        SYSTEM_INFO system{};
        GetSystemInfo(&system);
        active = static_cast<int>(system.dwNumberOfProcessors);
    }
    DWORD_PTR processMask = 0;
    DWORD_PTR systemMask = 0;
    const int count = GetProcessAffinityMask(GetCurrentProcess(), &processMask, &systemMask)
                          ? ProcessorsOfAffinityMask(processMask, systemMask, active)
                          : active;
    return std::clamp(count, 1, 256);
}

std::optional<uint64_t> CgroupMemoryLimit() {
    return std::nullopt;
}

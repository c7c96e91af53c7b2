// The machine's physical memory, from GlobalMemoryStatusEx (64-bit counts, also in the 32-bit
// build).
#include <windows.h>

#include "kelvo/os/machine_memory.h"

uint64_t PhysicalMemoryBytes() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? status.ullTotalPhys : 0;
}

uint64_t UsableMemoryBytes() {
    return PhysicalMemoryBytes();
}

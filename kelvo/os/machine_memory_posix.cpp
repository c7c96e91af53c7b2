// The machine's physical memory, from sysconf, and what of it the process's cgroup allows.
#include <unistd.h>

#include "kelvo/os/machine_memory.h"
#include "kelvo/os/process_limits.h"

uint64_t PhysicalMemoryBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageBytes = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageBytes <= 0) {
        return 0;
    }
    return static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageBytes);
}

uint64_t UsableMemoryBytes() {
    const uint64_t physical = PhysicalMemoryBytes();
    const std::optional<uint64_t> limit = CgroupMemoryLimit();
    return limit && (physical == 0 || *limit < physical) ? *limit : physical;
}

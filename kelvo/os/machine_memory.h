// How much memory the machine has, for deciding how much kelvo runs at once.
#pragma once

#include <cstdint>

// The machine's physical memory in bytes; 0 when the system does not say.
uint64_t PhysicalMemoryBytes();

// The memory this process may use: the physical memory, or its cgroup's memory limit where that
// is lower (Linux); 0 when neither is known.
uint64_t UsableMemoryBytes();

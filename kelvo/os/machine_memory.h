// How much memory the machine has, for deciding how much kelvo runs at once.
#pragma once

#include <cstdint>

// The machine's physical memory in bytes; 0 when the system does not say.
uint64_t PhysicalMemoryBytes();

// Makes the program's global operator new refuse requests from a given size on while a limit
// is in force, to reach out-of-memory paths. Only where the module is linked into the test
// program: a loaded DLL allocates with its own runtime. It is the program's one allocation
// cap (kelvo/imageio/allocation_cap.h), counted from the smallest size refused.
#pragma once

#include <cstddef>

#include "kelvo/imageio/allocation_cap.h"

class AllocationLimit {
public:
    // Requests of `smallestRefused` bytes or more fail: nothrow new gives null, new throws.
    explicit AllocationLimit(size_t smallestRefused)
        : cap_(smallestRefused > 0 ? smallestRefused - 1 : 0) {}

private:
    AllocationCap cap_;
};

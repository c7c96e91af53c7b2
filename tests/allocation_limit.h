// Makes the program's global operator new refuse requests from a given size on while a limit
// is in force, to reach out-of-memory paths. Only where the module is linked into the test
// program: a loaded DLL allocates with its own runtime.
#pragma once

#include <cstddef>

class AllocationLimit {
public:
    // Requests of `smallestRefused` bytes or more fail: nothrow new gives null, new throws.
    explicit AllocationLimit(size_t smallestRefused);
    ~AllocationLimit();
    AllocationLimit(const AllocationLimit&) = delete;
    AllocationLimit& operator=(const AllocationLimit&) = delete;
};

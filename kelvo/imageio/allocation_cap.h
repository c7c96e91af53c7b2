// A cap on the size of each allocation made through operator new on this thread, for the time
// a library that trusts the sizes a file claims (OpenEXR's full reader) works on one: a claim
// beyond the cap gets std::bad_alloc where it would have got the memory. kelvo replaces the
// global operator new and delete (allocation_cap.cpp) for it; with no cap in force they are
// malloc and free.
#pragma once

#include <cstddef>

class AllocationCap {
public:
    // Requests of more than `largest` bytes are refused until the cap ends; a cap already in
    // force that is lower stays.
    explicit AllocationCap(size_t largest);
    // Restores the cap that was in force before.
    ~AllocationCap();
    AllocationCap(const AllocationCap&) = delete;
    AllocationCap& operator=(const AllocationCap&) = delete;

    // The largest request refused while this cap was in force; 0 when none was.
    size_t Refused() const;

private:
    size_t before_;
    size_t refusedBefore_;
};

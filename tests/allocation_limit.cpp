// Replaces the global operator new and delete with malloc and free behind a size limit.
#include "tests/allocation_limit.h"

#include <cstdlib>
#include <new>

namespace {

size_t smallestRefused = static_cast<size_t>(-1);

void* Allocate(size_t size) noexcept {
    if (size >= smallestRefused) {
        return nullptr;
    }
    return std::malloc(size == 0 ? 1 : size);
}

void* AllocateOrThrow(size_t size) {
    void* block = Allocate(size);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}

}  // namespace

AllocationLimit::AllocationLimit(size_t smallest) {
    smallestRefused = smallest;
}
AllocationLimit::~AllocationLimit() {
    smallestRefused = static_cast<size_t>(-1);
}

void* operator new(size_t size) {
    return AllocateOrThrow(size);
}
void* operator new[](size_t size) {
    return AllocateOrThrow(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete[](void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, size_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, size_t) noexcept {
    std::free(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}

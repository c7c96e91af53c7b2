// Replaces the global operator new and delete with malloc and free behind a per-thread cap.
#include "kelvo/imageio/allocation_cap.h"

#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

thread_local size_t capBytes = SIZE_MAX;
thread_local size_t refusedBytes = 0;

void* Allocate(size_t size) noexcept {
    if (size > capBytes) {
        refusedBytes = size > refusedBytes ? size : refusedBytes;
        return nullptr;
    }
    return std::malloc(size == 0 ? 1 : size);
}

// As the standard operator new: the new-handler, if any, may free memory for another try.
void* AllocateOrThrow(size_t size) {
    for (;;) {
        if (void* block = Allocate(size)) {
            return block;
        }
        const std::new_handler handler = std::get_new_handler();
        if (handler == nullptr || size > capBytes) {
            throw std::bad_alloc();
        }
        handler();
    }
}

}  // namespace

AllocationCap::AllocationCap(size_t largest) : before_(capBytes), refusedBefore_(refusedBytes) {
    capBytes = largest < capBytes ? largest : capBytes;
    refusedBytes = 0;
}

AllocationCap::~AllocationCap() {
    capBytes = before_;
    refusedBytes = refusedBefore_;
}

size_t AllocationCap::Refused() const {
    return refusedBytes;
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

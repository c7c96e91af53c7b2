// Helpers shared by the fuzz targets: reading typed values from the fuzzer's bytes, checks
// that abort so the fuzzer records the input, and a private scratch directory.
#pragma once

#include <unistd.h>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    // Copies up to `count` bytes; the rest of `out` is zero-filled when the input runs out.
    void Take(void* out, size_t count) {
        const size_t available = count < size_ ? count : size_;
        std::memset(out, 0, count);
        if (available > 0) {
            std::memcpy(out, data_, available);
        }
        data_ += available;
        size_ -= available;
    }
    uint8_t Byte() {
        uint8_t v;
        Take(&v, 1);
        return v;
    }
    uint16_t Word16() { return static_cast<uint16_t>(Byte() | Byte() << 8); }
    uint32_t Word32() { return Word16() | static_cast<uint32_t>(Word16()) << 16; }
    size_t Remaining() const { return size_; }
    const uint8_t* Rest() const { return data_; }

private:
    const uint8_t* data_;
    size_t size_;
};

// A directory of this process's own, created on first use and removed at exit. The path is
// never destroyed, so the exit handler can still use it.
inline const std::string& FuzzScratchDirectory() {
    static const std::string* path = [] {
        // Memory-backed where there is one: the targets write a file on every run.
        const std::filesystem::path base = std::filesystem::is_directory("/dev/shm")
                                               ? std::filesystem::path("/dev/shm")
                                               : std::filesystem::temp_directory_path();
        auto* dir = new std::string((base / ("kelvo-fuzz-" + std::to_string(getpid()))).string());
        std::filesystem::create_directories(*dir);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(FuzzScratchDirectory(), ignored);
        });
        return dir;
    }();
    return *path;
}

// Where encoders send their bytes: a file, a vector in tests, or a sink that fails on purpose.
#pragma once

#include <cstddef>
#include <cstdint>

class ByteSink {
public:
    // Returns 1 when all `size` bytes were taken, 0 otherwise.
    virtual int Write(const uint8_t* data, size_t size) = 0;

protected:
    ~ByteSink() = default;
};

inline void PutLe16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value & 0xFF);
    at[1] = static_cast<uint8_t>(value >> 8);
}

inline uint16_t GetLe16(const uint8_t* at) {
    return static_cast<uint16_t>(at[0] | (at[1] << 8));
}

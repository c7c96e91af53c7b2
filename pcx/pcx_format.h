// Offsets, sizes and markers of the 8-bit run-length-encoded PCX files we write and read.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t PCX_HEADER_SIZE = 128;
constexpr size_t PCX_TRAILER_SIZE = 769;  // marker byte + 768 palette bytes

// Header fields: offset, width in bytes; 16-bit fields are little-endian.
constexpr size_t PCX_MANUFACTURER = 0;     // 1: 0x0A
constexpr size_t PCX_VERSION = 1;          // 1: 5
constexpr size_t PCX_ENCODING = 2;         // 1: 1, run-length encoding
constexpr size_t PCX_BITS_PER_PIXEL = 3;   // 1: 8
constexpr size_t PCX_XMAX = 8;             // 2: width - 1
constexpr size_t PCX_YMAX = 10;            // 2: height - 1
constexpr size_t PCX_PLANES = 65;          // 1: 1
constexpr size_t PCX_BYTES_PER_LINE = 66;  // 2: width, not rounded up to even

constexpr uint8_t PCX_MANUFACTURER_ZSOFT = 0x0A;
constexpr uint8_t PCX_VERSION_5 = 5;
constexpr uint8_t PCX_ENCODING_RLE = 1;
constexpr uint8_t PCX_PALETTE_MARKER = 0x0C;

// Run-length items: a count byte 0xC0 | n (n = 1..63) followed by the value.
constexpr uint8_t PCX_RUN_FLAG = 0xC0;
constexpr int PCX_MAX_RUN = 63;

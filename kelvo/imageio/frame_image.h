// A decoded input frame: 16-bit RGBA colour and one identifier per pixel.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Frames are at most this wide and high: the host's bitmap sizes are 16-bit.
constexpr int FRAME_MAX_SIDE = 65535;

struct ColorImage {
    int width = 0;
    int height = 0;
    std::vector<uint16_t> rgba;  // 4 values per pixel, row-major, top row first
};

struct IdImage {
    int width = 0;
    int height = 0;
    std::vector<uint16_t> ids;  // one per pixel; empty means every identifier is 0
};

struct DecodedFrame {
    ColorImage color;
    IdImage ids;
};

// "identifier 300 at pixel (4, 2) is outside 0..255 ..." for an identifier the channel in use
// cannot hold.
std::string DescribeIdOutOfRange(const std::string& value, int x, int y, int maxId);
std::string FormatIdValue(double value);

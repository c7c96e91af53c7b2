// Writes small PNG inputs with libpng for the host's tests, and reads palette PNGs back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// `samples` holds width x height x channels values (channels from the colour type; palette
// images hold indices). 8-bit images take the low byte of each value.
struct TestPng {
    TestPng() = default;
    TestPng(int w, int h, int type, int depth, std::vector<uint16_t> values,
            std::vector<uint8_t> colours = {}, std::vector<uint8_t> transparency = {})
        : width(w),
          height(h),
          colorType(type),
          bitDepth(depth),
          samples(std::move(values)),
          palette(std::move(colours)),
          alphas(std::move(transparency)) {}

    int width = 1;
    int height = 1;
    int colorType = 2;  // PNG_COLOR_TYPE_RGB
    int bitDepth = 8;
    std::vector<uint16_t> samples;
    std::vector<uint8_t> palette;  // r, g, b triples for palette images
    std::vector<uint8_t> alphas;   // tRNS entries for palette images
    bool interlaced = false;
    int filter = -1;  // 0..4: every row filtered so (None, Sub, Up, Average, Paeth)
    // 0 or more: the file ends amid the image data, after at most this many rows of zeros (no
    // samples needed), as a file cut short, or made to claim pixels it does not hold.
    int rowsKept = -1;
};

void WriteTestPng(const std::string& path, const TestPng& png);

// Reads an 8-bit palette PNG back: its indices and its PLTE as r, g, b triples.
struct IndexedPng {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> indices;
    std::vector<uint8_t> palette;
};
IndexedPng ReadTestIndexedPng(const std::string& path);

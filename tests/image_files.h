// Writes small PNG and OpenEXR inputs with libpng and OpenEXR for the host's tests.
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
        : width(w), height(h), colorType(type), bitDepth(depth), samples(std::move(values)),
          palette(std::move(colours)), alphas(std::move(transparency)) {}

    int width = 1;
    int height = 1;
    int colorType = 2;  // PNG_COLOR_TYPE_RGB
    int bitDepth = 8;
    std::vector<uint16_t> samples;
    std::vector<uint8_t> palette;  // r, g, b triples for palette images
    std::vector<uint8_t> alphas;   // tRNS entries for palette images
    bool interlaced = false;
};

void WriteTestPng(const std::string& path, const TestPng& png);

// One channel of an OpenEXR part: float, half or unsigned int values, one per pixel.
struct TestExrChannel {
    std::string name;
    int type = 2;  // Imf::PixelType: 0 UINT, 1 HALF, 2 FLOAT
    std::vector<float> values;
};

struct TestExrPart {
    std::string name;  // empty: unnamed (single-part files only)
    int width = 1;
    int height = 1;
    int originX = 0;  // data window origin
    int originY = 0;
    std::vector<TestExrChannel> channels;
};

// One part gives a single-part file; more give a multi-part file.
void WriteTestExr(const std::string& path, const std::vector<TestExrPart>& parts);

// Reads an 8-bit palette PNG back: its indices and its PLTE as r, g, b triples.
struct IndexedPng {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> indices;
    std::vector<uint8_t> palette;
};
IndexedPng ReadTestIndexedPng(const std::string& path);

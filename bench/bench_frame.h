// The benchmark's input: a generated frame with identifiers, and a palette of colour ramps.
#pragma once

#include <cstdint>
#include <vector>

#include "hostapi/host_api.h"
#include "plugin/settings.h"

constexpr int BENCH_WIDTH = 1920;
constexpr int BENCH_HEIGHT = 1080;
// Identifiers used by the frame: 0 sky, 1 ground, 2 and up one per shaded object.
constexpr int BENCH_IDS = 6;

struct BenchFrame {
    int width = 0;
    int height = 0;
    std::vector<BMM_Color_64> pixels;
    std::vector<uint8_t> materialIds;
};

// A sky gradient over a ground plane with shaded spheres, plus a little noise, so that nearly
// every pixel has its own 16-bit colour. Always the same frame for the same size and frame
// number; the spheres drift a little from one frame number to the next.
BenchFrame GenerateBenchFrame(int width, int height, int frameNumber = 0);

// Sixteen ramps of sixteen shades, dark to light; ramp 0 is grey.
void SetRampPalette(PaletteEntry* palette);

// An index image of the frame's size: independent random bytes (noisy) or long runs (smooth).
std::vector<uint8_t> GenerateNoisyIndices(int width, int height);
std::vector<uint8_t> GenerateSmoothIndices(int width, int height);

// The benchmark's input: a generated frame with identifiers, and a palette of colour ramps.
#include "bench/bench_frame.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace {

struct Colour {
    double r, g, b;
};

struct Sphere {
    double cx, cy, radius;  // in units of the frame height
    Colour base;
    uint8_t id;
};

const Sphere SPHERES[] = {
    {0.45, 0.55, 0.22, {0.85, 0.20, 0.15}, 2},
    {0.95, 0.50, 0.18, {0.20, 0.70, 0.25}, 3},
    {1.30, 0.62, 0.15, {0.25, 0.35, 0.90}, 4},
    {0.75, 0.30, 0.10, {0.95, 0.80, 0.20}, 5},
};

// Lambert shading with an ambient term and a highlight, light from the upper left.
Colour ShadeSphere(const Sphere& sphere, double nx, double ny) {
    const double nz = std::sqrt(std::max(0.0, 1.0 - nx * nx - ny * ny));
    const double lx = -0.5, ly = -0.6, lz = 0.62;
    const double diffuse = std::max(0.0, nx * lx + ny * ly + nz * lz);
    const double highlight = std::pow(std::max(0.0, nz * 0.9 + diffuse * 0.1), 40.0) * 0.6;
    const double light = 0.12 + 0.88 * diffuse;
    return {sphere.base.r * light + highlight, sphere.base.g * light + highlight,
            sphere.base.b * light + highlight};
}

uint16_t ToChannel(double value, int noise) {
    const double scaled = std::clamp(value, 0.0, 1.0) * 65535.0 + noise;
    return static_cast<uint16_t>(std::clamp(scaled, 0.0, 65535.0));
}

// The frame's colour and identifier at (x, y), without noise.
Colour ShadeAt(int x, int y, int height, uint8_t& id, double drift = 0.0) {
    const double u = static_cast<double>(x) / height;
    const double v = static_cast<double>(y) / height;
    for (const Sphere& sphere : SPHERES) {
        const double nx = (u - sphere.cx - drift * sphere.radius) / sphere.radius;
        const double ny = (v - sphere.cy) / sphere.radius;
        if (nx * nx + ny * ny < 1.0) {
            id = sphere.id;
            return ShadeSphere(sphere, nx, ny);
        }
    }
    if (v > 0.7) {
        // Ground: darker towards the viewer, a soft band pattern across.
        id = 1;
        const double depth = (v - 0.7) / 0.3;
        const double band = 0.5 + 0.5 * std::sin(u * 9.0 + depth * 4.0);
        const double light = 0.75 - 0.5 * depth;
        return {(0.45 + 0.15 * band) * light, (0.35 + 0.1 * band) * light, 0.2 * light};
    }
    id = 0;
    const double t = v / 0.7;
    return {0.25 + 0.6 * t + 0.05 * std::sin(u * 3.0), 0.4 + 0.45 * t, 0.85 - 0.2 * t};
}

}  // namespace

BenchFrame GenerateBenchFrame(int width, int height, int frameNumber) {
    BenchFrame frame;
    frame.width = width;
    frame.height = height;
    frame.pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    frame.materialIds.resize(frame.pixels.size());
    std::minstd_rand random(static_cast<unsigned>(2024 + frameNumber));
    const double drift = 0.02 * frameNumber;
    std::uniform_int_distribution<int> noise(-96, 96);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const size_t at =
                static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x);
            uint8_t id = 0;
            const Colour colour = ShadeAt(x, y, height, id, drift);
            frame.pixels[at] = {ToChannel(colour.r, noise(random)),
                                ToChannel(colour.g, noise(random)),
                                ToChannel(colour.b, noise(random)), 65535};
            frame.materialIds[at] = id;
        }
    }
    return frame;
}

void SetRampPalette(PaletteEntry* palette) {
    const Colour hues[16] = {
        {1.0, 1.0, 1.0},   {1.0, 0.25, 0.2},  {0.3, 0.85, 0.3},   {0.3, 0.4, 1.0},
        {1.0, 0.85, 0.25}, {0.75, 0.55, 0.3}, {0.55, 0.75, 1.0},  {0.9, 0.4, 0.9},
        {1.0, 0.6, 0.2},   {0.4, 0.9, 0.85},  {0.6, 0.5, 0.4},    {0.85, 0.9, 0.5},
        {0.5, 0.3, 0.7},   {1.0, 0.7, 0.7},   {0.35, 0.55, 0.35}, {0.7, 0.7, 0.85},
    };
    for (int ramp = 0; ramp < 16; ++ramp) {
        for (int shade = 0; shade < 16; ++shade) {
            // Dark shades of the hue, then towards white for the last few.
            const double t = (shade + 1) / 16.0;
            const double toWhite = std::max(0.0, (t - 0.75) / 0.25) * 0.6;
            const auto channel = [&](double hue) {
                const double value = hue * std::min(1.0, t / 0.75);
                return static_cast<uint8_t>(std::lround(255.0 * (value + (1.0 - value) * toWhite)));
            };
            const Colour& hue = hues[ramp];
            palette[ramp * 16 + shade] = {channel(hue.r), channel(hue.g), channel(hue.b)};
        }
    }
}

std::vector<uint8_t> GenerateNoisyIndices(int width, int height) {
    std::vector<uint8_t> indices(static_cast<size_t>(width) * static_cast<size_t>(height));
    std::minstd_rand random(77);
    for (uint8_t& index : indices) {
        index = static_cast<uint8_t>(random() >> 8);
    }
    return indices;
}

std::vector<uint8_t> GenerateSmoothIndices(int width, int height) {
    // The frame without noise mapped to its identifier's ramp by a coarse level: runs of
    // a few to a few hundred equal bytes, as a palettised rendering without dither has.
    std::vector<uint8_t> indices(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t id = 0;
            const Colour colour = ShadeAt(x, y, height, id);
            const double level = std::clamp((colour.r + colour.g + colour.b) / 3.0, 0.0, 1.0);
            indices[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] =
                static_cast<uint8_t>(id * 16 + static_cast<int>(level * 15.999));
        }
    }
    return indices;
}

// Every row kernel of the uniform mapping against the plain rules, pixel by pixel.
#include "render/uniform_rows.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <vector>

namespace {

// Range shapes whose levels fall on luminance values that greys reach exactly or nearly:
// full, reversed, single, empty-reversed and from 255 (the one that can reach 256 dithered).
const ColorRange SHAPES[] = {{0, 255, 0}, {255, 0, 0}, {7, 7, 0},    {13, 10, 0},
                             {40, 39, 0}, {254, 0, 0}, {255, 0, 1},  {0, 255, 1},
                             {16, 31, 1}, {31, 16, 1}, {100, 101, 1}};

uint16_t RandomChannel(std::minstd_rand& random) {
    // Level edges of 2^k-entry ranges lie at multiples of 256; their neighbours matter too.
    switch (random() % 4) {
        case 0:
            return static_cast<uint16_t>(random() % 257 * 256);
        case 1:
            return static_cast<uint16_t>(random() % 257 * 256 + random() % 3 - 1);
        default:
            return static_cast<uint16_t>(random());
    }
}

template <typename Id>
void CheckKernel(UniformKernel kernel, std::minstd_rand& random) {
    UniformStep steps[RANGE_COUNT];
    ColorRange ranges[RANGE_COUNT];
    for (int k = 0; k < RANGE_COUNT; ++k) {
        ranges[k] = random() % 2 == 0
                        ? SHAPES[random() % std::size(SHAPES)]
                        : ColorRange{static_cast<uint8_t>(random()), static_cast<uint8_t>(random()),
                                     static_cast<uint8_t>(random() % 2)};
        steps[k] = UniformStepOf(ranges[k]);
    }
    for (int width = 0; width <= 41; ++width) {
        for (int y = 0; y < 2; ++y) {
            std::vector<BMM_Color_64> pixels;
            std::vector<Id> ids;
            while (static_cast<int>(ids.size()) < width) {
                // Runs of one identifier, some long enough for whole groups of four; some
                // identifiers beyond the ranges.
                const auto id = static_cast<Id>(random() % 5 == 0 ? random() : random() % 16);
                for (auto run = random() % 11 + 1; run > 0; --run) {
                    ids.push_back(id);
                }
            }
            ids.resize(static_cast<size_t>(width));
            for (int x = 0; x < width; ++x) {
                const uint16_t grey = RandomChannel(random);
                pixels.push_back(random() % 2 == 0
                                     ? BMM_Color_64{grey, grey, grey, 7}
                                     : BMM_Color_64{RandomChannel(random), RandomChannel(random),
                                                    RandomChannel(random), 7});
            }
            std::vector<uint8_t> indices(static_cast<size_t>(width) + 1, 0xEE);
            MapUniformRow(kernel, steps, pixels.data(), ids.data(), width, y, indices.data());
            for (int x = 0; x < width; ++x) {
                const ColorRange& range = ranges[ids[x] < RANGE_COUNT ? ids[x] : 0];
                const BMM_Color_64& pixel = pixels[x];
                const double luminance = Luminance(pixel.r, pixel.g, pixel.b);
                const int expected = range.dither != 0 ? DitheredIndex(range, luminance, x, y)
                                                       : UniformIndex(range, luminance);
                ASSERT_EQ(indices[x], expected)
                    << "x " << x << " of " << width << ", y " << y << ", id "
                    << static_cast<unsigned>(ids[x]) << ", colour " << pixel.r << " " << pixel.g
                    << " " << pixel.b;
            }
            EXPECT_EQ(indices[width], 0xEE) << "wrote past the row of " << width;
        }
    }
}

TEST(UniformRowsTest, EveryKernelGivesThePlainRulesIndices) {
    const struct {
        const char* name;
        UniformKernel kernel;
    } kernels[] = {{"scalar", UniformKernel::SCALAR},
                   {"SSE2", UniformKernel::SSE2},
                   {"AVX2", UniformKernel::AVX2}};
    for (const auto& k : kernels) {
        if (!UniformKernelAvailable(k.kernel)) {
            std::printf("(%s kernel not available here)\n", k.name);
            continue;
        }
        SCOPED_TRACE(k.name);
        std::minstd_rand random(1234);
        for (int round = 0; round < 40; ++round) {
            SCOPED_TRACE(round);
            CheckKernel<uint8_t>(k.kernel, random);
            CheckKernel<uint16_t>(k.kernel, random);
        }
    }
}

TEST(UniformRowsTest, FastestKernelIsAvailable) {
    EXPECT_TRUE(UniformKernelAvailable(FastestUniformKernel()));
    EXPECT_TRUE(UniformKernelAvailable(UniformKernel::SCALAR));
}

}  // namespace

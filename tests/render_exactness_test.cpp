// RenderFrame against a pixel-by-pixel render with the plain mapping rules.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "host/memory_bitmap.h"
#include "plugin/palette_render_filter.h"
#include "render/palette_mapping.h"
#include "tests/pcx_decoder.h"
#include "tests/temp_dir.h"

namespace {

// Serves one-pixel reads from the bitmap but fills whole-row reads with other colours, so
// nothing may be taken from the row buffer without checking it against the pixel read.
class MisleadingRowHost final : public Bitmap {
public:
    explicit MisleadingRowHost(MemoryBitmap& bitmap) : bitmap_(bitmap) {}
    WORD Width() override { return bitmap_.Width(); }
    WORD Height() override { return bitmap_.Height(); }
    void* GetChannelData(ULONG code, ULONG& type) override {
        return bitmap_.GetChannelData(code, type);
    }
    int ReadPixels(int x, int y, int count, BMM_Color_64* pixels) override {
        const int result = bitmap_.ReadPixels(x, y, count, pixels);
        if (count > 1) {
            for (int i = 0; i < count; i += 3) {
                pixels[i].g = static_cast<uint16_t>(pixels[i].g ^ 0x4321);
            }
        }
        return result;
    }
    int PutPixels(int x, int y, int count, BMM_Color_64* pixels) override {
        return bitmap_.PutPixels(x, y, count, pixels);
    }

private:
    MemoryBitmap& bitmap_;
};

struct Frame {
    std::vector<BMM_Color_64> pixels;
    std::vector<uint8_t> materialIds;
    std::vector<uint16_t> objectIds;
};

// Random colours, greys on level boundaries, runs of one colour, and identifiers in runs of 1
// to 9 pixels, 16 and above included.
Frame RandomFrame(std::minstd_rand& random, int width, int height) {
    Frame frame;
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    for (size_t i = 0; i < count; ++i) {
        const auto grey =
            static_cast<uint16_t>(random() % 3 == 0 ? random() % 257 * 256 : random() % 65536);
        const auto alpha = static_cast<uint16_t>(random());
        if (i > 0 && random() % 4 == 0) {
            BMM_Color_64 same = frame.pixels.back();
            same.a = alpha;
            frame.pixels.push_back(same);
        } else if (random() % 2 == 0) {
            frame.pixels.push_back({grey, grey, grey, alpha});
        } else {
            frame.pixels.push_back({static_cast<uint16_t>(random()),
                                    static_cast<uint16_t>(random()),
                                    static_cast<uint16_t>(random()), alpha});
        }
    }
    while (frame.materialIds.size() < count) {
        const auto id = static_cast<uint16_t>(random() % 4 == 0 ? random() : random() % 18);
        for (auto run = random() % 9 + 1; run > 0 && frame.materialIds.size() < count; --run) {
            frame.materialIds.push_back(static_cast<uint8_t>(id));
            frame.objectIds.push_back(id);
        }
    }
    return frame;
}

void RandomSettings(std::minstd_rand& random, PaletteRenderSettings& settings) {
    for (PaletteEntry& entry : settings.palette) {
        // Few distinct values per channel: duplicates and ties.
        entry = {static_cast<uint8_t>(random() % 6 * 51), static_cast<uint8_t>(random() % 6 * 51),
                 static_cast<uint8_t>(random() % 256)};
    }
    const ColorRange shapes[] = {{0, 255, 0}, {255, 0, 0}, {255, 255, 0}, {13, 10, 0},
                                 {40, 39, 0}, {254, 0, 0}, {0, 0, 0}};
    for (ColorRange& range : settings.ranges) {
        range = random() % 3 == 0
                    ? shapes[random() % std::size(shapes)]
                    : ColorRange{static_cast<uint8_t>(random()), static_cast<uint8_t>(random()), 0};
        range.dither = static_cast<uint8_t>(random() % 2 == 0 ? 0 : random() % 256);
    }
}

// The index the plain rules give pixel (x, y), as a render pixel by pixel chooses it.
int ExpectedIndex(const PaletteRenderSettings& settings, const BMM_Color_64& pixel, unsigned id,
                  int x, int y) {
    const ColorRange& range = RangeForId(settings, id);
    if (settings.method != METHOD_UNIFORM) {
        return NearestIndex(settings.palette, range, pixel.r, pixel.g, pixel.b);
    }
    const double luminance = Luminance(pixel.r, pixel.g, pixel.b);
    return range.dither != 0 ? DitheredIndex(range, luminance, x, y)
                             : UniformIndex(range, luminance);
}

TEST(RenderExactnessTest, MatchesPixelByPixelRulesInBitmapAndFile) {
    std::minstd_rand random(4242);
    struct Case {
        const char* name;
        int32_t method, source;
        int width, height;
        bool misleadingRows;
    };
    const Case cases[] = {
        {"uniform, material ids", METHOD_UNIFORM, SOURCE_MATERIAL_EFFECTS, 37, 23, false},
        {"uniform, object ids", METHOD_UNIFORM, SOURCE_OBJECT, 64, 9, false},
        {"nearest, material ids", METHOD_NEAREST, SOURCE_MATERIAL_EFFECTS, 41, 17, false},
        {"nearest, object ids", METHOD_NEAREST, SOURCE_OBJECT, 3, 50, false},
        {"uniform, width 1", METHOD_UNIFORM, SOURCE_MATERIAL_EFFECTS, 1, 30, false},
        {"uniform, misleading row reads", METHOD_UNIFORM, SOURCE_MATERIAL_EFFECTS, 29, 11, true},
        {"nearest, misleading row reads", METHOD_NEAREST, SOURCE_OBJECT, 29, 11, true},
    };
    for (const Case& c : cases) {
        for (int round = 0; round < 4; ++round) {
            SCOPED_TRACE(::testing::Message() << c.name << ", round " << round);
            TempDir dir;
            PaletteRenderFilter filter;
            RandomSettings(random, filter.settings);
            filter.settings.method = c.method;
            filter.settings.source = c.source;
            std::snprintf(filter.settings.outputName, OUTPUT_NAME_SIZE, "%s",
                          dir.File("f.pcx").c_str());
            const Frame frame = RandomFrame(random, c.width, c.height);
            MemoryBitmap bitmap(static_cast<WORD>(c.width), static_cast<WORD>(c.height));
            bitmap.Pixels() = frame.pixels;
            bitmap.MaterialIds() = frame.materialIds;
            bitmap.ObjectIds() = frame.objectIds;
            MisleadingRowHost misleading(bitmap);
            ImageFilterInfo info{1};
            filter.SetFilterInfo(&info);
            filter.SetSource(c.misleadingRows ? static_cast<Bitmap*>(&misleading) : &bitmap);
            ASSERT_EQ(filter.RenderFrame(nullptr), 1);

            std::vector<uint8_t> expected;
            int wrongPixels = 0;
            for (int y = 0; y < c.height; ++y) {
                for (int x = 0; x < c.width; ++x) {
                    const size_t at = static_cast<size_t>(y) * static_cast<size_t>(c.width) +
                                      static_cast<size_t>(x);
                    const unsigned id =
                        c.source == SOURCE_OBJECT ? frame.objectIds[at] : frame.materialIds[at];
                    const int index = ExpectedIndex(filter.settings, frame.pixels[at], id, x, y);
                    expected.push_back(static_cast<uint8_t>(index));
                    const PaletteEntry& colour = filter.settings.palette[index];
                    const BMM_Color_64& got = bitmap.Pixels()[at];
                    const BMM_Color_64 want = {static_cast<uint16_t>(colour.red << 8),
                                               static_cast<uint16_t>(colour.green << 8),
                                               static_cast<uint16_t>(colour.blue << 8),
                                               frame.pixels[at].a};
                    if (std::memcmp(&got, &want, sizeof got) != 0 && ++wrongPixels <= 3) {
                        ADD_FAILURE()
                            << "pixel (" << x << ", " << y << ") expected index " << index;
                    }
                }
            }
            EXPECT_EQ(wrongPixels, 0);
            DecodedPcx decoded;
            std::string error;
            ASSERT_TRUE(DecodePcx(ReadWholeFile(dir.File("f0001.pcx")), decoded, error)) << error;
            EXPECT_EQ(decoded.indices, expected);
        }
    }
}

}  // namespace

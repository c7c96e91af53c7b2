// kelvo's face of the engine against the plug-in's: the same colours and file bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "host/memory_bitmap.h"
#include "plugin/palette_render_filter.h"
#include "render/frame_engine.h"
#include "render/frame_file.h"
#include "render/palette_mapping.h"
#include "tests/pcx_decoder.h"
#include "tests/temp_dir.h"

namespace {

// Either method and channel, dither on or off, ranges either way round, duplicate colours.
PaletteRenderSettings RandomSettings(std::minstd_rand& random) {
    PaletteRenderSettings settings;
    auto* bytes = reinterpret_cast<uint8_t*>(&settings);
    for (size_t i = 0; i < sizeof settings; ++i) {
        bytes[i] = static_cast<uint8_t>(random());
    }
    settings.method = random() % 2 != 0 ? METHOD_UNIFORM : METHOD_NEAREST;
    settings.source = random() % 2 != 0 ? SOURCE_MATERIAL_EFFECTS : SOURCE_OBJECT;
    for (int i = 1; i < PALETTE_ENTRIES; i += 3) {
        settings.palette[i] = settings.palette[random() % i];
    }
    for (ColorRange& range : settings.ranges) {
        range.dither %= 2;
    }
    return settings;
}

TEST(FrameEngineTest, GivesWhatThePluginGives) {
    struct Case {
        int width, height;
        unsigned maxId;  // 0: no identifiers; the material channel's stop at 255
    };
    const Case cases[] = {{1, 1, 0}, {1, 1, 40000}, {7, 3, 20}, {33, 5, 255}, {130, 4, 65535}};
    TempDir dir;
    std::minstd_rand random(26);
    for (const Case& c : cases) {
        for (int round = 0; round < 6; ++round) {
            SCOPED_TRACE(testing::Message() << c.width << " x " << c.height << ", round " << round);
            PaletteRenderFilter filter;
            filter.settings = RandomSettings(random);
            PaletteRenderSettings kelvo = filter.settings;
            std::snprintf(filter.settings.outputName, OUTPUT_NAME_SIZE, "%s",
                          dir.File("p.pcx").c_str());
            std::snprintf(kelvo.outputName, OUTPUT_NAME_SIZE, "%s", dir.File("k.pcx").c_str());
            FrameEngine engine(kelvo);  // kept for both frames, as kelvo keeps it
            const bool material = kelvo.source == SOURCE_MATERIAL_EFFECTS;
            const unsigned maxId = material ? std::min(c.maxId, 255u) : c.maxId;
            for (int number = 0; number < 2; ++number) {
                MemoryBitmap bitmap(static_cast<WORD>(c.width), static_cast<WORD>(c.height));
                std::vector<uint16_t> rgba, ids;  // as kelvo decodes them
                for (size_t i = 0; i < bitmap.Pixels().size(); ++i) {
                    for (int channel = 0; channel < 4; ++channel) {
                        rgba.push_back(static_cast<uint16_t>(random()));
                    }
                    if (maxId > 0) {
                        ids.push_back(static_cast<uint16_t>(random() % (maxId + 1)));
                        bitmap.MaterialIds()[i] = static_cast<uint8_t>(ids.back());
                        bitmap.ObjectIds()[i] = ids.back();
                    }
                }
                std::memcpy(bitmap.Pixels().data(), rgba.data(), rgba.size() * 2);
                ImageFilterInfo info{number};
                filter.SetSource(&bitmap);
                filter.SetFilterInfo(&info);
                ASSERT_EQ(filter.RenderFrame(nullptr), 1);

                std::vector<uint8_t> indices(rgba.size() / 4);
                std::vector<uint16_t> colours(rgba.size());
                const FramePixels pixels{c.width, c.height, rgba.data(),
                                         ids.empty() ? nullptr : ids.data()};
                ASSERT_TRUE(engine.FitRows(c.width));
                for (int y = 0; y < c.height; ++y) {
                    engine.MapRow(pixels, y, &indices[size_t(y * c.width)],
                                  &colours[size_t(4 * y * c.width)]);
                }
                ASSERT_EQ(WriteFrameFile(kelvo, number, indices.data(), c.width, c.height), 1);
                EXPECT_EQ(std::memcmp(colours.data(), bitmap.Pixels().data(), colours.size() * 2),
                          0);
                const std::string name = "000" + std::to_string(number) + ".pcx";
                EXPECT_EQ(ReadWholeFile(dir.File("k" + name)), ReadWholeFile(dir.File("p" + name)));
            }
        }
    }
}

// The rules of the reference's "Range choices" section, written from it alone.
int Bayer(int side, int x, int y) {
    static const int four[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
    static const int eight[8][8] = {
        {0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26},
        {12, 44, 4, 36, 14, 46, 6, 38}, {60, 28, 52, 20, 62, 30, 54, 22},
        {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
        {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21}};
    return side == 4 ? four[y % 4][x % 4] : eight[y % 8][x % 8];
}

int ReferenceIndex(const PaletteRenderSettings& settings, const RangeChoices& choices,
                   const BMM_Color_64& pixel, unsigned id, int x, int y) {
    const unsigned k = id < 16 ? id : 0;
    const ColorRange& block = settings.ranges[k];
    const RangeChoice& choice = choices.ranges[k];
    const double luminance = Luminance(pixel.r, pixel.g, pixel.b);
    bool reservedInside = false;
    const int top = block.first > block.last ? std::min(block.first + 1, 255) : block.last;
    for (int i = std::min(block.first, block.last); i <= top; ++i) {
        reservedInside = reservedInside || choices.reserved[size_t(i)];
    }
    if (choice == RangeChoice{} && !reservedInside) {  // the plug-in's rules
        return settings.method != METHOD_UNIFORM
                   ? NearestIndex(settings.palette, block, pixel.r, pixel.g, pixel.b)
               : block.dither != 0 ? DitheredIndex(block, luminance, x, y)
                                   : UniformIndex(block, luminance);
    }
    std::vector<IndexSpan> spans = choice.spans;
    if (spans.empty()) {
        spans.push_back({block.first, block.last});
    }
    std::vector<int> usable;
    for (const IndexSpan& span : spans) {
        for (int i = span.first;; i += span.first <= span.last ? 1 : -1) {
            if (!choices.reserved[size_t(i)] &&
                std::find(usable.begin(), usable.end(), i) == usable.end()) {
                usable.push_back(i);
            }
            if (i == span.last) {
                break;
            }
        }
    }
    const bool uniform =
        choice.method ? *choice.method == RangeMethod::Uniform : settings.method == METHOD_UNIFORM;
    const DitherPattern pattern =
        choice.dither.value_or(block.dither != 0 ? DitherPattern::Checker : DitherPattern::None);
    if (!uniform) {
        int best = usable[0];
        for (int i : usable) {
            const auto distance = [&](int e) {
                const double r = settings.palette[e].red * 256.0 - pixel.r;
                const double g = settings.palette[e].green * 256.0 - pixel.g;
                const double b = settings.palette[e].blue * 256.0 - pixel.b;
                return r * r + g * g + b * b;
            };
            best = distance(i) < distance(best) || (distance(i) == distance(best) && i < best)
                       ? i
                       : best;
        }
        return best;
    }
    const double n = double(usable.size());
    double position = std::trunc(n * luminance / 65536.0);
    if (pattern == DitherPattern::Checker) {
        const int level = int((2 * n - 1) * luminance / 65536.0);
        position = level / 2 + (level % 2 == 1 && (x + y) % 2 == 1 ? 1 : 0);
    } else if (pattern != DitherPattern::None) {
        const int side = pattern == DitherPattern::Bayer4 ? 4 : 8;
        const double t = (Bayer(side, x, y) + 0.5) / (side * side);
        position = std::floor(n * luminance / 65536.0 + choice.strength * (t - 0.5));
    }
    return usable[size_t(std::clamp(position, 0.0, n - 1))];
}

RangeChoice Choice(std::vector<IndexSpan> spans, std::optional<RangeMethod> method = {},
                   std::optional<DitherPattern> dither = {}, double strength = 1.0) {
    return {std::move(spans), method, dither, strength};
}

TEST(FrameEngineTest, MapsRangeChoicesByTheirRules) {
    using M = RangeMethod;
    using D = DitherPattern;
    struct Case {
        const char* name;
        bool uniformBlock;
        std::vector<int> reserved;
        unsigned id;  // the range given `choice`
        RangeChoice choice;
    };
    const Case cases[] = {
        {"reserved inside the block's range", true, {4, 240, 241, 254}, 0, Choice({})},
        {"reserved inside a nearest range", false, {0, 7, 255}, 0, Choice({})},
        {"reversed block range with a hole", true, {15}, 5, Choice({})},
        {"the checkerboard's step above a reversed range", true, {14}, 6, Choice({})},
        {"two spans, one reversed, a hole", true, {100}, 1, Choice({{48, 79}, {111, 96}})},
        {"an entry listed twice counts once", true, {}, 2, Choice({{5, 10}, {8, 12}, {9, 9}})},
        {"checker over spans",
         true,
         {15},
         2,
         Choice({{10, 20}, {30, 30}, {200, 190}}, {}, D::Checker)},
        {"no dither in a checker block", true, {}, 3, Choice({{3, 40}}, {}, D::None)},
        {"bayer4", true, {3}, 3, Choice({{0, 15}}, {}, D::Bayer4)},
        {"bayer8 at half strength", true, {}, 4, Choice({{255, 128}}, {}, D::Bayer8, 0.5)},
        {"bayer4 at strength 0", true, {}, 4, Choice({{1, 6}}, {}, D::Bayer4, 0.0)},
        {"nearest under a uniform block",
         true,
         {10, 11},
         1,
         Choice({{0, 63}, {200, 255}}, M::Nearest)},
        {"uniform under a nearest block",
         false,
         {70},
         1,
         Choice({{90, 60}}, M::Uniform, D::Bayer8)},
    };
    std::minstd_rand random(7);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PaletteRenderSettings settings = RandomSettings(random);
        settings.method = c.uniformBlock ? METHOD_UNIFORM : METHOD_NEAREST;
        settings.source = SOURCE_OBJECT;
        settings.ranges[0] = {0, 255, 0};
        settings.ranges[3] = {3, 40, 1};
        settings.ranges[5] = {20, 10, 0};
        settings.ranges[6] = {13, 10, 1};
        RangeChoices choices;
        for (int entry : c.reserved) {
            choices.reserved.set(size_t(entry));
        }
        choices.ranges[c.id] = c.choice;
        FrameEngine engine(settings, choices);
        const int width = 41, height = 9;
        std::vector<uint16_t> rgba, ids;
        for (int i = 0; i < width * height; ++i) {
            // Black, white and everything between; runs of one identifier and scattered ones.
            const uint16_t grey = i % 7 == 0 ? 0 : i % 7 == 1 ? 65535 : uint16_t(random());
            for (int channel = 0; channel < 3; ++channel) {
                rgba.push_back(i % 3 == 0 ? grey : uint16_t(random()));
            }
            rgba.push_back(uint16_t(random()));
            ids.push_back(uint16_t(i % 5 == 0 ? random() % 20 : c.id));
        }
        std::vector<uint8_t> indices(static_cast<size_t>(width));
        ASSERT_TRUE(engine.FitRows(width));
        for (int y = 0; y < height; ++y) {
            engine.MapRow({width, height, rgba.data(), ids.data()}, y, indices.data());
            for (int x = 0; x < width; ++x) {
                const size_t i = size_t(y * width + x);
                const BMM_Color_64 pixel{rgba[4 * i], rgba[4 * i + 1], rgba[4 * i + 2], 0};
                ASSERT_EQ(indices[size_t(x)],
                          ReferenceIndex(settings, choices, pixel, ids[i], x, y))
                    << "pixel " << x << ", " << y << " identifier " << ids[i];
                ASSERT_FALSE(choices.reserved[indices[size_t(x)]]);
            }
        }
    }
}

}  // namespace

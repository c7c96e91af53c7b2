// kelvo's face of the engine against the plug-in's: the same colours and file bytes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "host/memory_bitmap.h"
#include "plugin/palette_render_filter.h"
#include "render/frame_engine.h"
#include "render/frame_file.h"
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

}  // namespace

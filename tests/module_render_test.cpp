#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "host/filter_driver.h"
#include "host/memory_bitmap.h"
#include "host/render_window.h"
#include "tests/loaded_module.h"
#include "tests/pcx_decoder.h"
#include "tests/reference_frame.h"
#include "tests/temp_dir.h"

namespace {

// Frames rendered by a filter of the loaded module through the host's render window.
class ModuleRenderTest : public LoadedModuleTest {
protected:
    void SetUp() override {
        LoadedModuleTest::SetUp();
        filter = CreateFilterFrom(*module);
        ASSERT_NE(filter, nullptr);
    }

    void UseSettings(PaletteRenderSettings& settings) {
        std::snprintf(settings.outputName, sizeof settings.outputName, "%s",
                      dir.File("frame.pcx").c_str());
        ASSERT_EQ(LoadFilterBlock(*filter, &settings, sizeof settings), 1);
    }

    TempDir dir;
    FilterHandle filter{nullptr, FilterDeleter{nullptr}};
    RenderWindow window;
};

TEST_F(ModuleRenderTest, WindowSeesEveryRowAndCanStopTheRender) {
    struct Case {
        const char* name;
        int stopAtRow;
        int rowsSeen;
        bool written;
    };
    const Case cases[] = {
        {"runs to the end", -1, 4, true},
        {"stopped at row 2", 2, 3, false},
        {"stopped at row 0", 0, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PaletteRenderSettings settings;
        SetDefaultSettings(settings);
        settings.ranges[0] = {0, 0, 0};
        UseSettings(settings);
        std::vector<std::pair<int, int>> seen;
        window.SetProgressHook([&](int row, int lastRow) {
            seen.emplace_back(row, lastRow);
            return row == c.stopAtRow;
        });
        MemoryBitmap frame(3, 4);
        for (BMM_Color_64& pixel : frame.Pixels()) {
            pixel = {65535, 65535, 65535, 7};
        }
        ASSERT_NE(window.Handle(), nullptr);
        EXPECT_EQ(RenderFilterFrame(*filter, frame, 5, window), 1);
        ASSERT_EQ(seen.size(), static_cast<size_t>(c.rowsSeen));
        for (int row = 0; row < c.rowsSeen; ++row) {
            EXPECT_EQ(seen[static_cast<size_t>(row)], std::make_pair(row, 3));
        }
        const int palettisedRows = c.written ? 4 : c.stopAtRow;
        for (int y = 0; y < 4; ++y) {
            EXPECT_EQ(frame.Pixel(2, y).r, y < palettisedRows ? 0 : 65535) << "row " << y;
            EXPECT_EQ(frame.Pixel(2, y).a, 7);
        }
        EXPECT_EQ(dir.Entries().size(), c.written ? 1u : 0u);
        std::remove(dir.File("frame0005.pcx").c_str());
    }
}

// The fingerprints were taken from the native build; the 32-bit Windows module must render
// the same bytes, so SSE2 doubles and the rounding of every step are checked across builds.
TEST_F(ModuleRenderTest, ReferenceFramesMatchTheNativeBuildByteForByte) {
    struct Case {
        const char* name;
        ReferenceVariant variant;
        uint64_t file;
        uint64_t bitmap;
    };
    const Case cases[] = {
        {"uniform with dither", REFERENCE_UNIFORM, 0x6801f96c6886b62a, 0x584e0dbc440ca59b},
        {"nearest colour", REFERENCE_NEAREST, 0x337245a325fd4608, 0xacc8736b24089f89},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PaletteRenderSettings settings;
        SetReferenceSettings(settings, c.variant);
        UseSettings(settings);
        MemoryBitmap frame(REFERENCE_WIDTH, REFERENCE_HEIGHT);
        FillReferenceFrame(frame);
        EXPECT_EQ(RenderFilterFrame(*filter, frame, 12, window), 1);
        const std::vector<uint8_t> file = ReadWholeFile(dir.File("frame0012.pcx"));
        DecodedPcx decoded;
        std::string error;
        ASSERT_TRUE(DecodePcx(file, decoded, error)) << error;
        EXPECT_EQ(Fingerprint(file.data(), file.size()), c.file)
            << std::hex << "0x" << Fingerprint(file.data(), file.size());
        EXPECT_EQ(BitmapFingerprint(frame), c.bitmap)
            << std::hex << "0x" << BitmapFingerprint(frame);
    }
}

// The frame that tests/msvc_host renders through Kelvo.flt as a host built by the host's own
// compiler; its file must be the one this build writes. The formulas are that host's.
TEST_F(ModuleRenderTest, FrameOfTheMsvcAbiHostIsItsGoldenFile) {
    PaletteRenderSettings settings;
    SetDefaultSettings(settings);
    settings.source = SOURCE_OBJECT;
    settings.method = METHOD_UNIFORM;
    for (int k = 0; k < RANGE_COUNT; ++k) {
        settings.ranges[k] = {static_cast<uint8_t>(16 * k), static_cast<uint8_t>(16 * k + 15),
                              static_cast<uint8_t>(k % 2)};
    }
    UseSettings(settings);
    MemoryBitmap frame(37, 13);
    for (unsigned y = 0; y < 13; ++y) {
        for (unsigned x = 0; x < 37; ++x) {
            frame.Pixel(static_cast<int>(x), static_cast<int>(y)) = {
                static_cast<uint16_t>(x * 1789 + y * 4093),
                static_cast<uint16_t>(x * 3001 + y * 1237 + 20000),
                static_cast<uint16_t>((x ^ y) * 2731), static_cast<uint16_t>(x * 31 + y * 977)};
            frame.ObjectId(static_cast<int>(x), static_cast<int>(y)) =
                static_cast<uint16_t>((x / 2 + y) % 18);
        }
    }
    EXPECT_EQ(RenderFilterFrame(*filter, frame, 7, window), 1);
    EXPECT_EQ(ReadWholeFile(dir.File("frame0007.pcx")),
              ReadWholeFile(KELVO_TEST_DATA "/msvc_host/frame0007.pcx"));
}

}  // namespace

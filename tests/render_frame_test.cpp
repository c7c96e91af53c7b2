#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/memory_bitmap.h"
#include "plugin/palette_render_filter.h"
#include "render/palette_mapping.h"
#include "tests/pcx_decoder.h"
#include "tests/temp_dir.h"
#include "tests/test_window.h"

namespace {

// A host bitmap that logs every call the filter makes, and a host window that logs the
// messages and can ask for an abort at a chosen row.
class RecordingHost : public Bitmap {
public:
    explicit RecordingHost(MemoryBitmap& bitmap)
        : bitmap_(bitmap), window_([this](UINT message, WPARAM wParam, LPARAM lParam) {
              OnMessage(message, wParam, lParam);
          }) {}

    WORD Width() override { return bitmap_.Width(); }
    WORD Height() override { return bitmap_.Height(); }
    void* GetChannelData(ULONG code, ULONG& type) override {
        log.push_back("channel " + std::to_string(code));
        return bitmap_.GetChannelData(code, type);
    }
    int ReadPixels(int x, int y, int count, BMM_Color_64* pixels) override {
        if (count != 1) {
            log.push_back("row " + std::to_string(y));
            if (y == failRowRead) {
                return rowReadResult;
            }
        } else {
            ++pixelReads;
        }
        return bitmap_.ReadPixels(x, y, count, pixels);
    }
    int PutPixels(int x, int y, int count, BMM_Color_64* pixels) override {
        ++pixelWrites;
        EXPECT_EQ(count, 1);
        return bitmap_.PutPixels(x, y, count, pixels);
    }

    HWND Window() const { return window_.Handle(); }

    std::vector<std::string> log;
    int pixelReads = 0;
    int pixelWrites = 0;
    int abortAtRow = -1;
    int failRowRead = -1;
    int rowReadResult = 0;

private:
    void OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == MSG_RENDER_PROGRESS) {
            row_ = static_cast<int>(wParam);
            log.push_back("progress " + std::to_string(wParam) + "/" + std::to_string(lParam));
        } else if (message == MSG_RENDER_CHECK_ABORT) {
            auto* flag = reinterpret_cast<int32_t*>(lParam);
            log.push_back("abort? " + std::to_string(*flag));
            if (row_ == abortAtRow) {
                *flag = 1;
            }
        }
    }

    int row_ = -1;
    MemoryBitmap& bitmap_;
    TestWindow window_;
};

class RenderFrameTest : public ::testing::Test {
protected:
    RenderFrameTest() {
        std::strcpy(filter.settings.outputName, dir.File("kelv.pcx").c_str());
        filter.SetFilterInfo(&info);
    }

    void Fill(MemoryBitmap& bitmap, uint16_t grey) {
        for (auto& pixel : bitmap.Pixels()) {
            pixel = {grey, grey, grey, 1234};
        }
    }

    TempDir dir;
    PaletteRenderFilter filter;
    ImageFilterInfo info{7};
};

TEST_F(RenderFrameTest, WithoutSourceBitmapReturnsZeroAndCallsNothing) {
    MemoryBitmap bitmap(2, 2);
    RecordingHost host(bitmap);
    EXPECT_EQ(filter.RenderFrame(host.Window()), 0);
    EXPECT_TRUE(host.log.empty());
    EXPECT_TRUE(dir.Entries().empty());
}

TEST_F(RenderFrameTest, FollowsTheHostProtocolRowByRow) {
    MemoryBitmap bitmap(3, 2);
    RecordingHost host(bitmap);
    filter.SetSource(&host);
    EXPECT_EQ(filter.RenderFrame(host.Window()), 1);
    const std::vector<std::string> expected = {"channel 2",    "progress 0/1", "abort? 0", "row 0",
                                               "progress 1/1", "abort? 0",     "row 1"};
    EXPECT_EQ(host.log, expected);
    EXPECT_EQ(host.pixelReads, 6);
    EXPECT_EQ(host.pixelWrites, 6);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"kelv0007.pcx"});
}

TEST_F(RenderFrameTest, ObjectSourceAsksForChannelFour) {
    MemoryBitmap bitmap(1, 1);
    RecordingHost host(bitmap);
    filter.SetSource(&host);
    for (int32_t source : {SOURCE_OBJECT, 0, 7}) {
        host.log.clear();
        filter.settings.source = source;
        filter.RenderFrame(host.Window());
        ASSERT_FALSE(host.log.empty());
        EXPECT_EQ(host.log.front(), "channel 4");
    }
}

TEST_F(RenderFrameTest, AbortAtRowZeroChangesNothing) {
    MemoryBitmap bitmap(4, 3);
    Fill(bitmap, 40000);
    const auto before = bitmap.Pixels();
    RecordingHost host(bitmap);
    host.abortAtRow = 0;
    filter.SetSource(&host);
    EXPECT_EQ(filter.RenderFrame(host.Window()), 1);
    EXPECT_EQ(host.log, (std::vector<std::string>{"channel 2", "progress 0/2", "abort? 0"}));
    EXPECT_EQ(std::memcmp(bitmap.Pixels().data(), before.data(), before.size() * 8), 0);
    EXPECT_TRUE(dir.Entries().empty());
}

TEST_F(RenderFrameTest, StopsMidFrameLeavingEarlierRowsPalettised) {
    struct Case {
        const char* name;
        int abortAt, failRead, readResult;
    };
    const Case cases[] = {
        {"abort at row 2", 2, -1, 0},
        {"row read fails", -1, 2, 0},
        {"row read gives 2", -1, 2, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryBitmap bitmap(2, 4);
        Fill(bitmap, 65535);
        RecordingHost host(bitmap);
        host.abortAtRow = c.abortAt;
        host.failRowRead = c.failRead;
        host.rowReadResult = c.readResult;
        filter.SetSource(&host);
        EXPECT_EQ(filter.RenderFrame(host.Window()), 1);
        for (int y = 0; y < 4; ++y) {
            EXPECT_EQ(bitmap.Pixel(1, y).r, y < 2 ? 0 : 65535) << "row " << y;
        }
        EXPECT_TRUE(dir.Entries().empty());
    }
}

TEST_F(RenderFrameTest, MissingChannelLeavesBitmapAndDisk) {
    MemoryBitmap bitmap(2, 2);
    Fill(bitmap, 65535);
    bitmap.DropChannel(CHANNEL_MATERIAL_EFFECTS);
    RecordingHost host(bitmap);
    filter.SetSource(&host);
    EXPECT_EQ(filter.RenderFrame(host.Window()), 1);
    EXPECT_EQ(host.log, std::vector<std::string>{"channel 2"});
    EXPECT_EQ(bitmap.Pixel(0, 0).r, 65535);
    EXPECT_TRUE(dir.Entries().empty());
}

TEST_F(RenderFrameTest, WritesPaletteTimes256AndKeepsAlpha) {
    MemoryBitmap bitmap(1, 1);
    bitmap.Pixel(0, 0) = {100, 200, 300, 1234};
    filter.settings.palette[9] = {255, 128, 1};
    filter.settings.ranges[0] = {9, 9, 0};
    filter.SetSource(&bitmap);
    EXPECT_EQ(filter.RenderFrame(nullptr), 1);
    const BMM_Color_64 pixel = bitmap.Pixel(0, 0);
    EXPECT_EQ(pixel.r, 65280);
    EXPECT_EQ(pixel.g, 32768);
    EXPECT_EQ(pixel.b, 256);
    EXPECT_EQ(pixel.a, 1234);
}

// Every pixel's index, computed by hand per identifier, ends up in the bitmap and the file.
TEST_F(RenderFrameTest, RangesPerIdentifierReachBitmapAndFile) {
    MemoryBitmap bitmap(4, 2);
    filter.settings.source = SOURCE_OBJECT;
    filter.settings.ranges[0] = {0, 255, 0};
    filter.settings.ranges[1] = {10, 13, 1};
    filter.settings.ranges[2] = {255, 0, 1};
    filter.settings.ranges[15] = {40, 39, 0};
    const uint16_t ids[8] = {0, 0, 1, 1, 2, 15, 16, 65535};
    const uint16_t greys[8] = {32768, 65535, 16384, 16384, 200, 9000, 65535, 0};
    for (int i = 0; i < 8; ++i) {
        bitmap.Pixels()[i] = {greys[i], greys[i], greys[i], 65535};
        bitmap.ObjectIds()[i] = ids[i];
    }
    // Pixel 2 is (2, 0): even; pixel 3 (3, 0): odd; pixel 4 (0, 1): odd.
    const uint8_t expected[8] = {127, 255, 10, 11, 255, 40, 255, 0};
    filter.SetSource(&bitmap);
    EXPECT_EQ(filter.RenderFrame(nullptr), 1);
    for (int i = 0; i < 8; ++i) {
        const PaletteEntry& colour = filter.settings.palette[expected[i]];
        EXPECT_EQ(bitmap.Pixels()[i].r, colour.red << 8) << "pixel " << i;
        EXPECT_EQ(bitmap.Pixels()[i].b, colour.blue << 8) << "pixel " << i;
    }
    DecodedPcx decoded;
    std::string error;
    ASSERT_TRUE(DecodePcx(ReadWholeFile(dir.File("kelv0007.pcx")), decoded, error)) << error;
    EXPECT_EQ(decoded.indices, std::vector<uint8_t>(expected, expected + 8));
    EXPECT_EQ(std::memcmp(decoded.palette.data(), filter.settings.palette, 768), 0);
}

TEST_F(RenderFrameTest, NearestMethodForAnyOtherMethodCode) {
    MemoryBitmap bitmap(2, 1);
    bitmap.Pixel(0, 0) = {65535, 0, 0, 0};
    bitmap.Pixel(1, 0) = {0, 0, 65535, 0};
    filter.settings.ranges[0] = {0, 255, 0};
    for (int32_t method : {METHOD_NEAREST, 0, 99999}) {
        SCOPED_TRACE(method);
        filter.settings.method = method;
        filter.SetSource(&bitmap);
        filter.RenderFrame(nullptr);
        EXPECT_EQ(bitmap.Pixel(0, 0).r, 255 << 8);
        EXPECT_EQ(bitmap.Pixel(0, 0).g, 0);
        EXPECT_EQ(bitmap.Pixel(1, 0).b, 255 << 8);
    }
}

TEST_F(RenderFrameTest, EmptyFrameWritesNoFile) {
    for (auto [w, h] : {std::pair{0, 3}, std::pair{3, 0}}) {
        MemoryBitmap bitmap(static_cast<WORD>(w), static_cast<WORD>(h));
        filter.SetSource(&bitmap);
        EXPECT_EQ(filter.RenderFrame(nullptr), 1);
        EXPECT_TRUE(dir.Entries().empty());
    }
}

}  // namespace

// The animated GIF writer's blocks, read plainly: one global colour table holding the palette in
// order, the loop, and for each frame its control extension and a descriptor without a local
// table. (Its pixels are decoded by Pillow and ImageMagick in kelvo_cli_test.cpp.)
#include "kelvo/imageio/gif_animation.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/gif_blocks.h"

namespace {

class VectorSink final : public ByteSink {
public:
    int Write(const uint8_t* data, size_t size) override {
        bytes.insert(bytes.end(), data, data + size);
        return 1;
    }
    std::vector<uint8_t> bytes;
};

TEST(GifAnimationTest, OneGlobalTableInOrderAndEachFrameWhole) {
    PaletteEntry palette[PALETTE_ENTRIES];
    for (int i = 0; i < PALETTE_ENTRIES; ++i) {
        palette[i] = {static_cast<uint8_t>(i * 3), static_cast<uint8_t>(255 - i),
                      static_cast<uint8_t>(i * 7)};
    }
    struct Case {
        const char* name;
        int transparent;
        int delay;
        uint8_t disposal;  // 0 unspecified, 2 cleared to the background
    };
    const Case cases[] = {
        {"opaque", -1, 8, 0},
        {"transparent index 200", 200, 4, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GifAnimation animation;
        animation.width = 5;
        animation.height = 3;
        animation.palette = palette;
        animation.delayCentiseconds = c.delay;
        animation.transparentIndex = c.transparent;
        animation.frameCount = 3;
        std::vector<size_t> asked;
        const auto frames = [&asked](size_t index, std::vector<uint8_t>& indices, std::string&) {
            asked.push_back(index);
            indices.assign(15, static_cast<uint8_t>(index * 100));
            return 1;
        };
        VectorSink sink;
        std::string error;
        ASSERT_EQ(EncodeGifAnimation(animation, frames, sink, error), 1) << error;
        EXPECT_EQ(asked, (std::vector<size_t>{0, 1, 2}));
        const GifBlocks gif = ReadGifBlocks(sink.bytes);
        ASSERT_TRUE(gif.valid);
        EXPECT_EQ(gif.version, "GIF89a");
        EXPECT_EQ(gif.width, 5);
        EXPECT_EQ(gif.height, 3);
        EXPECT_EQ(gif.screenFlags, 0xF7);  // a global table of 256 entries, 8-bit colours
        EXPECT_EQ(gif.background, c.transparent >= 0 ? c.transparent : 0);
        ASSERT_EQ(gif.globalTable.size(), 768u);
        EXPECT_EQ(std::memcmp(gif.globalTable.data(), palette, 768), 0);
        EXPECT_TRUE(gif.loopsForever);
        ASSERT_EQ(gif.frames.size(), 3u);
        for (const GifBlocks::Frame& frame : gif.frames) {
            EXPECT_EQ(frame.imageFlags, 0);  // no local table, not interlaced
            EXPECT_EQ(frame.left, 0);
            EXPECT_EQ(frame.top, 0);
            EXPECT_EQ(frame.width, 5);
            EXPECT_EQ(frame.height, 3);
            EXPECT_EQ(frame.delay, c.delay);
            EXPECT_EQ(frame.transparent, c.transparent);
            EXPECT_EQ(frame.disposal, c.disposal);
        }
    }
}

TEST(GifAnimationTest, GivesTheFrameSourcesReasonAndRefusesWrongSizes) {
    PaletteEntry palette[PALETTE_ENTRIES] = {};
    GifAnimation animation;
    animation.width = 2;
    animation.height = 2;
    animation.palette = palette;
    animation.frameCount = 2;
    struct Case {
        const char* name;
        GifFrameSource frames;
        const char* error;
    };
    const Case cases[] = {
        {"the second frame is missing",
         [](size_t index, std::vector<uint8_t>& indices, std::string& error) {
             indices.assign(4, 0);
             error = "no second frame";
             return index == 0 ? 1 : 0;
         },
         "no second frame"},
        {"the second frame is larger",
         [](size_t index, std::vector<uint8_t>& indices, std::string&) {
             indices.assign(index == 0 ? 4 : 6, 0);
             return 1;
         },
         "frame 2 has another size than the first"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VectorSink sink;
        std::string error;
        EXPECT_EQ(EncodeGifAnimation(animation, c.frames, sink, error), 0);
        EXPECT_EQ(error, c.error);
    }
}

}  // namespace

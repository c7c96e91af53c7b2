// The 8-bit BMP writer against bytes worked out by hand: headers, the colour table, padded
// bottom-up rows and RLE8 items.
#include "kelvo/imageio/bmp_image.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class VectorSink final : public ByteSink {
public:
    explicit VectorSink(size_t failAt = SIZE_MAX) : failAt_(failAt) {}
    int Write(const uint8_t* data, size_t size) override {
        if (bytes.size() + size > failAt_) {
            return 0;
        }
        bytes.insert(bytes.end(), data, data + size);
        return 1;
    }
    std::vector<uint8_t> bytes;

private:
    size_t failAt_;
};

struct TestPalette {
    PaletteEntry entries[PALETTE_ENTRIES];
    TestPalette() {
        for (int i = 0; i < PALETTE_ENTRIES; ++i) {
            entries[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i),
                          static_cast<uint8_t>(i / 2)};
        }
    }
};

// The 54 header bytes of a 3 x 2 frame: file size, compression and image size vary.
std::vector<uint8_t> Header(uint8_t sizeLow, uint8_t compression, uint8_t imageSize) {
    // clang-format off
    return {
        'B', 'M', sizeLow, 0x04, 0, 0,  0, 0, 0, 0,  0x36, 0x04, 0, 0,  // file: size, pixels at 1078
        40, 0, 0, 0,  3, 0, 0, 0,  2, 0, 0, 0,                           // info: 40 bytes, 3 x 2
        1, 0,  8, 0,  compression, 0, 0, 0,  imageSize, 0, 0, 0,         // 1 plane, 8 bits
        0, 0, 0, 0,  0, 0, 0, 0,  0, 1, 0, 0,  0, 0, 0, 0,               // no resolution, 256 used
    };
    // clang-format on
}

TEST(BmpImageTest, WritesHeadersColourTableAndBottomUpRows) {
    const TestPalette palette;
    const std::vector<uint8_t> indices = {7, 7, 200, 1, 2, 3};  // top row, then bottom row
    struct Case {
        const char* name;
        bool rle;
        std::vector<uint8_t> header, pixels;
    };
    const Case cases[] = {
        // 1078 + 8 = 0x43E bytes; rows of 3 padded to 4, the bottom one first.
        {"rows", false, Header(0x3E, 0, 8), {1, 2, 3, 0, 7, 7, 200, 0}},
        // 1078 + 16 = 0x446 bytes: the bottom row as a stretch of 3 padded to an even length,
        // the top one as a run of 2 and a lone index; ends of rows, end of the image.
        {"RLE8", true, Header(0x46, 1, 16), {0, 3, 1, 2, 3, 0, 0, 0, 2, 7, 1, 200, 0, 0, 0, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VectorSink sink;
        ASSERT_EQ(EncodeBmp(indices.data(), 3, 2, palette.entries, c.rle, sink), 1);
        ASSERT_EQ(sink.bytes.size(), 1078 + c.pixels.size());
        EXPECT_EQ(std::vector<uint8_t>(sink.bytes.begin(), sink.bytes.begin() + 54), c.header);
        for (int i = 0; i < PALETTE_ENTRIES; ++i) {
            const uint8_t* entry = &sink.bytes[54 + 4 * static_cast<size_t>(i)];
            ASSERT_EQ(
                std::vector<uint8_t>(entry, entry + 4),
                (std::vector<uint8_t>{static_cast<uint8_t>(i / 2), static_cast<uint8_t>(255 - i),
                                      static_cast<uint8_t>(i), 0}))
                << "entry " << i << ": blue, green, red, 0";
        }
        EXPECT_EQ(std::vector<uint8_t>(sink.bytes.begin() + 1078, sink.bytes.end()), c.pixels);
    }
}

TEST(BmpImageTest, EncodesRunsStretchesAndLoneIndicesAsRle8) {
    const TestPalette palette;
    std::vector<uint8_t> distinct(256);
    for (size_t i = 0; i < distinct.size(); ++i) {
        distinct[i] = static_cast<uint8_t>(i);
    }
    std::vector<uint8_t> distinctItems = {0, 255};
    distinctItems.insert(distinctItems.end(), distinct.begin(), distinct.begin() + 255);
    distinctItems.insert(distinctItems.end(), {0, 1, 255, 0, 0, 0, 1});
    struct Case {
        const char* name;
        std::vector<uint8_t> row, items;
    };
    const Case cases[] = {
        {"a run longer than 255", std::vector<uint8_t>(300, 9), {255, 9, 45, 9, 0, 0, 0, 1}},
        {"a stretch ends before a pair", {1, 2, 3, 4, 4}, {0, 3, 1, 2, 3, 0, 2, 4, 0, 0, 0, 1}},
        {"a lone index before a pair", {1, 2, 2}, {1, 1, 2, 2, 0, 0, 0, 1}},
        {"two lone indices", {5, 6}, {1, 5, 1, 6, 0, 0, 0, 1}},
        {"a stretch of 255 and a lone one", distinct, distinctItems},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VectorSink sink;
        ASSERT_EQ(
            EncodeBmp(c.row.data(), static_cast<int>(c.row.size()), 1, palette.entries, true, sink),
            1);
        EXPECT_EQ(std::vector<uint8_t>(sink.bytes.begin() + 1078, sink.bytes.end()), c.items);
    }
}

TEST(BmpImageTest, StopsWhereTheSinkRefusesAndRefusesEmptyFrames) {
    const TestPalette palette;
    const uint8_t indices[4] = {1, 2, 3, 4};
    for (const size_t failAt : {size_t{0}, size_t{53}, size_t{1078}, size_t{1081}}) {
        SCOPED_TRACE(failAt);
        VectorSink sink(failAt);
        EXPECT_EQ(EncodeBmp(indices, 2, 2, palette.entries, false, sink), 0);
    }
    VectorSink sink;
    EXPECT_EQ(EncodeBmp(indices, 0, 2, palette.entries, false, sink), 0);
    EXPECT_TRUE(sink.bytes.empty());
}

}  // namespace

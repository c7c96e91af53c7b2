#include "pcx/pcx_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/pcx_decoder.h"
#include "tests/temp_dir.h"

namespace {

using Bytes = std::vector<uint8_t>;

class VectorSink final : public ByteSink {
public:
    int Write(const uint8_t* data, size_t size) override {
        if (failAt >= 0 && bytes.size() + size > static_cast<size_t>(failAt)) {
            return 0;
        }
        bytes.insert(bytes.end(), data, data + size);
        return 1;
    }
    Bytes bytes;
    long failAt = -1;
};

Bytes Encode(const Bytes& indices, uint16_t width, uint16_t height) {
    VectorSink sink;
    EXPECT_EQ(EncodePcxImage(indices.data(), width, height, sink), 1);
    return sink.bytes;
}

// Reports the first differing offset instead of two long dumps.
::testing::AssertionResult SameBytes(const Bytes& actual, const Bytes& expected) {
    for (size_t i = 0; i < std::min(actual.size(), expected.size()); ++i) {
        if (actual[i] != expected[i]) {
            return ::testing::AssertionFailure() << "first difference at offset " << i << ": "
                                                 << int{actual[i]} << " vs " << int{expected[i]};
        }
    }
    if (actual.size() != expected.size()) {
        return ::testing::AssertionFailure()
               << "sizes differ: " << actual.size() << " vs " << expected.size();
    }
    return ::testing::AssertionSuccess();
}

std::vector<PaletteEntry> TestPalette() {
    std::vector<PaletteEntry> palette(PALETTE_ENTRIES);
    for (int i = 0; i < PALETTE_ENTRIES; ++i) {
        palette[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i),
                      static_cast<uint8_t>(i * 3)};
    }
    return palette;
}

TEST(PcxWriterTest, EncodesRunsAndLiterals) {
    struct Case {
        const char* name;
        Bytes in;
        uint16_t width, height;
        Bytes out;
    };
    const Case cases[] = {
        {"100 equal bytes: 63 then 37", Bytes(100, 9), 100, 1, {0xFF, 0x09, 0xE5, 0x09}},
        {"64 bytes below 192", Bytes(64, 5), 64, 1, {0xFF, 0x05, 0x05}},
        {"64 bytes of 200", Bytes(64, 200), 64, 1, {0xFF, 0xC8, 0xC1, 0xC8}},
        {"63 bytes exactly", Bytes(63, 1), 63, 1, {0xFF, 0x01}},
        {"two equal bytes are a run", {4, 4}, 2, 1, {0xC2, 0x04}},
        {"one-pixel lines", {1, 2, 3, 200}, 1, 4, {0x01, 0x02, 0x03, 0xC1, 0xC8}},
        {"0xBF is a literal, 0xC0 is not", {0xBF, 0xC0}, 2, 1, {0xBF, 0xC1, 0xC0}},
        {"runs stop at the end of a line", {7, 7, 7, 7}, 2, 2, {0xC2, 0x07, 0xC2, 0x07}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(SameBytes(Encode(c.in, c.width, c.height), c.out));
    }
}

TEST(PcxWriterTest, WorkedExampleFileIsExact) {
    TempDir dir;
    const auto palette = TestPalette();
    const Bytes indices = {7, 7, 200, 200, 200, 5};
    const std::string path = dir.File("frame.pcx");
    ASSERT_EQ(WritePcxFrame(path.c_str(), indices.data(), 3, 2, palette.data()), 1);

    Bytes expected(128, 0);
    // Header: manufacturer, version 5, RLE, 8 bits; window 0,0 .. 2,1; one plane, 3 per line.
    expected[0] = 0x0A, expected[1] = 5, expected[2] = 1, expected[3] = 8;
    expected[8] = 0x02, expected[10] = 0x01;
    expected[65] = 1, expected[66] = 0x03;
    // Image: C2 07 | C1 C8 (end of line 0) | C2 C8 05.
    const Bytes image = {0xC2, 0x07, 0xC1, 0xC8, 0xC2, 0xC8, 0x05};
    expected.insert(expected.end(), image.begin(), image.end());
    // Trailer: marker 0C and the palette bytes as given.
    expected.push_back(0x0C);
    const auto* raw = reinterpret_cast<const uint8_t*>(palette.data());
    expected.insert(expected.end(), raw, raw + 768);
    ASSERT_EQ(expected.size(), 904u);
    EXPECT_TRUE(SameBytes(ReadWholeFile(path), expected));
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"frame.pcx"});
}

TEST(PcxWriterTest, OddWidthHasNoPadByte) {
    uint8_t header[PCX_HEADER_SIZE];
    FillPcxHeader(header, 3, 5);
    EXPECT_EQ(header[66], 3);
    EXPECT_EQ(header[67], 0);
    FillPcxHeader(header, 65535, 65535);
    EXPECT_EQ(GetLe16(header + 8), 65534);
    EXPECT_EQ(GetLe16(header + 66), 65535);
    EXPECT_EQ(GetLe16(header + 68), 0);  // palette information stays zero
}

TEST(PcxWriterTest, LargerFramesDecodeToTheirIndices) {
    TempDir dir;
    const auto palette = TestPalette();
    uint32_t state = 12345;
    for (auto [w, h] :
         {std::pair{1, 1}, std::pair{127, 3}, std::pair{64, 64}, std::pair{301, 17}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        Bytes indices(static_cast<size_t>(w * h));
        for (auto& index : indices) {
            state = state * 1103515245 + 12345;
            // Long runs, short runs and high values alike.
            index = (state >> 28) < 6 ? static_cast<uint8_t>(state >> 8) : indices[0];
        }
        const std::string path = dir.File("big.pcx");
        ASSERT_EQ(WritePcxFrame(path.c_str(), indices.data(), w, h, palette.data()), 1);
        DecodedPcx decoded;
        std::string error;
        ASSERT_TRUE(DecodePcx(ReadWholeFile(path), decoded, error)) << error;
        EXPECT_EQ(decoded.width, w);
        EXPECT_EQ(decoded.height, h);
        EXPECT_EQ(decoded.indices, indices);
    }
}

TEST(PcxWriterTest, ReplacesAnExistingFileWhole) {
    TempDir dir;
    const std::string path = dir.File("frame.pcx");
    std::ofstream(path) << std::string(5000, 'x');
    const auto palette = TestPalette();
    const uint8_t index = 3;
    ASSERT_EQ(WritePcxFrame(path.c_str(), &index, 1, 1, palette.data()), 1);
    EXPECT_EQ(ReadWholeFile(path).size(), 128u + 1 + 769);
}

TEST(PcxWriterTest, FailuresLeaveNothingBehind) {
    TempDir dir;
    const auto palette = TestPalette();
    const uint8_t index = 3;
    const std::string missingDir = dir.File("no/such/dir/frame.pcx");
    EXPECT_EQ(WritePcxFrame(missingDir.c_str(), &index, 1, 1, palette.data()), 0);
    const std::string empty = dir.File("empty.pcx");
    EXPECT_EQ(WritePcxFrame(empty.c_str(), &index, 0, 1, palette.data()), 0);
    EXPECT_EQ(WritePcxFrame(empty.c_str(), &index, 1, 65536, palette.data()), 0);
    // A directory in the way of the target: the temporary file must not survive.
    std::filesystem::create_directory(dir.File("taken.pcx"));
    const std::string taken = dir.File("taken.pcx");
    EXPECT_EQ(WritePcxFrame(taken.c_str(), &index, 1, 1, palette.data()), 0);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"taken.pcx"});
}

// The temporary file fits wherever the frame's name fits: a frame named at the longest this
// system takes (a whole path of 255 characters; a file name of 255 bytes where it is taken)
// is written, and only it is left.
TEST(PcxWriterTest, WritesFramesNamedAtTheLongestLegalLength) {
    TempDir dir;
    const auto palette = TestPalette();
    const uint8_t index = 3;
    const size_t dirLength = dir.File("").size();
    ASSERT_LT(dirLength + 8, 255u);
    struct Case {
        const char* name;
        std::string path;
    };
    const Case cases[] = {
        {"a path of 255 characters", dir.File(std::string(255 - dirLength - 8, 'p') + "0001.pcx")},
        {"a file name of 255 bytes", std::string(247, 'n') + "0001.pcx"},
    };
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (std::FILE* probe = std::fopen(c.path.c_str(), "wb")) {
            std::fclose(probe);
            std::remove(c.path.c_str());
            EXPECT_EQ(WritePcxFrame(c.path.c_str(), &index, 1, 1, palette.data()), 1);
            EXPECT_EQ(dir.Entries().size(), 1u);
            std::remove(c.path.c_str());
        }
    }
    std::filesystem::current_path(before);
}

TEST(PcxWriterTest, EncoderStopsAtAFailingSink) {
    const Bytes indices(1000, 9);
    for (long failAt : {0L, 1L, 10L}) {
        VectorSink sink;
        sink.failAt = failAt;
        EXPECT_EQ(EncodePcxImage(indices.data(), 10, 100, sink), 0);
        EXPECT_LE(sink.bytes.size(), static_cast<size_t>(failAt));
    }
}

}  // namespace

#include <gtest/gtest.h>

#include <cstring>

#include "pcx/pcx_frame_reader.h"
#include "pcx/pcx_writer.h"
#include "tests/temp_dir.h"

namespace {

// A 3 x 2 frame: header, scan data, then the 0x0C marker and palette entry i = (i, 255 - i,
// i / 2).
std::vector<uint8_t> GoldenFile(const std::vector<uint8_t>& scanData) {
    std::vector<uint8_t> file(128 + scanData.size() + 769, 0);
    file[0] = 0x0A;  // manufacturer
    file[1] = 5;     // version
    file[2] = 1;     // run-length encoded
    file[3] = 8;     // bits per pixel
    file[8] = 2;     // xmax = width - 1 (little-endian 16-bit at 8)
    file[10] = 1;    // ymax = height - 1 (at 10)
    file[65] = 1;    // planes
    file[66] = 3;    // bytes per line (at 66)
    for (size_t i = 0; i < scanData.size(); ++i) {
        file[128 + i] = scanData[i];
    }
    const size_t trailer = 128 + scanData.size();
    file[trailer] = 0x0C;
    for (size_t i = 0; i < 256; ++i) {
        file[trailer + 1 + 3 * i] = static_cast<uint8_t>(i);
        file[trailer + 2 + 3 * i] = static_cast<uint8_t>(255 - i);
        file[trailer + 3 + 3 * i] = static_cast<uint8_t>(i / 2);
    }
    return file;
}

// Row 0: a run of three 5s. Row 1: an escaped literal 0xC1, then two literal 7s.
const std::vector<uint8_t> SCAN = {0xC3, 0x05, 0xC1, 0xC1, 0x07, 0x07};

TEST(PcxFrameReaderTest, DecodesHeaderRunsLiteralsAndPalette) {
    const std::vector<uint8_t> file = GoldenFile(SCAN);
    PcxFrame frame;
    ASSERT_EQ(DecodePcxFrame(file.data(), file.size(), frame), 1);
    EXPECT_EQ(frame.width, 3);
    EXPECT_EQ(frame.height, 2);
    EXPECT_EQ(frame.indices, (std::vector<uint8_t>{5, 5, 5, 0xC1, 7, 7}));
    EXPECT_EQ(frame.palette[0].green, 255);
    EXPECT_EQ(frame.palette[200].red, 200);
    EXPECT_EQ(frame.palette[255].blue, 127);
}

TEST(PcxFrameReaderTest, RefusesDamagedFiles) {
    struct Case {
        const char* name;
        std::vector<uint8_t> file;
    };
    const std::vector<uint8_t> golden = GoldenFile(SCAN);
    std::vector<Case> cases = {
        {"scan data one byte short", GoldenFile({0xC3, 0x05, 0xC1, 0xC1, 0x07})},
        {"scan data one byte long", GoldenFile({0xC3, 0x05, 0xC1, 0xC1, 0x07, 0x07, 0x07})},
        {"run past the image", GoldenFile({0xC3, 0x05, 0xC1, 0xC1, 0xC3, 0x07})},
        {"run flag as last scan byte", GoldenFile({0xC3, 0x05, 0xC1, 0xC1, 0x07, 0xC1})},
        {"only a header", std::vector<uint8_t>(golden.begin(), golden.begin() + 128)},
        {"empty", {}},
    };
    Case wrongMarker{"wrong palette marker", GoldenFile(SCAN)};
    wrongMarker.file[128 + SCAN.size()] = 0x0B;
    Case twoPlanes{"two planes", GoldenFile(SCAN)};
    twoPlanes.file[65] = 2;
    Case narrowLines{"bytes per line below width", GoldenFile(SCAN)};
    narrowLines.file[66] = 2;
    Case reversedWindow{"xmin above xmax", GoldenFile(SCAN)};
    reversedWindow.file[4] = 3;
    cases.insert(cases.end(), {wrongMarker, twoPlanes, narrowLines, reversedWindow});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PcxFrame frame;
        frame.width = 99;
        EXPECT_EQ(DecodePcxFrame(c.file.data(), c.file.size(), frame), 0);
        EXPECT_EQ(frame.width, 99);
    }
}

TEST(PcxFrameReaderTest, ReadsBackWhatTheWriterWrote) {
    TempDir dir;
    std::vector<uint8_t> indices(70 * 3);
    for (size_t i = 0; i < indices.size(); ++i) {
        indices[i] = static_cast<uint8_t>(i / 5 * 37);
    }
    PaletteEntry palette[256];
    for (int i = 0; i < 256; ++i) {
        palette[i] = {static_cast<uint8_t>(i), 3, static_cast<uint8_t>(255 - i)};
    }
    ASSERT_EQ(WritePcxFrame(dir.File("f.pcx").c_str(), indices.data(), 70, 3, palette), 1);
    PcxFrame frame;
    ASSERT_EQ(ReadPcxFrame(dir.File("f.pcx").c_str(), frame), 1);
    EXPECT_EQ(frame.indices, indices);
    EXPECT_EQ(std::memcmp(frame.palette, palette, sizeof palette), 0);
    EXPECT_EQ(ReadPcxFrame(dir.File("missing.pcx").c_str(), frame), 0);
}

// --skip-existing reads a file only as the frame it must be: a header of another size, or a
// file longer than such a frame can be, is refused before its lines are allocated.
TEST(PcxFrameReaderTest, ReadsAFileOnlyAsAFrameOfTheSizeAsked) {
    TempDir dir;
    const std::vector<uint8_t> golden = GoldenFile(SCAN);
    std::vector<uint8_t> huge = golden;
    huge[8] = huge[9] = huge[10] = huge[11] = 0xFF;  // 65536 x 65536
    huge[66] = huge[67] = 0xFF;
    std::vector<uint8_t> padded = GoldenFile({0xC4, 0x05, 0xC1, 0xC1, 0x07, 0x07, 0x00});
    padded[66] = 4;  // lines padded to 4 bytes, one more than the width
    struct Case {
        const char* name;
        std::vector<uint8_t> file;
        int width, height;
        bool read;
    };
    const Case cases[] = {
        {"its size", golden, 3, 2, true},
        {"lines padded by one", padded, 3, 2, true},
        {"another height", golden, 3, 3, false},
        {"another width", golden, 2, 2, false},
        {"a header that lies", huge, 3, 2, false},
        {"longer than the frame can be", GoldenFile(std::vector<uint8_t>(20, 0x05)), 3, 2, false},
        {"cut short", std::vector<uint8_t>(golden.begin(), golden.end() - 1), 3, 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.File("f.pcx");
        FILE* file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        ASSERT_EQ(std::fwrite(c.file.data(), 1, c.file.size(), file), c.file.size());
        ASSERT_EQ(std::fclose(file), 0);
        PcxFrame frame;
        EXPECT_EQ(ReadPcxFrameOfSize(path.c_str(), c.width, c.height, frame), c.read ? 1 : 0);
        EXPECT_EQ(frame.indices.size(), c.read ? 6u : 0u);
    }
}

}  // namespace

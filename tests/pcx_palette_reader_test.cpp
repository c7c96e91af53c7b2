#include "pcx/pcx_palette_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "pcx/pcx_writer.h"
#include "tests/temp_dir.h"

namespace {

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(i * 31 + seed);
    }
    return bytes;
}

TEST(PcxPaletteReaderTest, ReadsTheLast768BytesOfAnyFile) {
    TempDir dir;
    struct Case {
        const char* name;
        size_t size;
    };
    const Case cases[] = {{"bare palette", 768}, {"header and palette", 897}, {"odd file", 5000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto bytes = Pattern(c.size, 5);  // no 0x0C marker check is made
        WriteBytes(dir.File("p.bin"), bytes);
        PaletteEntry palette[PALETTE_ENTRIES];
        ASSERT_EQ(ReadPcxPalette(dir.File("p.bin").c_str(), palette), 1);
        EXPECT_EQ(std::memcmp(palette, bytes.data() + c.size - 768, 768), 0);
    }
}

TEST(PcxPaletteReaderTest, RefusesMissingAndShortFilesUntouched) {
    TempDir dir;
    PaletteEntry palette[PALETTE_ENTRIES];
    std::memset(palette, 0xAB, sizeof palette);
    EXPECT_EQ(ReadPcxPalette(dir.File("missing.pcx").c_str(), palette), 0);
    for (size_t size : {0, 1, 767}) {
        SCOPED_TRACE(size);
        WriteBytes(dir.File("short.pcx"), Pattern(size, 1));
        EXPECT_EQ(ReadPcxPalette(dir.File("short.pcx").c_str(), palette), 0);
    }
    EXPECT_EQ(ReadPcxPalette(dir.Path().string().c_str(), palette), 0);  // a directory
    for (const auto& entry : palette) {
        ASSERT_EQ(entry.red, 0xAB);
    }
}

TEST(PcxPaletteReaderTest, ReadsBackWhatTheWriterStored) {
    TempDir dir;
    PaletteEntry written[PALETTE_ENTRIES];
    for (int i = 0; i < PALETTE_ENTRIES; ++i) {
        written[i] = {static_cast<uint8_t>(i ^ 0x5A), static_cast<uint8_t>(i), 12};
    }
    const std::vector<uint8_t> indices(37 * 11, 12);
    const std::string path = dir.File("frame.pcx");
    ASSERT_EQ(WritePcxFrame(path.c_str(), indices.data(), 37, 11, written), 1);
    PaletteEntry read[PALETTE_ENTRIES];
    ASSERT_EQ(ReadPcxPalette(path.c_str(), read), 1);
    EXPECT_EQ(std::memcmp(read, written, sizeof read), 0);
}

}  // namespace

#include "render/frame_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "tests/pcx_decoder.h"
#include "tests/temp_dir.h"

namespace {

std::string FrameName(const std::string& outputName, int frame) {
    char field[OUTPUT_NAME_SIZE] = {};
    std::memcpy(field, outputName.data(), std::min(outputName.size(), sizeof field));
    char name[FRAME_NAME_SIZE];
    return BuildFrameFileName(field, frame, name) ? std::string(name) : std::string("<refused>");
}

TEST(FrameFileTest, InsertsTheFrameNumberBeforeTheFirstDotOfTheFileName) {
    struct Case {
        const char* outputName;
        int frame;
        const char* name;
    };
    const Case cases[] = {
        {"kelv.pcx", 7, "kelv0007.pcx"},
        {"frames", 3, "frames0003.pcx"},
        {"kelv.pcx", -3, "kelv-003.pcx"},
        {"kelv.pcx", 12345, "kelv12345.pcx"},
        {"", 7, "0007.pcx"},
        {"a.b.pcx", 1, "a0001.pcx"},
        {"C:\\out\\shot.pcx", 0, "C:\\out\\shot0000.pcx"},
        // A '.' in a directory keeps the frames in that directory under their own stem.
        {"C:\\out.dir\\shot.pcx", 12, "C:\\out.dir\\shot0012.pcx"},
        {"./out/shot.pcx", 12, "./out/shot0012.pcx"},
        {"../renders/", 5, "../renders/0005.pcx"},
        {"dir.v2/frames", 3, "dir.v2/frames0003.pcx"},
        {"kelv.pcx", -2147483647 - 1, "kelv-2147483648.pcx"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.outputName);
        EXPECT_EQ(FrameName(c.outputName, c.frame), c.name);
    }
}

TEST(FrameFileTest, RefusesNamesThatDoNotFitInsteadOfShorteningThem) {
    const std::string stem247(247, 'a');
    EXPECT_EQ(FrameName(stem247 + ".pcx", 1), stem247 + "0001.pcx");  // 255 characters
    EXPECT_EQ(FrameName(stem247 + "a.pcx", 1), "<refused>");
    EXPECT_EQ(FrameName(stem247, 12345), "<refused>");
    // A field with no NUL in its 256 bytes is bounded by the field itself.
    char field[OUTPUT_NAME_SIZE];
    std::memset(field, 'x', sizeof field);
    char name[FRAME_NAME_SIZE];
    EXPECT_EQ(BuildFrameFileName(field, 1, name), 0);
    EXPECT_STREQ(name, "");
    field[3] = '.';
    ASSERT_EQ(BuildFrameFileName(field, 1, name), 1);
    EXPECT_STREQ(name, "xxx0001.pcx");
}

TEST(FrameFileTest, WritesTheFrameUnderItsNumber) {
    TempDir dir;
    PaletteRenderSettings settings;
    SetDefaultSettings(settings);
    std::strcpy(settings.outputName, dir.File("shot.pcx").c_str());
    const uint8_t indices[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(WriteFrameFile(settings, 42, indices, 3, 2), 1);
    DecodedPcx decoded;
    std::string error;
    ASSERT_TRUE(DecodePcx(ReadWholeFile(dir.File("shot0042.pcx")), decoded, error)) << error;
    EXPECT_EQ(decoded.indices, std::vector<uint8_t>(indices, indices + 6));
    EXPECT_EQ(WriteFrameFile(settings, 43, indices, 0, 2), 0);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"shot0042.pcx"});
}

}  // namespace

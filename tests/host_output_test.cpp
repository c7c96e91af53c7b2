// What kelvo shows besides frames: settings as JSON, edited settings, progress lines.
#include <gtest/gtest.h>

#include <cstring>

#include "kelvo/batch/progress_display.h"
#include "kelvo/settings_edit.h"
#include "kelvo/settings_json.h"
#include "tests/temp_dir.h"

namespace {

TEST(SettingsJsonTest, ShowsEveryFieldAndEscapesTheName) {
    SettingsBlock block{};
    PaletteRenderSettings settings;
    SetDefaultSettings(settings);
    settings.source = 7;
    settings.ranges[15] = {1, 2, 200};
    std::memset(settings.outputName, 0, sizeof settings.outputName);
    std::strcpy(settings.outputName, "a\"b\\c\n\xC3\xA9\xFF.pcx");
    std::memcpy(block.data(), &settings, sizeof settings);
    const std::string json = FormatSettingsJson(block);
    for (const char* part :
         {"\"version\": 101,", "\"source\": 7,", "\"method\": 1023,",
          "\"outputName\": \"a\\\"b\\\\c\\u000a\xC3\xA9\\u00ff.pcx\",", "[0, 0, 0], [0, 0, 85],",
          "[255, 255, 255]\n  ],", "{\"first\": 1, \"last\": 2, \"dither\": 200}\n  ]\n}"}) {
        SCOPED_TRACE(part);
        EXPECT_NE(json.find(part), std::string::npos) << json;
    }
}

TEST(SettingsJsonTest, StopsTheNameAtTheFieldsEndWithoutANul) {
    SettingsBlock block{};
    std::memset(block.data() + 8, 'x', 256);
    const std::string json = FormatSettingsJson(block);
    EXPECT_NE(json.find("\"" + std::string(256, 'x') + "\","), std::string::npos);
}

TEST(SettingsEditTest, AppliesEditsAndRefusesWhatIsNoPalette) {
    TempDir dir;
    // A PCX file: manufacturer byte 10, then the marker 12 and the palette at its end.
    std::vector<uint8_t> paletteFile(128 + 769, 0);
    paletteFile[0] = 10;
    paletteFile[128] = 12;
    for (size_t i = 0; i < 768; ++i) {
        paletteFile[129 + i] = static_cast<uint8_t>(i % 251);
    }
    FILE* file = std::fopen(dir.File("pal.pcx").c_str(), "wb");
    std::fwrite(paletteFile.data(), 1, paletteFile.size(), file);
    std::fclose(file);
    file = std::fopen(dir.File("short.pcx").c_str(), "wb");
    std::fwrite(paletteFile.data() + 1, 1, 767, file);
    std::fclose(file);

    SettingsBlock block{};
    SettingsEdits edits;
    edits.paletteFile = dir.File("pal.pcx");
    edits.ranges = {{3, 10, 20, true}, {3, 30, 40, false}};
    edits.outputName = "out/x.pcx";
    std::string error;
    RangeChoices choices;
    ASSERT_EQ(ApplySettingsEdits(edits, block, choices, error), 1) << error;
    EXPECT_EQ(std::memcmp(block.data() + 268, paletteFile.data() + 129, 768), 0);
    EXPECT_EQ(block[1036 + 9], 30);  // the later range wins
    EXPECT_EQ(block[1036 + 11], 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(block.data() + 8), "out/x.pcx");

    const SettingsBlock before = block;
    edits.paletteFile = dir.File("short.pcx");
    EXPECT_EQ(ApplySettingsEdits(edits, block, choices, error), 0);
    EXPECT_NE(error.find("not a palette file kelvo knows"), std::string::npos) << error;
    EXPECT_EQ(block, before);
}

TEST(ProgressDisplayTest, FormatsTheBar) {
    struct Case {
        size_t frame, frames;
        double share;
        int row, rows;
        double fps;
        const char* expected;
    };
    const Case cases[] = {
        {0, 4, 0, 0, 240, -1, "[..........]  frame 1/4  row 0/240  -- fps"},
        {1, 4, 0.5, 50, 100, 2.26, "[###.......]  frame 2/4  row 50/100  2.3 fps"},
        {3, 4, 1, 100, 100, 10, "[##########]  frame 4/4  row 100/100  10.0 fps"},
        // Frames from worker processes: no rows, whole frames.
        {0, 4, 0, 0, 0, -1, "[..........]  frame 1/4  -- fps"},
        {3, 4, 1, 0, 0, 3.5, "[##########]  frame 4/4  3.5 fps"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(FormatProgressBar(c.frame, c.frames, c.share, c.row, c.rows, c.fps, 10),
                  c.expected);
    }
}

TEST(ProgressDisplayTest, PrintsOneLinePerFrameAndErrorsInEveryMode) {
    for (ProgressMode mode : {PROGRESS_LINES, PROGRESS_ERRORS_ONLY}) {
        SCOPED_TRACE(mode);
        FILE* stream = std::tmpfile();
        ASSERT_NE(stream, nullptr);
        ProgressDisplay progress(mode, stream, 2);
        progress.StartFrame(0);
        progress.Row(0, 9);
        progress.FrameWritten(0, 12, "in12.png", "out0012.pcx", "");
        progress.Error("frame 13: broken");
        progress.Finish();
        std::rewind(stream);
        char text[512] = {};
        const size_t length = std::fread(text, 1, sizeof text - 1, stream);
        std::fclose(stream);
        const std::string expected =
            std::string(mode == PROGRESS_LINES ? "kelvo: frame 12 (1/2) in12.png -> out0012.pcx\n"
                                               : "") +
            "kelvo: frame 13: broken\n";
        EXPECT_EQ(std::string(text, length), expected);
    }
}

}  // namespace

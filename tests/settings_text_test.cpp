// The settings text: read against values worked out from its rules, round trips with the
// block, and every refusal with its file and line.
#include <gtest/gtest.h>

#include <cstring>

#include "kelvo/cli_options.h"
#include "kelvo/settings_edit.h"
#include "kelvo/settings_text.h"

namespace {

SettingsText Defaults() {
    SettingsText text;
    SetDefaultSettings(text.settings);
    return text;
}

std::string Format(const SettingsText& text) {
    std::string formatted;
    std::string error;
    EXPECT_TRUE(FormatSettingsText(text, formatted, error)) << error;
    return formatted;
}

SettingsText Parse(const std::string& source) {
    SettingsText text = Defaults();
    std::string error;
    EXPECT_TRUE(ParseSettingsText(source, "t.toml", text, error)) << error << "\n" << source;
    return text;
}

}  // namespace

// Each key read as its rule says, comments and blank lines skipped, and the text kelvo writes
// for it read back to the same values.
TEST(SettingsTextTest, ReadsEachKeyAndWritesWhatReadsBack) {
    const SettingsText text = Parse(R"(# a mod's settings
source = "object"   # identifiers 0..65535
method = "nearest"
output = "out/hero \"1\"_##.pcx"
reserve = "224-226, 240"
palette = [ )" + [] {
        std::string colors;
        for (int i = 0; i < 256; ++i) {
            colors += i == 255 ? "\"ff8000\"" : "\"000000\", ";
        }
        return colors;
    }() + R"( ]

[input]
background_id = 7
alpha_threshold = 0.25
id_map = ["1000:3", "65535:15"]
levels = "auto"

[outputs]
transparent = 0
bmp_rle = true
fps = 12.5

[[range]]
id = 4
spans = "95-80"   # runs downwards
dither = "checker"

[[range]]
id = 15
spans = "16-23, 200"
method = "uniform"
dither = "bayer8"
strength = 0.5
levels = "0.1-0.9"
)");
    const PaletteRenderSettings& s = text.settings;
    EXPECT_EQ(s.source, SOURCE_OBJECT);
    EXPECT_EQ(s.method, METHOD_NEAREST);
    EXPECT_STREQ(s.outputName, "out/hero \"1\"_.pcx");
    EXPECT_EQ(s.palette[255].red, 255);
    EXPECT_EQ(s.palette[255].green, 128);
    EXPECT_EQ(s.palette[255].blue, 0);
    EXPECT_EQ(s.palette[0].red + s.palette[254].blue, 0);
    EXPECT_EQ(text.choices.ranges.reserved.count(), 4u);
    EXPECT_TRUE(text.choices.ranges.reserved[226] && text.choices.ranges.reserved[240]);
    EXPECT_EQ(text.choices.backgroundId, 7);
    EXPECT_EQ(text.choices.alphaThreshold, 0.25);
    EXPECT_EQ(text.choices.idMap.back(), (std::pair<uint16_t, uint16_t>{65535, 15}));
    EXPECT_TRUE(text.choices.levelsAuto && text.choices.bmpRle);
    EXPECT_EQ(text.choices.transparentIndex, 0);
    EXPECT_EQ(text.choices.fps, 12.5);
    // A single span is the block's record; several are kelvo's, the block keeping the first.
    EXPECT_EQ(s.ranges[4].first, 95);
    EXPECT_EQ(s.ranges[4].last, 80);
    EXPECT_EQ(s.ranges[4].dither, 1);
    EXPECT_EQ(text.choices.ranges.ranges[4], RangeChoice{});
    const RangeChoice& fifteen = text.choices.ranges.ranges[15];
    EXPECT_EQ(fifteen.spans, (std::vector<IndexSpan>{{16, 23}, {200, 200}}));
    EXPECT_EQ(fifteen.method, RangeMethod::Uniform);
    EXPECT_EQ(fifteen.dither, DitherPattern::Bayer8);
    EXPECT_EQ(fifteen.strength, 0.5);
    EXPECT_EQ(text.choices.levels[15], (LevelSpan{100, 900}));

    const std::string written = Format(text);
    const SettingsText again = Parse(written);
    EXPECT_EQ(std::memcmp(&again.settings, &text.settings, sizeof text.settings), 0);
    EXPECT_EQ(again.choices.ranges, text.choices.ranges);
    EXPECT_EQ(Format(again), written);
}

// A block written as text and read back over the defaults is the same 1084 bytes.
TEST(SettingsTextTest, BlockToTextToBlockKeepsEveryByte) {
    struct Case {
        const char* name;
        void (*change)(PaletteRenderSettings&);
    };
    const Case cases[] = {
        {"defaults", [](PaletteRenderSettings&) {}},
        {"every field",
         [](PaletteRenderSettings& s) {
             s.source = SOURCE_OBJECT;
             s.method = METHOD_NEAREST;
             std::strcpy(s.outputName, "dir\\\"naïve\"\t.pcx");
             for (int i = 0; i < PALETTE_ENTRIES; ++i) {
                 s.palette[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i),
                                 static_cast<uint8_t>(i * 7)};
             }
             for (int id = 0; id < RANGE_COUNT; ++id) {
                 s.ranges[id] = {static_cast<uint8_t>(id * 16 + 15), static_cast<uint8_t>(id),
                                 static_cast<uint8_t>(id % 2)};
             }
         }},
        {"a lone dither flag", [](PaletteRenderSettings& s) { s.ranges[9].dither = 1; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SettingsText text = Defaults();
        c.change(text.settings);
        const SettingsText back = Parse(Format(text));
        EXPECT_EQ(std::memcmp(&back.settings, &text.settings, sizeof text.settings), 0);
        EXPECT_TRUE(back.choices.BeyondBlock(back.settings).empty());
    }
}

// Each thing a block cannot hold is named, in the text's order.
TEST(SettingsTextTest, NamesWhatABlockCannotHold) {
    struct Case {
        const char* text;
        std::vector<std::string> lost;
    };
    const Case cases[] = {
        {"method = \"uniform\"\n[[range]]\nid = 2\nspans = \"1-4\"\nmethod = \"uniform\"\n"
         "dither = \"checker\"\n",
         {}},
        {"reserve = \"0, 4, 224-255\"\n", {"reserved entries 0, 4, 224-255"}},
        {"method = \"uniform\"\n[[range]]\nid = 3\nspans = \"1-2, 9\"\nmethod = \"nearest\"\n"
         "dither = \"bayer4\"\nstrength = 0.5\nlevels = \"0.2-0.6\"\n",
         {"range 3's spans 1-2, 9", "range 3's own method nearest", "range 3's dither bayer4",
          "range 3's dither strength 0.5", "range 3's levels 0.200-0.600"}},
        {"[input]\nbackground_id = 1\nalpha_threshold = 0.5\nid_map = [\"9:1\"]\n"
         "levels = \"auto\"\n[outputs]\ntransparent = 3\nbmp_rle = true\nfps = 8\n"
         "gif_scale = 2\nsheet = \"s.png\"\ncolumns = 4\nsheet_padding = 1\n",
         {"levels \"auto\"", "background_id", "alpha_threshold", "id_map", "transparent", "bmp_rle",
          "fps", "gif_scale", "sheet", "columns", "sheet_padding"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const SettingsText text = Parse(c.text);
        EXPECT_EQ(text.choices.BeyondBlock(text.settings), c.lost);
    }
}

// Every refusal names the file and the line of what is wrong.
TEST(SettingsTextTest, RefusesBadTextWithFileAndLine) {
    struct Case {
        const char* text;
        const char* error;
    };
    const Case cases[] = {
        {"source = \"material\"\ncolour = 1\n",
         "t.toml:2: unknown key 'colour' (known: source, method, output, reserve, palette"},
        {"[outputs]\n\nfsp = 1\n", "t.toml:3: unknown key 'fsp' in [outputs] (known: transparent"},
        {"[[range]]\nid = 1\nspan = \"1-2\"\n", "t.toml:3: unknown key 'span' in [[range]]"},
        {"method = \"fast\"\n", "t.toml:1: 'method' must be \"uniform\" or \"nearest\""},
        {"source = 1001\n", "t.toml:1: 'source' must be a string in quotes"},
        {"method = \"uniform\n", "t.toml:1: "},
        {"output = \"\"\n", "t.toml:1: 'output' must be a name of 1 to 255 bytes"},
        {"reserve = \"3-300\"\n", "t.toml:1: 'reserve': '3-300' is not an index 0..255"},
        {"palette = [\"000000\"]\n", "t.toml:1: 'palette' must be a palette file's name or 256"},
        {"palette = \"\"\n", "t.toml:1: 'palette' names no file"},
        {"palette_depth = 6\n", "t.toml:1: 'palette_depth' is for a palette file"},
        {"\n[input]\nbackground_id = -1\n", "t.toml:3: 'background_id' must be a whole number"},
        {"[input]\nlevels = \"0-1\"\n", "t.toml:2: [input] 'levels' can only be \"auto\""},
        {"[input]\nid_map = [\"1:\"]\n", "t.toml:2: bad 'id_map' entry \"1:\""},
        {"[outputs]\nfps = 0\n", "t.toml:2: 'fps' must be a number above 0 and up to 100"},
        {"[[range]]\nspans = \"1\"\n", "t.toml:1: [[range]] has no 'id'"},
        {"[[range]]\nid = 16\n", "t.toml:2: 'id' must be a whole number from 0 to 15"},
        {"[[range]]\nid = 1\n[[range]]\nid = 1\n", "t.toml:3: range 1 is given twice"},
        {"[[range]]\nid = 1\ndither = \"blue\"\n", "t.toml:3: 'dither' must be \"none\""},
        {"[[range]]\nid = 1\nstrength = 0.5\n", "t.toml:1: range 1: 'strength' is for dither"},
        {"[[range]]\nid = 1\nlevels = \"0.5-0.2\"\n", "t.toml:3: 'levels' must be \"LOW-HIGH\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        SettingsText text = Defaults();
        std::string error;
        EXPECT_FALSE(ParseSettingsText(c.text, "t.toml", text, error));
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    }
}

// What the command line gives wins over the text, option by option; the rest is the text's.
TEST(SettingsTextTest, CommandLineWinsOverTheText) {
    SettingsChoices text;
    text.backgroundId = 3;
    text.alphaThreshold = 0.5;
    text.idMap = {{1000, 2}};
    text.levels[1] = LevelSpan{100, 900};
    text.levels[2] = LevelSpan{0, 500};
    text.transparentIndex = 7;
    text.fps = 8;
    text.ranges.ranges[4].method = RangeMethod::Nearest;
    text.ranges.ranges[5].spans = {{10, 20}, {30, 40}};
    text.ranges.reserved.set(255);

    RenderOptions given;
    given.input.idMap = {{9, 1}};
    given.levels[1] = LevelSpan{200, 300};
    given.fps = 25;
    given.edits.ranges.push_back({4, 0, 15, false});
    std::string error;
    ASSERT_TRUE(MergeSettingsChoices(text, given, error)) << error;
    EXPECT_EQ(given.input.backgroundId, 3);
    EXPECT_EQ(given.input.alphaBelow, 32768u);  // 0.5 x 65535 rounded up
    EXPECT_EQ(given.input.idMap, (std::vector<std::pair<uint16_t, uint16_t>>{{9, 1}}));
    EXPECT_EQ(given.levels[1], (LevelSpan{200, 300}));
    EXPECT_EQ(given.levels[2], (LevelSpan{0, 500}));
    EXPECT_EQ(given.transparentIndex, 7);
    EXPECT_EQ(given.fps, 25.0);
    // The ranges: the text's, with the command line's --range over them.
    SettingsBlock block{};
    RangeChoices ranges = text.ranges;
    ASSERT_TRUE(ApplySettingsEdits(given.edits, block, ranges, error)) << error;
    EXPECT_EQ(ranges.ranges[4], RangeChoice{});  // --range 4 replaced what the text said
    EXPECT_EQ(ranges.ranges[5].spans, (std::vector<IndexSpan>{{10, 20}, {30, 40}}));
    EXPECT_TRUE(ranges.reserved[255]);

    RenderOptions lonely;
    SettingsChoices threshold;
    threshold.alphaThreshold = 0.25;
    EXPECT_FALSE(MergeSettingsChoices(threshold, lonely, error));
    EXPECT_EQ(error.rfind("an alpha threshold", 0), 0u) << error;
}

#include <gtest/gtest.h>

#include <climits>
#include <optional>

#include "kelvo/batch/frame_pattern.h"
#include "kelvo/cli_options.h"
#include "kelvo/option_suggestion.h"
#include "plugin/settings.h"

namespace {

RangeChoice Choice(std::vector<IndexSpan> spans, std::optional<RangeMethod> method = {},
                   std::optional<DitherPattern> dither = {}, double strength = 1.0) {
    return {std::move(spans), method, dither, strength};
}

TEST(CliOptionsTest, ParsesRanges) {
    using M = RangeMethod;
    using D = DitherPattern;
    struct Case {
        const char* text;
        bool ok;
        int id, first, last;
        bool dither;
        RangeChoice choice;  // what the block cannot hold
        const char* error;
    };
    const Case cases[] = {
        {"0:0-255", true, 0, 0, 255, false, {}, ""},
        {"15:10-13:dither", true, 15, 10, 13, true, {}, ""},
        {"15:10-13:checker", true, 15, 10, 13, true, {}, ""},
        {"3:200-100", true, 3, 200, 100, false, {}, ""},  // a reversed range runs downward
        {"03:007-010", true, 3, 7, 10, false, {}, ""},
        {"1:48", true, 1, 48, 48, false, {}, ""},
        {"1:48-79,96-111", true, 1, 48, 79, false, Choice({{48, 79}, {96, 111}}), ""},
        {"1:9,20-10:nearest", true, 1, 9, 9, false, Choice({{9, 9}, {20, 10}}, M::Nearest), ""},
        {"2:0-7:uniform:none", true, 2, 0, 7, false, Choice({}, M::Uniform), ""},
        {"2:0-7:bayer4", true, 2, 0, 7, false, Choice({}, {}, D::Bayer4), ""},
        {"2:0-7:uniform:bayer8:.25", true, 2, 0, 7, false, Choice({}, M::Uniform, D::Bayer8, 0.25),
         ""},
        {"3:10", true, 3, 10, 10, false, {}, ""},
        {"3-10-20", false, 0, 0, 0, false, {}, "expected ID:SPANS"},
        {"3:10-20:dit", false, 0, 0, 0, false, {}, "expected ID:SPANS"},
        {"3:10-20:", false, 0, 0, 0, false, {}, "expected ID:SPANS"},
        {"3:10-20,", false, 0, 0, 0, false, {}, "expected ID:SPANS"},
        {"3:10-20:dither:nearest", false, 0, 0, 0, false, {}, "expected ID:SPANS"},
        {"3:10-20:dither:0.5", false, 0, 0, 0, false, {}, "expected ID:SPANS"},
        {"3:10-20:bayer4:1.5", false, 0, 0, 0, false, {}, "strength of bayer4 is 0..1"},
        {"3:10-20:nearest:bayer8", false, 0, 0, 0, false, {}, "nearest colour takes no dither"},
        {"x:1-2", false, 0, 0, 0, false, {}, "expected ID:SPANS"},
        {"-1:1-2", false, 0, 0, 0, false, {}, "expected ID:SPANS"},
        {"1:-1-2", false, 0, 0, 0, false, {}, "expected ID:SPANS"},
        {"+1:1-2", false, 0, 0, 0, false, {}, "expected ID:SPANS"},
        {"1: 1-2", false, 0, 0, 0, false, {}, "expected ID:SPANS"},
        {"16:0-1", false, 0, 0, 0, false, {}, "identifier 16 is outside 0..15"},
        {"1:0-256", false, 0, 0, 0, false, {}, "palette indices are 0..255"},
        {"1:5,256", false, 0, 0, 0, false, {}, "palette indices are 0..255"},
        {"1:99999999999999999999-2", false, 0, 0, 0, false, {}, "expected ID:SPANS"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        RangeEdit range{9, 9, 9, false, Choice({})};
        std::string error;
        ASSERT_EQ(ParseRange(c.text, range, error), c.ok ? 1 : 0) << error;
        if (c.ok) {
            EXPECT_EQ(range.id, c.id);
            EXPECT_EQ(range.first, c.first);
            EXPECT_EQ(range.last, c.last);
            EXPECT_EQ(range.dither, c.dither);
            EXPECT_TRUE(range.choice == c.choice);
        } else {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
        }
    }
    std::bitset<PALETTE_ENTRIES> reserved;
    std::string error;
    ASSERT_EQ(ParseReserveList("240-254,4,9-7", reserved, error), 1) << error;
    EXPECT_EQ(reserved.count(), 19u);
    EXPECT_TRUE(reserved[4] && reserved[7] && reserved[9] && reserved[240] && !reserved[255]);
    EXPECT_EQ(ParseReserveList("4,,5", reserved, error), 0);
    EXPECT_EQ(ParseReserveList("300", reserved, error), 0);
    EXPECT_NE(error.find("palette indices are 0..255"), std::string::npos) << error;
}

TEST(CliOptionsTest, ExpandsEveryHashRunToTheFrameNumber) {
    struct Case {
        const char* pattern;
        int frame;
        const char* expected;
    };
    const Case cases[] = {
        {"ids_####.png", 7, "ids_0007.png"},
        {"ids_#.png", 1234, "ids_1234.png"},  // a short run never cuts the number
        {"ids_##.png", -3, "ids_-3.png"},
        {"ids_####.png", -3, "ids_-003.png"},
        {"ids_####.png", INT_MIN, "ids_-2147483648.png"},
        {"a#/b###.png", 5, "a5/b005.png"},
        {"plain.png", 5, "plain.png"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        EXPECT_EQ(ExpandFramePattern(c.pattern, c.frame), c.expected);
    }
}

TEST(FramePatternTest, TakesTheFrameNumberFromTheStemsTrailingDigits) {
    struct Case {
        const char* path;
        NameNumber result;
        int expected;
    };
    const Case cases[] = {
        {"render/beauty_0042.exr", NAME_WITH_NUMBER, 42},
        {"beauty.0042.exr", NAME_WITH_NUMBER, 42},
        {"shot12/beauty.png", NAME_WITHOUT_NUMBER, -1},  // digits of a directory do not count
        {"frame", NAME_WITHOUT_NUMBER, -1},
        {"f2147483647.png", NAME_WITH_NUMBER, INT_MAX},
        {"f2147483648.png", NAME_NUMBER_TOO_LARGE, -1},
        {"f000000000000000000017.png", NAME_WITH_NUMBER, 17},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        int frame = -1;
        EXPECT_EQ(FrameNumberInName(c.path, frame), c.result);
        EXPECT_EQ(frame, c.expected);
    }
}

// Sparse frames keep their numbers; --start numbers in order; identifier passes follow the
// input's own number.
TEST(FramePatternTest, NumbersFramesByTheirNamesOrFromStart) {
    struct Case {
        const char* name;
        std::vector<std::string> files;
        std::optional<int> start;
        std::vector<int> frames, sources;
        std::string error;
    };
    const Case cases[] = {
        {"sparse", {"b_0001.png", "b_0003.png", "b_0005.png"}, {}, {1, 3, 5}, {1, 3, 5}, ""},
        {"given out of order", {"b_9.png", "b_2.png"}, {}, {9, 2}, {9, 2}, ""},
        {"--start", {"b_0001.png", "b_0003.png"}, 100, {100, 101}, {1, 3}, ""},
        {"a name without a number", {"b_0004.png", "hero.png"}, {}, {4, 5}, {4, 5}, ""},
        {"no numbers", {"x.png", "y.png"}, {}, {0, 1}, {0, 1}, ""},
        {"one number twice", {"a/b_7.png", "c/b_0007.png"}, {}, {}, {}, "are both frame 7"},
        {"past the largest int", {"x.png", "y.png"}, INT_MAX, {}, {}, "run past 2147483647"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<int> frames;
        std::vector<int> sources;
        std::string error;
        EXPECT_EQ(NumberFrames(c.files, c.start, frames, sources, error), c.error.empty());
        if (c.error.empty()) {
            EXPECT_EQ(frames, c.frames);
            EXPECT_EQ(sources, c.sources);
        } else {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
        }
    }
}

TEST(FramePatternTest, SelectsTheFramesOfAList) {
    struct Case {
        const char* list;
        std::vector<int> frames;  // empty: refused
        const char* error;
    };
    const Case cases[] = {
        {"11-15", {11, 12, 13, 14, 15}, ""},
        {"7", {7}, ""},
        {"1-9:4,2,3-3", {1, 2, 3, 5, 9}, ""},
        {"5-1,3", {}, "must not come after the last"},
        {"-3--1,-5", {-5, -3, -2, -1}, ""},
        {"-2-1:2", {-2, 0}, ""},
        {"2147483646-2147483647", {2147483646, 2147483647}, ""},
        {"-2147483648", {INT_MIN}, ""},
        {"2147483648", {}, "expected frame numbers"},
        {"1-10:0", {}, "a step is 1 or more"},
        {"1-10:-2", {}, "expected frame numbers"},
        {"1:2", {}, "expected frame numbers"},
        {"1,", {}, "expected frame numbers"},
        {"", {}, "expected frame numbers"},
        {"+1", {}, "expected frame numbers"},
        {"1-2-3", {}, "expected frame numbers"},
        {"0-999999,-1", {}, "selects more than 1000000 frames"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list);
        std::vector<int> frames;
        std::string error;
        EXPECT_EQ(ParseFrameList(c.list, frames, error), c.frames.empty() ? 0 : 1) << error;
        EXPECT_EQ(frames, c.frames);
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
    // Frame N is the pattern's file for N; --start renumbers, identifiers keep N.
    std::vector<std::string> files;
    std::vector<int> numbers;
    std::vector<int> sources;
    std::string error;
    ASSERT_EQ(SelectPatternFrames("b_###.png", {-1, 4}, {}, files, numbers, sources, error), 1);
    EXPECT_EQ(files, (std::vector<std::string>{"b_-01.png", "b_004.png"}));
    EXPECT_EQ(numbers, (std::vector<int>{-1, 4}));
    ASSERT_EQ(SelectPatternFrames("b_#.png", {-1, 4}, 100, files, numbers, sources, error), 1);
    EXPECT_EQ(numbers, (std::vector<int>{100, 101}));
    EXPECT_EQ(sources, (std::vector<int>{-1, 4}));
    EXPECT_EQ(SelectPatternFrames("b_#.png", {1, 2}, INT_MAX, files, numbers, sources, error), 0);
}

// A run of '#' ending the stem marks where the filter puts the frame number.
TEST(FramePatternTest, TakesTheHashRunOutOfTheOutputName) {
    struct Case {
        const char* value;
        const char* stored;  // null: refused
        bool note;
    };
    const Case cases[] = {
        {"out/hero####.pcx", "out/hero.pcx", false},
        {"out/hero_#.pcx", "out/hero_.pcx", false},
        {"out\\hero##", "out\\hero", false},
        {"out/hero.pcx", "out/hero.pcx", false},
        {"out/hero0001.pcx", "out/hero0001.pcx", true},
        {"out/v2_####.pcx", "out/v2_.pcx", false},
        {"out/hero#####.pcx", nullptr, false},
        {"out/he#ro.pcx", nullptr, false},
        {"o#t/hero.pcx", nullptr, false},
        {"out/hero.#.pcx", nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        std::string stored;
        std::string note;
        std::string error;
        ASSERT_EQ(OutputNameFromOption(c.value, stored, note, error), c.stored != nullptr);
        if (c.stored != nullptr) {
            EXPECT_EQ(stored, c.stored);
            EXPECT_EQ(!note.empty(), c.note) << note;
        } else {
            EXPECT_NE(error.find("one to four '#'"), std::string::npos) << error;
        }
    }
}

TEST(CliOptionsTest, ParsesRenderOptionsInBothForms) {
    RenderOptions options;
    std::string error;
    ASSERT_EQ(
        ParseRenderOptions({"--range", "1:0-9", "a.png", "--range=2:5-6:dither", "--method=nearest",
                            "--source", "object", "--output", "o.pcx", "-q", "--start=-5", "-j",
                            "3", "--window", "data", "--view", "right", "--", "--b.png"},
                           options, error),
        1)
        << error;
    EXPECT_EQ(options.colorFiles, (std::vector<std::string>{"a.png", "--b.png"}));
    ASSERT_EQ(options.edits.ranges.size(), 2u);
    EXPECT_EQ(options.edits.ranges[1].id, 2);
    EXPECT_TRUE(options.edits.ranges[1].dither);
    EXPECT_EQ(options.edits.method, METHOD_NEAREST);
    EXPECT_EQ(options.edits.source, SOURCE_OBJECT);
    EXPECT_EQ(options.edits.outputName, "o.pcx");
    EXPECT_TRUE(options.quiet);
    EXPECT_EQ(options.start, -5);
    EXPECT_EQ(options.jobs, 3);
    EXPECT_EQ(options.input.exr.window, EXR_WINDOW_DATA);
    EXPECT_EQ(options.input.exr.view, "right");
    RenderOptions defaults;
    ASSERT_EQ(ParseRenderOptions({"--jobs=256", "a.png"}, options, error), 1) << error;
    EXPECT_EQ(options.jobs, 256);
    ASSERT_EQ(ParseRenderOptions({"-j2", "a.png"}, options, error), 1) << error;
    EXPECT_EQ(options.jobs, 2);
    ASSERT_EQ(ParseRenderOptions({"--frame-cache", "0", "--max-pixels", "4294836225",
                                  "--frame-timeout=604800", "a.png"},
                                 options, error),
              1)
        << error;
    EXPECT_EQ(options.frameCacheMib, 0);
    EXPECT_EQ(options.input.exr.maxPixels, 4294836225);  // 65535 x 65535
    EXPECT_EQ(options.frameTimeoutSeconds, 604800);
    ASSERT_EQ(ParseRenderOptions({"a.png"}, defaults, error), 1) << error;
    EXPECT_EQ(defaults.jobs, 0);  // one per processor
    EXPECT_FALSE(defaults.frameCacheMib.has_value());
    EXPECT_EQ(defaults.input.exr.maxPixels, 134217728);
    EXPECT_FALSE(defaults.frameTimeoutSeconds.has_value());
    EXPECT_EQ(defaults.input.exr.window, EXR_WINDOW_DISPLAY);
}

TEST(CliOptionsTest, RefusesMalformedRenderCommandLines) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        const char* error;
    };
    const Case cases[] = {
        {"unknown option", {"--frobnicate", "a.png"}, "unknown option '--frobnicate'"},
        {"value missing", {"a.png", "--ids"}, "'--ids' needs a value"},
        {"empty value", {"--ids=", "a.png"}, "'--ids' needs a non-empty value"},
        {"flag with value", {"--quiet=1", "a.png"}, "takes no value"},
        {"no colour files", {"--range", "1:0-9"}, "no COLOR files"},
        {"both id sources", {"--ids", "i#.png", "--id-channel", "id", "a.exr"}, "give one"},
        {"bad method", {"--method", "best", "a.png"}, "uniform or nearest, not 'best'"},
        {"bad source", {"--source", "mat", "a.png"}, "material or object"},
        {"bad window", {"--window", "full", "a.exr"}, "display or data, not 'full'"},
        {"bad start", {"--start", "1e3", "a.png"}, "--start needs a frame number"},
        {"start too large", {"--start", "2147483648", "a.png"}, "--start needs"},
        {"bad range", {"--range", "1:2:best", "a.png"}, "bad range '1:2:best'"},
        {"bad reserve", {"--reserve", "4-", "a.png"}, "bad --reserve '4-'"},
        {"output too long", {"--output", std::string(256, 'x'), "a.png"}, "longer than 255"},
        {"no workers", {"-j", "0", "a.png"}, "--jobs needs a number of workers from 1 to 256"},
        {"too many workers", {"--jobs=257", "a.png"}, "not '257'"},
        {"workers not a number", {"-j", "two", "a.png"}, "not 'two'"},
        {"workers with a sign", {"-j", "+2", "a.png"}, "not '+2'"},
        {"negative frame cache", {"--frame-cache", "-1", "a.png"}, "--frame-cache needs a size"},
        {"frame cache beyond a terabyte", {"--frame-cache=1048577", "a.png"}, "not '1048577'"},
        {"no pixels", {"--max-pixels", "0", "a.png"}, "--max-pixels needs a number of pixels"},
        {"more pixels than a frame has", {"--max-pixels=4294836226", "a.png"}, "not '42948"},
        {"no time", {"--frame-timeout", "0", "a.png"}, "--frame-timeout needs a number of"},
        {"fractional time", {"--frame-timeout", "1.5", "a.png"}, "not '1.5'"},
        {"frames of no pattern", {"--frames", "1-3", "a.png"}, "not 'a.png'"},
        {"frames of two patterns", {"--frames=1", "a#.png", "b#.png"}, "not 2 COLOR"},
        {"bad frames", {"--frames", "3-1", "a#.png"}, "bad --frames '3-1'"},
        {"a mistyped option", {"--sheet-paddng", "2", "a.png"}, "; did you mean --sheet-padding?"},
        {"no enlargement", {"--gif", "a.gif", "--gif-scale", "0", "a.png"}, "from 1 to 16"},
        {"enlargement beyond 16", {"--gif", "a.gif", "--gif-scale=17", "a.png"}, "not '17'"},
        {"enlargement without a GIF", {"--gif-scale", "2", "a.png"}, "--gif-scale needs --gif"},
        {"no columns", {"--sheet", "s.png", "--columns", "0", "a.png"}, "from 1 to 65535"},
        {"columns without a sheet", {"--columns", "2", "a.png"}, "--columns needs --sheet"},
        {"negative padding", {"--sheet", "s.png", "--sheet-padding", "-1", "a.png"}, "0 to 1024"},
        {"padding without a sheet", {"--sheet-padding=1", "a.png"}, "needs --sheet"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RenderOptions options;
        std::string error;
        EXPECT_EQ(ParseRenderOptions(c.args, options, error), 0);
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

// An unquoted --ids pattern: the shell gives kelvo its first file as --ids and the others as
// colour inputs, which are refused. One ID file for every frame, colour and ID files of other
// names or directories, and patterns are not.
TEST(CliOptionsTest, RefusesIdentifierPassesTheShellMadeColourInputs) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string error;  // empty: accepted
    };
    const Case cases[] = {
        {"the shell's expansion",
         {"--ids", "render/id_0001.png", "render/id_0002.png", "render/beauty_0001.png"},
         "'render/id_0002.png' looks like an identifier pass of --ids 'render/id_0001.png' (the "
         "shell expanded a pattern?): quote it, --ids 'render/id_####.png'"},
        {"after the colour files, other digits",
         {"b_1.png", "id.17.png", "--ids", "./id.9.png"},
         "'id.17.png' looks like an identifier pass of --ids './id.9.png' (the shell expanded a "
         "pattern?): quote it, --ids './id.#.png'"},
        {"one ID file for every frame",
         {"--ids", "r/mask.png", "r/b_0001.png", "r/b_0002.png"},
         ""},
        {"an ID file of a frame", {"--ids", "r/id_0001.png", "r/beauty_0001.png"}, ""},
        {"the same name in another directory", {"--ids", "i/f_0001.png", "c/f_0002.png"}, ""},
        {"another extension", {"--ids", "r/f_0001.png", "r/f_0002.exr"}, ""},
        {"the ID file as colour too", {"--ids", "r/f_0001.png", "r/f_0001.png"}, ""},
        {"an ID pattern", {"--ids", "r/id_####.png", "r/b_0001.png", "r/b_0002.png"}, ""},
        {"--frames", {"--ids", "r/id_####.png", "--frames", "1-3", "r/b_####.png"}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RenderOptions options;
        std::string error;
        EXPECT_EQ(ParseRenderOptions(c.args, options, error), c.error.empty() ? 1 : 0);
        EXPECT_EQ(error, c.error);
    }
}

TEST(CliOptionsTest, HelpWinsOverEverythingElse) {
    RenderOptions options;
    std::string error;
    EXPECT_EQ(ParseRenderOptions({"--help", "--bogus"}, options, error), 1);
    EXPECT_TRUE(options.help);
}

TEST(CliOptionsTest, SettingsNewNeedsAnOutputFileAndNoOperands) {
    struct Case {
        std::vector<std::string> args;
        int ok;
        const char* error;
    };
    const Case cases[] = {
        {{"--range", "0:1-2", "-o", "x.set"}, 1, ""},
        {{"--range", "0:1-2"}, 0, "-o FILE"},
        {{"-o", "x.set", "extra"}, 0, "unexpected argument 'extra'"},
        {{"--settings", "a", "-o", "x.set"}, 0, "unknown option '--settings'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        SettingsNewOptions options;
        std::string error;
        EXPECT_EQ(ParseSettingsNewOptions(c.args, options, error), c.ok);
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

}  // namespace

// A slip of one or two letters, two letters swapped or a unique beginning finds the option
// meant; a name far off, or the beginning of two, finds none.
TEST(CliOptionsTest, SuggestsTheNameAMistypedOneMeant) {
    const std::vector<std::string> known = {"--gif",     "--gif-scale",     "--png", "--preview",
                                            "--palette", "--palette-depth", "-j"};
    const struct {
        const char* typed;
        const char* meant;
    } cases[] = {
        {"--pgn", "--png"},
        {"--pallete", "--palette"},
        {"--gif-scael", "--gif-scale"},
        {"--palette-d", "--palette-depth"},
        {"--gi", "--gif"},
        {"--pre", "--preview"},
        {"--pa", ""},
        {"--frobnicate", ""},
        {"--gof", "--gif"},
        {"-J", "-j"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        EXPECT_EQ(NearestName(c.typed, known), c.meant);
    }
}

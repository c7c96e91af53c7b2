// End-to-end runs of the kelvo program on small generated PNG and OpenEXR inputs.
#include <gtest/gtest.h>

#include <png.h>

#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "host/memory_bitmap.h"
#include "kelvo/demo_scene.h"
#include "pcx/pcx_writer.h"
#include "plugin/palette_render_filter.h"
#include "tests/exr_files.h"
#include "tests/image_files.h"
#include "tests/pcx_decoder.h"
#include "tests/run_process.h"
#include "tests/temp_dir.h"

namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// One input frame as 16-bit RGBA values and identifiers.
struct Frame {
    int width = 0;
    int height = 0;
    std::vector<uint16_t> rgba;
    std::vector<uint16_t> ids;
};

// A frame whose pixels all differ, with identifiers cycling through `idCount` values.
Frame MakeFrame(int width, int height, int seed, int idCount) {
    Frame frame{width, height, {}, {}};
    for (int i = 0; i < width * height; ++i) {
        const int v = (i * 37 + seed * 71) % 256;
        frame.rgba.insert(frame.rgba.end(),
                          {static_cast<uint16_t>(v), static_cast<uint16_t>((v * 3) % 256),
                           static_cast<uint16_t>(255 - v), 255});
        frame.ids.push_back(static_cast<uint16_t>((i + seed) % idCount));
    }
    return frame;
}

// The 8-bit frame as a PNG: RGB, values as they are.
void WriteRgbPng(const std::string& path, const Frame& frame) {
    TestPng png{frame.width, frame.height, PNG_COLOR_TYPE_RGB, 8, {}};
    for (size_t i = 0; i < frame.rgba.size(); i += 4) {
        png.samples.insert(png.samples.end(),
                           {frame.rgba[i], frame.rgba[i + 1], frame.rgba[i + 2]});
    }
    WriteTestPng(path, png);
}

void WriteIdPng(const std::string& path, const Frame& frame, int bitDepth) {
    WriteTestPng(path, {frame.width, frame.height, PNG_COLOR_TYPE_GRAY, bitDepth, frame.ids});
}

// The frame file the filter itself writes for this frame, rendered without kelvo: 8-bit
// samples scaled by 256 as the PNG reader promises.
std::vector<uint8_t> RenderDirectly(PaletteRenderSettings settings, const Frame& frame,
                                    int frameNumber, int scale) {
    TempDir dir;
    PaletteRenderFilter filter;
    filter.settings = settings;
    std::memset(filter.settings.outputName, 0, OUTPUT_NAME_SIZE);
    std::strcpy(filter.settings.outputName, dir.File("ref.pcx").c_str());
    MemoryBitmap bitmap(static_cast<WORD>(frame.width), static_cast<WORD>(frame.height));
    for (size_t i = 0; i < bitmap.Pixels().size(); ++i) {
        bitmap.Pixels()[i] = {static_cast<uint16_t>(frame.rgba[4 * i] * scale),
                              static_cast<uint16_t>(frame.rgba[4 * i + 1] * scale),
                              static_cast<uint16_t>(frame.rgba[4 * i + 2] * scale),
                              static_cast<uint16_t>(frame.rgba[4 * i + 3] * scale)};
        bitmap.MaterialIds()[i] = static_cast<uint8_t>(frame.ids[i]);
        bitmap.ObjectIds()[i] = frame.ids[i];
    }
    ImageFilterInfo info{frameNumber};
    filter.SetSource(&bitmap);
    filter.SetFilterInfo(&info);
    filter.RenderFrame(nullptr);
    char name[32];
    std::snprintf(name, sizeof name, "ref%04d.pcx", frameNumber);
    return ReadWholeFile(dir.File(name));
}

class KelvoTest : public ::testing::Test {
protected:
    KelvoTest() { std::filesystem::create_directory(Out()); }
    ProcessResult Kelvo(std::vector<std::string> args) {
        args.insert(args.begin(), KELVO_PROGRAM);
        return RunProcess(args);
    }
    std::string In(const std::string& name) const { return dir.File(name); }
    std::string Out(const std::string& name = "") const { return dir.File("out/" + name); }
    std::vector<std::string> OutEntries() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(Out())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    TempDir dir;
};

PaletteRenderSettings Defaults() {
    PaletteRenderSettings settings;
    SetDefaultSettings(settings);
    return settings;
}

TEST_F(KelvoTest, PngSequenceGivesTheFilesTheFilterWritesItself) {
    std::vector<Frame> frames;
    for (int i = 0; i < 3; ++i) {
        frames.push_back(MakeFrame(7, 5, i, 4));
        WriteRgbPng(In("beauty_00" + std::to_string(7 + i) + ".png"), frames.back());
        WriteIdPng(In("ids_000" + std::to_string(7 + i) + ".png"), frames.back(), 8);
    }
    // Frame numbers 7, 8, 9 from the first name; ids_#### and prev_## take them.
    const ProcessResult run =
        Kelvo({"render", "--ids", In("ids_####.png"), "--range", "0:0-255", "--range",
               "1:10-13:dither", "--range", "2:255-0", "--range", "3:40-60:dither", "--output",
               Out("shot.pcx"), "--preview", Out("prev_##.png"), In("beauty_007.png"),
               In("beauty_008.png"), In("beauty_009.png")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(Contains(run.err, "kelvo: frame 8 (2/3) " + In("beauty_008.png") + " -> " +
                                      Out("shot0008.pcx") + ", " + Out("prev_08.png")))
        << run.err;
    PaletteRenderSettings settings = Defaults();
    settings.ranges[0] = {0, 255, 0};
    settings.ranges[1] = {10, 13, 1};
    settings.ranges[2] = {255, 0, 0};
    settings.ranges[3] = {40, 60, 1};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const std::string number = std::to_string(7 + i);
        const std::vector<uint8_t> expected = RenderDirectly(settings, frames[i], 7 + i, 256);
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(ReadWholeFile(Out("shot000" + number + ".pcx")), expected);
        DecodedPcx pcx;
        std::string error;
        ASSERT_TRUE(DecodePcx(expected, pcx, error)) << error;
        const IndexedPng preview = ReadTestIndexedPng(Out("prev_0" + number + ".png"));
        EXPECT_EQ(preview.indices, pcx.indices);
        EXPECT_EQ(preview.palette, pcx.palette);
    }
    EXPECT_EQ(OutEntries().size(), 6u);
}

TEST_F(KelvoTest, Png16WithObjectIdsNearestColoursAndAPaletteFile) {
    Frame frame = MakeFrame(6, 3, 5, 16);
    frame.ids[4] = 300;  // beyond the ranges: served by range 0
    frame.ids[5] = 65535;
    TestPng png{frame.width, frame.height, PNG_COLOR_TYPE_RGB_ALPHA, 16, {}};
    for (size_t i = 0; i < frame.rgba.size(); ++i) {
        frame.rgba[i] = static_cast<uint16_t>(frame.rgba[i] * 251 + i);
    }
    png.samples = frame.rgba;
    WriteTestPng(In("c.png"), png);
    WriteIdPng(In("ids.png"), frame, 16);
    PaletteRenderSettings settings = Defaults();
    for (int i = 0; i < 256; ++i) {
        settings.palette[i] = {static_cast<uint8_t>(i * 7), static_cast<uint8_t>(255 - i),
                               static_cast<uint8_t>(i * 13)};
    }
    const uint8_t index = 0;
    ASSERT_EQ(WritePcxFrame(In("palette.pcx").c_str(), &index, 1, 1, settings.palette), 1);
    const ProcessResult run = Kelvo(
        {"render",          "-q",         "--start",  "100",      "--ids",     In("ids.png"),
         "--source",        "object",     "--method", "nearest",  "--palette", In("palette.pcx"),
         "--range",         "0:0-255",    "--range",  "15:16-31", "--output",  Out("f.pcx"),
         "--save-settings", Out("s.set"), In("c.png")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    // Quiet: only the warnings of identifiers 1-14, which have no range.
    for (size_t at = 0; at < run.err.size(); at = run.err.find('\n', at) + 1) {
        EXPECT_EQ(run.err.compare(at, 16, "kelvo: warning: "), 0) << run.err;
    }
    settings.source = SOURCE_OBJECT;
    settings.method = METHOD_NEAREST;
    settings.ranges[0] = {0, 255, 0};
    settings.ranges[15] = {16, 31, 0};
    EXPECT_EQ(ReadWholeFile(Out("f0100.pcx")), RenderDirectly(settings, frame, 100, 1));
    // The saved block holds the settings as given, the output name included.
    std::strcpy(settings.outputName, Out("f.pcx").c_str());
    const std::vector<uint8_t> saved = ReadWholeFile(Out("s.set"));
    ASSERT_EQ(saved.size(), 1084u);
    EXPECT_EQ(std::memcmp(saved.data(), &settings, 1084), 0);
}

TEST_F(KelvoTest, ExrLayerAndIdentifierChannelGiveTheFilterWritesItself) {
    Frame frame{2, 2, {}, {}};
    // Linear values chosen to land on exact 16-bit levels: 0.5 -> 32768, 0.25 -> 16384.
    const float red[] = {1.0f, 0.5f, 0.25f, 0.0f};
    const float green[] = {0.25f, 0.0f, 1.0f, 0.5f};
    const float blue[] = {0.0f, 0.25f, 0.5f, 1.0f};
    const uint16_t levels[] = {0, 16384, 32768, 65535};
    auto level = [&levels](float v) {
        return levels[v == 0.25f ? 1 : v == 0.5f ? 2 : v == 1.0f ? 3 : 0];
    };
    for (int i = 0; i < 4; ++i) {
        frame.rgba.insert(frame.rgba.end(),
                          {level(red[i]), level(green[i]), level(blue[i]), 65535});
    }
    frame.ids = {1, 2, 3, 2};
    TestExrPart beauty{"beauty", 2, 2, 0, 0, {}};
    beauty.channels = {{"diffuse.R", 1, {red, red + 4}},
                       {"diffuse.G", 2, {green, green + 4}},
                       {"diffuse.B", 2, {blue, blue + 4}},
                       {"R", 2, {0, 0, 0, 0}},
                       {"G", 2, {0, 0, 0, 0}},
                       {"B", 2, {0, 0, 0, 0}}};
    TestExrPart passes{"passes", 2, 2, 0, 0, {{"objectIndex", 2, {0.9f, 2.2f, 3.0f, 1.6f}}}};
    WriteTestExr(In("render.0042.exr"), {beauty, passes});
    const ProcessResult run =
        Kelvo({"render", "--layer", "diffuse", "--id-channel", "objectIndex", "--linear", "--range",
               "1:0-63", "--range", "2:64-127:dither", "--range", "3:255-128", "--output",
               Out("e.pcx"), In("render.0042.exr")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    PaletteRenderSettings settings = Defaults();
    settings.ranges[1] = {0, 63, 0};
    settings.ranges[2] = {64, 127, 1};
    settings.ranges[3] = {255, 128, 0};
    EXPECT_EQ(ReadWholeFile(Out("e0042.pcx")), RenderDirectly(settings, frame, 42, 1));
}

TEST_F(KelvoTest, SettingsNewShowAndRenderAgree) {
    const std::vector<std::string> edits = {"--range",  "2:3-4:dither", "--method", "nearest",
                                            "--source", "object",       "--output", "x\"y.pcx"};
    std::vector<std::string> args = {"settings", "new"};
    args.insert(args.end(), edits.begin(), edits.end());
    args.insert(args.end(), {"-o", Out("new.set")});
    ASSERT_EQ(Kelvo(args).exitCode, 0);
    const ProcessResult show = Kelvo({"settings", "show", Out("new.set")});
    ASSERT_EQ(show.exitCode, 0) << show.err;
    for (const char* part : {"\"version\": 101,", "\"source\": 1002,", "\"method\": 1024,",
                             "\"outputName\": \"x\\\"y.pcx\",", "[0, 0, 0], [0, 0, 85],",
                             "{\"first\": 3, \"last\": 4, \"dither\": 1},"}) {
        EXPECT_TRUE(Contains(show.out, part)) << part << "\n" << show.out;
    }
    // The same options on render save the same block.
    const Frame frame = MakeFrame(2, 2, 0, 1);
    WriteRgbPng(In("a.png"), frame);
    args = {"render", "-q", "--save-settings", Out("render.set")};
    args.insert(args.end(), edits.begin(), edits.end());
    args.insert(args.end(), {"--output", Out("r.pcx"), In("a.png")});
    ASSERT_EQ(Kelvo(args).exitCode, 0);
    std::vector<uint8_t> fromRender = ReadWholeFile(Out("render.set"));
    std::vector<uint8_t> fromNew = ReadWholeFile(Out("new.set"));
    ASSERT_EQ(fromNew.size(), 1084u);
    ASSERT_EQ(fromRender.size(), 1084u);
    std::fill(fromRender.begin() + 8, fromRender.begin() + 264, 0);
    std::fill(fromNew.begin() + 8, fromNew.begin() + 264, 0);
    EXPECT_EQ(fromRender, fromNew);

    const ProcessResult bad = Kelvo({"settings", "show", In("a.png")});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_TRUE(Contains(bad.err, "is not a settings block")) << bad.err;
}

TEST_F(KelvoTest, InterruptStopsTheFrameAndKeepsEarlierOnes) {
    const Frame small = MakeFrame(5, 4, 1, 1);
    WriteRgbPng(In("f1.png"), small);
    WriteRgbPng(In("f2.png"), small);
    TestPng large{2000, 1500, PNG_COLOR_TYPE_GRAY, 8, std::vector<uint16_t>(2000 * 1500, 90)};
    WriteTestPng(In("f3.png"), large);
    WriteTestPng(In("f4.png"), large);
    TerminalProcess kelvo({KELVO_PROGRAM, "render", "-j", "1", "--range", "0:0-255", "--output",
                           Out("shot.pcx"), In("f1.png"), In("f2.png"), In("f3.png"),
                           In("f4.png")});
    ASSERT_TRUE(kelvo.WaitFor("frame 3/4")) << kelvo.Output();
    kelvo.Signal(SIGINT);
    EXPECT_EQ(kelvo.Wait(), 130) << kelvo.Output();

    PaletteRenderSettings settings = Defaults();
    settings.ranges[0] = {0, 255, 0};
    const std::vector<uint8_t> expected = RenderDirectly(settings, small, 1, 256);
    EXPECT_EQ(ReadWholeFile(Out("shot0001.pcx")), expected);
    EXPECT_EQ(ReadWholeFile(Out("shot0002.pcx")), RenderDirectly(settings, small, 2, 256));
    // The frame being rendered has no file; frame 4 has one only if frame 3 finished first.
    const std::vector<std::string> entries = OutEntries();
    if (entries.size() == 2) {
        EXPECT_TRUE(Contains(kelvo.Output(), "interrupted; frames written: 1-2")) << kelvo.Output();
    } else {
        EXPECT_EQ(entries,
                  (std::vector<std::string>{"shot0001.pcx", "shot0002.pcx", "shot0003.pcx"}));
        EXPECT_TRUE(Contains(kelvo.Output(), "interrupted; frames written: 1-3")) << kelvo.Output();
    }
}

// 8-bit colours enter on the filter's own scale: every entry of a palette maps to itself (the
// lowest equal index) from an RGB PNG and from a palette PNG, and nearest colour over 8-bit
// input is the exact 8-bit nearest, found here by brute force.
TEST_F(KelvoTest, PaletteColoursMapToThemselves) {
    std::vector<PaletteEntry> greys(256);
    std::vector<PaletteEntry> demo(256);
    std::vector<PaletteEntry> duplicates(256);
    uint32_t seed = 12345;
    const auto next = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 24; };
    for (int i = 0; i < 256; ++i) {
        const auto v = static_cast<uint8_t>(i);
        greys[i] = {v, v, v};
        duplicates[i] = i % 3 == 0 && i > 0 ? duplicates[i - 3]
                                            : PaletteEntry{static_cast<uint8_t>(next()),
                                                           static_cast<uint8_t>(next()),
                                                           static_cast<uint8_t>(next())};
    }
    BuildDemoPalette(demo.data());
    Frame random{64, 16, {}, {}};
    for (int i = 0; i < 64 * 16; ++i) {
        random.rgba.insert(random.rgba.end(),
                           {static_cast<uint16_t>(next()), static_cast<uint16_t>(next()),
                            static_cast<uint16_t>(next()), 255});
        random.ids.push_back(0);
    }
    struct Case {
        const char* name;
        const std::vector<PaletteEntry>& palette;
    };
    for (const Case& c :
         {Case{"greys", greys}, Case{"demo", demo}, Case{"duplicates", duplicates}}) {
        SCOPED_TRACE(c.name);
        const std::string palette = In(std::string(c.name) + ".pcx");
        const uint8_t index = 0;
        ASSERT_EQ(WritePcxFrame(palette.c_str(), &index, 1, 1, c.palette.data()), 1);
        Frame entries{256, 1, {}, {}};
        TestPng indexed{256, 1, PNG_COLOR_TYPE_PALETTE, 8, {}};
        for (int i = 0; i < 256; ++i) {
            entries.rgba.insert(entries.rgba.end(),
                                {c.palette[i].red, c.palette[i].green, c.palette[i].blue, 255});
            indexed.samples.push_back(static_cast<uint16_t>(i));
            indexed.palette.insert(indexed.palette.end(),
                                   {c.palette[i].red, c.palette[i].green, c.palette[i].blue});
        }
        WriteRgbPng(In("entries_1.png"), entries);
        WriteTestPng(In("entries_2.png"), indexed);
        WriteRgbPng(In("entries_3.png"), random);
        const ProcessResult run =
            Kelvo({"render", "-q", "--palette", palette, "--output", Out("m.pcx"),
                   In("entries_1.png"), In("entries_2.png"), In("entries_3.png")});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        // The nearest entry in 8-bit RGB, the lowest index among equals.
        const auto nearest = [&c](const uint16_t* rgb) {
            int best = 0;
            long bestDistance = LONG_MAX;
            for (int i = 0; i < 256; ++i) {
                const long r = c.palette[i].red - rgb[0];
                const long g = c.palette[i].green - rgb[1];
                const long b = c.palette[i].blue - rgb[2];
                if (r * r + g * g + b * b < bestDistance) {
                    bestDistance = r * r + g * g + b * b;
                    best = i;
                }
            }
            return best;
        };
        for (int frame = 1; frame <= 3; ++frame) {
            SCOPED_TRACE(frame);
            const Frame& input = frame == 3 ? random : entries;
            DecodedPcx pcx;
            std::string error;
            ASSERT_TRUE(
                DecodePcx(ReadWholeFile(Out("m000" + std::to_string(frame) + ".pcx")), pcx, error))
                << error;
            int wrong = 0;
            for (size_t i = 0; i < pcx.indices.size(); ++i) {
                wrong += pcx.indices[i] != nearest(&input.rgba[4 * i]) ? 1 : 0;
            }
            EXPECT_EQ(wrong, 0);
        }
    }
}

TEST_F(KelvoTest, DemoWritesFramesPreviewsPaletteAndSettings) {
    const ProcessResult run = Kelvo({"demo", Out("demo")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, Out("demo") + "/demo0001.png")) << run.out;
    for (const char* name : {"demo0001.pcx", "demo0024.pcx", "demo0024.png", "demo-palette.pcx"}) {
        EXPECT_TRUE(std::filesystem::exists(Out("demo/") + name)) << name;
    }
    const std::vector<uint8_t> settings = ReadWholeFile(Out("demo/demo.settings"));
    const std::vector<uint8_t> palette = ReadWholeFile(Out("demo/demo-palette.pcx"));
    ASSERT_EQ(settings.size(), 1084u);
    ASSERT_GT(palette.size(), 768u);
    EXPECT_TRUE(std::equal(settings.begin() + 268, settings.begin() + 1036, palette.end() - 768));
    DecodedPcx frame;
    std::string error;
    ASSERT_TRUE(DecodePcx(ReadWholeFile(Out("demo/demo0012.pcx")), frame, error)) << error;
    EXPECT_EQ(frame.width, 320);
    EXPECT_EQ(frame.height, 240);
    // Every object's ramp shows up: sky, floor and four spheres (32 entries each).
    std::vector<bool> ramps(8, false);
    for (uint8_t index : frame.indices) {
        ramps[index / 32] = true;
    }
    EXPECT_EQ(ramps, (std::vector<bool>{true, true, true, true, true, true, false, false}));
    // Quiet: the same files, nothing said.
    const ProcessResult quiet = Kelvo({"demo", "--quiet", Out("quiet")});
    ASSERT_EQ(quiet.exitCode, 0) << quiet.err;
    EXPECT_EQ(quiet.out + quiet.err, "");
    EXPECT_EQ(ReadWholeFile(Out("quiet/demo0012.pcx")), ReadWholeFile(Out("demo/demo0012.pcx")));
}

}  // namespace

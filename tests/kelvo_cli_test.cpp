// End-to-end runs of the kelvo program on small generated PNG and OpenEXR inputs.
#include <gtest/gtest.h>

#include <png.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "host/memory_bitmap.h"
#include "kelvo/demo_scene.h"
#include "pcx/pcx_writer.h"
#include "plugin/palette_render_filter.h"
#include "tests/exr_files.h"
#include "tests/gif_blocks.h"
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
        // All but the record of what made the frames, which --skip-existing reads.
        for (const auto& entry : std::filesystem::directory_iterator(Out())) {
            if (entry.path().filename() != ".kelvo-frames") {
                names.push_back(entry.path().filename().string());
            }
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

// Debian's Pillow and ImageMagick, the independent decoders of kelvo's outputs; "" when both
// are there, else what is missing.
std::string MissingDecoders() {
    const bool pillow = RunProcess({"/usr/bin/python3", "-c", "import PIL"}).exitCode == 0;
    const bool magick =
        std::filesystem::exists("/usr/bin/convert") && std::filesystem::exists("/usr/bin/identify");
    return pillow && magick ? ""
                            : "Pillow or ImageMagick missing: install Debian's python3-pil and "
                              "imagemagick (scripts/install-deps.sh all) to check kelvo's PNG, "
                              "BMP and GIF files with them";
}

// What Pillow makes of each frame of each file: "FILE FRAME MODE TRANSPARENCY PALETTE INDICES",
// the palette and indices in hex.
constexpr const char* PILLOW_DUMP = R"(
import sys
from PIL import GifImagePlugin, Image
# Frames after the first stay indexed while the palette stays the same.
GifImagePlugin.LOADING_STRATEGY = GifImagePlugin.LoadingStrategy.RGB_AFTER_DIFFERENT_PALETTE_ONLY
for path in sys.argv[1:]:
    image = Image.open(path)
    for frame in range(getattr(image, "n_frames", 1)):
        image.seek(frame)
        print(path, frame, image.mode, image.info.get("transparency", -1),
              bytes(image.getpalette()).hex(), image.tobytes().hex())
)";

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    for (uint8_t byte : bytes) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", byte);
        text += digits;
    }
    return text;
}

// ImageMagick's colour map of `file`, entry by entry, as identify -verbose lists it; empty when
// it lists none (it reads an indexed PNG with a transparent entry as direct colour).
std::vector<uint8_t> MagickColormap(const std::string& file) {
    const ProcessResult run = RunProcess({"/usr/bin/identify", "-verbose", file});
    std::vector<uint8_t> map;
    const size_t at = run.out.find("\n  Colormap:\n");
    std::istringstream lines(at == std::string::npos ? "" : run.out.substr(at + 13));
    std::string line;
    for (int entry = 0; std::getline(lines, line); ++entry) {
        int index = 0, r = 0, g = 0, b = 0;
        if (std::sscanf(line.c_str(), " %d: (%d,%d,%d)", &index, &r, &g, &b) != 4 ||
            index != entry) {
            break;
        }
        map.insert(map.end(),
                   {static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b)});
    }
    return map;
}

// Each output, in one process and in workers, decodes in Pillow to the frame file's indices
// with the palette in order (and the transparent entry where one was asked for), and in
// ImageMagick to the colours of those indices, with its colour map in order.
TEST_F(KelvoTest, OutputsDecodeInPillowAndImageMagickToTheIndexImage) {
    const std::string missing = MissingDecoders();
    if (!missing.empty()) {
        GTEST_SKIP() << missing;
    }
    // 37 x 23 (BMP rows padded), a flat band for long runs, every index of four ranges.
    for (int n = 1; n <= 3; ++n) {
        Frame frame = MakeFrame(37, 23, n, 4);
        for (size_t i = 0; i < 37 * 5; ++i) {
            std::fill_n(frame.rgba.begin() + static_cast<std::ptrdiff_t>(4 * i), 3,
                        static_cast<uint16_t>(40 * n));
        }
        WriteRgbPng(In("c_000" + std::to_string(n) + ".png"), frame);
        WriteIdPng(In("i_000" + std::to_string(n) + ".png"), frame, 8);
    }
    const std::string palette = std::string(KELVO_TEST_DATA) + "/palettes/jasc_crlf.pal";
    struct Case {
        const char* name;
        std::vector<std::string> args;
        int transparent;
        int gifScale;
        int columns;  // of the sheet
        int padding;
    };
    const Case cases[] = {
        {"one process",
         {"-j", "1", "--png", "p#.png", "--bmp", "b#.bmp", "--transparent", "9", "--gif-scale", "2",
          "--columns", "3", "--sheet-padding", "1"},
         9,
         2,
         3,
         1},
        {"workers, RLE8",
         {"-j", "2", "--preview", "p#.png", "--bmp", "b#.bmp", "--bmp-rle"},
         -1,
         1,
         2,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(Out());
        std::vector<std::string> args = {"render",    "-q",
                                         "--palette", palette,
                                         "--ids",     In("i_####.png"),
                                         "--range",   "0:0-63",
                                         "--range",   "1:64-127:dither",
                                         "--range",   "2:128-191",
                                         "--range",   "3:255-192:dither",
                                         "--output",  Out("f.pcx"),
                                         "--gif",     Out("anim.gif"),
                                         "--sheet",   Out("sheet.png")};
        for (const std::string& arg : c.args) {
            args.push_back(arg.find('#') != std::string::npos ? Out(arg) : arg);
        }
        args.insert(args.end(), {In("c_0001.png"), In("c_0002.png"), In("c_0003.png")});
        const ProcessResult run = Kelvo(args);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        std::vector<DecodedPcx> frames(3);
        std::vector<std::string> files;
        for (int n = 1; n <= 3; ++n) {
            std::string error;
            ASSERT_TRUE(DecodePcx(ReadWholeFile(Out("f000" + std::to_string(n) + ".pcx")),
                                  frames[static_cast<size_t>(n - 1)], error))
                << error;
            files.push_back(Out("p" + std::to_string(n) + ".png"));
            files.push_back(Out("b" + std::to_string(n) + ".bmp"));
        }
        files.push_back(Out("anim.gif"));
        files.push_back(Out("sheet.png"));
        // The GIF's frames enlarged, and the sheet: cells of 37 x 23 row by row from the top
        // left, `padding` between and around them, and what no frame covers the transparent
        // entry or 0.
        std::vector<std::vector<uint8_t>> enlarged(3);
        const int sheetWidth = c.columns * (37 + c.padding) + c.padding;
        const int rows = (3 + c.columns - 1) / c.columns;
        std::vector<uint8_t> sheet(
            static_cast<size_t>(sheetWidth * (rows * (23 + c.padding) + c.padding)),
            static_cast<uint8_t>(std::max(c.transparent, 0)));
        for (int n = 0; n < 3; ++n) {
            const std::vector<uint8_t>& indices = frames[static_cast<size_t>(n)].indices;
            for (int y = 0; y < 23 * c.gifScale; ++y) {
                for (int x = 0; x < 37 * c.gifScale; ++x) {
                    enlarged[static_cast<size_t>(n)].push_back(
                        indices[static_cast<size_t>(y / c.gifScale * 37 + x / c.gifScale)]);
                }
            }
            const int left = c.padding + n % c.columns * (37 + c.padding);
            const int top = c.padding + n / c.columns * (23 + c.padding);
            for (int y = 0; y < 23; ++y) {
                std::copy_n(&indices[static_cast<size_t>(y * 37)], 37,
                            &sheet[static_cast<size_t>((top + y) * sheetWidth + left)]);
            }
        }
        std::ofstream(In("dump.py")) << PILLOW_DUMP;
        std::vector<std::string> dump = {"/usr/bin/python3", In("dump.py")};
        dump.insert(dump.end(), files.begin(), files.end());
        const ProcessResult pillow = RunProcess(dump);
        ASSERT_EQ(pillow.exitCode, 0) << pillow.err;
        std::istringstream lines(pillow.out);
        std::string line;
        size_t decoded = 0;
        while (std::getline(lines, line)) {
            std::istringstream words(line);
            std::string file, mode, paletteHex, indicesHex;
            int frame = 0, transparent = 0;
            words >> file >> frame >> mode >> transparent >> paletteHex >> indicesHex;
            SCOPED_TRACE(file + " frame " + std::to_string(frame));
            const bool gif = file == Out("anim.gif");
            const bool sheetFile = file == Out("sheet.png");
            const DecodedPcx& pcx =
                frames[static_cast<size_t>(gif         ? frame
                                           : sheetFile ? 0
                                                       : file[file.size() - 5] - '1')];
            const std::vector<uint8_t>& want = gif         ? enlarged[static_cast<size_t>(frame)]
                                               : sheetFile ? sheet
                                                           : pcx.indices;
            EXPECT_EQ(mode, "P");
            EXPECT_EQ(paletteHex, Hex(pcx.palette));
            EXPECT_EQ(indicesHex, Hex(want));
            const bool bmp = file.find(".bmp") != std::string::npos;
            EXPECT_EQ(transparent, bmp ? -1 : c.transparent);
            ++decoded;

            // ImageMagick: each pixel the colour of its index, the colour map in order.
            const std::string one = file + "[" + std::to_string(frame) + "]";
            const ProcessResult rgb = RunProcess({"/usr/bin/convert", one, "-depth", "8", "rgb:-"});
            ASSERT_EQ(rgb.out.size(), want.size() * 3) << rgb.err;
            for (size_t i = 0; i < want.size(); ++i) {
                for (size_t channel = 0; channel < 3; ++channel) {
                    ASSERT_EQ(static_cast<uint8_t>(rgb.out[3 * i + channel]),
                              pcx.palette[3 * want[i] + channel])
                        << "pixel " << i;
                }
            }
            const std::vector<uint8_t> map = MagickColormap(one);
            EXPECT_TRUE(map == pcx.palette || (map.empty() && !bmp && !gif && c.transparent >= 0))
                << map.size();
        }
        EXPECT_EQ(decoded, files.size() - 1 + 3);  // the GIF's three frames
        const GifBlocks gif = ReadGifBlocks(ReadWholeFile(Out("anim.gif")));
        ASSERT_TRUE(gif.valid);
        ASSERT_EQ(gif.frames.size(), 3u);
        EXPECT_EQ(gif.frames[0].delay, 8);  // 12 frames per second: 8 hundredths
    }
}

// One GIF, or sheet, holds frames of one size, and a frame --skip-existing leaves out counts: a
// frame of another size is refused before anything renders.
TEST_F(KelvoTest, SkippedFramesOfAnotherSizeAreRefusedForTheGifFirst) {
    WriteRgbPng(In("a_0001.png"), MakeFrame(4, 2, 1, 1));
    WriteRgbPng(In("a_0002.png"), MakeFrame(3, 2, 2, 1));
    ASSERT_EQ(Kelvo({"render", "-q", "--output", Out("a.pcx"), In("a_0001.png")}).exitCode, 0);
    for (const char* option : {"--gif", "--sheet"}) {
        SCOPED_TRACE(option);
        const ProcessResult run = Kelvo({"render", "--skip-existing", "--output", Out("a.pcx"),
                                         option, Out("a.x"), In("a_0001.png"), In("a_0002.png")});
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(Contains(run.err, std::string(option) + " '" + Out("a.x") +
                                          "': the frames are of different sizes (3 to 4 wide, "
                                          "2 to 2 high)"))
            << run.err;
        EXPECT_EQ(OutEntries(), std::vector<std::string>{"a0001.pcx"});
    }
}

// The demo's 24 frames, as a renderer would give them: --levels auto stretches each object's
// luminance over its whole ramp, with the same spans in one process and in workers, and the
// GIF of the sequence has one global colour table and no other.
TEST_F(KelvoTest, LevelsUseTheDemosRampsAndItsGifHasOneColourTable) {
    std::vector<std::string> inputs;
    for (int n = 0; n < DEMO_FRAMES; ++n) {
        DecodedFrame frame;
        RenderDemoFrame(n, frame);
        TestPng colour{DEMO_WIDTH, DEMO_HEIGHT, PNG_COLOR_TYPE_RGB, 16, {}};
        for (size_t i = 0; i < frame.color.rgba.size(); i += 4) {
            colour.samples.insert(colour.samples.end(),
                                  frame.color.rgba.begin() + static_cast<std::ptrdiff_t>(i),
                                  frame.color.rgba.begin() + static_cast<std::ptrdiff_t>(i + 3));
        }
        const std::string number = std::to_string(101 + n).substr(1);
        WriteTestPng(In("demo_" + number + ".png"), colour);
        WriteTestPng(In("ids_" + number + ".png"),
                     {DEMO_WIDTH, DEMO_HEIGHT, PNG_COLOR_TYPE_GRAY, 8, frame.ids.ids});
        inputs.push_back(In("demo_" + number + ".png"));
    }
    std::vector<PaletteEntry> palette(256);
    BuildDemoPalette(palette.data());
    const uint8_t index = 0;
    ASSERT_EQ(WritePcxFrame(In("demo.pcx").c_str(), &index, 1, 1, palette.data()), 1);
    std::vector<std::string> args = {"render",         "--palette", In("demo.pcx"), "--source",
                                     "material",       "--method",  "uniform",      "--ids",
                                     In("ids_##.png"), "--levels",  "auto"};
    for (const RangeEdit& range : DemoRanges()) {
        args.insert(args.end(),
                    {"--range", std::to_string(range.id) + ":" + std::to_string(range.first) + "-" +
                                    std::to_string(range.last) + ":dither"});
    }
    args.insert(args.end(), inputs.begin(), inputs.end());
    std::string spans;
    for (const char* jobs : {"2", "1"}) {
        SCOPED_TRACE(std::string("-j ") + jobs);
        std::vector<std::string> run = args;
        run.insert(run.end(), {"-j", jobs, "--output", Out(std::string("j") + jobs + "/d.pcx"),
                               "--gif", Out(std::string("j") + jobs + "/demo.gif")});
        const ProcessResult result = Kelvo(run);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        const size_t at = result.err.find("kelvo: levels used:");
        ASSERT_NE(at, std::string::npos) << result.err;
        const std::string said = result.err.substr(at, result.err.find('\n', at) - at);
        EXPECT_TRUE(spans.empty() || said == spans) << said << "\n" << spans;
        spans = said;

        std::vector<std::set<uint8_t>> used(8);
        for (int n = 1; n <= DEMO_FRAMES; ++n) {
            DecodedPcx pcx;
            std::string error;
            const std::string number = std::to_string(10000 + n).substr(1);
            ASSERT_TRUE(DecodePcx(
                ReadWholeFile(Out(std::string("j") + jobs + "/d" + number + ".pcx")), pcx, error))
                << error;
            for (uint8_t entry : pcx.indices) {
                used[entry / 32].insert(entry);
            }
        }
        for (size_t ramp = 0; ramp < DemoRanges().size(); ++ramp) {
            EXPECT_GE(used[ramp].size(), 29u) << "ramp " << ramp << " of 32 entries";
        }
        const GifBlocks gif =
            ReadGifBlocks(ReadWholeFile(Out(std::string("j") + jobs + "/demo.gif")));
        ASSERT_TRUE(gif.valid);
        EXPECT_EQ(gif.globalTable,
                  std::vector<uint8_t>(reinterpret_cast<const uint8_t*>(palette.data()),
                                       reinterpret_cast<const uint8_t*>(palette.data()) + 768));
        ASSERT_EQ(gif.frames.size(), 24u);
        for (const GifBlocks::Frame& frame : gif.frames) {
            EXPECT_EQ(frame.imageFlags & 0x80, 0);  // no local colour table
        }
    }
}

// kelvo in worker mode refuses to run unless a kelvo render started it, and fails with a clear
// message on a setup that does not decode, which `kelvo render` then reports as a lost worker.
TEST_F(KelvoTest, WorkerRefusesWhatNoKelvoRenderSent) {
    struct Case {
        const char* name;
        const char* sent;  // printf's escapes, into a pipe; null: standard input /dev/null
        const char* says;
    };
    const std::string byHand = "--render-worker is for kelvo's own use";
    const std::string damaged = "render worker: the setup from 'kelvo render' is damaged";
    const Case cases[] = {
        {"by hand", nullptr, "exit 2"},
        {"nothing sent", "", "exit 2"},
        {"cut short", "\\100\\0\\0\\0KLVW", "exit 1"},
        {"another version", "\\010\\0\\0\\0KLVW\\377\\0\\0\\0", "exit 1"},
        {"over the size limit", "\\377\\377\\377\\177", "exit 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ProcessResult run =
            c.sent == nullptr
                ? RunProcess({"/bin/sh", "-c", "\"$0\" --render-worker; echo \"exit $?\" >&2",
                              KELVO_PROGRAM})
                : RunProcess(
                      {"/bin/sh", "-c",
                       "printf \"$1\" | (\"$0\" --render-worker; echo \"exit $?\" >&2) | cat",
                       KELVO_PROGRAM, c.sent});
        EXPECT_TRUE(Contains(run.err, std::string(c.says) == "exit 2" ? byHand : damaged))
            << run.err;
        EXPECT_TRUE(Contains(run.err, c.says)) << run.err;
        EXPECT_EQ(run.out, "");
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
    // The render it saved is what it palettised: the command it suggests gives the same frames.
    EXPECT_TRUE(Contains(run.out, " render --settings " + Out("demo/demo.settings") + " --ids " +
                                      Out("demo/render/objid_####.png")))
        << run.out;
    const ProcessResult again =
        Kelvo({"render", "-q", "--settings", Out("demo/demo.settings"), "--ids",
               Out("demo/render/objid_####.png"), "--output", Out("again/demo.pcx"), "--frames",
               "1-24", Out("demo/render/beauty_####.png")});
    ASSERT_EQ(again.exitCode, 0) << again.err;
    for (int number = 1; number <= 24; ++number) {
        char name[16];
        std::snprintf(name, sizeof name, "demo%04d.pcx", number);
        EXPECT_EQ(ReadWholeFile(Out("again/") + name), ReadWholeFile(Out("demo/") + name)) << name;
    }
    // Quiet: the same files, nothing said.
    const ProcessResult quiet = Kelvo({"demo", "--quiet", Out("quiet")});
    ASSERT_EQ(quiet.exitCode, 0) << quiet.err;
    EXPECT_EQ(quiet.out + quiet.err, "");
    EXPECT_EQ(ReadWholeFile(Out("quiet/demo0012.pcx")), ReadWholeFile(Out("demo/demo0012.pcx")));
}

}  // namespace

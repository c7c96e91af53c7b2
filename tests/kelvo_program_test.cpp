// kelvo run end to end on the committed PNG files in tests/data/png and on OpenEXR files
// written here, natively and as kelvo.exe under Windows: both must write the same bytes, so the
// expected files are given as fingerprints taken from the native build.
#include <gtest/gtest.h>

#include <png.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "kelvo/imageio/png_image.h"
#include "kelvo/imageio/png_preview.h"
#include "pcx/pcx_writer.h"
#include "tests/exr_files.h"
#include "tests/image_files.h"
#include "tests/pcx_decoder.h"
#include "tests/reference_frame.h"
#include "tests/run_process.h"
#include "tests/temp_dir.h"

namespace {

std::string Fixture(const std::string& name) {
    return std::string(KELVO_TEST_DATA) + "/png/" + name;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

uint64_t FingerprintOf(const std::string& text) {
    return Fingerprint(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

uint64_t FileFingerprint(const std::string& path) {
    const std::vector<uint8_t> bytes = ReadWholeFile(path);
    return Fingerprint(bytes.data(), bytes.size());
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    ASSERT_EQ(std::fclose(file), 0);
}

// The name `format` gives for `number` (formatted: GCC 12 warns, wrongly, on concatenations
// of short literals).
std::string Numbered(const char* format, int number) {
    char name[64];
    std::snprintf(name, sizeof name, format, number);
    return name;
}

// What kelvo said but its warnings (of identifiers without a range, which --quiet keeps).
std::string WithoutWarnings(const std::string& err) {
    std::string kept;
    for (size_t at = 0; at < err.size();) {
        const size_t end = std::min(err.find('\n', at), err.size() - 1) + 1;
        if (err.compare(at, 16, "kelvo: warning: ") != 0) {
            kept += err.substr(at, end - at);
        }
        at = end;
    }
    return kept;
}

std::string KelvoProgram() {
#ifdef _WIN32
    return ProgramBesideThisOne("kelvo.exe");
#else
    return KELVO_PROGRAM;
#endif
}

// kelvo whose workers hang or end on frames named for it (tests/stalling_kelvo.cpp).
std::string StallingKelvoProgram() {
#ifdef _WIN32
    return ProgramBesideThisOne("kelvo_stalling.exe");
#else
    return KELVO_STALLING_PROGRAM;
#endif
}

class KelvoProgramTest : public ::testing::Test {
protected:
    KelvoProgramTest() { std::filesystem::create_directory(Out()); }
    ProcessResult Kelvo(std::vector<std::string> args) const {
        args.insert(args.begin(), KelvoProgram());
        return RunProcess(args);
    }
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

// Frame 7 is 8-bit RGB, frame 8 16-bit RGBA, frame 9 a palette image; their identifier
// passes are 8, 16 and 8 bits.
const std::vector<std::string> SEQUENCE_RANGES = {"--range",        "0:0-31",          "--range",
                                                  "1:32-95:dither", "--range",         "2:96-159",
                                                  "--range",        "3:160-255:dither"};

// Three worker processes: forked, or on Windows kelvo.exe started three times.
TEST_F(KelvoProgramTest, RendersASequenceToTheSameFramesOnEverySystem) {
    std::vector<std::string> args = {"render", "-j", "3", "--ids", Fixture("ids_####.png")};
    args.insert(args.end(), SEQUENCE_RANGES.begin(), SEQUENCE_RANGES.end());
    args.insert(args.end(), {"--output", Out("shot.pcx"), "--preview", Out("prev_####.png"),
                             Fixture("beauty_0007.png"), Fixture("beauty_0008.png"),
                             Fixture("beauty_0009.png")});
    const ProcessResult run = Kelvo(args);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(Contains(run.err, "kelvo: 3 frames written (7-9)")) << run.err;
    EXPECT_FALSE(Contains(run.err, "note:")) << run.err;
    EXPECT_EQ(OutEntries(),
              (std::vector<std::string>{"prev_0007.png", "prev_0008.png", "prev_0009.png",
                                        "shot0007.pcx", "shot0008.pcx", "shot0009.pcx"}));
    struct Case {
        const char* frame;
        uint64_t fingerprint;
    };
    const Case cases[] = {
        {"0007", 0xdfb9666a7b04e8b9ULL},
        {"0008", 0x1e42c47d66d43b90ULL},
        {"0009", 0x41087aa95fa2ac7dULL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.frame);
        const std::string pcxPath = Out("shot" + std::string(c.frame) + ".pcx");
        EXPECT_EQ(FileFingerprint(pcxPath), c.fingerprint)
            << std::hex << "0x" << FileFingerprint(pcxPath);
        // The preview shows the frame's indices in the frame's palette.
        DecodedPcx pcx;
        std::string error;
        ASSERT_TRUE(DecodePcx(ReadWholeFile(pcxPath), pcx, error)) << error;
        ColorImage preview;
        ASSERT_EQ(ReadColorPng(Out("prev_" + std::string(c.frame) + ".png"), preview, error), 1)
            << error;
        ASSERT_EQ(preview.rgba.size(), pcx.indices.size() * 4);
        for (size_t i = 0; i < pcx.indices.size(); ++i) {
            const size_t entry = size_t{3} * pcx.indices[i];
            ASSERT_EQ(preview.rgba[4 * i], pcx.palette[entry] * 256) << i;
            ASSERT_EQ(preview.rgba[4 * i + 1], pcx.palette[entry + 1] * 256) << i;
            ASSERT_EQ(preview.rgba[4 * i + 2], pcx.palette[entry + 2] * 256) << i;
        }
    }
}

// Every output beside the frame files, from a GIMP palette: PNG (with a transparent entry),
// BMP, RLE8 BMP and the GIF of the sequence, with a background identifier for the pixels below
// an alpha threshold (three of frame 8) and levels measured over the sequence. Both builds, in
// one process and in workers, write the same bytes.
TEST_F(KelvoProgramTest, WritesPngBmpAndGifBesideTheFramesOnEverySystem) {
    const std::string palette = std::string(KELVO_TEST_DATA) + "/palettes/gimp.gpl";
    std::vector<std::string> common = {"render", "--palette", palette, "--ids",
                                       Fixture("ids_####.png")};
    common.insert(common.end(), SEQUENCE_RANGES.begin(), SEQUENCE_RANGES.end());
    common.insert(common.end(),
                  {"--range", "4:250-250", "--background-id", "4", "--alpha-threshold", "0.97"});
    struct Case {
        const char* name;
        std::vector<std::string> args;
        uint64_t fingerprint;  // of every file written, in name order
    };
    const Case cases[] = {
        {"PNG, BMP, GIF with a transparent entry, one process",
         {"-j", "1", "--png", "p_####.png", "--bmp", "b_####.bmp", "--gif", "anim.gif",
          "--transparent", "250", "--fps", "25"},
         0x90ace92770ffc894ULL},
        {"RLE8 BMP and an opaque GIF, workers",
         {"-j", "3", "--bmp", "b_####.bmp", "--bmp-rle", "--gif", "anim.gif"},
         0x3caaff667873264fULL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(Out());
        std::filesystem::create_directory(Out());
        std::vector<std::string> args = common;
        for (const std::string& arg : c.args) {
            args.push_back(arg.find('.') != std::string::npos ? Out(arg) : arg);
        }
        args.insert(args.end(), {"--output", Out("shot.pcx"), Fixture("beauty_0007.png"),
                                 Fixture("beauty_0008.png"), Fixture("beauty_0009.png")});
        std::vector<std::string> measured = args;
        measured.insert(measured.begin() + 1, {"--levels", "auto", "--levels", "2:0.1-0.9"});
        const ProcessResult run = Kelvo(measured);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_TRUE(Contains(run.err, "kelvo: levels used: --levels 0:")) << run.err;
        EXPECT_TRUE(Contains(run.err, " --levels 2:0.100-0.900 --levels 3:")) << run.err;
        EXPECT_TRUE(Contains(run.err, "kelvo: 3 frames written (7-9), and " + Out("anim.gif")))
            << run.err;
        std::string all;
        std::string each;
        for (const std::string& name : OutEntries()) {
            const std::vector<uint8_t> bytes = ReadWholeFile(Out(name));
            all.append(bytes.begin(), bytes.end());
            each.append("\n  ").append(name).append(" ").append(
                std::to_string(Fingerprint(bytes.data(), bytes.size())));
        }
        EXPECT_EQ(FingerprintOf(all), c.fingerprint)
            << std::hex << "0x" << FingerprintOf(all) << std::dec << each;

        // Resumed without frame 8's BMP and the GIF, with the spans the first run printed:
        // frames 7 and 9 are skipped, frame 8 is rendered again, and the GIF is made of all
        // three. The same files.
        const size_t said = run.err.find("kelvo: levels used:") + 19;
        std::istringstream spans(run.err.substr(said, run.err.find('\n', said) - said));
        std::vector<std::string> words = {"--skip-existing"};
        for (std::string word; spans >> word;) {
            words.push_back(word);
        }
        args.insert(args.begin() + 1, words.begin(), words.end());
        std::filesystem::remove(Out("b_0008.bmp"));
        std::filesystem::remove(Out("anim.gif"));
        const ProcessResult resumed = Kelvo(args);
        ASSERT_EQ(resumed.exitCode, 0) << resumed.err;
        EXPECT_TRUE(Contains(resumed.err,
                             "1 frame written (8); 2 frames skipped, already complete "
                             "(7, 9), and " +
                                 Out("anim.gif")))
            << resumed.err;
        const auto again = [this] {
            std::string bytes;
            for (const std::string& name : OutEntries()) {
                const std::vector<uint8_t> file = ReadWholeFile(Out(name));
                bytes.append(file.begin(), file.end());
            }
            return bytes;
        };
        EXPECT_EQ(again(), all);
        // Every frame skipped: the GIF is still made of them all.
        std::filesystem::remove(Out("anim.gif"));
        const ProcessResult skipped = Kelvo(args);
        ASSERT_EQ(skipped.exitCode, 0) << skipped.err;
        EXPECT_TRUE(Contains(skipped.err,
                             "no frame was written; 3 frames skipped, already complete "
                             "(7-9), and " +
                                 Out("anim.gif")))
            << skipped.err;
        EXPECT_EQ(again(), all);
    }
}

constexpr int EXR_UINT = 0;
constexpr int EXR_HALF = 1;
constexpr int EXR_FLOAT = 2;
constexpr int EXR_WIDTH = 16;
constexpr int EXR_HEIGHT = 8;

// One channel's values: multiples of 1/1024 from 0 to a little over 1, which halves hold
// exactly, with one negative value.
std::vector<float> ExrPlane(int channel) {
    std::vector<float> values(EXR_WIDTH * EXR_HEIGHT);
    for (size_t i = 0; i < values.size(); ++i) {
        values[i] =
            static_cast<float>((i * 97 + static_cast<size_t>(channel) * 389) % 1100) / 1024.0f;
    }
    values[static_cast<size_t>(channel) + 5] = -0.25f;
    return values;
}

// Identifiers 0 to 5 in steps of one half (rounded to the nearest, halves away from zero), or
// 0 to 5 for unsigned channels.
std::vector<float> ExrIds(int type) {
    std::vector<float> values(EXR_WIDTH * EXR_HEIGHT);
    for (size_t i = 0; i < values.size(); ++i) {
        values[i] = type == EXR_UINT ? static_cast<float>(i % 6) : static_cast<float>(i % 11) / 2;
    }
    return values;
}

TestExrPart ExrPart(const std::string& name, int compression,
                    std::vector<TestExrChannel> channels) {
    return {name, EXR_WIDTH, EXR_HEIGHT, 0, 0, std::move(channels), compression};
}

// Every compression the library has, half, float and unsigned channels, layers, parts and
// identifier channels: the same frame files on every system.
TEST_F(KelvoProgramTest, RendersOpenExrToTheSameFramesOnEverySystem) {
    enum { NONE, RLE, ZIPS, ZIP, PIZ, PXR24, B44, B44A, DWAA, DWAB };
    const TestExrChannel halfRgb[] = {
        {"R", EXR_HALF, ExrPlane(0)}, {"G", EXR_HALF, ExrPlane(1)}, {"B", EXR_HALF, ExrPlane(2)}};
    const TestExrChannel floatRgba[] = {{"R", EXR_FLOAT, ExrPlane(0)},
                                        {"G", EXR_FLOAT, ExrPlane(1)},
                                        {"B", EXR_FLOAT, ExrPlane(2)},
                                        {"A", EXR_FLOAT, ExrPlane(3)}};
    TestExrPart grey = ExrPart("", B44A, {{"Y", EXR_HALF, ExrPlane(4)}});
    grey.originX = -3;
    grey.originY = 7;
    // An auto-cropped render: colour and identifiers stored in windows of their own, partly
    // outside the 24 x 12 display window at (-4, -2).
    TestExrPart cropped =
        ExrPart("beauty", ZIP, {floatRgba[0], floatRgba[1], floatRgba[2], floatRgba[3]});
    TestExrPart croppedIds = ExrPart("ids", ZIPS, {{"objectIndex", EXR_FLOAT, ExrIds(EXR_FLOAT)}});
    for (TestExrPart* part : {&cropped, &croppedIds}) {
        part->displayX = -4;
        part->displayY = -2;
        part->displayWidth = 24;
        part->displayHeight = 12;
    }
    cropped.originX = 3;
    cropped.originY = 5;
    croppedIds.originX = -9;
    croppedIds.originY = -1;
    cropped.tileSide = 5;
    const std::vector<std::string> croppedArgs = {
        "--id-channel", "objectIndex", "--range",   "0:0-63",  "--range",
        "1:64-127",     "--range",     "2:128-191", "--range", "3:192-255"};
    std::vector<std::string> croppedData = croppedArgs;
    croppedData.insert(croppedData.begin(), {"--window", "data"});
    TestExrPart left = ExrPart("left", PIZ, {halfRgb[0], halfRgb[1], halfRgb[2]});
    left.view = "left";
    TestExrPart right = ExrPart(
        "right", PIZ,
        {{"R", EXR_HALF, ExrPlane(7)}, {"G", EXR_HALF, ExrPlane(8)}, {"B", EXR_HALF, ExrPlane(9)}});
    right.view = "right";
    struct Case {
        const char* name;
        std::vector<TestExrPart> parts;
        std::vector<std::string> args;
        uint64_t fingerprint;
        const char* note = nullptr;  // said once, without -q
    };
    const Case cases[] = {
        {"half RGB, ZIP",
         {ExrPart("", ZIP, {halfRgb[0], halfRgb[1], halfRgb[2]})},
         {"--range", "0:0-255"},
         0x4bdd988fd7cf7179ULL},
        {"float RGBA, PIZ, linear",
         {ExrPart("", PIZ, {floatRgba[0], floatRgba[1], floatRgba[2], floatRgba[3]})},
         {"--linear", "--method", "nearest", "--range", "0:0-255"},
         0x7fe51f1d33bb58adULL},
        {"a layer, identifiers from another part, RLE and ZIPS",
         {ExrPart("beauty", RLE,
                  {{"diffuse.R", EXR_HALF, ExrPlane(5)},
                   {"diffuse.G", EXR_HALF, ExrPlane(6)},
                   {"diffuse.B", EXR_HALF, ExrPlane(7)},
                   floatRgba[0],
                   floatRgba[1],
                   floatRgba[2]}),
          ExrPart("passes", ZIPS, {{"objectIndex", EXR_FLOAT, ExrIds(EXR_FLOAT)}})},
         {"--layer", "diffuse", "--id-channel", "objectIndex", "--range", "0:16-47", "--range",
          "1:0-63", "--range", "2:64-127:dither", "--range", "3:255-128", "--range",
          "4:128-191:dither", "--range", "5:200-210"},
         0xf5489ecd99f3f3d3ULL},
        {"the part named after the layer, unsigned identifiers, PXR24",
         {ExrPart("other", NONE, {{"X", EXR_FLOAT, ExrPlane(8)}}),
          ExrPart("shadow", PXR24,
                  {floatRgba[0], floatRgba[1], floatRgba[2], {"id", EXR_UINT, ExrIds(EXR_UINT)}})},
         {"--layer",  "shadow",   "--id-channel",   "id",      "--linear",         "--method",
          "nearest",  "--source", "object",         "--range", "0:0-127",          "--range",
          "1:0-255",  "--range",  "2:40-90:dither", "--range", "3:128-255:dither", "--range",
          "4:100-30", "--range",  "5:7-7"},
         0x9cdf5707121fd7adULL},
        {"grey with an offset data window, B44A",
         {grey},
         {"--range", "0:0-255:dither"},
         0x9ca21a39efe15a66ULL},
        {"half RGB, B44",
         {ExrPart("", B44, {halfRgb[0], halfRgb[1], halfRgb[2]})},
         {"--method", "nearest", "--range", "0:0-255"},
         0x959e65c43e046900ULL},
        {"half RGB, DWAA",
         {ExrPart("", DWAA, {halfRgb[0], halfRgb[1], halfRgb[2]})},
         {"--range", "0:255-0"},
         0xcfc085c75631f8f8ULL},
        {"float RGBA, DWAB",
         {ExrPart("", DWAB, {floatRgba[0], floatRgba[1], floatRgba[2], floatRgba[3]})},
         {"--method", "nearest", "--range", "0:0-255"},
         0xd39ec0f0a9533668ULL},
        {"the display window of a cropped render, tiled",
         {cropped, croppedIds},
         croppedArgs,
         0xce51483bb15e003aULL},
        {"the data window of a cropped render",
         {cropped, croppedIds},
         croppedData,
         0x7010040d5f012570ULL},
        {"views, the one asked for",
         {left, right},
         {"--view", "right", "--range", "0:0-255"},
         0x953c48116df64988ULL},
        {"views, the default",
         {left, right},
         {"--range", "0:0-255"},
         0x4bdd988fd7cf7179ULL,
         "has the views left, right; reading its default view, 'left' (--view NAME reads "
         "another)"},
    };
    int frame = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string number = Numbered("%04d", ++frame);
        WriteTestExr(dir.File("in_" + number + ".exr"), c.parts);
        std::vector<std::string> args = {"render", "-q", "--output", Out("exr.pcx")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back(dir.File("in_" + number + ".exr"));
        const ProcessResult run = Kelvo(args);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(WithoutWarnings(run.err), "");
        if (c.note != nullptr) {
            args.erase(args.begin() + 1);
            const ProcessResult told = Kelvo(args);
            ASSERT_EQ(told.exitCode, 0) << told.err;
            const std::string line =
                "kelvo: note: '" + dir.File("in_" + number + ".exr") + "' " + c.note;
            EXPECT_EQ(told.err.find(line), 0u) << told.err;
            EXPECT_EQ(told.err.find("kelvo: note:", 1), std::string::npos) << told.err;
        }
        const std::string pcxPath = Out("exr" + number + ".pcx");
        EXPECT_EQ(FileFingerprint(pcxPath), c.fingerprint)
            << std::hex << "0x" << FileFingerprint(pcxPath);
    }
}

// The block, its JSON and a frame rendered from it with other options.
TEST_F(KelvoProgramTest, SettingsAndTheirJsonAreTheSameOnEverySystem) {
    const ProcessResult made = Kelvo({"settings", "new", "--method", "nearest", "--source",
                                      "object", "--range", "0:0-127", "--range", "5:128-255:dither",
                                      "--output", "frames/hero.pcx", "-o", Out("hero.settings")});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    EXPECT_EQ(made.out, Out("hero.settings") + "\n");
    EXPECT_EQ(FileFingerprint(Out("hero.settings")), 0x50a44f0da48e57a4ULL)
        << std::hex << "0x" << FileFingerprint(Out("hero.settings"));

    const ProcessResult shown = Kelvo({"settings", "show", Out("hero.settings")});
    ASSERT_EQ(shown.exitCode, 0) << shown.err;
    EXPECT_TRUE(Contains(shown.out, "\"outputName\": \"frames/hero.pcx\",\n")) << shown.out;
    EXPECT_TRUE(Contains(shown.out, "\"source\": 1002,\n  \"sourceName\": \"object\",\n"))
        << shown.out;
    EXPECT_TRUE(Contains(shown.out, "\"method\": 1024,\n  \"methodName\": \"nearest\",\n"))
        << shown.out;
    EXPECT_EQ(FingerprintOf(shown.out), 0x98d4c665ddadccb3ULL)
        << std::hex << "0x" << FingerprintOf(shown.out);

    // Twice: a frame file replaced by the same bytes at once is still a new file.
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        const ProcessResult render =
            Kelvo({"render", "-q", "--settings", Out("hero.settings"), "--output", Out("hero.pcx"),
                   "--start", "20", "--ids", Fixture("ids_0008.png"), Fixture("beauty_0008.png")});
        ASSERT_EQ(render.exitCode, 0) << render.err;
        EXPECT_EQ(render.err, "");
        EXPECT_EQ(FileFingerprint(Out("hero0020.pcx")), 0x266d9846dc7217afULL)
            << std::hex << "0x" << FileFingerprint(Out("hero0020.pcx"));
    }
}

// A block as text and back is the same block, and renders the same frame; a text that says
// more than a block can is refused as a block, naming what would be lost, and writes nothing.
TEST_F(KelvoProgramTest, SettingsConvertBetweenBlockAndText) {
    ASSERT_EQ(Kelvo({"settings", "new", "--range", "0:0-127", "--range", "5:200-130:dither",
                     "--output", "hero.pcx", "-o", Out("hero.settings")})
                  .exitCode,
              0);
    WriteBytes(Out("more.toml"),
               "reserve = \"224-255\"  # lights\n[outputs]\ntransparent = 1\n"
               "[[range]]\nid = 5\nspans = \"200-130, 20\"\n");
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string err;
    };
    const Case cases[] = {
        {{Out("hero.settings"), Out("hero.toml")}, 0, ""},
        {{Out("hero.toml"), Out("again.settings")}, 0, ""},
        {{Out("hero.toml"), "--to", "text", Out("again.toml")}, 0, ""},
        {{Out("more.toml"), Out("lost.settings")},
         2,
         "holds what a settings block cannot: reserved entries 224-255; range 5's spans "
         "200-130, 20; transparent; '" +
             Out("lost.settings") + "' was not written"},
        {{Out("hero.settings"), "--to", "gif", Out("x")}, 2, "IN OUT and maybe --to block|text"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        std::vector<std::string> args = {"settings", "convert"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ProcessResult run = Kelvo(args);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_TRUE(Contains(run.err, c.err)) << run.err;
    }
    EXPECT_EQ(ReadWholeFile(Out("again.settings")), ReadWholeFile(Out("hero.settings")));
    EXPECT_EQ(ReadWholeFile(Out("again.toml")), ReadWholeFile(Out("hero.toml")));
    EXPECT_FALSE(std::filesystem::exists(Out("lost.settings")));
    for (const char* name : {"block", "text"}) {
        SCOPED_TRACE(name);
        const std::string settings =
            Out(name == std::string("block") ? "hero.settings" : "hero.toml");
        ASSERT_EQ(Kelvo({"render", "-q", "--settings", settings, "--output",
                         Out(std::string(name) + ".pcx"), "--ids", Fixture("ids_0008.png"),
                         Fixture("beauty_0008.png")})
                      .exitCode,
                  0);
    }
    EXPECT_EQ(ReadWholeFile(Out("block0008.pcx")), ReadWholeFile(Out("text0008.pcx")));
    const ProcessResult saved =
        Kelvo({"render", "-q", "--settings", Out("more.toml"), "--save-settings",
               Out("more.settings"), "--output", Out("more.pcx"), "--ids", Fixture("ids_0008.png"),
               Fixture("beauty_0008.png")});
    // A block saved without the text's range choices would render other frames: refused.
    EXPECT_EQ(saved.exitCode, 2) << saved.err;
    EXPECT_TRUE(Contains(saved.err, "a settings block cannot hold reserved entries 224-255"))
        << saved.err;
    EXPECT_FALSE(std::filesystem::exists(Out("more.settings")));
    // The examples that come with kelvo read, their palette files found beside them.
    for (const char* example :
         {"strategy-remap.toml", "reserved-fullbright.toml", "descending-ramps.toml"}) {
        SCOPED_TRACE(example);
        const ProcessResult run = Kelvo(
            {"settings", "convert", "--to", "text",
             std::string(KELVO_TEST_DATA) + "/../../examples/settings/" + example, Out(example)});
        EXPECT_EQ(run.exitCode, 0) << run.err;
    }
}

TEST_F(KelvoProgramTest, BadInputExitsTwoBeforeWritingAnything) {
    WriteBytes(dir.File("text.png"), "no image here\n");
    // The OpenEXR magic number and nothing a reader could use.
    WriteBytes(dir.File("frame.exr"), std::string("\x76\x2f\x31\x01\x02\0\0\0", 8));
    // Damaged copies of a frame whose chunks are IHDR at 8 (its CRC at 29..32), IDAT at 33
    // (56 bytes of data from 41, its CRC at 97..100) and IEND at 101..112.
    const std::vector<uint8_t> png = ReadWholeFile(Fixture("beauty_0007.png"));
    ASSERT_EQ(png.size(), 113u);
    std::string damaged(png.begin(), png.end());
    damaged[32] = static_cast<char>(damaged[32] ^ 1);
    WriteBytes(dir.File("ihdr_crc.png"), damaged);
    damaged.assign(png.begin(), png.end());
    damaged[100] = static_cast<char>(damaged[100] ^ 1);
    WriteBytes(dir.File("idat_crc.png"), damaged);
    WriteBytes(dir.File("idat_cut.png"), std::string(png.begin(), png.begin() + 69));
    WriteBytes(dir.File("no_iend.png"), std::string(png.begin(), png.begin() + 101));
    WriteBytes(dir.File("short.set"), std::string(10, '\0'));
    std::string block(1084, '\0');
    block[0] = 100;
    WriteBytes(dir.File("tag100.set"), block);
    WriteBytes(dir.File("short.pcx"), std::string(700, '\1'));
    std::string hex;
    for (int i = 0; i < 257; ++i) {
        hex += "102030\r\n";
    }
    WriteBytes(dir.File("257.hex"), hex);
    WriteTestExr(dir.File("c.exr"), {{"",
                                      3,
                                      2,
                                      0,
                                      0,
                                      {{"R", 2, std::vector<float>(6)},
                                       {"G", 2, std::vector<float>(6)},
                                       {"B", 2, std::vector<float>(6)}}}});
    TestExrPart wider = {"",
                         3,
                         2,
                         0,
                         0,
                         {{"R", 2, std::vector<float>(6)},
                          {"G", 2, std::vector<float>(6)},
                          {"B", 2, std::vector<float>(6)}}};
    wider.displayWidth = 4;
    wider.displayHeight = 2;
    WriteTestExr(dir.File("d.exr"), {wider});
    std::filesystem::copy_file(Fixture("beauty_0007.png"), dir.File("a_0007.png"));
    std::filesystem::copy_file(Fixture("beauty_0007.png"), dir.File("b_0010.png"));
    std::filesystem::create_directory(dir.File("anim.gif"));
    const std::string frame = Fixture("beauty_0007.png");
    // Found before the check, by the input check (which then says that nothing was rendered),
    // or only in the pixels, when the frame is decoded to render it (exit code 1; the frame is
    // named as not written).
    enum Found { BEFORE = 0, CHECKED = 1, RENDERING = 2 };
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string error;
        int found;
    };
    const Case cases[] = {
        {"unknown option", {"--colour", "red", frame}, "unknown option '--colour'", BEFORE},
        {"bad range", {"--range", "1:5:x", frame}, "bad range '1:5:x'", BEFORE},
        {"no colour files", {"--range", "1:5-6"}, "no COLOR files", BEFORE},
        {"a GIF that is a directory",
         {"--gif", dir.File("anim.gif"), frame},
         "anim.gif' (--gif) is a directory",
         BEFORE},
        {"missing colour",
         {dir.File("none.png")},
         "cannot read '" + dir.File("none.png") + "': No such file",
         CHECKED},
        {"not an image",
         {dir.File("text.png")},
         "cannot read '" + dir.File("text.png") + "': not a PNG or OpenEXR file",
         CHECKED},
        {"bad CRC in IHDR",
         {dir.File("ihdr_crc.png")},
         "cannot read '" + dir.File("ihdr_crc.png") + "': IHDR: CRC error",
         CHECKED},
        {"bad CRC in IDAT",
         {dir.File("idat_crc.png")},
         "cannot read '" + dir.File("idat_crc.png") + "': IDAT: CRC error",
         RENDERING},
        {"IDAT cut short",
         {dir.File("idat_cut.png")},
         "cannot read '" + dir.File("idat_cut.png") + "': damaged: the file is cut short",
         RENDERING},
        // A file without its IEND chunk is taken as cut short, though its pixels are complete.
        {"no IEND",
         {dir.File("no_iend.png")},
         "cannot read '" + dir.File("no_iend.png") + "': damaged: the file is cut short",
         RENDERING},
        {"OpenEXR",
         {dir.File("frame.exr")},
         "cannot read '" + dir.File("frame.exr") + "': ",
         CHECKED},
        {"identifiers in colour",
         {"--ids", frame, frame},
         "cannot read identifiers '" + frame +
             "': an identifier pass must be a grey PNG of 8 or 16 bits, or an RGB one with "
             "equal channels; pixel (0, 0) is (",
         RENDERING},
        {"identifier size",
         {"--ids", Fixture("ids8.png"), Fixture("rgb8.png")},
         "are 3 x 1 pixels but colour '" + Fixture("rgb8.png") + "' is 2 x 1",
         CHECKED},
        {"identifier above 255",
         {"--ids", Fixture("ids16.png"), Fixture("rgb8.png")},
         "is outside 0..255",
         RENDERING},
        {"second frame's identifiers missing",
         {"--ids", Fixture("ids_####.png"), frame, dir.File("b_0010.png")},
         "cannot read identifiers '" + Fixture("ids_0010.png") + "'",
         CHECKED},
        {"settings size",
         {"--settings", dir.File("short.set"), frame},
         "it has 10 bytes, not 1084",
         BEFORE},
        {"settings tag",
         {"--settings", dir.File("tag100.set"), frame},
         "its tag is 100, not 101",
         BEFORE},
        {"palette that is no PCX",
         {"--palette", dir.File("short.pcx"), frame},
         "cannot read palette '" + dir.File("short.pcx") +
             "': not a palette file kelvo knows (700 bytes); kelvo reads palettes from PCX",
         BEFORE},
        {"layer of a PNG", {"--layer", "diffuse", frame}, "--layer needs OpenEXR input", CHECKED},
        {"missing channel",
         {"--id-channel", "objectIndex", dir.File("c.exr")},
         "no channel 'objectIndex'",
         CHECKED},
        {"display window sizes",
         {dir.File("c.exr"), dir.File("d.exr")},
         "kelvo: '" + dir.File("d.exr") + "' has a display window of 4 x 2 pixels, but '" +
             dir.File("c.exr") + "' has 3 x 2: the frames of one run must have one size",
         CHECKED},
        {"view of a PNG", {"--view", "left", frame}, "--view needs OpenEXR input", CHECKED},
        {"preview without #",
         {"--preview", Out("p.png"), frame, Fixture("beauty_0008.png")},
         "has no '#'",
         BEFORE},
        {"preview over an input",
         {"--preview", dir.File("a_####.png"), dir.File("a_0007.png")},
         "'" + dir.File("a_0007.png") + "' (frame 7's colour input) and '" +
             dir.File("a_0007.png") + "' (frame 7's preview) are the same file",
         BEFORE},
        {"preview over its frame file",
         {"--preview", Out("o####.pcx"), frame},
         "'" + Out("o0007.pcx") + "' (frame 7's file) and '" + Out("o0007.pcx") +
             "' (frame 7's preview) are the same file",
         BEFORE},
        {"saved settings over a preview",
         {"--preview", Out("s.set"), frame},
         "'" + Out("s.set") + "' (frame 7's preview) and '" + Out("s.set") +
             "' (--save-settings) are the same file",
         BEFORE},
        {"one frame number twice", {frame, dir.File("a_0007.png")}, "are both frame 7", BEFORE},
        {"BMP without #",
         {"--bmp", Out("b.bmp"), frame, Fixture("beauty_0008.png")},
         "--bmp '" + Out("b.bmp") + "' has no '#'",
         BEFORE},
        {"GIF over an input",
         {"--gif", frame, frame},
         "'" + frame + "' (frame 7's colour input) and '" + frame + "' (--gif) are the same file",
         BEFORE},
        {"RLE8 without BMP", {"--bmp-rle", frame}, "--bmp-rle needs --bmp", BEFORE},
        {"frames per second without GIF", {"--fps", "10", frame}, "--fps needs --gif", BEFORE},
        {"PNG named twice",
         {"--png", Out("a#.png"), "--preview", Out("b#.png"), frame},
         "--png and --preview name the same file",
         BEFORE},
        {"transparent index 256", {"--transparent", "256", frame}, "0..255, not '256'", BEFORE},
        {"levels above 1", {"--levels", "1:0.5-1.5", frame}, "bad --levels '1:0.5-1.5'", BEFORE},
        {"material background 300",
         {"--background-id", "300", frame},
         "--background-id 300 is not an identifier of the material channel",
         BEFORE},
        {"material identifier 300 by --id-map",
         {"--id-map", "2:300", frame},
         "--id-map 2:300 is not an identifier of the material channel",
         BEFORE},
        {"a GIF of frames of two sizes",
         {"--gif", Out("a.gif"), frame, Fixture("rgb8.png")},
         "--gif '" + Out("a.gif") +
             "': the frames are of different sizes (2 to 6 wide, 1 to 4 high); one GIF holds "
             "frames of one size",
         BEFORE},
        {"a palette of 257 colours",
         {"--palette", dir.File("257.hex"), frame},
         "cannot read palette '" + dir.File("257.hex") + "': it has 257 colours",
         BEFORE},
        {"output with a '#' inside",
         {"--output", Out("o#x.pcx"), frame},
         "one to four '#'",
         BEFORE},
        {"output directory behind a file",
         {"--output", dir.File("text.png/o.pcx"), frame},
         "cannot create directory '" + dir.File("text.png") + "'",
         BEFORE},
        {"a range whose every entry is reserved",
         {"--range", "1:5-6", "--reserve", "6", "--reserve", "5", frame},
         "no entry is left to map to in identifier 1's range 5-6: every one is reserved (5-6)",
         BEFORE},
        {"choices a block cannot hold",
         {"--reserve", "3", "--range", "2:1,9", "--save-settings", Out("x.set"), frame},
         "--save-settings '" + Out("x.set") +
             "': a settings block cannot hold reserved entries 3, identifier 2's spans 1,9",
         BEFORE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {"render", "--output", Out("o.pcx"), "--save-settings",
                                         Out("s.set")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ProcessResult run = Kelvo(args);
        EXPECT_EQ(run.exitCode, c.found == RENDERING ? 1 : 2);
        EXPECT_EQ(run.err.rfind("kelvo: ", 0), 0u) << run.err;
        EXPECT_TRUE(Contains(run.err, c.error)) << run.err;
        EXPECT_EQ(Contains(run.err, "' was not written: "), c.found == RENDERING) << run.err;
        EXPECT_EQ(Contains(run.err, "kelvo: nothing was rendered"), c.found == CHECKED) << run.err;
        EXPECT_EQ(OutEntries(), c.found == RENDERING ? std::vector<std::string>{"s.set"}
                                                     : std::vector<std::string>{});
        std::filesystem::remove(Out("s.set"));
    }
    EXPECT_EQ(ReadWholeFile(dir.File("a_0007.png")), png);

    // Damaged pixels cost their own frame only, in one process and in workers.
    std::filesystem::copy_file(dir.File("idat_crc.png"), dir.File("a_0008.png"));
    for (const char* jobs : {"1", "2"}) {
        SCOPED_TRACE(jobs);
        const ProcessResult run = Kelvo({"render", "-j", jobs, "--output", Out("o.pcx"),
                                         dir.File("a_0007.png"), dir.File("a_0008.png")});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(Contains(run.err, "frame 8 (" + dir.File("a_0008.png") + "): '" +
                                          Out("o0008.pcx") + "' was not written: cannot read '" +
                                          dir.File("a_0008.png") + "': IDAT: CRC error"))
            << run.err;
        EXPECT_EQ(OutEntries(), std::vector<std::string>{"o0007.pcx"});
        std::filesystem::remove(Out("o0007.pcx"));
    }

    // An input under another name: its name in capitals on Windows, a hard link elsewhere.
    std::filesystem::copy_file(Fixture("beauty_0007.png"), dir.File("in_0007.png"));
#ifdef _WIN32
    const std::string alias = dir.File("IN");
#else
    std::filesystem::create_hard_link(dir.File("in_0007.png"), dir.File("alias_0007.png"));
    const std::string alias = dir.File("alias");
#endif
    const ProcessResult run = Kelvo({"render", "--output", Out("o.pcx"), "--preview",
                                     alias + "_####.png", dir.File("in_0007.png")});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(Contains(run.err, "' (frame 7's colour input) and '" + alias +
                                      "_0007.png' (frame 7's preview) are the same file"))
        << run.err;
    EXPECT_TRUE(OutEntries().empty());
    EXPECT_EQ(ReadWholeFile(dir.File("in_0007.png")), ReadWholeFile(Fixture("beauty_0007.png")));
}

// A header claims any size in a few bytes: a frame beyond --max-pixels, or one whose data its
// file cannot hold, is refused from the header, at once and in a few tens of MB (the peak
// resident size of kelvo and its workers on Linux, of kelvo.exe's working set under Wine),
// naming its size; a large frame within --max-pixels renders.
TEST_F(KelvoProgramTest, RefusesFramesBeyondMaxPixelsFromTheirHeaders) {
    TestPng claims{30000, 30000, PNG_COLOR_TYPE_RGB, 8, {}};
    claims.rowsKept = 50;  // 4321 bytes
    WriteTestPng(dir.File("claims_0001.png"), claims);
    std::filesystem::copy_file(dir.File("claims_0001.png"), dir.File("claims_0002.png"));
    claims.width = claims.height = 12000;  // small enough for a 32-bit program to count
    claims.rowsKept = 150;                 // enough for zlib to give its first IDAT chunk
    WriteTestPng(dir.File("claims.png"), claims);
    const auto claimsBytes = std::filesystem::file_size(dir.File("claims.png"));
    TestExrPart display = {"", 1, 1, 0, 0, {{"R", 2, {0}}, {"G", 2, {0}}, {"B", 2, {0}}}};
    display.displayWidth = 16384;
    display.displayHeight = 16384;
    WriteTestExr(dir.File("display.exr"), {display});
    const std::vector<uint8_t> indices(size_t{2048} * 1024, 7);
    PaletteEntry palette[PALETTE_ENTRIES] = {};
    std::string error;
    ASSERT_EQ(
        WriteIndexedPng(dir.File("large.png"), indices.data(), 2048, 1024, palette, -1, error), 1)
        << error;
    struct Case {
        const char* name;
        std::vector<std::string> args;
        int exitCode;
        std::string error;
    };
    const std::string claimed = "cannot read '" + dir.File("claims_0001.png") + "': ";
    const Case cases[] = {
        {"a PNG header",
         {dir.File("claims_0001.png")},
         2,
         claimed + "30000 x 30000 pixels is more than --max-pixels 134217728"},
        {"in workers",
         {"-j", "2", dir.File("claims_0001.png"), dir.File("claims_0002.png")},
         2,
         claimed + "30000 x 30000 pixels is more than --max-pixels 134217728"},
        {"a PNG header within a raised budget",
         {"--max-pixels=200000000", dir.File("claims.png")},
         2,
         "cannot read '" + dir.File("claims.png") + "': damaged: its " +
             std::to_string(claimsBytes) +
             " bytes cannot hold the image data of 12000 x 12000 "
             "pixels"},
        {"an OpenEXR display window",
         {dir.File("display.exr")},
         2,
         "cannot read '" + dir.File("display.exr") +
             "': 16384 x 16384 pixels is more than --max-pixels 134217728"},
        {"a large frame beyond a lowered budget",
         {"--max-pixels", "2097151", dir.File("large.png")},
         2,
         "2048 x 1024 pixels is more than --max-pixels 2097151"},
        {"a large frame within it", {"--max-pixels", "2097152", dir.File("large.png")}, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {"render", "--output", Out("o.pcx")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto start = std::chrono::steady_clock::now();
        const ProcessResult run = Kelvo(args);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_TRUE(Contains(run.err, c.error)) << run.err;
        if (c.exitCode == 2) {
            EXPECT_TRUE(OutEntries().empty());
            // Generous: the sanitizers' own memory included. Before the budget these took
            // gigabytes (7 GB for the PNG) and tens of seconds.
            if (run.peakMemoryKib > 0) {
                EXPECT_LT(run.peakMemoryKib, 64 * 1024);
            }
            std::printf("%s: refused in %.2f s, peak %ld KiB\n", c.name, took.count(),
                        run.peakMemoryKib);
        }
    }
    EXPECT_EQ(OutEntries(), std::vector<std::string>{"o0000.pcx"});
}

// Missing directories are made before the first frame renders, as renderers make them.
TEST_F(KelvoProgramTest, MakesMissingOutputDirectories) {
    const ProcessResult run =
        Kelvo({"render", "--output", Out("frames/shot.pcx"), "--preview", Out("prev/p####.png"),
               Fixture("beauty_0007.png"), Fixture("beauty_0008.png")});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(Contains(
        run.err, "kelvo: created directories '" + Out("frames") + "', '" + Out("prev") + "'"))
        << run.err;
    for (const char* file : {"frames/shot0007.pcx", "frames/shot0008.pcx", "prev/p0008.png"}) {
        EXPECT_TRUE(std::filesystem::exists(Out(file))) << file;
    }
}

// Nothing silent: with nothing chosen every identifier takes the nearest colour of the whole
// palette; identifiers without a range, and those of 16 or more, are counted as the frames
// render, in warnings that --quiet keeps, summed over all frames with the first frame that has
// them, in one process and in workers.
TEST_F(KelvoProgramTest, SaysHowIdentifiersWillBeMapped) {
    const std::vector<std::string> sequence = {
        "--ids", Fixture("ids_####.png"), Fixture("beauty_0007.png"), Fixture("beauty_0008.png")};
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::vector<std::string> said;
        std::vector<std::string> unsaid;
    };
    const std::string nearest =
        "note: no --settings, --range or --method: every identifier maps "
        "to the nearest colour of the whole palette";
    const Case cases[] = {
        {"nothing chosen", {Fixture("beauty_0007.png")}, {nearest}, {"warning:"}},
        {"nothing chosen, quiet", {"-q", Fixture("beauty_0007.png")}, {}, {"note:"}},
        {"ranges 0 and 2 only, quiet",
         {"-q", "-j", "1", "--range", "0:0-31", "--range", "2:32-63"},
         {"warning: identifier 1 (12 pixels in 2 frames, first in frame 7: " +
              Fixture("beauty_0007.png") + ") has no --range: its pixels map to entry 0",
          "warning: identifier 3 (12 pixels in 2 frames"},
         {"identifier 0 (", "identifier 2 (", "note:"}},
        {"the same in workers",
         {"-j", "2", "--range", "0:0-31", "--range", "2:32-63"},
         {"warning: identifier 1 (12 pixels in 2 frames, first in frame 7"},
         {}},
        {"identifiers beyond 15",
         {"--source", "object", "--range", "0:0-255", "--ids", Fixture("ids16.png"),
          Fixture("rgb8.png")},
         {"warning: identifiers of 16 or more (2 pixels in 1 frame, first in frame 8: " +
          Fixture("rgb8.png") +
          ") are mapped with identifier 0's range; seen, most pixels first: 300 (1 pixel), "
          "65535 (1 pixel); to give them ranges: --id-map 300:ID --id-map 65535:ID"},
         {"has no --range"}},
        {"descending ranges",
         {"--range", "0:0-31", "--range", "1:79-48", "--range", "2:10-9", "--range",
          "3:200-100:dither"},
         {"note: --range 1:79-48 runs downwards: brighter pixels take lower entries, from 79 for "
          "black to 50 for white",
          "note: --range 3:200-100:dither runs downwards: brighter pixels take lower entries, "
          "from 200 for black to 101 for white",
          "note: --range 2:10-9 runs downwards: every pixel of identifier 2 takes entry 10"},
         {"0:0-31 runs"}},
        {"a descending range with nearest colour, one given again ascending",
         {"--method", "nearest", "--range", "0:31-0", "--range", "0:0-31", "--range", "1:79-48",
          "--range", "2:0-9", "--range", "3:0-9"},
         {"note: --range 1:79-48 runs downwards: with --method nearest every pixel of "
          "identifier 1 takes entry 79"},
         {"0:31-0"}},
        {"a descending range, quiet",
         {"-q", "--range", "0:9-0", "--range", "1:0-9", "--range", "2:0-9", "--range", "3:0-9"},
         {},
         {"note:"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {"render", "--output", Out("shot.pcx")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        if (std::string(c.name).find("range") != std::string::npos ||
            std::string(c.name).find("workers") != std::string::npos) {
            args.insert(args.end(), sequence.begin(), sequence.end());
        }
        const ProcessResult run = Kelvo(args);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        for (const std::string& part : c.said) {
            EXPECT_TRUE(Contains(run.err, "kelvo: " + part)) << part << "\n" << run.err;
        }
        for (const std::string& part : c.unsaid) {
            EXPECT_FALSE(Contains(run.err, part)) << part << "\n" << run.err;
        }
    }
    // The nearest colours of the whole palette, not entry 0 everywhere.
    Kelvo({"render", "-q", "--output", Out("near.pcx"), Fixture("beauty_0007.png")});
    DecodedPcx pcx;
    std::string error;
    ASSERT_TRUE(DecodePcx(ReadWholeFile(Out("near0007.pcx")), pcx, error)) << error;
    EXPECT_GT(std::set<uint8_t>(pcx.indices.begin(), pcx.indices.end()).size(), 4u);
}

// The entries as text, and a sheet of swatches in the palette's own colours, cell i at row
// i / 16, column i % 16.
TEST_F(KelvoProgramTest, ShowsAPaletteAsTextAndAsASheet) {
    PaletteEntry palette[PALETTE_ENTRIES];
    for (int i = 0; i < PALETTE_ENTRIES; ++i) {
        palette[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i),
                      static_cast<uint8_t>(i * 5)};
    }
    const uint8_t index = 0;
    ASSERT_EQ(WritePcxFrame(dir.File("game.pcx").c_str(), &index, 1, 1, palette), 1);
    const ProcessResult run =
        Kelvo({"palette", "show", dir.File("game.pcx"), "--png", Out("sheet.png")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "\n   37   37  218  185  #25DAB9      160.1\n")) << run.out;
    ColorImage sheet;
    std::string error;
    ASSERT_EQ(ReadColorPng(Out("sheet.png"), sheet, error), 1) << error;
    ASSERT_EQ(sheet.width, 512);
    ASSERT_EQ(sheet.height, 512);
    for (int i : {0, 37, 255}) {
        SCOPED_TRACE(i);
        // The bottom-right pixel of the cell, clear of its number.
        const size_t pixel = static_cast<size_t>((i / 16 * 32 + 31) * 512 + i % 16 * 32 + 31);
        EXPECT_EQ(sheet.rgba[4 * pixel], palette[i].red * 256);
        EXPECT_EQ(sheet.rgba[4 * pixel + 1], palette[i].green * 256);
        EXPECT_EQ(sheet.rgba[4 * pixel + 2], palette[i].blue * 256);
    }
    WriteBytes(dir.File("text.pal"), "JASC-PAL\n0100\n256\n");
    const ProcessResult refused = Kelvo({"palette", "show", dir.File("text.pal")});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_TRUE(Contains(refused.err, "count line says 256 colours but which has 0"))
        << refused.err;
}

// Any palette file to the PCX file the plug-in's dialog loads: 16 x 16 pixels, pixel i entry
// i, the palette at its end; shorter palettes said to be so, and black after their colours.
TEST_F(KelvoProgramTest, ConvertsPalettesToThePcxFileTheDialogLoads) {
    WriteBytes(dir.File("three.pal"), "JASC-PAL\r\n0100\r\n3\r\n255 0 0\r\n0 255 0\r\n9 9 9\r\n");
    for (const char* command : {"show", "convert"}) {
        SCOPED_TRACE(command);
        std::vector<std::string> args = {"palette", command, dir.File("three.pal")};
        if (std::string(command) == "convert") {
            args.push_back(Out("three.pcx"));
        }
        const ProcessResult run = Kelvo(args);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        // Lines end in CRLF on Windows.
        std::string err = run.err;
        err.erase(std::remove(err.begin(), err.end(), '\r'), err.end());
        const std::string source = "'" + dir.File("three.pal") + "' (JASC-PAL, 3 colours)";
        EXPECT_EQ(err, (command[0] == 's' ? "kelvo: read " + source + "\n" : "") +
                           "kelvo: note: '" + dir.File("three.pal") +
                           "' has 3 colours (JASC-PAL), so entries 3-255 are black\n");
        if (command[0] == 'c') {
            EXPECT_EQ(run.out.substr(0, run.out.find_first_of("\r\n")),
                      "wrote '" + Out("three.pcx") + "': PCX, 256 entries from " + source);
        }
    }
    DecodedPcx pcx;
    std::string error;
    ASSERT_TRUE(DecodePcx(ReadWholeFile(Out("three.pcx")), pcx, error)) << error;
    EXPECT_EQ(pcx.width, 16);
    EXPECT_EQ(pcx.height, 16);
    for (size_t i = 0; i < pcx.indices.size(); ++i) {
        EXPECT_EQ(pcx.indices[i], i);
    }
    std::vector<uint8_t> palette(768, 0);
    palette[0] = 255;
    palette[4] = 255;
    palette[6] = palette[7] = palette[8] = 9;
    EXPECT_EQ(pcx.palette, palette);
    EXPECT_EQ(FileFingerprint(Out("three.pcx")), 0x76933734ba8a371dULL)
        << std::hex << "0x" << FileFingerprint(Out("three.pcx"));
}

// Identifier passes as renderers write them: values mapped to identifiers with --id-map, an
// OpenEXR file whose colour is in its one layer, read without --layer, and transparent pixels
// and pixels without a stored identifier taken as the background.
TEST_F(KelvoProgramTest, ReadsIdentifierPassesAsRenderersWriteThem) {
    const std::vector<float> grey = {0.5f, 0.5f};
    WriteTestExr(dir.File("one_layer.exr"), {{"",
                                              2,
                                              1,
                                              0,
                                              0,
                                              {{"ViewLayer.Combined.R", 2, grey},
                                               {"ViewLayer.Combined.G", 2, grey},
                                               {"ViewLayer.Combined.B", 2, grey},
                                               {"ViewLayer.IndexOB", 2, {255.0f, 7.0f}}}}});
    WriteTestExr(dir.File("two_layers.exr"), {{"",
                                               2,
                                               1,
                                               0,
                                               0,
                                               {{"a.R", 2, grey},
                                                {"a.G", 2, grey},
                                                {"a.B", 2, grey},
                                                {"b.R", 2, grey},
                                                {"b.G", 2, grey},
                                                {"b.B", 2, grey}}}});
    // A cropped render: colour stored for 2 of the 3 pixels, an identifier for the first only.
    TestExrPart cropped = {"beauty", 2, 1, 0, 0, {{"R", 2, grey}, {"G", 2, grey}, {"B", 2, grey}}};
    TestExrPart croppedIds = {"ids", 1, 1, 0, 0, {{"id", 2, {255.0f}}}};
    cropped.displayWidth = croppedIds.displayWidth = 3;
    cropped.displayHeight = croppedIds.displayHeight = 1;
    WriteTestExr(dir.File("cropped.exr"), {cropped, croppedIds});
    const std::vector<std::string> ranges = {"--range", "0:0-0",   "--range", "1:10-10",
                                             "--range", "2:20-20", "--range", "7:70-70"};
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::vector<uint8_t> indices;  // empty: refused with `error`
        std::string error;
    };
    const Case cases[] = {
        {"PNG values mapped",
         {"--id-map", "300:1", "--id-map", "65535:2", "--ids", Fixture("ids16.png"),
          Fixture("rgb8.png")},
         {10, 20},
         ""},
        {"OpenEXR channel mapped, its one layer",
         {"--id-map", "255:2", "--id-channel", "ViewLayer.IndexOB", dir.File("one_layer.exr")},
         {20, 70},
         ""},
        {"OpenEXR with two layers",
         {dir.File("two_layers.exr")},
         {},
         "no R, G, B channels; layers with colour: a, b (choose one with --layer)"},
        {"bad map", {"--id-map", "300", Fixture("rgb8.png")}, {}, "bad --id-map '300'"},
        // Alphas 0 and 65535; 4 and 0xDEF0.
        {"background: alpha 0", {"--background-id", "7", Fixture("grey8_trns.png")}, {70, 0}, ""},
        {"background below a threshold",
         {"--background-id", "7", "--alpha-threshold", "0.9", Fixture("rgba16.png")},
         {70, 70},
         ""},
        {"no stored identifier: what 0 stands for",
         {"--id-map", "255:2", "--id-channel", "id", dir.File("cropped.exr")},
         {20, 0, 0},
         ""},
        {"no stored identifier: the background, not mapped",
         {"--id-map", "255:2", "--id-map", "7:1", "--background-id", "7", "--id-channel", "id",
          dir.File("cropped.exr")},
         {20, 70, 70},
         ""},
        {"threshold without background",
         {"--alpha-threshold", "0.5", Fixture("rgba16.png")},
         {},
         "--alpha-threshold needs --background-id"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {"render",   "-q",           "--method", "nearest",
                                         "--output", Out("ids.pcx"), "--start",  "1"};
        args.insert(args.end(), ranges.begin(), ranges.end());
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ProcessResult run = Kelvo(args);
        if (c.indices.empty()) {
            EXPECT_EQ(run.exitCode, 2);
            EXPECT_TRUE(Contains(run.err, c.error)) << run.err;
            continue;
        }
        ASSERT_EQ(run.exitCode, 0) << run.err;
        DecodedPcx pcx;
        std::string error;
        ASSERT_TRUE(DecodePcx(ReadWholeFile(Out("ids0001.pcx")), pcx, error)) << error;
        EXPECT_EQ(pcx.indices, c.indices);
    }
}

// The frame files are written, but a PNG and a BMP cannot replace directories: each is named
// as what it is, with the system's reason, in one process and in workers. (A GIF path that is
// a directory is refused before any frame renders.)
TEST_F(KelvoProgramTest, UnwritablePngAndBmpAreReportedAsSuch) {
    for (const char* jobs : {"1", "2"}) {
        SCOPED_TRACE(std::string("-j ") + jobs);
        const std::string out = Out(std::string("j") + jobs + "/");
        for (const char* taken : {"prev_0008.png", "b_0007.bmp"}) {
            std::filesystem::create_directories(out + taken);
        }
        const ProcessResult run = Kelvo(
            {"render", "-j", jobs, "--output", out + "shot.pcx", "--preview", out + "prev_####.png",
             "--bmp", out + "b_####.bmp", Fixture("beauty_0007.png"), Fixture("beauty_0008.png")});
        EXPECT_EQ(run.exitCode, 1);
        const std::string cases[] = {
            "kelvo: frame 8 (" + Fixture("beauty_0008.png") + "): preview '" + out +
                "prev_0008.png' was not written: ",
            "kelvo: frame 7 (" + Fixture("beauty_0007.png") + "): BMP '" + out +
                "b_0007.bmp' was not written: ",
        };
        for (const std::string& reason : cases) {
            SCOPED_TRACE(reason);
            const size_t at = run.err.find(reason);
            ASSERT_NE(at, std::string::npos) << run.err;
            const std::string why =
                run.err.substr(at + reason.size(), run.err.find('\n', at) - at - reason.size());
#ifdef _WIN32
            EXPECT_EQ(why.substr(0, 17), "Permission denied") << run.err;
#else
            EXPECT_EQ(why, "Is a directory") << run.err;
#endif
        }
        EXPECT_TRUE(Contains(run.err,
                             "1 of 2 previews not written (8); 1 of 2 BMP files not written (7); "
                             "frames written: 7-8"))
            << run.err;
        EXPECT_TRUE(std::filesystem::is_regular_file(out + "shot0008.pcx"));
        EXPECT_TRUE(std::filesystem::is_regular_file(out + "b_0008.bmp"));
    }
}

// Reserved entries and range choices reach the workers, and the record beside the frames.
TEST_F(KelvoProgramTest, RangeChoicesHoldInOneProcessInWorkersAndInTheRecord) {
    const std::vector<std::string> frames = {Fixture("beauty_0007.png"),
                                             Fixture("beauty_0008.png")};
    std::vector<std::vector<uint8_t>> files;
    for (const char* jobs : {"1", "2"}) {
        SCOPED_TRACE(std::string("-j ") + jobs);
        std::vector<std::string> args = {"render",
                                         "-j",
                                         jobs,
                                         "--reserve",
                                         "0-99,150",
                                         "--range",
                                         "0:0-200:bayer4:0.75",
                                         "--output",
                                         Out(std::string("j") + jobs + "_.pcx")};
        args.insert(args.end(), frames.begin(), frames.end());
        const ProcessResult run = Kelvo(args);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        for (const char* number : {"0007", "0008"}) {
            DecodedPcx pcx;
            std::string error;
            const std::string file = Out(std::string("j") + jobs + "_" + number + ".pcx");
            ASSERT_TRUE(DecodePcx(ReadWholeFile(file), pcx, error)) << error;
            for (uint8_t index : pcx.indices) {
                ASSERT_TRUE(index >= 100 && index <= 200 && index != 150) << int(index);
            }
            files.push_back(ReadWholeFile(file));
        }
        // Identifier 0's range was never set, and keeps no entry: its frames are not written.
        const ProcessResult closed = Kelvo({"render", "-j", jobs, "--reserve", "0", "--range",
                                            "1:5-6", "--output", Out("c.pcx"), frames[0]});
        EXPECT_EQ(closed.exitCode, 1);
        EXPECT_TRUE(Contains(closed.err,
                             " pixels of identifier 0 would map to a reserved entry: "
                             "every entry of range 0 is reserved"))
            << closed.err;
    }
    EXPECT_EQ(files[0], files[2]);
    EXPECT_EQ(files[1], files[3]);
    // Other choices make other frames: --skip-existing renders them again.
    for (const char* reserve : {"0-99,150", "0-99,151"}) {
        const ProcessResult again =
            Kelvo({"render", "--skip-existing", "--reserve", reserve, "--range",
                   "0:0-200:bayer4:0.75", "--output", Out("j1_.pcx"), frames[0], frames[1]});
        ASSERT_EQ(again.exitCode, 0) << again.err;
        EXPECT_EQ(Contains(again.err, "2 frames skipped"), reserve[7] == '0') << again.err;
    }
}

// The committed frames again and again: workers write the same files as one process, and the
// frames are reported in frame order whichever worker finished first.
TEST_F(KelvoProgramTest, WorkersWriteTheFilesOfOneProcessInFrameOrder) {
    std::vector<std::string> inputs;
    for (int i = 0; i < 7; ++i) {
        inputs.push_back(Fixture(Numbered("beauty_%04d.png", 7 + i % 3)));
    }
    std::vector<std::vector<uint8_t>> oneProcess;
    // Without a frame cache every frame is decoded again to render: the same files.
    const struct {
        const char* jobs;
        const char* frameCache;
    } runs[] = {{"1", nullptr}, {"2", nullptr}, {"3", nullptr}, {"1", "0"}, {"2", "0"}};
    for (const auto& r : runs) {
        const std::string jobs = r.jobs;
        SCOPED_TRACE("-j " + jobs + (r.frameCache != nullptr ? " --frame-cache 0" : ""));
        const std::string out = Out("j" + jobs + (r.frameCache != nullptr ? "-nocache" : ""));
        std::filesystem::create_directory(out);
        std::vector<std::string> args = {
            "render",         "-j",      jobs,      "--start",        "1",
            "--method",       "nearest", "--range", "0:0-255:dither", "--output",
            out + "/shot.pcx"};
        if (r.frameCache != nullptr) {
            args.insert(args.end(), {"--frame-cache", r.frameCache});
        }
        args.insert(args.end(), inputs.begin(), inputs.end());
        const ProcessResult run = Kelvo(args);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        size_t previous = 0;
        for (int frame = 1; frame <= 7; ++frame) {
            const std::string number = std::to_string(frame);
            const size_t line = run.err.find("kelvo: frame " + number + " (" + number + "/7) ");
            ASSERT_NE(line, std::string::npos) << run.err;
            EXPECT_GE(line, previous) << run.err;
            previous = line;
            const std::vector<uint8_t> bytes = ReadWholeFile(out + "/shot000" + number + ".pcx");
            if (oneProcess.size() < 7) {
                oneProcess.push_back(bytes);
            } else {
                EXPECT_EQ(bytes, oneProcess[static_cast<size_t>(frame - 1)]) << frame;
            }
        }
        EXPECT_TRUE(Contains(run.err, "kelvo: 7 frames written (1-7)")) << run.err;
    }
}

// With workers too, every input is checked before anything is written, and each problem is
// reported once, in frame order.
TEST_F(KelvoProgramTest, WorkersCheckEveryInputBeforeWritingAnything) {
    for (int i = 1; i <= 4; ++i) {
        std::filesystem::copy_file(Fixture("beauty_0007.png"), dir.File(Numbered("c%d.png", i)));
    }
    for (int i : {1, 2, 4}) {
        std::filesystem::copy_file(Fixture("ids_0007.png"), dir.File(Numbered("id%d.png", i)));
    }
    WriteBytes(dir.File("c4.png"), "not");
    const ProcessResult run =
        Kelvo({"render", "-j", "2", "--ids", dir.File("id#.png"), "--save-settings", Out("s.set"),
               "--output", Out("shot.pcx"), dir.File("c1.png"), dir.File("c2.png"),
               dir.File("c3.png"), dir.File("c4.png")});
    EXPECT_EQ(run.exitCode, 2);
    const size_t third = run.err.find("kelvo: cannot read identifiers '" + dir.File("id3.png"));
    const size_t fourth =
        run.err.find("kelvo: cannot read '" + dir.File("c4.png") + "': not a PNG or OpenEXR file");
    ASSERT_NE(third, std::string::npos) << run.err;
    ASSERT_NE(fourth, std::string::npos) << run.err;
    EXPECT_LT(third, fourth);
    EXPECT_TRUE(Contains(run.err, "kelvo: nothing was rendered")) << run.err;
    EXPECT_TRUE(OutEntries().empty());
}

// Each frame file is kept from being written by a directory of its name.
TEST_F(KelvoProgramTest, WorkersNameEveryFrameNotWritten) {
    for (const char* taken : {"shot0007.pcx", "shot0008.pcx", "shot0009.pcx"}) {
        std::filesystem::create_directory(Out(taken));
    }
    const ProcessResult run =
        Kelvo({"render", "-j", "2", "--output", Out("shot.pcx"), Fixture("beauty_0007.png"),
               Fixture("beauty_0008.png"), Fixture("beauty_0009.png")});
    EXPECT_EQ(run.exitCode, 1);
    size_t previous = 0;
    for (int frame = 7; frame <= 9; ++frame) {
        const std::string number = std::to_string(frame);
        const size_t line =
            run.err.find("kelvo: frame " + number + " (" + Fixture("beauty_000" + number + ".png") +
                         "): '" + Out("shot000" + number + ".pcx") + "' was not written: ");
        ASSERT_NE(line, std::string::npos) << run.err;
        EXPECT_GE(line, previous);
        previous = line;
    }
    EXPECT_TRUE(Contains(run.err, "3 of 3 frames not written (7-9); no frame was written"))
        << run.err;
}

// A worker stuck on a frame longer than --frame-timeout is ended: a frame it was rendering is
// not written (exit code 1) while a new worker renders the rest, with -j 1 too; one it was
// checking (--levels auto has the workers decode the inputs to measure them) ends the run as a
// worker lost while checking does: named with its frame, nothing rendered (exit code 1), the
// other workers not waited for. What the ended worker left decides:
// a frame file it had put in place (over an old one) is written, one it was writing is not, its
// old file stays, and no temporary file remains.
TEST_F(KelvoProgramTest, EndsWorkersStuckOnAFrameAndNamesThoseLost) {
    const auto input = [this](const char* name) {
        const std::string path = dir.File(name);
        if (!std::filesystem::exists(path)) {
            std::filesystem::copy_file(Fixture("beauty_0007.png"), path);
        }
        return path;
    };
    const std::string stuck = input("stall_render_0002.png");
    const std::string stuckWriting = input("stall_writing_0002.png");
    const std::string stuckWritten = input("stall_written_0002.png");
    const std::string stuckChecking = input("stall_check_0005.png");
    const std::string crashing = input("crash_check_0006.png");
    const std::vector<std::string> others = {input("a_0001.png"), input("a_0003.png"),
                                             input("a_0004.png")};
    const std::string ended =
        " took longer than --frame-timeout 2 seconds; its worker process was ended";
    const std::string nothing =
        "a worker process ended while checking the inputs; nothing was rendered";
    struct Case {
        const char* name;
        std::vector<std::string> args;
        int exitCode;
        std::vector<std::string> said;
        std::vector<std::string> written;
        bool replacesOld = false;  // shot0002.pcx, there before the run, is replaced
    };
    const std::vector<std::string> all = {"shot0001.pcx", "shot0002.pcx", "shot0003.pcx",
                                          "shot0004.pcx"};
    const Case cases[] = {
        {"rendering",
         // The worker started in its place is sent the levels too.
         {"-j", "1", "--frame-timeout", "2", "--levels", "0:0.2-0.8", others[0], stuck, others[1],
          others[2]},
         1,
         {"frame 2 (" + stuck + "): '" + Out("rendering/shot0002.pcx") +
              "' was not written: rendering it" + ended,
          "1 of 4 frames not written (2); frames written: 1, 3-4"},
         {"shot0001.pcx", "shot0003.pcx", "shot0004.pcx"}},
        {"writing",
         {"-j", "1", "--frame-timeout", "2", others[0], stuckWriting, others[1], others[2]},
         1,
         {"frame 2 (" + stuckWriting + "): '" + Out("writing/shot0002.pcx") +
              "' was not written: rendering it" + ended,
          "1 of 4 frames not written (2); frames written: 1, 3-4"},
         all},
        {"written",
         {"-j", "1", "--frame-timeout", "2", others[0], stuckWritten, others[1], others[2]},
         0,
         {"kelvo: 4 frames written (1-4)"},
         all,
         true},
        {"checking",
         {"-j", "2", "--levels", "auto", "--frame-timeout=2", others[0], stuckChecking, others[1]},
         1,
         {"frame 5 (" + stuckChecking + "): checking it" + ended, nothing},
         {}},
        {"lost checking",
         {"-j", "2", "--levels", "auto", others[0], crashing, others[1]},
         1,
         {"frame 6 (" + crashing + "): its worker process ended while checking it", nothing},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out = Out(c.name);
        std::filesystem::create_directory(out);
        const std::string old = out + "/shot0002.pcx";
        if (c.written.size() == all.size()) {
            std::ofstream(old, std::ios::binary) << "old";
        }
        std::vector<std::string> args = {StallingKelvoProgram(), "render", "--output",
                                         out + "/shot.pcx"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ProcessResult run = RunProcess(args);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        for (const std::string& line : c.said) {
            EXPECT_TRUE(Contains(run.err, line)) << line << "\n" << run.err;
        }
        std::vector<std::string> written;
        for (const auto& entry : std::filesystem::directory_iterator(out)) {
            if (entry.path().filename() != ".kelvo-frames") {
                written.push_back(entry.path().filename().string());
            }
        }
        std::sort(written.begin(), written.end());
        EXPECT_EQ(written, c.written);
        if (c.written.size() == all.size()) {
            DecodedPcx frame;
            std::string error;
            EXPECT_EQ(DecodePcx(ReadWholeFile(old), frame, error), c.replacesOld) << error;
        }
    }
}

// The committed frames 7-9 under the numbers -1, 0 and 2 of a pattern: frame N is the
// pattern's file for N (the minus sign counts towards the '#' run), its identifiers follow
// the same number, and a selected frame without its file stops the run before anything is
// written. The files are those of the frames rendered from their own names.
TEST_F(KelvoProgramTest, FramesOfAPatternAreTheFilesItGivesForTheirNumbers) {
    const std::pair<int, int> renumbered[] = {{-1, 7}, {0, 8}, {2, 9}};
    for (const auto& [number, fixture] : renumbered) {
        std::filesystem::copy_file(Fixture(Numbered("beauty_%04d.png", fixture)),
                                   dir.File(Numbered("b_%04d.png", number)));
        std::filesystem::copy_file(Fixture(Numbered("ids_%04d.png", fixture)),
                                   dir.File(Numbered("i_%03d.png", number)));
    }
    std::vector<std::string> args = {"render", "--ids", dir.File("i_###.png"), "--output",
                                     Out("s_####.pcx")};
    args.insert(args.end(), SEQUENCE_RANGES.begin(), SEQUENCE_RANGES.end());
    std::vector<std::string> missing = args;
    missing.insert(missing.end(), {"--frames", "-1-3", "-j", "2", dir.File("b_####.png")});
    const ProcessResult refused = Kelvo(missing);
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_TRUE(Contains(refused.err, "kelvo: --frames -1-3: '" + dir.File("b_####.png") +
                                          "' has no file for frames 1, 3 ('" +
                                          dir.File("b_0001.png") + "', '" + dir.File("b_0003.png") +
                                          "')"))
        << refused.err;
    EXPECT_TRUE(OutEntries().empty());
    args.insert(args.end(), {"--frames", "-1-2:3,0", "-j", "2", dir.File("b_####.png")});
    const ProcessResult run = Kelvo(args);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(Contains(run.err, "kelvo: 3 frames written (-1-0, 2)")) << run.err;
    const std::pair<const char*, uint64_t> expected[] = {{"s_-001.pcx", 0xdfb9666a7b04e8b9ULL},
                                                         {"s_0000.pcx", 0x1e42c47d66d43b90ULL},
                                                         {"s_0002.pcx", 0x41087aa95fa2ac7dULL}};
    for (const auto& [name, fingerprint] : expected) {
        EXPECT_EQ(FileFingerprint(Out(name)), fingerprint) << name;
    }
}

// A frame is left alone only when its file is a complete PCX frame of its size in this run's
// palette (and its preview, when asked for, is there); every other file of that name is
// rendered anew. Skipped frames are neither rendered nor touched, with workers too.
TEST_F(KelvoProgramTest, SkipExistingLeavesOnlyCompleteFramesAlone) {
    std::vector<std::string> args = {"render",   "--skip-existing",
                                     "-j",       "2",
                                     "--frames", "7-9",
                                     "--ids",    Fixture("ids_####.png"),
                                     "--output", Out("s_####.pcx")};
    args.insert(args.end(), SEQUENCE_RANGES.begin(), SEQUENCE_RANGES.end());
    args.push_back(Fixture("beauty_####.png"));
    const ProcessResult first = Kelvo(args);
    ASSERT_EQ(first.exitCode, 0) << first.err;
    std::string frame7;
    {
        const std::vector<uint8_t> bytes = ReadWholeFile(Out("s_0007.pcx"));
        frame7.assign(bytes.begin(), bytes.end());
    }
    // Frame 7 stays, with a modification time from long ago; frame 8 is cut short and frame
    // 9 is frame 7's file in another palette.
    const auto past = std::filesystem::last_write_time(Out("s_0007.pcx")) - std::chrono::hours(48);
    std::filesystem::last_write_time(Out("s_0007.pcx"), past);
    WriteBytes(Out("s_0008.pcx"), frame7.substr(0, frame7.size() - 1));
    std::string otherPalette = frame7;
    otherPalette.back() = static_cast<char>(otherPalette.back() ^ 1);
    WriteBytes(Out("s_0009.pcx"), otherPalette);
    const ProcessResult resumed = Kelvo(args);
    ASSERT_EQ(resumed.exitCode, 0) << resumed.err;
    EXPECT_TRUE(Contains(resumed.err,
                         "kelvo: 2 frames written (8-9); 1 frame skipped, already complete (7)"))
        << resumed.err;
    EXPECT_FALSE(Contains(resumed.err, "frame 7 (")) << resumed.err;
    EXPECT_EQ(std::filesystem::last_write_time(Out("s_0007.pcx")), past);
    EXPECT_EQ(FileFingerprint(Out("s_0007.pcx")), 0xdfb9666a7b04e8b9ULL);
    EXPECT_EQ(FileFingerprint(Out("s_0008.pcx")), 0x1e42c47d66d43b90ULL);
    EXPECT_EQ(FileFingerprint(Out("s_0009.pcx")), 0x41087aa95fa2ac7dULL);
    const ProcessResult done = Kelvo(args);
    ASSERT_EQ(done.exitCode, 0) << done.err;
    EXPECT_TRUE(
        Contains(done.err, "kelvo: no frame was written; 3 frames skipped, already complete (7-9)"))
        << done.err;
    EXPECT_EQ(std::filesystem::last_write_time(Out("s_0007.pcx")), past);
    // Without its preview a frame is not finished.
    args.insert(args.end() - 1, {"--preview", Out("p_####.png")});
    const ProcessResult previews = Kelvo(args);
    ASSERT_EQ(previews.exitCode, 0) << previews.err;
    EXPECT_TRUE(Contains(previews.err, "kelvo: 3 frames written (7-9)")) << previews.err;
    EXPECT_FALSE(Contains(previews.err, "skipped")) << previews.err;
}

// A frame is skipped only when the record beside it says this run would write it: the same
// settings, options, levels, inputs and kelvo. Whatever changed, or a record kelvo cannot
// read, renders every frame it touches again.
TEST_F(KelvoProgramTest, SkipExistingRendersAgainWhatChangedSince) {
    struct Case {
        const char* name;
        std::vector<std::string> options;  // on the second run
        const char* record;                // written over the record before it; null: kept
        const char* written;               // what the second run says it wrote
    };
    const Case cases[] = {
        {"nothing changed", {}, nullptr, "no frame was written; 3 frames skipped"},
        {"a range dithered", {"--range", "2:96-159:dither"}, nullptr, "3 frames written (7-9)"},
        {"levels by hand", {"--levels", "1:0.2-0.8"}, nullptr, "3 frames written (7-9)"},
        {"a PNG with a transparent entry",
         {"--png", "p_####.png", "--transparent", "3"},
         nullptr,
         "3 frames written (7-9)"},
        {"frame 8's colour file touched", {"touch"}, nullptr, "1 frame written (8); 2 frames"},
        {"a damaged record", {}, "kelvo-frames 1\nframe zz\n\x01\xff", "3 frames written (7-9)"},
        {"a record of another kind", {}, "kelvo-frames 9\n", "3 frames written (7-9)"},
    };
    for (const std::string frame : {"7", "8", "9"}) {
        std::filesystem::copy_file(Fixture("beauty_000" + frame + ".png"),
                                   dir.File("b_000" + frame + ".png"));
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(Out());
        std::vector<std::string> args = {"render", "--ids", Fixture("ids_####.png"), "--output",
                                         Out("s_####.pcx")};
        args.insert(args.end(), SEQUENCE_RANGES.begin(), SEQUENCE_RANGES.end());
        std::vector<std::string> first = args;
        first.insert(first.end(), {"-j", "2", "--frames", "7-9", dir.File("b_####.png")});
        ASSERT_EQ(Kelvo(first).exitCode, 0);
        for (const std::string& option : c.options) {
            if (option == "touch") {
                const auto file = dir.File("b_0008.png");
                std::filesystem::last_write_time(
                    file, std::filesystem::last_write_time(file) + std::chrono::seconds(5));
            } else {
                args.push_back(option.ends_with(".png") ? Out(option) : option);
            }
        }
        if (c.record != nullptr) {
            WriteBytes(Out(".kelvo-frames"), c.record);
        }
        args.insert(args.end(), {"--skip-existing", "--frames", "7-9", dir.File("b_####.png")});
        const ProcessResult again = Kelvo(args);
        ASSERT_EQ(again.exitCode, 0) << again.err;
        EXPECT_TRUE(Contains(again.err, std::string("kelvo: ") + c.written)) << again.err;
    }
}

// --levels auto over the whole sequence; then frame 8 again, as the one frame left by
// --skip-existing and as a chunk of its own: the same spans, so the same file. A chunk whose
// sequence was never measured says its spans are its own.
TEST_F(KelvoProgramTest, PartialRunsTakeTheSpansOfTheWholeSequence) {
    std::vector<std::string> args = {
        "render",   "--levels",       "auto", "--ids", Fixture("ids_####.png"),
        "--output", Out("s_####.pcx")};
    args.insert(args.end(), SEQUENCE_RANGES.begin(), SEQUENCE_RANGES.end());
    const auto run = [&](std::vector<std::string> extra, const std::string& said) {
        std::vector<std::string> all = args;
        all.insert(all.end(), extra.begin(), extra.end());
        all.push_back(Fixture("beauty_####.png"));
        const ProcessResult result = Kelvo(all);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_TRUE(Contains(result.err, said)) << said << "\n" << result.err;
        const std::vector<uint8_t> frame = ReadWholeFile(Out("s_0008.pcx"));
        return std::string(frame.begin(), frame.end());
    };
    const std::string whole = run({"--frames", "7-9"}, "kelvo: 3 frames written (7-9)");
    std::filesystem::remove(Out("s_0008.pcx"));
    EXPECT_EQ(run({"--frames", "7-9", "--skip-existing", "-j", "2"},
                  "1 frame written (8); 2 frames skipped"),
              whole);
    EXPECT_EQ(run({"--frames", "8"}, "taking the spans an earlier run measured over frames 7-9"),
              whole);
    std::filesystem::remove_all(Out());
    EXPECT_NE(run({"--frames", "8"}, "so the spans come from these frames only"), whole);
}

// A run still busy when its first frame is shown: a small frame, then frames of 2000 x 1500
// (one file, named again and again) for two workers.
class LongRunTest : public KelvoProgramTest {
protected:
    static constexpr int LARGE_FRAMES = 12;
    static constexpr size_t FRAMES = LARGE_FRAMES + 1;

    std::vector<std::string> Args() {
        const int width = 2000;
        const int height = 1500;
        std::vector<uint8_t> indices(size_t{width} * height);
        for (size_t i = 0; i < indices.size(); ++i) {
            indices[i] = static_cast<uint8_t>(i % 640 / 3);
        }
        PaletteEntry palette[PALETTE_ENTRIES];
        for (int i = 0; i < PALETTE_ENTRIES; ++i) {
            palette[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i),
                          static_cast<uint8_t>(i / 2)};
        }
        std::string error;
        EXPECT_EQ(WriteIndexedPng(dir.File("large.png"), indices.data(), width, height, palette, -1,
                                  error),
                  1)
            << error;
        std::vector<std::string> args = {KelvoProgram(),
                                         "render",
                                         "-j",
                                         "2",
                                         "--start",
                                         "1",
                                         "--range",
                                         "0:0-255",
                                         "--output",
                                         Out("shot.pcx"),
                                         Fixture("beauty_0007.png")};
        args.insert(args.end(), LARGE_FRAMES, dir.File("large.png"));
        return args;
    }

    // What kelvo shows once the first frame is written: on a terminal the bar; on Windows,
    // where the output goes to a file, a line.
    static std::string FirstFrameShown() {
#ifdef _WIN32
        return "(1/" + std::to_string(FRAMES) + ")";
#else
        return "frame 1/" + std::to_string(FRAMES);
#endif
    }

    // The files written are whole frames, and no temporary file is left behind.
    void ExpectOnlyWholeFrames() {
        const std::vector<std::string> entries = OutEntries();
        EXPECT_LT(entries.size(), FRAMES);
        for (const std::string& entry : entries) {
            SCOPED_TRACE(entry);
            ASSERT_EQ(entry.substr(0, 4), "shot");
            DecodedPcx decoded;
            std::string error;
            EXPECT_TRUE(DecodePcx(ReadWholeFile(Out(entry)), decoded, error)) << error;
        }
    }
};

// An interrupt stops the workers' frames at their next row: those get no file, those written
// are whole, and later frames are not started. On Windows it is Ctrl-C on kelvo's console,
// which its workers share; elsewhere SIGTERM sent to kelvo alone, which kelvo passes on.
TEST_F(LongRunTest, InterruptStopsKelvoAndItsWorkers) {
    TerminalProcess kelvo(Args());
    ASSERT_TRUE(kelvo.WaitFor(FirstFrameShown())) << kelvo.Output();
#ifdef _WIN32
    kelvo.Signal(SIGINT);
#else
    kelvo.Signal(SIGTERM);
#endif
    EXPECT_EQ(kelvo.Wait(), 130) << kelvo.Output();
    EXPECT_TRUE(Contains(kelvo.Output(), "kelvo: interrupted; frames written: 1"))
        << kelvo.Output();
    ExpectOnlyWholeFrames();
}

// Workers that end mid-run, killed or crashed, cost the frames they had not rendered: kelvo
// names each, exits 1, and does not wait for them.
TEST_F(LongRunTest, LostWorkersCostTheirFramesAndEndTheRun) {
    TerminalProcess kelvo(Args());
    ASSERT_TRUE(kelvo.WaitFor(FirstFrameShown())) << kelvo.Output();
    kelvo.EndChildProcesses();
    EXPECT_EQ(kelvo.Wait(), 1) << kelvo.Output();
    EXPECT_TRUE(Contains(kelvo.Output(),
                         "' was not written: its worker process ended before it "
                         "was rendered"))
        << kelvo.Output();
    EXPECT_TRUE(Contains(kelvo.Output(), " of " + std::to_string(FRAMES) + " frames not written ("))
        << kelvo.Output();
    ExpectOnlyWholeFrames();
}

TEST_F(KelvoProgramTest, AnswersHelpVersionAndUnknownCommands) {
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string out, err;
    };
    const Case cases[] = {
        {{"--help"}, 0, "usage: kelvo COMMAND [ARGS]\n", ""},
        {{"render", "--help"}, 0, "usage: kelvo render [options] COLOR...", ""},
        {{"settings", "--help"}, 0, "usage: kelvo settings show FILE", ""},
        {{"settings", "new", "--help"}, 0, "usage: kelvo settings show FILE", ""},
        {{"demo", "--help"}, 0, "usage: kelvo demo [-q] [DIR]", ""},
        {{"about", "--help"}, 0, "usage: kelvo about", ""},
        {{"palette", "--help"}, 0, "usage: kelvo palette show FILE", ""},
        {{"--version"}, 0, "kelvo 1.", ""},
        {{}, 2, "", "usage: kelvo COMMAND"},
        {{"paint"}, 2, "", "kelvo: unknown command 'paint'"},
        {{"settings", "edit"}, 2, "", "unknown settings command 'edit'"},
        {{"demo", "a", "b"}, 2, "", "demo takes at most one DIR"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "no arguments" : c.args.back());
        const ProcessResult run = Kelvo(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(run.out.rfind(c.out, 0), 0u) << run.out;
        EXPECT_TRUE(c.exitCode != 0 ? Contains(run.err, c.err) : run.err.empty()) << run.err;
    }
}

#ifdef _WIN32
// kelvo.exe starts itself as a worker with a hidden argument; run by hand, without the pipes
// and the setup from a kelvo render, it refuses.
TEST_F(KelvoProgramTest, RefusesToBeAWorkerWhenRunByHand) {
    const ProcessResult help = Kelvo({"--help"});
    EXPECT_FALSE(Contains(help.out, "--render-worker")) << help.out;
    const std::vector<std::vector<std::string>> cases = {
        {"--render-worker"},
        {"--render-worker", "4"},
        {"--render-worker", "x"},
        {"--render-worker", "4", "render"},
    };
    for (const std::vector<std::string>& args : cases) {
        SCOPED_TRACE(args.size());
        const ProcessResult run = Kelvo(args);
        EXPECT_EQ(run.exitCode, 2);
        // One line, ended as text on Windows is.
        EXPECT_EQ(run.err,
                  "kelvo: --render-worker is for kelvo's own use: 'kelvo render -j N' starts it, "
                  "with pipes for its input and output\r\n");
        EXPECT_EQ(run.out, "");
    }
}

// kelvo.exe loads Kelvo.flt from beside itself, or the module --plugin names, for every
// command; a module it cannot load is a usage error.
TEST_F(KelvoProgramTest, LoadsThePlugInBesideItOrTheOneNamed) {
    const std::filesystem::path alone = dir.Path() / "alone";
    const std::filesystem::path modules = dir.Path() / "modules";
    std::filesystem::create_directories(alone);
    std::filesystem::create_directories(modules);
    std::filesystem::copy_file(KelvoProgram(), alone / "kelvo.exe");
    std::filesystem::copy_file(ProgramBesideThisOne("Kelvo.flt"), modules / "Other.flt");
    const std::string lonely = (alone / "kelvo.exe").string();
    const std::string other = (modules / "Other.flt").string();
    const std::string none = (modules / "None.flt").string();

    struct Case {
        const char* name;
        std::string program;
        std::vector<std::string> args;
        int exitCode;
        std::string error;
    };
    const Case cases[] = {
        {"none beside",
         lonely,
         {"demo", Out("demo")},
         2,
         "kelvo: cannot load '" + (alone / "Kelvo.flt").string() + "': "},
        {"named", lonely, {"--plugin", other, "settings", "new", "-o", Out("b.settings")}, 0, ""},
        {"named, missing",
         KelvoProgram(),
         {"render", "--plugin=" + none, "--output", Out("c.pcx"), Fixture("beauty_0007.png")},
         2,
         "kelvo: cannot load '" + none + "': "},
        {"about, missing",
         KelvoProgram(),
         {"about", "--plugin", none},
         2,
         "kelvo: cannot load '" + none + "': "},
        {"configure, missing",
         KelvoProgram(),
         {"--plugin", none, "configure", Out("d.settings")},
         2,
         "kelvo: cannot load '" + none + "': "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> argv = c.args;
        argv.insert(argv.begin(), c.program);
        const ProcessResult run = RunProcess(argv);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_TRUE(Contains(run.err, c.error)) << run.err;
        // The default search says how to name another module.
        EXPECT_EQ(Contains(run.err, "--plugin PATH"), c.program == lonely && c.exitCode != 0)
            << run.err;
    }
    // Only the run with a module wrote anything.
    EXPECT_EQ(OutEntries(), std::vector<std::string>{"b.settings"});
    EXPECT_EQ(ReadWholeFile(Out("b.settings")).size(), 1084u);
}
#endif

}  // namespace

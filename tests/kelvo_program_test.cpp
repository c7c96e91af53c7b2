// kelvo run end to end on the committed PNG files in tests/data/png, natively and as
// kelvo.exe under Windows: both must write the same bytes, so the expected files are given
// as fingerprints taken from the native build.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "host/png_image.h"
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

std::string KelvoProgram() {
#ifdef _WIN32
    return ProgramBesideThisOne("kelvo.exe");
#else
    return KELVO_PROGRAM;
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
        for (const auto& entry : std::filesystem::directory_iterator(Out())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    TempDir dir;
};

// Frame 7 is 8-bit RGB, frame 8 16-bit RGBA, frame 9 a palette image; their identifier
// passes are 8, 16 and 8 bits.
const std::vector<std::string> SEQUENCE_RANGES = {
    "--range", "0:0-31", "--range", "1:32-95:dither", "--range", "2:96-159", "--range",
    "3:160-255:dither"};

// Three workers where the system has them; on Windows one process, which says so.
TEST_F(KelvoProgramTest, RendersASequenceToTheSameFramesOnEverySystem) {
    std::vector<std::string> args = {"render", "-j", "3", "--ids", Fixture("ids_####.png")};
    args.insert(args.end(), SEQUENCE_RANGES.begin(), SEQUENCE_RANGES.end());
    args.insert(args.end(), {"--output", Out("shot.pcx"), "--preview", Out("prev_####.png"),
                             Fixture("beauty_0007.png"), Fixture("beauty_0008.png"),
                             Fixture("beauty_0009.png")});
    const ProcessResult run = Kelvo(args);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(Contains(run.err, "kelvo: 3 frames written (7-9)")) << run.err;
#ifdef _WIN32
    EXPECT_TRUE(Contains(run.err, "kelvo: note: -j 3: worker processes are not available here; "
                                  "rendering in this process"))
        << run.err;
#endif
    EXPECT_EQ(OutEntries(), (std::vector<std::string>{"prev_0007.png", "prev_0008.png",
                                                      "prev_0009.png", "shot0007.pcx",
                                                      "shot0008.pcx", "shot0009.pcx"}));
    struct Case { const char* frame; uint64_t fingerprint; };
    const Case cases[] = {
        {"0007", 0xbe5e5ad10d2a696aULL},
        {"0008", 0x1e42c47d66d43b90ULL},
        {"0009", 0xedab46671269e139ULL},
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
            ASSERT_EQ(preview.rgba[4 * i], pcx.palette[entry] * 257) << i;
            ASSERT_EQ(preview.rgba[4 * i + 1], pcx.palette[entry + 1] * 257) << i;
            ASSERT_EQ(preview.rgba[4 * i + 2], pcx.palette[entry + 2] * 257) << i;
        }
    }
}

// The block, its JSON and a frame rendered from it with other options.
TEST_F(KelvoProgramTest, SettingsAndTheirJsonAreTheSameOnEverySystem) {
    const ProcessResult made =
        Kelvo({"settings", "new", "--method", "nearest", "--source", "object", "--range",
               "0:0-127", "--range", "5:128-255:dither", "--output", "frames/hero.pcx", "-o",
               Out("hero.settings")});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    EXPECT_EQ(FileFingerprint(Out("hero.settings")), 0x50a44f0da48e57a4ULL)
        << std::hex << "0x" << FileFingerprint(Out("hero.settings"));

    const ProcessResult shown = Kelvo({"settings", "show", Out("hero.settings")});
    ASSERT_EQ(shown.exitCode, 0) << shown.err;
    EXPECT_TRUE(Contains(shown.out, "\"outputName\": \"frames/hero.pcx\",\n")) << shown.out;
    EXPECT_EQ(FingerprintOf(shown.out), 0x9e380b7cc854a2acULL)
        << std::hex << "0x" << FingerprintOf(shown.out);

    // Twice: a frame file replaced by the same bytes at once is still a new file.
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        const ProcessResult render = Kelvo(
            {"render", "-q", "--settings", Out("hero.settings"), "--output", Out("hero.pcx"),
             "--start", "20", "--ids", Fixture("ids_0008.png"), Fixture("beauty_0008.png")});
        ASSERT_EQ(render.exitCode, 0) << render.err;
        EXPECT_EQ(render.err, "");
        EXPECT_EQ(FileFingerprint(Out("hero0020.pcx")), 0x266d9846dc7217afULL)
            << std::hex << "0x" << FileFingerprint(Out("hero0020.pcx"));
    }
}

TEST_F(KelvoProgramTest, BadInputExitsTwoBeforeWritingAnything) {
    WriteBytes(dir.File("text.png"), "no image here\n");
    // The OpenEXR magic number and nothing a reader could use.
    WriteBytes(dir.File("frame.exr"), std::string("\x76\x2f\x31\x01\x02\0\0\0", 8));
#ifdef _WIN32
    const std::string exrError = "cannot read '" + dir.File("frame.exr") +
                                 "': OpenEXR input is not available in the Windows build; "
                                 "convert to 16-bit PNG or use the Linux build";
#else
    const std::string exrError = "cannot read '" + dir.File("frame.exr") + "': ";
#endif
    struct Case { const char* name; std::vector<std::string> args; std::string error; };
    const Case cases[] = {
        {"not an image", {dir.File("text.png")},
         "cannot read '" + dir.File("text.png") + "': not a PNG or OpenEXR file"},
        {"OpenEXR", {dir.File("frame.exr")}, exrError},
        {"identifiers in colour",
         {"--ids", Fixture("beauty_0007.png"), Fixture("beauty_0007.png")},
         "cannot read identifiers '" + Fixture("beauty_0007.png") +
             "': an identifier pass must be a grey PNG of 8 or 16 bits, not RGB of 8 bits"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {"render", "--output", Out("o.pcx"), "--preview",
                                         Out("p_#.png")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ProcessResult run = Kelvo(args);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(Contains(run.err, "kelvo: " + c.error)) << run.err;
        EXPECT_TRUE(Contains(run.err, "kelvo: nothing was rendered")) << run.err;
        EXPECT_TRUE(OutEntries().empty());
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
    EXPECT_TRUE(Contains(run.err, "kelvo: frame 7 would write '" + alias +
                                      "_0007.png' over an input file"))
        << run.err;
    EXPECT_TRUE(OutEntries().empty());
    EXPECT_EQ(ReadWholeFile(dir.File("in_0007.png")), ReadWholeFile(Fixture("beauty_0007.png")));
}

TEST_F(KelvoProgramTest, MissingOutputDirectoryExitsOne) {
    const ProcessResult run = Kelvo(
        {"render", "--output", Out("missing/shot.pcx"), Fixture("beauty_0007.png")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Contains(run.err, "kelvo: frame 7 (" + Fixture("beauty_0007.png") + "): '" +
                                      Out("missing/shot0007.pcx") +
                                      "' was not written: directory '" + Out("missing") +
                                      "' does not exist"))
        << run.err;
    EXPECT_TRUE(Contains(run.err, "1 of 1 frames not written (7); no frame was written"))
        << run.err;
    EXPECT_TRUE(OutEntries().empty());
}

// The frame file is written, its preview cannot replace a directory: the system's reason.
TEST_F(KelvoProgramTest, UnwritablePreviewExitsOneWithTheReason) {
    std::filesystem::create_directory(Out("prev_0007.png"));
    const ProcessResult run = Kelvo({"render", "--output", Out("shot.pcx"), "--preview",
                                     Out("prev_####.png"), Fixture("beauty_0007.png")});
    EXPECT_EQ(run.exitCode, 1);
    const std::string reason = "its preview '" + Out("prev_0007.png") + "' was not written: ";
    const size_t at = run.err.find(reason);
    ASSERT_NE(at, std::string::npos) << run.err;
    const std::string why = run.err.substr(at + reason.size(), run.err.find('\n', at) - at -
                                                                   reason.size());
#ifdef _WIN32
    EXPECT_EQ(why.substr(0, 17), "Permission denied") << run.err;
#else
    EXPECT_EQ(why, "Is a directory") << run.err;
#endif
}

TEST_F(KelvoProgramTest, AnswersHelpAndVersion) {
    struct Case { const char* arg; const char* out; };
    const Case cases[] = {
        {"--help", "usage: kelvo COMMAND [ARGS]\n"},
        {"--version", "kelvo 1."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arg);
        const ProcessResult run = Kelvo({c.arg});
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.out.rfind(c.out, 0), 0u) << run.out;
        EXPECT_EQ(run.err, "");
    }
}

#ifdef _WIN32
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
        {"none beside", lonely, {"demo", Out("demo")}, 2,
         "kelvo: cannot load '" + (alone / "Kelvo.flt").string() + "': "},
        {"named", lonely, {"--plugin", other, "settings", "new", "-o", Out("b.settings")}, 0,
         ""},
        {"named, missing", KelvoProgram(),
         {"render", "--plugin=" + none, "--output", Out("c.pcx"), Fixture("beauty_0007.png")}, 2,
         "kelvo: cannot load '" + none + "': "},
        {"about, missing", KelvoProgram(), {"about", "--plugin", none}, 2,
         "kelvo: cannot load '" + none + "': "},
        {"configure, missing", KelvoProgram(),
         {"--plugin", none, "configure", Out("d.settings")}, 2,
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

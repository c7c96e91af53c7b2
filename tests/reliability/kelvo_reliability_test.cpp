// kelvo under injected file-system faults, and over a long sequence in flat memory.
#include <png.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/image_files.h"
#include "tests/pcx_decoder.h"
#include "tests/run_process.h"
#include "tests/temp_dir.h"

namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A 16-bit RGB frame with gradients and a little noise, and a 16-bit identifier pass.
void WriteInputs(const std::string& color, const std::string& ids, int width, int height) {
    TestPng png{width, height, PNG_COLOR_TYPE_RGB, 16, {}};
    TestPng idPng{width, height, PNG_COLOR_TYPE_GRAY, 16, {}};
    uint32_t noise = 1;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            noise = noise * 1664525 + 1013904223;
            const auto wobble = static_cast<int>(noise >> 24) - 128;
            png.samples.insert(png.samples.end(), {static_cast<uint16_t>(x * 65535 / width),
                                                   static_cast<uint16_t>(y * 65535 / height),
                                                   static_cast<uint16_t>(32768 + wobble * 64)});
            idPng.samples.push_back(static_cast<uint16_t>((x / 80 + y / 60) % 4));
        }
    }
    WriteTestPng(color, png);
    WriteTestPng(ids, idPng);
}

std::vector<std::string> RenderArgs(const std::string& ids, const std::string& output) {
    return {KELVO_PROGRAM,    "render",  "--quiet", "--source", "object",
            "--ids",          ids,       "--range", "0:0-255",  "--range",
            "1:16-47:dither", "--range", "2:64-95", "--range",  "3:200-100:dither",
            "--output",       output,    "--start", "1"};
}

class KelvoFaultTest : public ::testing::Test {
protected:
    KelvoFaultTest() { WriteInputs(dir.File("color.png"), dir.File("ids.png"), 64, 48); }

    // Renders frame 1 into a directory that holds an older frame0001.pcx, with `fault`.
    ProcessResult RenderWithFault(const std::string& fault, const std::string& out) {
        std::filesystem::create_directories(out);
        std::ofstream(out + "/frame0001.pcx") << "older frame";
        auto args = RenderArgs(dir.File("ids.png"), out + "/frame.pcx");
        args.push_back(dir.File("color.png"));
        return RunProcess(args, {"LD_PRELOAD=" KELVO_FAULT_SHIM, "KELVO_FAULT=" + fault,
                                 "KELVO_FAULT_DIR=" + out});
    }

    TempDir dir;
};

TEST_F(KelvoFaultTest, EachFaultIsReportedAndLeavesTheDiskConsistent) {
    struct Case {
        const char* fault;
        const char* reason;
    };
    const Case cases[] = {
        {"enospc:0", "the file was not written"},
        {"enospc:128", "the file was not written"},
        {"enospc:1000", "the file was not written"},
        {"close", "the file was not written"},
        {"eacces", "Permission denied"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        const std::string out = dir.File(std::string("out-") + c.fault);
        const ProcessResult run = RenderWithFault(c.fault, out);
        EXPECT_EQ(run.exitCode, 1) << run.err;
        EXPECT_TRUE(Contains(run.err, "frame0001.pcx' was not written: ")) << run.err;
        EXPECT_TRUE(Contains(run.err, c.reason)) << run.err;
        EXPECT_TRUE(Contains(run.err, "1 of 1 frames not written (1)")) << run.err;
        EXPECT_EQ(ReadText(out + "/frame0001.pcx"), "older frame");
        std::vector<std::string> left;
        for (const auto& entry : std::filesystem::directory_iterator(out)) {
            left.push_back(entry.path().filename().string());
        }
        EXPECT_EQ(left, std::vector<std::string>{"frame0001.pcx"});
    }
}

TEST_F(KelvoFaultTest, AVanishedDirectoryIsReportedAndNotRecreated) {
    const std::string out = dir.File("vanishing");
    const ProcessResult run = RenderWithFault("vanish", out);
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_TRUE(Contains(run.err, "directory '" + out + "' does not exist")) << run.err;
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(KelvoFaultTest, WithoutAFaultTheOlderFrameIsReplaced) {
    const std::string out = dir.File("healthy");
    const ProcessResult run = RenderWithFault("", out);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    DecodedPcx decoded;
    std::string error;
    ASSERT_TRUE(DecodePcx(ReadWholeFile(out + "/frame0001.pcx"), decoded, error)) << error;
    EXPECT_EQ(decoded.width, 64);
}

// 500 frames of 640 x 480 must need no more memory than 50 do, and every file must decode
// to the same frame (the input repeats, so every index image is the same). The frame cache is
// made small enough for both runs to fill it.
TEST(KelvoLoadTest, LongSequenceRunsInFlatMemory) {
    TempDir dir;
    WriteInputs(dir.File("color.png"), dir.File("ids.png"), 640, 480);
    long peakKib[2] = {};
    const int counts[2] = {50, 500};
    for (int run = 0; run < 2; ++run) {
        const std::string out = dir.File("run" + std::to_string(counts[run]));
        std::filesystem::create_directory(out);
        auto args = RenderArgs(dir.File("ids.png"), out + "/frame.pcx");
        args.insert(args.end(), {"--frame-cache", "16"});
        args.insert(args.end(), static_cast<size_t>(counts[run]), dir.File("color.png"));
        const ProcessResult result = RunProcess(args);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        peakKib[run] = result.peakMemoryKib;

        DecodedPcx first;
        std::string error;
        ASSERT_TRUE(DecodePcx(ReadWholeFile(out + "/frame0001.pcx"), first, error)) << error;
        for (int frame = 1; frame <= counts[run]; ++frame) {
            char name[32];
            std::snprintf(name, sizeof name, "/frame%04d.pcx", frame);
            DecodedPcx decoded;
            ASSERT_TRUE(DecodePcx(ReadWholeFile(out + name), decoded, error)) << name << error;
            ASSERT_EQ(decoded.indices, first.indices) << name;
        }
    }
    std::printf("peak resident memory: %ld KiB at 50 frames, %ld KiB at 500 frames\n", peakKib[0],
                peakKib[1]);
    RecordProperty("peak_kib_50", std::to_string(peakKib[0]));
    RecordProperty("peak_kib_500", std::to_string(peakKib[1]));
    // A few pages of slack for the longer argument list and allocator noise.
    EXPECT_LE(peakKib[1], peakKib[0] + 4096);
}

}  // namespace

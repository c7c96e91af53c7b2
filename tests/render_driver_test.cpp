#include <gtest/gtest.h>

#include <cstring>

#include "kelvo/batch/parallel_render.h"
#include "kelvo/batch/render_driver.h"
#include "kelvo/imageio/allocation_cap.h"
#include "plugin/palette_render_filter.h"
#include "render/frame_file.h"
#include "tests/image_files.h"
#include "tests/pcx_decoder.h"
#include "tests/temp_dir.h"

namespace {

// Frames of a fixed grey level per frame, identifiers 0 and 1 alternating by column.
class GreyFrames final : public FrameSource {
public:
    const DecodedFrame* LoadFrame(size_t index, std::string&) override {
        const auto grey = static_cast<uint16_t>(20000 * index + 1000);
        frame.color = {4, 2, std::vector<uint16_t>(4 * 2 * 4, grey)};
        frame.ids = {4, 2, {0, 1, 0, 1, 0, 1, 0, 1}};
        ++loads;
        return &frame;
    }
    DecodedFrame frame;
    int loads = 0;
};

class RenderDriverTest : public ::testing::Test {
protected:
    RenderDriverTest() {
        std::strcpy(filter.settings.outputName, dir.File("shot.pcx").c_str());
        filter.settings.ranges[1] = {200, 255, 0};
        filter.settings.ranges[0] = {0, 99, 1};
    }
    // Named from the filter's output name, as kelvo render plans them.
    std::vector<FramePlan> Plans(int first, int count, bool previews) {
        std::vector<FramePlan> plans;
        for (int i = 0; i < count; ++i) {
            const std::string number = std::to_string(first + i);
            char file[FRAME_NAME_SIZE];
            EXPECT_TRUE(BuildFrameFileName(filter.settings.outputName, first + i, file));
            plans.push_back({first + i, "in" + number, file,
                             previews ? dir.File("p" + number + ".png") : "",
                             previews ? dir.File("b" + number + ".bmp") : ""});
        }
        return plans;
    }
    TempDir dir;
    PaletteRenderFilter filter;
    GreyFrames source;
    ProgressDisplay quiet{PROGRESS_ERRORS_ONLY, stderr, 0};
};

TEST_F(RenderDriverTest, RendersEachFrameAndWritesPngAndBmpFromTheFile) {
    RenderReport report;
    ASSERT_EQ(
        RenderFrames(filter.settings, {}, Plans(9, 2, true), source, quiet, report, {5, false}), 1);
    ASSERT_EQ(report.frames.size(), 2u);
    EXPECT_TRUE(report.frames[1].written);
    EXPECT_EQ(report.frames[1].file, dir.File("shot0010.pcx"));
    DecodedPcx pcx;
    std::string error;
    ASSERT_TRUE(DecodePcx(ReadWholeFile(dir.File("shot0010.pcx")), pcx, error)) << error;
    // Grey 21000 under identifier 1 (range 200..255): 56 entries x 0.3204 = 17.9.
    EXPECT_EQ(pcx.indices[1], 217);
    const IndexedPng preview = ReadTestIndexedPng(dir.File("p10.png"));
    EXPECT_EQ(preview.indices, pcx.indices);
    // Rows of 4 from the bottom up, after the headers and colour table.
    const std::vector<uint8_t> bmp = ReadWholeFile(dir.File("b10.bmp"));
    ASSERT_EQ(bmp.size(), 1078u + 8u);
    EXPECT_EQ(std::vector<uint8_t>(bmp.begin() + 1078, bmp.begin() + 1082),
              std::vector<uint8_t>(pcx.indices.begin() + 4, pcx.indices.end()));
    EXPECT_EQ(std::vector<uint8_t>(bmp.begin() + 1082, bmp.end()),
              std::vector<uint8_t>(pcx.indices.begin(), pcx.indices.begin() + 4));
    EXPECT_FALSE(report.interrupted);
}

TEST_F(RenderDriverTest, NamesTheMissingDirectory) {
    std::strcpy(filter.settings.outputName, dir.File("nowhere/shot.pcx").c_str());
    RenderReport report;
    EXPECT_EQ(RenderFrames(filter.settings, {}, Plans(1, 2, false), source, quiet, report), 0);
    ASSERT_EQ(report.frames.size(), 2u);
    EXPECT_EQ(source.loads, 2);  // a failed frame does not stop the others
    EXPECT_NE(report.frames[1].reason.find("nowhere' does not exist"), std::string::npos)
        << report.frames[1].reason;
}

// Where the index image cannot be had, the frame is not written and the reason says how much
// was asked for: a byte for each of 1024 x 1024 pixels.
TEST_F(RenderDriverTest, SaysHowMuchMemoryTheIndicesAskedFor) {
    class Held final : public FrameSource {
    public:
        const DecodedFrame* LoadFrame(size_t, std::string&) override { return &held; }
        DecodedFrame held{{1024, 1024, std::vector<uint16_t>(size_t{1024} * 1024 * 4)}, {}};
    } large;
    RenderReport report;
    {
        const AllocationCap cap(1 << 19);
        EXPECT_EQ(RenderFrames(filter.settings, {}, Plans(1, 1, false), large, quiet, report), 0);
    }
    ASSERT_EQ(report.frames.size(), 1u);
    EXPECT_EQ(report.frames[0].reason, "not enough memory: 1.0 MiB (1048576 bytes) were asked for");
    EXPECT_FALSE(std::filesystem::exists(dir.File("shot0001.pcx")));
}

// Workers beyond what the machine's memory holds, each with the run's largest frame, are not
// started; at least one always is.
TEST(WorkersWithinMemoryTest, RunsAsManyAsFit) {
    struct Case {
        int jobs;
        uint64_t frameBytes, physicalBytes;
        int expected;
    };
    const uint64_t gib = uint64_t{1} << 30;
    const Case cases[] = {
        {8, 2 * gib, 16 * gib, 8},  {8, 3 * gib, 16 * gib, 5},
        {8, 32 * gib, 16 * gib, 1}, {256, 1, 0, 256},  // the system does not say
        {4, 0, 16 * gib, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(WorkersWithinMemory(c.jobs, c.frameBytes, c.physicalBytes), c.expected);
    }
}

TEST(DescribeFrameNumbersTest, JoinsRuns) {
    EXPECT_EQ(DescribeFrameNumbers({}), "");
    EXPECT_EQ(DescribeFrameNumbers({4}), "4");
    EXPECT_EQ(DescribeFrameNumbers({1, 2, 3, 7, 9, 10}), "1-3, 7, 9-10");
}

}  // namespace

// The setup kelvo.exe sends each worker it starts: bytes, round trips and damaged setups.
#include "kelvo/batch/worker_setup.h"

#include <gtest/gtest.h>

namespace {

InputProbe Probe(InputKind kind, int width, int height, const char* colorError, int idsWidth,
                 int idsHeight, const char* idsError) {
    InputProbe probe;
    probe.kind = kind;
    probe.width = width;
    probe.height = height;
    probe.colorError = colorError;
    probe.idsWidth = idsWidth;
    probe.idsHeight = idsHeight;
    probe.idsError = idsError;
    return probe;
}

WorkerSetup TwoFrameSetup() {
    WorkerSetup setup;
    setup.settingsBlock = {101, 0, 0, 0, 0xFF, 0x80};
    setup.choices.reserved.set(4).set(254);
    setup.choices.ranges[1] = {
        {{48, 79}, {111, 96}}, RangeMethod::Uniform, DitherPattern::Bayer8, 0.25};
    setup.choices.ranges[15].method = RangeMethod::Nearest;
    setup.pluginPath = "C:\\Program Files\\Kelvo\\Kelvo.flt";
    setup.jobs = 3;
    setup.cacheBytes = (uint64_t{1} << 32) + 5;
    setup.inputOptions.idsPattern = "ids_####.png";
    setup.inputOptions.exr.idChannel = "objectId";
    setup.inputOptions.exr.layer = "beauty";
    setup.inputOptions.exr.linear = true;
    setup.inputOptions.exr.maxId = 65535;
    setup.inputOptions.idMap = {{255, 3}, {7, 0}};
    setup.inputOptions.exr.window = EXR_WINDOW_DATA;
    setup.inputOptions.exr.view = "right";
    setup.inputOptions.exrFrameWidth = 1920;
    setup.inputOptions.exrFrameHeight = 1080;
    setup.inputOptions.exrFrameSizeFrom = "c.exr";
    setup.inputOptions.exr.maxPixels = int64_t{1} << 32;
    setup.inputOptions.backgroundId = 15;
    setup.inputOptions.alphaBelow = 32768;
    setup.inputOptions.measureLuminance = true;
    setup.outputs = {200, true};
    setup.plans = {{-2, "a b.png", "out-002.pcx", "", "b.bmp"},
                   {7, "", "out0007.pcx", "prev 0007.png", ""}};
    setup.inputs = {{"a b.png", -2, 12, Probe(INPUT_PNG, 64, 32, "", 64, 32, "ids: too small")},
                    {"c.exr", 7, 7, Probe(INPUT_EXR, 0, 0, "'c.exr' has no colour", 0, 0, "")}};
    return setup;
}

void ExpectSame(const WorkerSetup& got, const WorkerSetup& want) {
    EXPECT_EQ(got.settingsBlock, want.settingsBlock);
    EXPECT_TRUE(got.choices == want.choices);
    EXPECT_EQ(got.pluginPath, want.pluginPath);
    EXPECT_EQ(got.jobs, want.jobs);
    EXPECT_EQ(got.cacheBytes, want.cacheBytes);
    EXPECT_EQ(got.inputOptions.idsPattern, want.inputOptions.idsPattern);
    EXPECT_EQ(got.inputOptions.exr.idChannel, want.inputOptions.exr.idChannel);
    EXPECT_EQ(got.inputOptions.exr.layer, want.inputOptions.exr.layer);
    EXPECT_EQ(got.inputOptions.exr.linear, want.inputOptions.exr.linear);
    EXPECT_EQ(got.inputOptions.exr.maxId, want.inputOptions.exr.maxId);
    EXPECT_EQ(got.inputOptions.idMap, want.inputOptions.idMap);
    EXPECT_EQ(got.inputOptions.exr.window, want.inputOptions.exr.window);
    EXPECT_EQ(got.inputOptions.exr.view, want.inputOptions.exr.view);
    EXPECT_EQ(got.inputOptions.exrFrameWidth, want.inputOptions.exrFrameWidth);
    EXPECT_EQ(got.inputOptions.exrFrameHeight, want.inputOptions.exrFrameHeight);
    EXPECT_EQ(got.inputOptions.exrFrameSizeFrom, want.inputOptions.exrFrameSizeFrom);
    EXPECT_EQ(got.inputOptions.exr.maxPixels, want.inputOptions.exr.maxPixels);
    EXPECT_EQ(got.inputOptions.backgroundId, want.inputOptions.backgroundId);
    EXPECT_EQ(got.inputOptions.alphaBelow, want.inputOptions.alphaBelow);
    EXPECT_EQ(got.inputOptions.measureLuminance, want.inputOptions.measureLuminance);
    EXPECT_EQ(got.outputs.transparentIndex, want.outputs.transparentIndex);
    EXPECT_EQ(got.outputs.bmpRle, want.outputs.bmpRle);
    ASSERT_EQ(got.plans.size(), want.plans.size());
    ASSERT_EQ(got.inputs.size(), want.inputs.size());
    for (size_t i = 0; i < want.plans.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got.plans[i].frameNumber, want.plans[i].frameNumber);
        EXPECT_EQ(got.plans[i].label, want.plans[i].label);
        EXPECT_EQ(got.plans[i].file, want.plans[i].file);
        EXPECT_EQ(got.plans[i].previewPath, want.plans[i].previewPath);
        EXPECT_EQ(got.plans[i].bmpPath, want.plans[i].bmpPath);
        EXPECT_EQ(got.inputs[i].colorPath, want.inputs[i].colorPath);
        EXPECT_EQ(got.inputs[i].frameNumber, want.inputs[i].frameNumber);
        EXPECT_EQ(got.inputs[i].sourceNumber, want.inputs[i].sourceNumber);
        const InputProbe& probe = got.inputs[i].probe;
        const InputProbe& sent = want.inputs[i].probe;
        EXPECT_EQ(probe.kind, sent.kind);
        EXPECT_EQ(probe.width, sent.width);
        EXPECT_EQ(probe.height, sent.height);
        EXPECT_EQ(probe.colorError, sent.colorError);
        EXPECT_EQ(probe.idsWidth, sent.idsWidth);
        EXPECT_EQ(probe.idsHeight, sent.idsHeight);
        EXPECT_EQ(probe.idsError, sent.idsError);
    }
}

TEST(WorkerSetupTest, EncodesTheFieldsInOrderLittleEndian) {
    WorkerSetup setup;
    setup.settingsBlock = {0xAB};
    setup.pluginPath.assign(1, 'p');  // not = "p": GCC 12 warns, wrongly, on that
    setup.jobs = 2;
    setup.cacheBytes = 0x0102030405060708ULL;
    setup.inputOptions.exr.maxId = 255;
    setup.inputOptions.idMap = {{255, 1}};
    setup.inputOptions.exr.window = EXR_WINDOW_DATA;
    setup.inputOptions.exrFrameWidth = 0x0102;
    setup.inputOptions.exrFrameSizeFrom.assign(1, 'S');
    setup.inputOptions.exr.maxPixels = 0x0A0B0C0D0E;
    setup.inputOptions.backgroundId = 3;
    setup.outputs.transparentIndex = 0x80;
    setup.plans = {{-1, "L", "F", "V", "B"}};
    setup.inputs = {{"C", 0x01020304, 9, Probe(INPUT_PNG, 0x80, 0x0102, "E", 3, 4, "")}};
    // clang-format off
    std::vector<uint8_t> want = {
        'K', 'L', 'V', 'W', 10, 0, 0, 0,                 // tag, version 10
        1, 0, 0, 0, 0xAB,                                // settings block
        1, 0, 0, 0, 'p',                                 // plug-in path
        2, 0, 0, 0,                                      // jobs
        8, 7, 6, 5, 4, 3, 2, 1,                          // cache bytes, 64 bits
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,              // ids pattern, id channel, layer: empty
        0, 0, 0, 0,                                      // not linear
        255, 0, 0, 0,                                    // largest identifier
        1, 0, 0, 0, 0xFF, 0, 1, 0,                       // one --id-map: 255 stands for 1
        1, 0, 0, 0,                                      // data windows
        0, 0, 0, 0,                                      // view: the default
        2, 1, 0, 0, 0, 0, 0, 0,                          // frame size 258 x 0,
        1, 0, 0, 0, 'S',                                 //   from S
        3, 0, 0, 0, 1, 0, 0, 0,                          // background 3 below alpha 1,
        0, 0, 0, 0,                                      //   no luminance measured
        0x80, 0, 0, 0, 0, 0, 0, 0,                       // transparent 128, no RLE8
        0x0E, 0x0D, 0x0C, 0x0B, 0x0A, 0, 0, 0,           // largest frame, 64 bits
        1, 0, 0, 0,                                      // one frame:
        0xFF, 0xFF, 0xFF, 0xFF,                          //   frame number -1
        1, 0, 0, 0, 'L', 1, 0, 0, 0, 'F',                //   label, frame file,
        1, 0, 0, 0, 'V', 1, 0, 0, 0, 'B',                //   PNG, BMP
        1, 0, 0, 0, 'C', 4, 3, 2, 1,                     //   colour file, its frame number,
        9, 0, 0, 0,                                      //   its own number,
        2, 0, 0, 0,                                      //   probed as a PNG
        0x80, 0, 0, 0, 2, 1, 0, 0,                       //   of 128 x 258,
        1, 0, 0, 0, 'E',                                 //   refused for E,
        3, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0,              //   identifiers 3 x 4, not refused
    };
    // clang-format on
    // After the block, the choices: 224 bytes; nothing reserved, then per range no span, no
    // method or dither, strength 1.0 (0x3FF0000000000000).
    std::vector<uint8_t> choices = {224, 0, 0, 0};
    choices.resize(4 + 32);
    for (int range = 0; range < 16; ++range) {
        choices.insert(choices.end(), {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F});
    }
    want.insert(want.begin() + 13, choices.begin(), choices.end());
    EXPECT_EQ(EncodeWorkerSetup(setup), want);
}

TEST(WorkerSetupTest, DecodesWhatWasEncoded) {
    const WorkerSetup setup = TwoFrameSetup();
    const std::vector<uint8_t> bytes = EncodeWorkerSetup(setup);
    WorkerSetup decoded;
    ASSERT_EQ(DecodeWorkerSetup(bytes.data(), bytes.size(), decoded), 1);
    ExpectSame(decoded, setup);
}

TEST(WorkerSetupTest, RefusesEverySetupCutShort) {
    const std::vector<uint8_t> bytes = EncodeWorkerSetup(TwoFrameSetup());
    for (size_t size = 0; size < bytes.size(); ++size) {
        WorkerSetup decoded;
        EXPECT_EQ(DecodeWorkerSetup(bytes.data(), size, decoded), 0) << size;
    }
}

TEST(WorkerSetupTest, RefusesDamagedSetups) {
    const WorkerSetup setup = TwoFrameSetup();
    const std::vector<uint8_t> good = EncodeWorkerSetup(setup);
    // Offsets: the tag and version, then each field with its 32-bit length where it has one.
    const size_t choicesAt = 8 + (4 + setup.settingsBlock.size()) + 4;
    const size_t range0At = choicesAt + 32;  // its span count, method, dither and strength
    const size_t jobsAt =
        choicesAt + EncodeRangeChoices(setup.choices).size() + (4 + setup.pluginPath.size());
    const size_t linearAt = jobsAt + 4 + 8 + (4 + setup.inputOptions.idsPattern.size()) +
                            (4 + setup.inputOptions.exr.idChannel.size()) +
                            (4 + setup.inputOptions.exr.layer.size());
    const size_t idMapAt = linearAt + 4 + 4;
    const size_t windowAt = idMapAt + 4 + 2 * 4;
    const size_t backgroundAt = windowAt + 4 + (4 + setup.inputOptions.exr.view.size()) + 4 + 4 +
                                (4 + setup.inputOptions.exrFrameSizeFrom.size());
    const size_t maxPixelsAt = backgroundAt + 5 * 4;
    const size_t countAt = maxPixelsAt + 8;
    ASSERT_EQ(good[jobsAt], 3);
    ASSERT_EQ(good[linearAt], 1);
    ASSERT_EQ(good[windowAt], 1);
    ASSERT_EQ(good[backgroundAt], 15);
    ASSERT_EQ(good[maxPixelsAt + 4], 1);
    ASSERT_EQ(good[countAt], 2);
    const FramePlan& plan = setup.plans[0];
    const size_t kindAt = countAt + 4 + 4 + (4 + plan.label.size()) + (4 + plan.file.size()) +
                          (4 + plan.previewPath.size()) + (4 + plan.bmpPath.size()) +
                          (4 + setup.inputs[0].colorPath.size()) + 4 + 4;
    ASSERT_EQ(good[kindAt], INPUT_PNG);
    struct Case {
        const char* name;
        size_t at;
        uint8_t value;
    };
    const Case cases[] = {
        {"wrong tag", 0, 'X'},
        {"later version", 4, 11},
        {"more spans than bytes", range0At + 1, 0x7F},
        {"a method there is not", range0At + 2, 3},
        {"a dither there is not", range0At + 3, 5},
        {"strength above 1", range0At + 4 + 7, 0x40},
        {"block longer than the setup", 11, 0x7F},
        {"no jobs", jobsAt, 0},
        {"linear neither 0 nor 1", linearAt, 2},
        {"more identifier pairs than bytes", idMapAt + 3, 0x10},
        {"window neither 0 nor 1", windowAt, 2},
        {"background identifier beyond 65535", backgroundAt + 2, 1},
        {"alpha threshold beyond 65535", backgroundAt + 6, 1},
        {"measuring neither 0 nor 1", backgroundAt + 8, 2},
        {"transparent index beyond 255", backgroundAt + 13, 1},
        {"RLE8 neither 0 nor 1", backgroundAt + 16, 2},
        {"no pixels allowed", maxPixelsAt + 4, 0},
        {"more frames than bytes", countAt + 3, 0x10},
        {"probe of no kind there is", kindAt, INPUT_EXR + 1},
        {"probed width below 0", kindAt + 7, 0x80},
        {"one frame fewer: bytes left over", countAt, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bytes = good;
        bytes[c.at] = c.value;
        WorkerSetup decoded;
        EXPECT_EQ(DecodeWorkerSetup(bytes.data(), bytes.size(), decoded), 0);
    }
    std::vector<uint8_t> longer = good;
    longer.push_back(0);
    WorkerSetup decoded;
    EXPECT_EQ(DecodeWorkerSetup(longer.data(), longer.size(), decoded), 0);
}

// Framed as a worker's pipe carries it; a length beyond the limit is refused unread.
TEST(WorkerSetupTest, ReadsAFramedSetupAndRefusesAnOversizedLength) {
    const WorkerSetup setup = TwoFrameSetup();
    const std::vector<uint8_t> framed = FrameWorkerSetup(setup);
    const std::vector<uint8_t> encoded = EncodeWorkerSetup(setup);
    ASSERT_EQ(framed.size(), 4 + encoded.size());
    EXPECT_EQ(std::vector<uint8_t>(framed.begin() + 4, framed.end()), encoded);
    struct Case {
        const char* name;
        std::vector<uint8_t> pipe;
        int read;
        size_t consumed;
    };
    std::vector<uint8_t> oversized = framed;
    oversized[3] = 0x7F;  // 2 GiB and more
    const Case cases[] = {
        {"whole", framed, 1, framed.size()},
        {"cut short", {framed.begin(), framed.end() - 1}, 0, 4},
        {"oversized length", oversized, 0, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        size_t at = 0;
        const auto read = [&](uint8_t* data, size_t size) {
            if (size > c.pipe.size() - at) {
                return 0;
            }
            std::copy(c.pipe.begin() + static_cast<std::ptrdiff_t>(at),
                      c.pipe.begin() + static_cast<std::ptrdiff_t>(at + size), data);
            at += size;
            return 1;
        };
        WorkerSetup decoded;
        EXPECT_EQ(ReadFramedWorkerSetup(read, decoded), c.read);
        EXPECT_EQ(at, c.consumed);
        if (c.read == 1) {
            ExpectSame(decoded, setup);
        }
    }
}

}  // namespace

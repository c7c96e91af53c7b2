// kelvo's OpenEXR frames against an independent decoder: OpenImageIO's oiiotool pads or crops
// each part to its display window (--croptofull), and kelvo's frame must hold those pixels
// through the transfer the README documents. Native only: oiiotool is a native program.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "kelvo/imageio/exr_image.h"
#include "tests/exr_files.h"
#include "tests/run_process.h"
#include "tests/temp_dir.h"

namespace {

constexpr int EXR_UINT = 0;
constexpr int EXR_HALF = 1;
constexpr int EXR_FLOAT = 2;

// Every file's display window: 12 x 8 pixels from (-2, -1).
constexpr int DISPLAY_X = -2;
constexpr int DISPLAY_Y = -1;
constexpr int DISPLAY_WIDTH = 12;
constexpr int DISPLAY_HEIGHT = 8;

struct Window {
    const char* name;
    int x, y, width, height;
};
const Window EQUAL = {"equal", -2, -1, 12, 8};
const Window INSIDE = {"inside", 1, 2, 5, 4};
const Window OUTSIDE = {"outside", 14, -9, 3, 3};
const Window OVERLAPPING = {"overlapping", -6, 4, 9, 7};
const Window AROUND = {"around", -5, -4, 17, 13};

// oiiotool on the PATH; empty when there is none.
std::string FindOiiotool() {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const std::string candidate = dir + "/oiiotool";
        if (!dir.empty() && access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return "";
}

// Multiples of 1/256 from -0.25 to 1.5: exact in halves and in oiiotool's nine decimals.
std::vector<float> Values(const Window& window, int channel) {
    std::vector<float> values(static_cast<size_t>(window.width * window.height));
    for (size_t i = 0; i < values.size(); ++i) {
        values[i] =
            static_cast<float>(static_cast<int>((i * 37 + 61 * size_t(channel)) % 449) - 64) /
            256.0f;
    }
    return values;
}

std::vector<float> Ids(const Window& window) {
    std::vector<float> values(static_cast<size_t>(window.width * window.height));
    for (size_t i = 0; i < values.size(); ++i) {
        values[i] = static_cast<float>((i * 7 + 3) % 13);
    }
    return values;
}

TestExrPart Part(const std::string& name, const Window& window, int tileSide,
                 const std::vector<std::string>& channels) {
    TestExrPart part;
    part.name = name;
    part.width = window.width;
    part.height = window.height;
    part.originX = window.x;
    part.originY = window.y;
    part.displayX = DISPLAY_X;
    part.displayY = DISPLAY_Y;
    part.displayWidth = DISPLAY_WIDTH;
    part.displayHeight = DISPLAY_HEIGHT;
    part.tileSide = tileSide;
    part.compression = tileSide > 0 ? 4 : 3;  // PIZ, ZIP
    for (const std::string& channel : channels) {
        if (channel == "id") {
            // Unsigned in a part of its own, float beside colour.
            part.channels.push_back(
                {channel, channels.size() == 1 ? EXR_UINT : EXR_FLOAT, Ids(window)});
        } else {
            part.channels.push_back(
                {channel, EXR_HALF, Values(window, static_cast<int>(part.channels.size()))});
        }
    }
    return part;
}

// oiiotool's values of `channels` of part `part`, padded or cropped to the display window:
// row by row, each pixel's channels in the order given. `type` is float, or uint32 for an
// unsigned channel, which oiiotool would otherwise scale to 0..1.
std::vector<double> ReferencePixels(const std::string& tool, const TempDir& dir, int part,
                                    const std::string& channels, const char* type) {
    const std::string padded = dir.File("reference" + std::to_string(part) + ".exr");
    // DISPLAY= keeps oiiotool off any window system.
    const ProcessResult run = RunProcess(
        {tool, "--threads", "1", dir.File("in.exr"), "--subimage", std::to_string(part), "--ch",
         channels, "--croptofull", "-d", type, "-o", padded, "--dumpdata", "-i", padded},
        {"DISPLAY="});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    std::vector<double> values;
    std::istringstream lines(run.out);
    std::string line;
    int pixel = 0;
    while (std::getline(lines, line)) {
        int x = 0;
        int y = 0;
        int used = 0;
        if (std::sscanf(line.c_str(), " Pixel (%d, %d):%n", &x, &y, &used) != 2) {
            continue;
        }
        // Row by row over the display window, and nothing else.
        EXPECT_EQ(x, DISPLAY_X + pixel % DISPLAY_WIDTH) << line;
        EXPECT_EQ(y, DISPLAY_Y + pixel / DISPLAY_WIDTH) << line;
        ++pixel;
        std::istringstream numbers(line.substr(static_cast<size_t>(used)));
        // An unsigned value is followed by its scaled value in brackets, where this stops.
        for (double value = 0; numbers >> value;) {
            values.push_back(value);
        }
    }
    EXPECT_EQ(pixel, DISPLAY_WIDTH * DISPLAY_HEIGHT) << run.out;
    return values;
}

// The README's transfer: sRGB for colour unless linear (in double precision), clamped to 0..1
// as a single-precision value, scaled to 16 bits and rounded.
uint16_t Documented16(double value, bool transfer) {
    if (transfer && value > 0.0031308) {
        value = 1.055 * std::pow(value, 1.0 / 2.4) - 0.055;
    } else if (transfer) {
        value *= 12.92;
    }
    const float clamped = static_cast<float>(std::clamp(value, 0.0, 1.0));
    return static_cast<uint16_t>(std::lround(double{clamped} * 65535.0));
}

bool Inside(const Window& window, int x, int y) {
    return x >= window.x && x < window.x + window.width && y >= window.y &&
           y < window.y + window.height;
}

TEST(ExrReferenceTest, FramesAreTheDisplayWindowAsOiiotoolCropsAndPadsIt) {
    const std::string tool = FindOiiotool();
    if (tool.empty()) {
        GTEST_SKIP() << "oiiotool not found on PATH: install Debian's openimageio-tools "
                        "(scripts/install-deps.sh all) to check OpenEXR frames against it";
    }
    struct Case {
        std::string name;
        std::vector<TestExrPart> parts;
        int colorPart;
        bool alpha;
        int idPart;
        bool linear;
    };
    std::vector<Case> cases;
    for (const int tileSide : {0, 4}) {
        const std::string kind = tileSide > 0 ? "tiled, " : "scanline, ";
        for (const Window& window : {EQUAL, INSIDE, OUTSIDE, OVERLAPPING, AROUND}) {
            // Without alpha in one window: opaque where stored, transparent elsewhere.
            const bool alpha = &window != &OVERLAPPING;
            std::vector<std::string> channels = {"R", "G", "B", "id"};
            if (alpha) {
                channels.insert(channels.begin() + 3, "A");
            }
            cases.push_back({kind + window.name,
                             {Part("", window, tileSide, channels)},
                             0,
                             alpha,
                             0,
                             tileSide > 0});
        }
    }
    cases.push_back(
        {"multi-part, scanline: colour inside, identifiers overlapping",
         {Part("beauty", INSIDE, 0, {"R", "G", "B", "A"}), Part("ids", OVERLAPPING, 0, {"id"})},
         0,
         true,
         1,
         false});
    cases.push_back({"multi-part, tiled: colour in the second part around, identifiers outside",
                     {Part("depth", EQUAL, 4, {"Z"}), Part("beauty", AROUND, 4, {"R", "G", "B"}),
                      Part("ids", OUTSIDE, 4, {"id"})},
                     1,
                     false,
                     2,
                     true});
    cases.push_back(
        {"multi-part, tiled and scanline: identifiers around, colour overlapping",
         {Part("ids", AROUND, 0, {"id"}), Part("beauty", OVERLAPPING, 4, {"R", "G", "B", "A"})},
         1,
         true,
         0,
         false});
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteTestExr(dir.File("in.exr"), c.parts);
        ExrRequest request;
        request.idChannel = "id";
        request.linear = c.linear;
        ColorImage image;
        IdImage ids;
        std::string error;
        ASSERT_EQ(ReadExr(dir.File("in.exr"), request, image, ids, error), 1) << error;
        ASSERT_EQ(image.width, DISPLAY_WIDTH);
        ASSERT_EQ(image.height, DISPLAY_HEIGHT);
        ASSERT_EQ(ids.ids.size(), size_t{DISPLAY_WIDTH * DISPLAY_HEIGHT});

        // One run for colour and identifiers of one part; the identifiers' part on its own.
        const bool together = c.idPart == c.colorPart;
        const size_t channels = (c.alpha ? 4 : 3) + (together ? 1 : 0);
        const std::vector<double> color = ReferencePixels(
            tool, dir, c.colorPart,
            std::string(c.alpha ? "R,G,B,A" : "R,G,B") + (together ? ",id" : ""), "float");
        ASSERT_EQ(color.size(), ids.ids.size() * channels);
        std::vector<double> reference;
        if (together) {
            for (size_t i = 0; i < ids.ids.size(); ++i) {
                reference.push_back(color[i * channels + channels - 1]);
            }
        } else {
            reference = ReferencePixels(tool, dir, c.idPart, "id", "uint32");
        }
        ASSERT_EQ(reference.size(), ids.ids.size());
        const TestExrPart& colorPart = c.parts[static_cast<size_t>(c.colorPart)];
        const Window stored = {"", colorPart.originX, colorPart.originY, colorPart.width,
                               colorPart.height};
        for (size_t i = 0; i < ids.ids.size(); ++i) {
            const int x = DISPLAY_X + static_cast<int>(i) % DISPLAY_WIDTH;
            const int y = DISPLAY_Y + static_cast<int>(i) / DISPLAY_WIDTH;
            SCOPED_TRACE(testing::Message() << "pixel (" << x << ", " << y << ")");
            const double* pixel = &color[i * channels];
            const uint16_t want[4] = {
                Documented16(pixel[0], !c.linear), Documented16(pixel[1], !c.linear),
                Documented16(pixel[2], !c.linear),
                c.alpha ? Documented16(pixel[3], false)
                        : static_cast<uint16_t>(Inside(stored, x, y) ? 65535 : 0)};
            for (size_t channel = 0; channel < 4; ++channel) {
                ASSERT_EQ(image.rgba[4 * i + channel], want[channel]) << "channel " << channel;
            }
            ASSERT_EQ(ids.ids[i], reference[i]);
        }
    }
}

}  // namespace

// kelvo swap: its index map read from the rule, and its files decoded by Pillow, written by
// Pillow and ImageMagick.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "kelvo/imageio/index_swap.h"
#include "tests/run_process.h"
#include "tests/temp_dir.h"

namespace {

TEST(IndexSwapTest, MappingsMoveRangesIndexByIndexOrAreRefused) {
    struct Case {
        std::vector<std::string> maps;
        std::vector<std::pair<int, int>> moves;  // source, target; every other index stays
        const char* refusal;                     // part of the error, or "" when accepted
    };
    const Case cases[] = {
        {{"80-82:160-162"}, {{80, 160}, {81, 161}, {82, 162}}, ""},
        {{"80-82:162-160"}, {{80, 162}, {81, 161}, {82, 160}}, ""},
        {{"7:9"}, {{7, 9}}, ""},
        {{"1-2:3-4", "3-4:1-2"}, {{1, 3}, {2, 4}, {3, 1}, {4, 2}}, ""},
        {{"0-255:0-255"}, {}, ""},
        {{"80-95:160-176"}, {}, "moves 16 indices onto 17"},
        {{"1-4:5-8", "4:9"}, {}, "moves index 4, which another --map moves"},
        {{"250-256:0-6"}, {}, "not FIRST-LAST:FIRST-LAST"},
        {{"80-95"}, {}, "not FIRST-LAST:FIRST-LAST"},
        {{"-1:2"}, {}, "not FIRST-LAST:FIRST-LAST"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.maps.back());
        IndexSwap swap = IdentitySwap();
        std::string error;
        bool accepted = true;
        for (const std::string& map : c.maps) {
            accepted = accepted && AddIndexMapping(map, swap, error) == 1;
        }
        EXPECT_EQ(accepted, c.refusal[0] == '\0');
        EXPECT_NE(error.find(c.refusal), std::string::npos) << error;
        if (accepted) {
            int expected[PALETTE_ENTRIES];
            for (int i = 0; i < PALETTE_ENTRIES; ++i) {
                expected[i] = i;
            }
            for (const auto& [from, to] : c.moves) {
                expected[from] = to;
            }
            for (int i = 0; i < PALETTE_ENTRIES; ++i) {
                EXPECT_EQ(swap.map[i], expected[i]) << "index " << i;
            }
            EXPECT_EQ(swap.movesIndices, !c.moves.empty());
        }
    }
}

// Writes the inputs with Pillow and ImageMagick: every format and layout swap takes.
constexpr const char* MAKE_INPUTS = R"(
import random, subprocess, sys
from PIL import Image
random.seed(7)
w, h = 37, 23
palette = [v for i in range(256) for v in (i, (i * 7) % 256, 255 - i)]
def indexed(bits):
    image = Image.new("P", (w, h))
    image.putpalette(palette[:3 << bits])
    image.putdata([random.randrange(1 << bits) if x % 3 else (x // 5) % (1 << bits)
                   for x in range(w * h)])
    return image
indexed(8).save("in.pcx")
indexed(8).save("in.png")
indexed(4).save("in4.png", bits=4)
indexed(8).save("in.bmp")
frames = [indexed(8) for _ in range(3)]
frames[0].save("in.gif", save_all=True, append_images=frames[1:], duration=[50, 70, 90],
               disposal=[1, 2, 1], loop=0, optimize=False)
subprocess.run(["convert", "in.bmp", "-compress", "RLE", "BMP3:rle.bmp"], check=True)
subprocess.run(["convert", "in.png", "-interlace", "PNG", "PNG8:interlaced.png"], check=True)
)";

// Each file's frames as Pillow decodes them: "MODE DURATION DISPOSAL PALETTE INDICES" a line,
// the palette and indices in hex.
constexpr const char* DUMP = R"(
import sys
from PIL import GifImagePlugin, Image
GifImagePlugin.LOADING_STRATEGY = GifImagePlugin.LoadingStrategy.RGB_AFTER_DIFFERENT_PALETTE_ONLY
image = Image.open(sys.argv[1])
for frame in range(getattr(image, "n_frames", 1)):
    image.seek(frame)
    print(image.mode, image.info.get("duration", 0), getattr(image, "disposal_method", 0),
          bytes(image.getpalette() or b"").hex() or "-", image.tobytes().hex())
)";

struct Decoded {
    std::string mode, duration, disposal;
    std::vector<uint8_t> palette, indices;
};

std::vector<uint8_t> FromHex(const std::string& hex) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

std::vector<Decoded> DecodeInPillow(const std::string& dump, const std::string& file) {
    const ProcessResult run = RunProcess({"/usr/bin/python3", dump, file});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    std::istringstream lines(run.out);
    std::vector<Decoded> frames;
    Decoded frame;
    std::string palette, indices;
    while (lines >> frame.mode >> frame.duration >> frame.disposal >> palette >> indices) {
        frame.palette = FromHex(palette);
        frame.indices = FromHex(indices);
        frames.push_back(frame);
    }
    return frames;
}

bool HaveTools() {
    return RunProcess({"/usr/bin/python3", "-c", "import PIL"}).exitCode == 0 &&
           std::filesystem::exists("/usr/bin/convert");
}

class SwapTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveTools()) {
            GTEST_SKIP() << "Pillow or ImageMagick missing (scripts/install-deps.sh all)";
        }
        std::ofstream(dir.File("make.py")) << MAKE_INPUTS;
        std::ofstream(dir.File("dump.py")) << DUMP;
        const ProcessResult made =
            RunProcess({"/usr/bin/python3", "-c",
                        "import os, runpy; os.chdir('" + dir.Path().string() +
                            "'); runpy.run_path('make.py')"});
        ASSERT_EQ(made.exitCode, 0) << made.err;
        // A palette file: 256 lines of "R G B", all unlike the inputs' colours.
        std::ofstream gpl(dir.File("night.gpl"));
        gpl << "GIMP Palette\n";
        for (int i = 0; i < PALETTE_ENTRIES; ++i) {
            gpl << (i * 13) % 256 << ' ' << i / 2 << ' ' << 40 + i % 100 << '\n';
            night.insert(night.end(),
                         {static_cast<uint8_t>((i * 13) % 256), static_cast<uint8_t>(i / 2),
                          static_cast<uint8_t>(40 + i % 100)});
        }
    }

    ProcessResult Swap(std::vector<std::string> args) {
        args.insert(args.begin(), {KELVO_PROGRAM, "swap"});
        return RunProcess(args);
    }

    TempDir dir;
    std::vector<uint8_t> night;
};

// A swap changes exactly the mapped indices, or the palette alone, in every format; frames,
// delays and disposal stay.
TEST_F(SwapTest, EachFormatDecodesInPillowToTheMappedIndicesAndPalette) {
    const char* files[] = {"in.pcx", "in.png",  "in4.png", "interlaced.png",
                           "in.bmp", "rle.bmp", "in.gif"};
    int map[PALETTE_ENTRIES];
    for (int i = 0; i < PALETTE_ENTRIES; ++i) {
        map[i] = i;
    }
    for (int i = 0; i < 4; ++i) {  // 1-4 and 11-14 exchanged, 200-203 reversed onto 5-8
        map[1 + i] = 11 + i;
        map[11 + i] = 1 + i;
        map[200 + i] = 8 - i;
    }
    for (const bool newPalette : {false, true}) {
        for (const char* file : files) {
            SCOPED_TRACE(std::string(file) + (newPalette ? " with --palette" : " with --map"));
            const std::string out = dir.File(std::string(newPalette ? "night-" : "map-") + file);
            const ProcessResult run =
                newPalette ? Swap({"--palette", dir.File("night.gpl"), "-o", out, dir.File(file)})
                           : Swap({"--map", "1-4:11-14", "--map", "11-14:1-4", "--map",
                                   "200-203:8-5", "--output", out, dir.File(file)});
            ASSERT_EQ(run.exitCode, 0) << run.err;
            const std::vector<Decoded> before = DecodeInPillow(dir.File("dump.py"), dir.File(file));
            const std::vector<Decoded> after = DecodeInPillow(dir.File("dump.py"), out);
            ASSERT_EQ(after.size(), before.size());
            ASSERT_FALSE(before.empty());
            for (size_t f = 0; f < before.size(); ++f) {
                // Pillow gives the later frames of a GIF with local tables as RGB: their
                // indices are not to be had, only their count, delays and disposal.
                EXPECT_EQ(after[f].mode, before[f].mode);
                if (before[f].mode != "P") {
                    continue;
                }
                EXPECT_EQ(after[f].duration, before[f].duration);
                EXPECT_EQ(after[f].disposal, before[f].disposal);
                std::vector<uint8_t> indices = before[f].indices;
                std::vector<uint8_t> palette = before[f].palette;
                if (newPalette) {
                    // All the entries a file of its depth holds (Pillow pads to 256 with black).
                    const size_t held = std::string(file) == "in4.png" ? 48 : 768;
                    palette.assign(night.begin(), night.begin() + static_cast<ptrdiff_t>(held));
                } else {
                    for (uint8_t& index : indices) {
                        index = static_cast<uint8_t>(map[index]);
                    }
                }
                EXPECT_EQ(after[f].indices, indices) << "frame " << f;
                EXPECT_EQ(after[f].palette, palette) << "frame " << f;
            }
        }
    }
}

// Bad options and inputs: a clear message, exit code 2 (nothing checked yet was written) or 1
// (the file found bad), and no output file.
TEST_F(SwapTest, BadInputsAreRefusedClearlyAndNothingIsWritten) {
    std::ofstream(dir.File("short.pcx"), std::ios::binary)
        << std::string(reinterpret_cast<const char*>(
                           std::vector<uint8_t>{10, 5, 1, 8, 0, 0, 0, 0, 99, 0, 99, 0}.data()),
                       12)
        << std::string(53, '\0') << '\x01' << 'd' << std::string(61 + 100, '\0') << '\x0c'
        << std::string(768, '\0');
    RunProcess({"/usr/bin/convert", "-size", "4x4", "xc:red", "PNG24:" + dir.File("rgb.png")});
    std::ofstream(dir.File("text.txt")) << "hello";
    struct Case {
        const char* name;
        std::vector<std::string> args;
        int exitCode;
        const char* message;
    };
    const std::string out = dir.File("out.png");
    const Case cases[] = {
        {"ranges of different lengths",
         {"--map", "1-3:4-5", "-o", out, "in.png"},
         2,
         "moves 3 indices onto 2"},
        {"a mistyped option", {"--mapp", "1:2", "-o", out, "in.png"}, 2, "did you mean --map?"},
        {"nothing to change", {"-o", out, "in.png"}, 2, "needs --map or --palette"},
        {"no output", {"--map", "1:2", "in.png"}, 2, "--output DIR-or-FILE or --in-place"},
        {"output is the input", {"--map", "1:2", "-o", "in.png", "in.png"}, 2, "is an input"},
        {"two inputs, one file",
         {"--map", "1:2", "-o", out, "in.png", "in4.png"},
         2,
         "is not a directory"},
        {"direct colour", {"--map", "1:2", "-o", out, "rgb.png"}, 2, "kelvo swap takes indexed"},
        {"not an image", {"--map", "1:2", "-o", out, "text.txt"}, 2, "PCX, BMP, PNG or GIF"},
        {"missing palette", {"--palette", "none.gpl", "-o", out, "in.png"}, 2, "none.gpl"},
        {"beyond a 4-bit PNG", {"--map", "1:16", "-o", out, "in4.png"}, 1, "holds indices 0 to 15"},
        {"PCX cut short", {"--map", "1:2", "-o", out, "short.pcx"}, 1, "is damaged"},
    };
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ProcessResult run = Swap(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_FALSE(std::filesystem::exists(out));
    }
    std::filesystem::current_path(before);
}

}  // namespace

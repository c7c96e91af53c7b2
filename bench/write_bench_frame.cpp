// kelvo_bench_frame: writes the benchmark's frame, identifiers and palette as PPM and PGM files.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_frame.h"

namespace {

// Binary PPM (P6) or PGM (P5): the header, then the samples, big-endian when maxval > 255.
int WriteNetpbm(const char* path, const char* magic, int width, int height, int maxval,
                const std::vector<uint8_t>& samples) {
    FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "kelvo_bench_frame: cannot write '%s': %s\n", path,
                     std::strerror(errno));
        return 0;
    }
    const bool written = std::fprintf(file, "%s\n%d %d\n%d\n", magic, width, height, maxval) > 0 &&
                         std::fwrite(samples.data(), 1, samples.size(), file) == samples.size();
    if (std::fclose(file) != 0 || !written) {
        std::fprintf(stderr, "kelvo_bench_frame: cannot write '%s': %s\n", path,
                     std::strerror(errno));
        return 0;
    }
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    int frameNumber = 0;
    const char* palettePath = nullptr;
    std::vector<const char*> paths;
    for (int arg = 1; arg < argc; ++arg) {
        if (std::strcmp(argv[arg], "--frame") == 0 && arg + 1 < argc) {
            frameNumber = std::atoi(argv[++arg]);
        } else if (std::strcmp(argv[arg], "--palette") == 0 && arg + 1 < argc) {
            palettePath = argv[++arg];
        } else {
            paths.push_back(argv[arg]);
        }
    }
    if (paths.size() > 2 || (paths.empty() && palettePath == nullptr)) {
        std::fprintf(stderr,
                     "usage: kelvo_bench_frame [--frame N] [--palette PALETTE.ppm] [COLOR.ppm "
                     "[IDS.pgm]]\n"
                     "  the 1920 x 1080 benchmark frame (16-bit RGB), its identifiers (8-bit\n"
                     "  grey; N moves the spheres and the noise) and its palette of ramps\n"
                     "  (16 x 16, entry i at pixel i: the file ends in the 768 palette bytes)\n");
        return 2;
    }
    if (palettePath != nullptr) {
        PaletteEntry palette[PALETTE_ENTRIES];
        SetRampPalette(palette);
        std::vector<uint8_t> bytes(reinterpret_cast<const uint8_t*>(palette),
                                   reinterpret_cast<const uint8_t*>(palette) + PALETTE_BYTES);
        if (!WriteNetpbm(palettePath, "P6", 16, 16, 255, bytes)) {
            return 1;
        }
    }
    if (paths.empty()) {
        return 0;
    }
    const BenchFrame frame = GenerateBenchFrame(BENCH_WIDTH, BENCH_HEIGHT, frameNumber);
    std::vector<uint8_t> rgb;
    rgb.reserve(frame.pixels.size() * 6);
    for (const BMM_Color_64& pixel : frame.pixels) {
        for (uint16_t channel : {pixel.r, pixel.g, pixel.b}) {
            rgb.push_back(static_cast<uint8_t>(channel >> 8));
            rgb.push_back(static_cast<uint8_t>(channel & 0xFF));
        }
    }
    if (!WriteNetpbm(paths[0], "P6", frame.width, frame.height, 65535, rgb)) {
        return 1;
    }
    if (paths.size() > 1 &&
        !WriteNetpbm(paths[1], "P5", frame.width, frame.height, 255, frame.materialIds)) {
        return 1;
    }
    return 0;
}

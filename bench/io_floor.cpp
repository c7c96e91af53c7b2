// The floor under `kelvo render`'s figures in bench/compare_peers.sh: what reading its inputs
// alone, and writing its outputs alone, take with kelvo's own readers and writer, in one
// process.
//   kelvo_io_floor decode FILE...            decodes each colour file (PNG or OpenEXR by its
//                                             first bytes, as kelvo does), a PNG into memory
//                                             kept from one frame to the next
//   kelvo_io_floor decode-ids FILE...        decodes each as an identifier pass (PNG)
//   kelvo_io_floor write W H COUNT PATTERN   writes COUNT PCX frames of W x H through the frame
//                                             file writer, named as --output names them; each
//                                             of rows of one index (runs of a frame's width),
//                                             a new index every 4 rows
// Exit code 1, with the file named, when one does not decode or write.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kelvo/imageio/exr_image.h"
#include "kelvo/imageio/png_image.h"
#include "render/frame_file.h"

namespace {

int Decode(bool ids, int count, char** files) {
    // One frame's memory, kept from frame to frame, as kelvo's frame source keeps its ring.
    DecodedFrame frame;
    for (int i = 0; i < count; ++i) {
        std::string error;
        int read = 0;
        if (ids) {
            IdImage image;
            read = ReadIdPng(files[i], image, error);
        } else {
            unsigned char head[8] = {};
            FILE* file = std::fopen(files[i], "rb");
            const size_t got = file != nullptr ? std::fread(head, 1, sizeof head, file) : 0;
            if (file != nullptr) {
                std::fclose(file);
            }
            read = LooksLikeExr(head, got)
                       ? ReadExr(files[i], ExrRequest{}, frame.color, frame.ids, error)
                       : ReadColorPng(files[i], frame.color, error);
        }
        if (!read) {
            std::fprintf(stderr, "kelvo_io_floor: %s: %s\n", files[i], error.c_str());
            return 1;
        }
    }
    return 0;
}

int Write(int width, int height, int count, const char* pattern) {
    PaletteRenderSettings settings{};
    if (width <= 0 || height <= 0 || count < 0 ||
        std::strlen(pattern) >= sizeof settings.outputName) {
        std::fprintf(stderr, "kelvo_io_floor: bad size, count or pattern\n");
        return 1;
    }
    std::strcpy(settings.outputName, pattern);
    std::vector<uint8_t> indices(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (size_t i = 0; i < indices.size(); ++i) {
        indices[i] = static_cast<uint8_t>(i / static_cast<size_t>(width) / 4);
    }
    for (int frame = 1; frame <= count; ++frame) {
        if (!WriteFrameFile(settings, frame, indices.data(), width, height)) {
            std::fprintf(stderr, "kelvo_io_floor: frame %d of %s not written\n", frame, pattern);
            return 1;
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "decode" || mode == "decode-ids") {
        return Decode(mode == "decode-ids", argc - 2, argv + 2);
    }
    if (mode == "write" && argc == 6) {
        return Write(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), argv[5]);
    }
    std::fprintf(stderr,
                 "usage: kelvo_io_floor decode FILE... | decode-ids FILE... | "
                 "write WIDTH HEIGHT COUNT PATTERN\n");
    return 2;
}

// `kelvo render --gif`: one animated GIF of a rendered sequence, made from its frame files.
#include "kelvo/batch/sequence_gif.h"

#include <cmath>
#include <cstring>

#include "kelvo/imageio/gif_animation.h"
#include "kelvo/os/interrupt.h"

int GifDelayCentiseconds(double fps) {
    const double delay = std::round(100.0 / fps);
    return delay < 1.0 ? 1 : delay > 65535.0 ? 65535 : static_cast<int>(delay);
}

int ReadSequenceFrame(const FramePlan& plan, const PaletteEntry* palette, PcxFrame& frame,
                      std::string& error) {
    if (!ReadPcxFrame(plan.file.c_str(), frame)) {
        error = "frame file '" + plan.file + "' does not read back";
        return 0;
    }
    if (std::memcmp(frame.palette, palette, PALETTE_BYTES) != 0) {
        error = "frame file '" + plan.file + "' has another palette";
        return 0;
    }
    return 1;
}

int WriteSequenceGif(const std::string& path, const std::vector<FramePlan>& plans,
                     const PaletteEntry* palette, int delayCentiseconds, int transparentIndex,
                     int scale, std::string& error) {
    if (plans.empty()) {
        error = "no frames";
        return 0;
    }
    PcxFrame frame;
    const auto read = [&plans, &frame, palette](size_t index, std::string& problem) {
        return ReadSequenceFrame(plans[index], palette, frame, problem);
    };
    if (!read(0, error)) {
        return 0;
    }
    GifAnimation gif;
    gif.width = frame.width;
    gif.height = frame.height;
    gif.palette = palette;
    gif.delayCentiseconds = delayCentiseconds;
    gif.transparentIndex = transparentIndex;
    gif.frameCount = plans.size();
    gif.scale = scale;
    return WriteGifAnimation(
        path, gif,
        [&](size_t index, std::vector<uint8_t>& indices, std::string& problem) {
            if (InterruptRequested()) {
                problem = "interrupted";
                return 0;
            }
            if (index > 0 && !read(index, problem)) {
                return 0;
            }
            if (frame.width != gif.width || frame.height != gif.height) {
                problem = "frame file '" + plans[index].file + "' is " +
                          std::to_string(frame.width) + " x " + std::to_string(frame.height) +
                          " pixels, the first " + std::to_string(gif.width) + " x " +
                          std::to_string(gif.height) + "; one GIF holds frames of one size";
                return 0;
            }
            indices.swap(frame.indices);
            return 1;
        },
        error);
}

// Where an OpenEXR frame lies: its display or data window, and where stored pixels land in it.
#pragma once

#include <ImfMultiPartInputFile.h>
#include <ImfPixelType.h>
#include <half.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "kelvo/imageio/exr_layers.h"

// Rows read from a part at a time: every chunk height the library writes (1, 16, 32, 256
// lines) divides or is a multiple of it, so strips start on chunk boundaries, and the
// library keeps a chunk decoded for the next strip.
constexpr int STRIP_ROWS = 64;

// "W x H", for messages.
std::string SizeText(int64_t width, int64_t height);

// Where a frame comes from in an open file, and its window.
struct ExrFramePlan {
    std::vector<std::string> views;
    std::string view;
    ExrColorSource color;
    Imath::Box2i window;
};

// Finds the view and the colour channels `request` asks for, and the frame's window; refuses
// a window no frame can have and one beyond the pixel budget.
int PlanFrame(Imf::MultiPartInputFile& file, const ExrRequest& request, ExrFramePlan& plan,
              std::string& error);

// One channel read from a part, a strip of rows at a time.
struct ExrPlane {
    std::string channel;
    Imf::PixelType type;
    float fill;
    std::vector<float> floats;
    std::vector<uint32_t> uints;
    std::vector<Imath::half> halves;
};

// Reads the rows of `part` that meet `frame`, STRIP_ROWS at a time, into the planes (each
// strip as wide as the part's data window) and hands `store` each strip's rows, as the box
// of the data window they cover. Stops when `store` returns 0, and returns that.
int ReadRowsInFrame(Imf::MultiPartInputFile& file, int part, const Imath::Box2i& frame,
                    const std::vector<ExrPlane*>& planes,
                    const std::function<int(const Imath::Box2i& strip)>& store);

// Calls `pixel(stripIndex, frameIndex, frameX, frameY)` for every pixel of `strip` that lies
// in `frame`, row by row.
template <typename PixelFunction>
int ForEachPixelInFrame(const Imath::Box2i& strip, const Imath::Box2i& frame, PixelFunction pixel) {
    const int left = std::max(strip.min.x, frame.min.x);
    const int right = std::min(strip.max.x, frame.max.x);
    const auto stripWidth = static_cast<size_t>(int64_t{strip.max.x} - strip.min.x + 1);
    const auto frameWidth = static_cast<size_t>(int64_t{frame.max.x} - frame.min.x + 1);
    for (int y = std::max(strip.min.y, frame.min.y); y <= std::min(strip.max.y, frame.max.y); ++y) {
        const auto frameY = static_cast<size_t>(int64_t{y} - frame.min.y);
        const size_t stripRow = static_cast<size_t>(int64_t{y} - strip.min.y) * stripWidth;
        for (int x = left; x <= right; ++x) {
            const auto frameX = static_cast<size_t>(int64_t{x} - frame.min.x);
            if (!pixel(stripRow + static_cast<size_t>(int64_t{x} - strip.min.x),
                       frameY * frameWidth + frameX, frameX, frameY)) {
                return 0;
            }
        }
    }
    return 1;
}

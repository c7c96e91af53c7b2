// Decodes OpenEXR files (multi-part, multi-layer and multi-view) to 16-bit RGBA and identifiers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kelvo/imageio/frame_image.h"

// Which window of the colour's part is the frame.
enum ExrWindow {
    // The display window: stored pixels at their place in it, the rest empty. What renderers
    // and compositors mean by the frame; a border render or an auto-cropped sprite keeps its
    // place and the frame its size.
    EXR_WINDOW_DISPLAY,
    EXR_WINDOW_DATA,  // the data window, whatever the display window
};

// A display window is backed by no stored pixel, so a file of a few bytes can claim any size:
// frames made from one hold at most this many pixels (16384 x 16384), refused before anything
// is allocated.
constexpr int64_t EXR_DISPLAY_MAX_PIXELS = int64_t{1} << 28;

struct ExrRequest {
    std::string layer;      // colour channels LAYER.R, LAYER.G, ...; empty: R, G, B, A
    std::string idChannel;  // channel holding the identifiers; empty: none
    bool linear = false;    // skip the sRGB transfer function
    int maxId = 65535;      // identifiers above this (or below 0) are refused
    ExrWindow window = EXR_WINDOW_DISPLAY;
    std::string view{};  // the view to read from a multi-view file; empty: its default view
    // The identifier of frame pixels outside the identifier channel's data window: kelvo's
    // --background-id, when given.
    uint16_t outsideId = 0;
    // Frames of more pixels are refused from the headers, and so are parts whose decoding
    // would take more memory than such a frame (FRAME_BYTES_PER_PIXEL a pixel).
    int64_t maxPixels = DEFAULT_MAX_PIXELS;
    // When set, 65536 entries: a stored identifier v, once within maxId, stands for
    // standsFor[v] (kelvo's --id-map). `outsideId` is not looked up: it is an identifier.
    const uint16_t* standsFor = nullptr;
};

// The colour channels are looked for in every part, first part first: R, G, B (and A when
// present, else 65535), or with `layer` LAYER.R and so on, or the R, G, B of a part named
// LAYER. A file with no R, G, B but a Y channel is read as grey. In a multi-view file only
// the channels and parts of the view are looked at. Colour values go through the sRGB transfer
// function (unless `linear`), are clamped to 0..1 and scaled to 0..65535 with rounding; alpha
// is clamped and scaled only. Identifiers are rounded to the nearest integer.
// The frame is the colour part's display window (or data window, as `request.window` says):
// every stored pixel, colour and identifier alike, lands at its place in it; frame pixels
// that a part does not store are colour 0 with alpha 0 and identifier `outsideId`; stored
// pixels outside it are dropped. Deep parts, luminance/chroma images and subsampled channels
// are refused with that reason. Sizes are checked by the library's checking core reader before
// the full reader, which trusts them, may allocate. On 0, `error` holds the reason.
[[nodiscard]] int ReadExr(const std::string& path, const ExrRequest& request, ColorImage& image,
                          IdImage& ids, std::string& error);

// What ReadExr would make of a file, from its headers alone; 0 (and `error`) for every
// refusal the headers show: no colour or identifier channel, a deep part, subsampling, a
// window out of bounds.
struct ExrFrameInfo {
    int width = 0;  // the frame's size
    int height = 0;
    std::vector<std::string> views;  // the file's views, the default first; empty: none
    std::string view;                // the view read; empty when the file has none
};
[[nodiscard]] int ReadExrFrameInfo(const std::string& path, const ExrRequest& request,
                                   ExrFrameInfo& info, std::string& error);

// The 16-bit value of one colour channel value, as ReadExr computes it.
uint16_t ExrColorTo16(float value, bool linear);

// True when the file starts with the OpenEXR magic number.
bool LooksLikeExr(const unsigned char* head, size_t size);

// Writes palettised frames as one animated GIF with one global 256-entry colour table, with
// giflib (gif_animation_giflib.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "pcx/byte_sink.h"
#include "pcx/palette.h"

struct GifAnimation {
    int width = 0;  // every frame's size; times `scale`, 1..65535
    int height = 0;
    int scale = 1;  // each index is drawn as scale x scale pixels, 1 or more
    const PaletteEntry* palette = nullptr;  // 256 entries
    int delayCentiseconds = 8;              // each frame's time on screen, 1..65535
    int transparentIndex = -1;              // 0..255, or -1 for none
    size_t frameCount = 0;
};

// Fills `indices` with frame `index`'s width x height indices, row 0 first; 0, with `error`
// saying why, when it cannot.
using GifFrameSource =
    std::function<int(size_t index, std::vector<uint8_t>& indices, std::string& error)>;

// Encodes a GIF89a file into `sink`: a logical screen of the frames' size (times the scale) whose
// global colour table holds the palette's 256 entries in order (the background colour is the
// transparent index, or 0), the NETSCAPE2.0 extension that loops forever, then each frame in order,
// asked of `frames` one at a time: a graphic control extension with the delay and the transparent
// index (when there is one: then each frame is cleared before the next, so that no earlier
// frame shows through), and the whole frame at (0, 0) without a local colour table, not
// interlaced, enlarged by repeating each index `scale` times across and each row `scale` times. On
// 0, `error` says why: the frame source's reason, or giflib's.
[[nodiscard]] int EncodeGifAnimation(const GifAnimation& gif, const GifFrameSource& frames,
                                     ByteSink& sink, std::string& error);

// EncodeGifAnimation into `path` through a temporary file beside it that replaces it only when
// complete (giflib's own file opening would make it readable by its owner alone). On 0,
// `error` holds the reason and `path` is as it was.
[[nodiscard]] int WriteGifAnimation(const std::string& path, const GifAnimation& gif,
                                    const GifFrameSource& frames, std::string& error);

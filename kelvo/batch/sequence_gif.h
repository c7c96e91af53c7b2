// `kelvo render --gif`: one animated GIF of a rendered sequence, made from its frame files.
#pragma once

#include <string>
#include <vector>

#include "kelvo/batch/render_driver.h"
#include "pcx/palette.h"
#include "pcx/pcx_frame_reader.h"

// The largest --gif-scale: a GIF of frames enlarged more is better made by a viewer's zoom.
constexpr int MAX_GIF_SCALE = 16;

// --fps's frame rate as the GIF's delay between frames, in hundredths of a second: 100 / fps
// rounded, 1 at least. A GIF cannot time frames more finely, so 24 fps plays at 25.
int GifDelayCentiseconds(double fps);

// Reads back the frame file of `plan` for a file made of the whole sequence: 0, with `error`
// naming the file, when it does not decode or its palette is not `palette`.
[[nodiscard]] int ReadSequenceFrame(const FramePlan& plan, const PaletteEntry* palette,
                                    PcxFrame& frame, std::string& error);

// Writes `path` (all or nothing) from the frame files of `plans`, in their order, after every
// one was written and checked: reading them back keeps one frame in memory at a time, however
// long the sequence, whether one process or many rendered them. Every frame must have the
// size of the first and `palette` as its palette; each pixel is drawn as `scale` x `scale`
// (1..MAX_GIF_SCALE) pixels of the GIF, which the caller has seen fits 65535 a side; the
// interrupt flag stops the writing. On 0, `error` says why and `path` is as it was.
[[nodiscard]] int WriteSequenceGif(const std::string& path, const std::vector<FramePlan>& plans,
                                   const PaletteEntry* palette, int delayCentiseconds,
                                   int transparentIndex, int scale, std::string& error);

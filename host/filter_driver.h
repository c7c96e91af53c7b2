// What the host does with one filter: store and restore its block, and render a frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/render_window.h"
#include "hostapi/host_api.h"

// The filter's settings block as the host stores it: ConfigBlockSize bytes filled by
// SaveConfigBlock. 0, with `block` emptied, when the filter refuses.
[[nodiscard]] int SaveFilterBlock(ImageFilter& filter, std::vector<uint8_t>& block);

// Hands a stored block back to the filter. 0 when its size is not the filter's block size or
// the filter refuses it; the filter then keeps its settings.
[[nodiscard]] int LoadFilterBlock(ImageFilter& filter, const void* block, size_t size);

// Renders one frame in place: gives the filter `frame` and the frame number, calls RenderFrame
// with the window, and takes both back afterwards. Returns RenderFrame's result.
int RenderFilterFrame(ImageFilter& filter, Bitmap& frame, int frameNumber, RenderWindow& window);

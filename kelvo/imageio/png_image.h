// Decodes PNG files: colour frames to 16-bit RGBA, identifier passes to IDs. libpng does the
// decoding on every system (png_image_libpng.cpp), so every build accepts and refuses the same
// files.
#pragma once

#include <string>

#include "kelvo/imageio/frame_image.h"

// Any PNG: grey, grey+alpha, RGB, RGBA or palette, 1 to 16 bits. Palettes and low bit depths
// are expanded; 8-bit values v become v x 257; missing alpha is 65535. Values are taken as
// stored: no gamma correction. On 0, `error` holds the reason.
[[nodiscard]] int ReadColorPng(const std::string& path, ColorImage& image, std::string& error);

// A grey PNG of 8 or 16 bits whose values are the identifiers, taken as stored (not scaled).
[[nodiscard]] int ReadIdPng(const std::string& path, IdImage& image, std::string& error);

// True when the file starts with the PNG signature.
bool LooksLikePng(const unsigned char* head, size_t size);

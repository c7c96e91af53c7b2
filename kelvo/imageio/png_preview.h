// Writes a palettised frame as an 8-bit indexed PNG that carries the palette, with libpng
// (png_preview_libpng.cpp).
#pragma once

#include <cstdint>
#include <string>

#include "pcx/palette.h"

// Writes through a temporary file beside `path` that replaces it only when complete. On 0,
// `error` holds the reason and `path` is as it was.
[[nodiscard]] int WriteIndexedPng(const std::string& path, const uint8_t* indices, int width,
                                  int height, const PaletteEntry* palette, std::string& error);

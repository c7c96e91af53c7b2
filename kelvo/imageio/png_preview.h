// Writes a palettised frame as an 8-bit indexed PNG that carries the palette, with libpng
// (png_preview_libpng.cpp).
#pragma once

#include <cstdint>
#include <string>

#include "pcx/palette.h"

// Writes width x height indices, row 0 first, as an 8-bit indexed PNG whose PLTE holds all 256
// entries of `palette` in order. A `transparentIndex` of 0..255 adds a tRNS chunk that makes
// that entry, and only it, transparent; -1 adds none. Writes through a temporary file beside
// `path` that replaces it only when complete. On 0, `error` holds the reason and `path` is as
// it was.
[[nodiscard]] int WriteIndexedPng(const std::string& path, const uint8_t* indices, int width,
                                  int height, const PaletteEntry* palette, int transparentIndex,
                                  std::string& error);

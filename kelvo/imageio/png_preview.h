// Writes PNG files with libpng (png_preview_libpng.cpp): a palettised frame as an 8-bit
// indexed PNG that carries the palette; a frame's own colour and identifiers as a renderer
// writes them, for the demo's inputs.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "kelvo/imageio/frame_image.h"
#include "pcx/palette.h"

// Writes width x height indices, row 0 first, as an 8-bit indexed PNG whose PLTE holds all 256
// entries of `palette` in order. A `transparentIndex` of 0..255 adds a tRNS chunk that makes
// that entry, and only it, transparent; -1 adds none. Writes through a temporary file beside
// `path` that replaces it only when complete. On 0, `error` holds the reason and `path` is as
// it was.
[[nodiscard]] int WriteIndexedPng(const std::string& path, const uint8_t* indices, int width,
                                  int height, const PaletteEntry* palette, int transparentIndex,
                                  std::string& error);

// Gives row `y` (0 first) of an indexed image being written: its width indices, to be read
// before the next call; null, with `error` saying why, when it cannot.
using IndexedRowSource = std::function<const uint8_t*(int y, std::string& error)>;

// WriteIndexedPng of rows asked of `rows` one at a time, in order, so that an image larger than
// the memory at hand can be written. On 0, `error` holds the source's reason or the writer's.
[[nodiscard]] int WriteIndexedPngRows(const std::string& path, int width, int height,
                                      const PaletteEntry* palette, int transparentIndex,
                                      const IndexedRowSource& rows, std::string& error);

// Writes `image` as a 16-bit RGBA PNG (its values as stored), all or nothing as above.
[[nodiscard]] int WriteColorPng(const std::string& path, const ColorImage& image,
                                std::string& error);

// Writes `ids` as an 8-bit grey PNG, all or nothing as above: an identifier pass as renderers
// save one. Refused (0) when an identifier is above 255.
[[nodiscard]] int WriteIdPng(const std::string& path, const IdImage& ids, std::string& error);

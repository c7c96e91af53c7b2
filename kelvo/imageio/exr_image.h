// Decodes OpenEXR files (multi-part and multi-layer) to 16-bit RGBA and identifiers.
#pragma once

#include <string>

#include "kelvo/imageio/frame_image.h"

struct ExrRequest {
    std::string layer;      // colour channels LAYER.R, LAYER.G, ...; empty: R, G, B, A
    std::string idChannel;  // channel holding the identifiers; empty: none
    bool linear = false;    // skip the sRGB transfer function
    int maxId = 65535;      // identifiers above this (or below 0) are refused
};

// The colour channels are looked for in every flat (not deep) part, first part first: R, G, B
// (and A when present, else 65535), or with `layer` LAYER.R and so on, or the R, G, B of a
// part named LAYER. A file with no R, G, B but a Y channel is read as grey. Colour values
// go through the sRGB transfer function (unless `linear`), are clamped to 0..1 and scaled to
// 0..65535 with rounding; alpha is clamped and scaled only. Identifiers are rounded to the
// nearest integer. On 0, `error` holds the reason.
[[nodiscard]] int ReadExr(const std::string& path, const ExrRequest& request, ColorImage& image,
                          IdImage& ids, std::string& error);

// The 16-bit value of one colour channel value, as ReadExr computes it.
uint16_t ExrColorTo16(float value, bool linear);

// True when the file starts with the OpenEXR magic number.
bool LooksLikeExr(const unsigned char* head, size_t size);

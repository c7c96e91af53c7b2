// Uniform mapping of whole rows: the same IEEE double operations per pixel as UniformIndex
// and DitheredIndex, for many pixels at a time where the processor allows.
#pragma once

#include <cstdint>

#include "hostapi/host_api.h"
#include "plugin/settings.h"
#include "render/palette_mapping.h"

// Uniform mapping of one range: level = trunc(levels x luminance / 65536), then
// first + level without dither, or first + level / 2 (+1 on odd levels at odd pixels)
// with dither; `levels` is n or m, `shift` 0 or 1.
struct UniformStep {
    double levelsOver65536;  // exact: dividing by a power of two never rounds here
    int32_t first;
    int32_t shift;
};

// The steps of a range: trunc(levels x L / 65536) is trunc((levels / 65536) x L), bit for
// bit, because scaling by a power of two commutes with rounding.
UniformStep UniformStepOf(const ColorRange& range);

// The index of one pixel (x, y) in the range of `step`.
inline int UniformStepIndex(const UniformStep& step, const BMM_Color_64& pixel, int x, int y) {
    const int level = static_cast<int>(step.levelsOver65536 * Luminance(pixel.r, pixel.g, pixel.b));
    // level / 2 truncated toward zero, as a shift: add 1 to negative levels first.
    const int half = (level + ((level >> 31) & step.shift)) >> step.shift;
    const int odd = level & step.shift & (x + y);
    const int index = step.first + half + odd;
    // Only a dithered reversed range from 255 reaches 256; DitheredIndex keeps it 255.
    return index > 255 ? 255 : index;
}

// How a row is worked: one pixel at a time, four at a time in two-lane SSE2 registers, or
// four at a time in one AVX2 register. Every kernel gives every pixel the same index.
enum class UniformKernel { SCALAR, SSE2, AVX2 };

// Whether this build and processor can run `kernel`.
bool UniformKernelAvailable(UniformKernel kernel);
// The fastest kernel available.
UniformKernel FastestUniformKernel();

// The indices of `count` pixels of row y from column 0; `steps` holds one step per range,
// and identifiers beyond the ranges use range 0.
void MapUniformRow(UniformKernel kernel, const UniformStep* steps, const BMM_Color_64* pixels,
                   const uint8_t* ids, int count, int y, uint8_t* indices);
void MapUniformRow(UniformKernel kernel, const UniformStep* steps, const BMM_Color_64* pixels,
                   const uint16_t* ids, int count, int y, uint8_t* indices);

// Colour conversion of OpenEXR values: clamping, the sRGB transfer function, half tables.
#pragma once

#include <cstdint>

// `value` clamped to 0..1; NaN is 0.
float ClampUnit(double value);

// A value of 0..1 scaled to 0..65535, rounded.
uint16_t ScaleTo16(double unit);

// ExrColorTo16 of every half value, by its bits: with `linear`, the value clamped and scaled
// (which is what alpha takes too); without, sRGB-encoded first. Built on first use.
const uint16_t* HalfTo16Table(bool linear);

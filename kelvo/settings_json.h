// Shows a settings block as JSON for `kelvo settings show`.
#pragma once

#include <string>

#include "kelvo/settings_edit.h"

// version, source, outputName, method (the stored codes, uncorrected), palette (256 [r, g, b]
// triples) and ranges (16 {first, last, dither}). The output name ends at its first NUL or
// at the field's end; bytes that are not UTF-8 are shown as \u00XX.
std::string FormatSettingsJson(const SettingsBlock& block);

// The built-in demo: a short animation computed in code, with its palette and ranges.
#pragma once

#include <vector>

#include "kelvo/cli_options.h"
#include "kelvo/imageio/frame_image.h"
#include "pcx/palette.h"

constexpr int DEMO_WIDTH = 320;
constexpr int DEMO_HEIGHT = 240;
constexpr int DEMO_FRAMES = 24;

// One shading ramp per object identifier, dark to bright: sky 0, floor 1, spheres 2 to 5, and
// a grey ramp in the remaining entries.
void BuildDemoPalette(PaletteEntry* palette);

// The range of each identifier over its ramp, dithered.
std::vector<RangeEdit> DemoRanges();

// Frame `frame` (0 .. DEMO_FRAMES - 1): a floor and four spheres, one bouncing, lit by a light
// circling the scene once per animation; ray traced with shadows. The colour is the shading
// as grey (sRGB-encoded); the identifiers say which object each pixel shows.
void RenderDemoFrame(int frame, DecodedFrame& out);

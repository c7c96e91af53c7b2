// What a `kelvo render` run asks for and what the filter was configured with: what each stage
// of the run reads.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kelvo/batch/input_options.h"
#include "kelvo/batch/levels.h"
#include "plugin/settings.h"
#include "render/range_choices.h"

// A stage's exit code when the run goes on to the next stage; any other ends the run with it,
// the stage having said why.
constexpr int RUN_GOES_ON = -1;

// The options of a run, as the command line and the settings text settle them; what only
// configures the filter (the settings file and its edits) is not here.
struct RenderRequest {
    // What the ranges ask beyond the block, settled from the base and the edits when the
    // filter is configured (empty until then).
    RangeChoices choices;
    std::string saveSettingsFile;
    InputOptions input;  // its maxId is set from the settings when the frames are planned;
                         // --max-pixels sets its maxPixels
    std::optional<int> start;
    // --frames LIST: the frames, ascending, that the one COLOR pattern gives files for.
    std::optional<std::vector<int>> frames;
    std::string framesList;           // as given, for messages
    bool skipExisting = false;        // leave frames whose file is already complete
    std::string previewPattern;       // --png, or its first name --preview: indexed PNG per frame
    std::string bmpPattern;           // --bmp: 8-bit BMP per frame
    bool bmpRle = false;              // --bmp-rle
    std::string gifFile;              // --gif: one animated GIF of the sequence
    std::optional<double> fps;        // --fps; unset: 12
    std::optional<int> gifScale;      // --gif-scale, 1..16; unset: 1
    std::string sheetFile;            // --sheet: every frame in one indexed PNG grid
    std::optional<int> columns;       // --columns; unset: the square root of the frames, rounded up
    std::optional<int> sheetPadding;  // --sheet-padding, in pixels; unset: 0
    int transparentIndex = -1;        // --transparent, or the settings text's; -1: none
    bool transparentGiven = false;    // --transparent was on the command line
    bool levelsAuto = false;          // --levels auto
    LevelSpans levels;  // --levels ID:LOW-HIGH, which wins over auto for its identifier
    bool quiet = false;
    int jobs = 0;  // worker processes; 0: one per processor
    // Decoded frames kept from the input check for the render, in MiB over all workers;
    // frames beyond it are decoded again when they render. Unset: the default.
    std::optional<long long> frameCacheMib;
    // A worker that takes longer on one frame is ended and that frame not written; unset: no
    // limit. Set, frames render in worker processes even for -j 1 or a single frame.
    std::optional<int> frameTimeoutSeconds;
    std::vector<std::string> colorFiles;
};

// The configured filter's settings, as it gave them back.
struct FilterSettings {
    std::array<uint8_t, SETTINGS_BLOCK_SIZE> block{};
    PaletteRenderSettings settings{};  // the block's bytes
    // A stored block's ranges count as set; so do the ranges of the nearest-colour default.
    bool rangeSet[RANGE_COUNT] = {};
};

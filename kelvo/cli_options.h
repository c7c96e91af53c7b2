// Parses kelvo's command lines into plain option records; touches no file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kelvo/batch/input_options.h"
#include "kelvo/batch/levels.h"
#include "kelvo/imageio/palette_file.h"
#include "kelvo/settings_text.h"
#include "render/range_choices.h"

// One --range ID:FIRST-LAST[:dither]: replaces the whole record of identifier `id`.
struct RangeEdit {
    int id = 0;
    int first = 0;
    int last = 0;
    bool dither = false;
};

// Changes to a settings block, applied over a base block (the defaults or --settings FILE).
struct SettingsEdits {
    std::string paletteFile;                          // empty: keep the palette
    PaletteDepth paletteDepth = PALETTE_DEPTH_GUESS;  // --palette-depth 6|8
    std::vector<RangeEdit> ranges;                    // applied in the order given
    std::optional<int32_t> method;
    std::optional<int32_t> source;
    std::optional<std::string> outputName;  // as the filter stores it: '#' taken out
    std::string outputNote;                 // a word on how frames will be named; may be empty
};

struct RenderOptions {
    bool help = false;
    std::string settingsFile;  // empty: start from the defaults
    SettingsEdits edits;
    std::string saveSettingsFile;
    InputOptions input;  // its maxId is set from the settings, after parsing; --max-pixels
                         // sets its maxPixels
    std::optional<int> start;
    // --frames LIST: the frames, ascending, that the one COLOR pattern gives files for.
    std::optional<std::vector<int>> frames;
    std::string framesList;      // as given, for messages
    bool skipExisting = false;   // leave frames whose file is already complete
    std::string previewPattern;  // --png, or its first name --preview: indexed PNG per frame
    std::string bmpPattern;      // --bmp: 8-bit BMP per frame
    bool bmpRle = false;         // --bmp-rle
    std::string gifFile;         // --gif: one animated GIF of the sequence
    std::optional<double> fps;   // --fps; unset: 12
    int transparentIndex = -1;   // --transparent; -1: none
    // --alpha-threshold, 0..1; sets input.alphaBelow, with --background-id (input.backgroundId)
    std::optional<double> alphaThreshold;
    bool levelsAuto = false;  // --levels auto
    LevelSpans levels;        // --levels ID:LOW-HIGH, which wins over auto for its identifier
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

struct SettingsNewOptions {
    bool help = false;
    SettingsEdits edits;
    std::string outputFile;
};

// Both return 1 when the arguments (after the command words) are well formed. On 0, `error`
// says what is wrong. A --help anywhere sets `help` and ends parsing with 1.
[[nodiscard]] int ParseRenderOptions(const std::vector<std::string>& args, RenderOptions& options,
                                     std::string& error);
[[nodiscard]] int ParseSettingsNewOptions(const std::vector<std::string>& args,
                                          SettingsNewOptions& options, std::string& error);

// --palette-depth's value: "6" or "8".
[[nodiscard]] int ParsePaletteDepth(const std::string& text, PaletteDepth& depth,
                                    std::string& error);

// Takes into `options` what a settings text chose and the command line did not: the command
// line wins, option by option (the identifier map and the reserved entries as a whole, levels
// and ranges per identifier: a --range replaces the text's choices for its identifier). Into
// `ranges` go the text's range choices. Then works out again what CheckRenderOptions works
// out of them. 0, with `error` saying why, when an alpha threshold has no background
// identifier.
[[nodiscard]] int MergeSettingsChoices(const SettingsChoices& text, RenderOptions& options,
                                       RangeChoices& ranges, std::string& error);

// ID:FIRST-LAST or ID:FIRST-LAST:dither, ID 0..15, indices 0..255.
[[nodiscard]] int ParseRange(const std::string& text, RangeEdit& range, std::string& error);

// A decimal number with an optional fraction ("12", "0.5", ".25"; no sign or exponent)
// within [minimum, maximum].
[[nodiscard]] int ParseDecimal(const std::string& text, double minimum, double maximum,
                               double& value);

// A decimal integer within [minimum, maximum], with an optional sign and nothing else.
[[nodiscard]] int ParseInteger(const std::string& text, long long minimum, long long maximum,
                               long long& value);

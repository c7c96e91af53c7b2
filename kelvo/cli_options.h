// Parses kelvo's command lines into plain option records; touches no file.
#pragma once

#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "kelvo/batch/input_options.h"
#include "kelvo/batch/levels.h"
#include "kelvo/imageio/palette_file.h"
#include "kelvo/settings_text.h"
#include "render/range_choices.h"

// One --range ID:SPANS[:METHOD][:DITHER[:STRENGTH]]: replaces the whole record of identifier
// `id` and its range choice. The block gets what it can hold: the first span's bounds and the
// checkerboard flag.
struct RangeEdit {
    RangeEdit() = default;
    // The block's record alone, or with a choice: {id, first, last, dither[, choice]}.
    RangeEdit(int id_, int first_, int last_, bool dither_, RangeChoice choice_ = {})
        : id(id_), first(first_), last(last_), dither(dither_), choice(std::move(choice_)) {}

    int id = 0;
    int first = 0;
    int last = 0;
    bool dither = false;
    // What the block cannot hold: every span when there are several, a method, a pattern other
    // than the checkerboard or none, and its strength.
    RangeChoice choice;
};

// Changes to a settings block, applied over a base block (the defaults or --settings FILE).
struct SettingsEdits {
    std::string paletteFile;                          // empty: keep the palette
    PaletteDepth paletteDepth = PALETTE_DEPTH_GUESS;  // --palette-depth 6|8
    std::vector<RangeEdit> ranges;                    // applied in the order given
    // --reserve: replaces the base's reserved entries; unset: keeps them.
    std::optional<std::bitset<PALETTE_ENTRIES>> reserved;
    std::string reservedList;  // the --reserve lists as given, joined by ',', for messages
    std::optional<int32_t> method;
    std::optional<int32_t> source;
    std::optional<std::string> outputName;  // as the filter stores it: '#' taken out
    std::string outputNote;                 // a word on how frames will be named; may be empty
};

struct RenderOptions {
    bool help = false;
    std::string settingsFile;  // empty: start from the defaults
    SettingsEdits edits;
    // What the ranges ask beyond the block, settled from the base and the edits when the run is
    // planned (empty until then).
    RangeChoices choices;
    std::string saveSettingsFile;
    InputOptions input;  // its maxId is set from the settings, after parsing; --max-pixels
                         // sets its maxPixels
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
    int transparentIndex = -1;        // --transparent; -1: none
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

// ID:SPANS[:METHOD][:DITHER[:STRENGTH]], ID 0..15. SPANS: A-B or A, indices 0..255, joined
// by ','. METHOD: uniform or nearest. DITHER: dither or checker (the checkerboard), none,
// bayer4 or bayer8; STRENGTH 0..1 only after bayer4 or bayer8, and no pattern but none after
// nearest.

// Takes into `options` what a settings text chose and the command line did not: the command
// line wins, option by option (the identifier map as a whole, levels per identifier). The
// text's range choices and reserved entries are settled with the command line's --range and
// --reserve by ConfigureFilter. Then works out again what CheckRenderOptions works out of
// them. 0, with `error` saying why, when an alpha threshold has no background identifier.
[[nodiscard]] int MergeSettingsChoices(const SettingsChoices& text, RenderOptions& options,
                                       std::string& error);
[[nodiscard]] int ParseRange(const std::string& text, RangeEdit& range, std::string& error);

// --reserve's LIST: N or A-B (either way round), indices 0..255, joined by ','; added to
// `reserved`.
[[nodiscard]] int ParseReserveList(const std::string& text, std::bitset<PALETTE_ENTRIES>& reserved,
                                   std::string& error);

// A decimal number with an optional fraction ("12", "0.5", ".25"; no sign or exponent)
// within [minimum, maximum].
[[nodiscard]] int ParseDecimal(const std::string& text, double minimum, double maximum,
                               double& value);

// A decimal integer within [minimum, maximum], with an optional sign and nothing else.
[[nodiscard]] int ParseInteger(const std::string& text, long long minimum, long long maximum,
                               long long& value);

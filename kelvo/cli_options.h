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
#include "kelvo/batch/render_request.h"
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

// `kelvo render`'s command line: the run's request, and what configures the filter.
struct RenderOptions : RenderRequest {
    bool help = false;
    std::string settingsFile;  // empty: start from the defaults
    SettingsEdits edits;
    // --alpha-threshold, 0..1; sets input.alphaBelow, with --background-id (input.backgroundId)
    std::optional<double> alphaThreshold;
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

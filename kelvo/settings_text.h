// The settings of a render as readable text (TOML): the block's fields and kelvo's own choices.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kelvo/batch/levels.h"
#include "kelvo/imageio/palette_file.h"
#include "plugin/settings.h"
#include "render/range_choices.h"

// What kelvo may be told besides the block: the ranges' choices and the options that change
// pixels or outputs. Unset fields leave the command line's defaults.
struct SettingsChoices {
    RangeChoices ranges;
    std::array<std::optional<LevelSpan>, RANGE_COUNT> levels;  // [[range]] levels
    bool levelsAuto = false;                                   // [input] levels = "auto"
    std::optional<int> backgroundId;                           // 0..65535
    std::optional<double> alphaThreshold;                      // 0..1
    std::vector<std::pair<uint16_t, uint16_t>> idMap;          // stored value, identifier
    std::optional<int> transparentIndex;                       // 0..255
    bool bmpRle = false;
    std::optional<double> fps;  // above 0, up to 100
    std::string sheetFile;      // [output] sheet; "": none
    std::optional<int> sheetColumns;
    std::optional<int> sheetPadding;
    std::optional<int> gifScale;

    // One item per thing a settings block cannot hold ("range 3's spans 80-87, 120-127"), in
    // the text's order; empty when the block says everything.
    std::vector<std::string> BeyondBlock(const PaletteRenderSettings& settings) const;
};

// A settings text as read: `settings` holds the block's fields (the palette too, unless
// `paletteFile` names the file that holds it, relative to the text's own file).
struct SettingsText {
    PaletteRenderSettings settings;
    std::string paletteFile;
    PaletteDepth paletteDepth = PALETTE_DEPTH_GUESS;
    SettingsChoices choices;
};

// Reads `text` over `parsed`, whose `settings` hold the block the text starts from (the
// filter's defaults): a key the text leaves out keeps its value there. Refuses text that is
// not TOML, unknown keys (naming those known) and values out of their range; on 0, `error`
// is "NAME:LINE: what is wrong" and `parsed` may be partly changed.
[[nodiscard]] int ParseSettingsText(std::string_view text, const std::string& name,
                                    SettingsText& parsed, std::string& error);

// The text ParseSettingsText reads back to the same block and choices, in a fixed order of
// keys with a comment on each, for a file kept in version control: the palette as 16 lines of
// 16 "RRGGBB" colours, or `paletteFile` when it is not empty; ranges whose record is all zero
// and that choose nothing are left out. 0, with `error` saying why, when the output name is
// not UTF-8 text, which TOML cannot hold.
[[nodiscard]] int FormatSettingsText(const SettingsText& text, std::string& formatted,
                                     std::string& error);

// True when `bytes` look like a stored block rather than text: a block holds NUL bytes (its
// tag 101 is 65 00 00 00), a text never does.
bool LooksLikeSettingsBlock(const std::vector<uint8_t>& bytes);

// "80-95", "95-80, 200" and the like: spans of palette indices in the order given, each
// FIRST-LAST or one INDEX, separated by commas. On 0, `error` says what is wrong.
[[nodiscard]] int ParseIndexSpans(std::string_view text, std::vector<IndexSpan>& spans,
                                  std::string& error);
std::string FormatIndexSpans(const std::vector<IndexSpan>& spans);

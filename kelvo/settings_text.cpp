// The settings of a render as readable text (TOML): the block's fields and kelvo's own choices.
#include "kelvo/settings_text.h"

#include <toml++/toml.h>
#include <algorithm>
#include <bitset>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "kelvo/batch/frame_pattern.h"
#include "kelvo/batch/sequence_gif.h"
#include "kelvo/batch/sequence_sheet.h"
#include "kelvo/cli_options.h"

namespace {

// A stored output name, like a palette, is bytes; TOML strings are UTF-8.
bool IsUtf8(std::string_view text) {
    for (size_t at = 0; at < text.size();) {
        const auto lead = static_cast<unsigned char>(text[at]);
        const size_t length = lead < 0x80             ? 1
                              : (lead & 0xE0) == 0xC0 ? 2
                              : (lead & 0xF0) == 0xE0 ? 3
                              : (lead & 0xF8) == 0xF0 ? 4
                                                      : 0;
        if (length == 0 || at + length > text.size() || (length == 2 && lead < 0xC2)) {
            return false;
        }
        for (size_t i = 1; i < length; ++i) {
            if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) {
                return false;
            }
        }
        at += length;
    }
    return true;
}

const char* const DITHER_NAMES[] = {"none", "checker", "bayer4", "bayer8"};

// The keys of each table, in the order FormatSettingsText writes them.
const std::vector<std::string_view> TOP_KEYS = {"source",  "method",  "output",
                                                "reserve", "palette", "palette_depth",
                                                "input",   "outputs", "range"};
const std::vector<std::string_view> INPUT_KEYS = {"background_id", "alpha_threshold", "id_map",
                                                  "levels"};
const std::vector<std::string_view> OUTPUT_KEYS = {
    "transparent", "bmp_rle", "fps", "gif_scale", "sheet", "columns", "sheet_padding"};
const std::vector<std::string_view> RANGE_KEYS = {"id",     "spans",    "method",
                                                  "dither", "strength", "levels"};

// Reads one table's values, saying where in the file anything is wrong.
class TextReader {
public:
    TextReader(const std::string& name, std::string& error) : name_(name), error_(error) {}

    int Fail(const toml::node& node, const std::string& what) {
        error_ = name_ + ":" + std::to_string(node.source().begin.line) + ": " + what;
        return 0;
    }

    // Every key of `table` is one of `known`.
    int CheckKeys(const toml::table& table, const std::vector<std::string_view>& known,
                  const std::string& where) {
        for (const auto& [key, node] : table) {
            if (std::find(known.begin(), known.end(), key.str()) == known.end()) {
                std::string list;
                for (std::string_view k : known) {
                    list += list.empty() ? "" : ", ";
                    list += k;
                }
                std::string what = "unknown key '";
                what += key.str();
                what += "'";
                what += where;
                what += " (known: ";
                what += list;
                what += ")";
                error_ = name_ + ":" + std::to_string(key.source().begin.line) + ": " + what;
                return 0;
            }
        }
        return 1;
    }

    int String(const toml::node& node, const char* key, std::string& out) {
        const auto* value = node.as_string();
        if (value == nullptr) {
            return Fail(node, std::string("'") + key + "' must be a string in quotes");
        }
        out = value->get();
        return 1;
    }

    int Integer(const toml::node& node, const char* key, long long minimum, long long maximum,
                long long& out) {
        const auto* value = node.as_integer();
        if (value == nullptr || value->get() < minimum || value->get() > maximum) {
            return Fail(node, std::string("'") + key + "' must be a whole number from " +
                                  std::to_string(minimum) + " to " + std::to_string(maximum));
        }
        out = value->get();
        return 1;
    }

    // A number written with or without a fraction; `above` refuses `minimum` itself.
    int Number(const toml::node& node, const char* key, double minimum, double maximum, bool above,
               double& out) {
        double value = NAN;
        if (const auto* integer = node.as_integer()) {
            value = static_cast<double>(integer->get());
        } else if (const auto* floating = node.as_floating_point()) {
            value = floating->get();
        }
        if (!(value >= minimum && value <= maximum) || (above && value == minimum)) {
            char range[64];
            std::snprintf(range, sizeof range, "%s %g %s %g", above ? "above" : "from", minimum,
                          above ? "and up to" : "to", maximum);
            return Fail(node, std::string("'") + key + "' must be a number " + range);
        }
        out = value;
        return 1;
    }

    int Boolean(const toml::node& node, const char* key, bool& out) {
        const auto* value = node.as_boolean();
        if (value == nullptr) {
            return Fail(node, std::string("'") + key + "' must be true or false");
        }
        out = value->get();
        return 1;
    }

    int Choice(const toml::node& node, const char* key, const char* first, const char* second,
               int32_t firstCode, int32_t secondCode, int32_t& out) {
        std::string value;
        if (!String(node, key, value)) {
            return 0;
        }
        if (value != first && value != second) {
            return Fail(node, std::string("'") + key + "' must be \"" + first + "\" or \"" +
                                  second + "\", not \"" + value + "\"");
        }
        out = value == first ? firstCode : secondCode;
        return 1;
    }

    int Spans(const toml::node& node, const char* key, std::vector<IndexSpan>& spans) {
        std::string value;
        std::string problem;
        if (!String(node, key, value)) {
            return 0;
        }
        if (!ParseIndexSpans(value, spans, problem)) {
            return Fail(node, std::string("'") + key + "': " + problem);
        }
        return 1;
    }

private:
    const std::string& name_;
    std::string& error_;
};

int ReadPalette(TextReader& reader, const toml::node& node, SettingsText& parsed) {
    if (node.is_string()) {
        if (!reader.String(node, "palette", parsed.paletteFile)) {
            return 0;
        }
        return parsed.paletteFile.empty() ? reader.Fail(node, "'palette' names no file") : 1;
    }
    const toml::array* colors = node.as_array();
    if (colors == nullptr || colors->size() != PALETTE_ENTRIES) {
        return reader.Fail(
            node,
            "'palette' must be a palette file's name or 256 \"RRGGBB\" colours" +
                (colors == nullptr ? std::string() : ", not " + std::to_string(colors->size())));
    }
    for (int i = 0; i < PALETTE_ENTRIES; ++i) {
        const toml::node& entry = *colors->get(static_cast<size_t>(i));
        const auto* text = entry.as_string();
        const std::string_view hex = text != nullptr ? std::string_view(text->get()) : "";
        unsigned value = 0;
        bool good = hex.size() == 6;
        for (char c : hex) {
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
            good = good && digit >= 0;
            value = value << 4 | static_cast<unsigned>(std::max(digit, 0));
        }
        if (!good) {
            return reader.Fail(
                entry, "palette entry " + std::to_string(i) + " must be six hex digits \"RRGGBB\"");
        }
        parsed.settings.palette[i] = {static_cast<uint8_t>(value >> 16),
                                      static_cast<uint8_t>(value >> 8),
                                      static_cast<uint8_t>(value)};
    }
    parsed.paletteFile.clear();
    return 1;
}

int ReadInput(TextReader& reader, const toml::table& table, SettingsChoices& choices) {
    if (!reader.CheckKeys(table, INPUT_KEYS, " in [input]")) {
        return 0;
    }
    long long integer = 0;
    double number = 0;
    std::string text;
    std::string problem;
    for (const auto& [key, node] : table) {
        if (key == "background_id") {
            if (!reader.Integer(node, "background_id", 0, 65535, integer)) {
                return 0;
            }
            choices.backgroundId = static_cast<int>(integer);
        } else if (key == "alpha_threshold") {
            if (!reader.Number(node, "alpha_threshold", 0, 1, false, number)) {
                return 0;
            }
            choices.alphaThreshold = number;
        } else if (key == "levels") {
            if (!reader.String(node, "levels", text)) {
                return 0;
            }
            if (text != "auto") {
                return reader.Fail(node,
                                   "[input] 'levels' can only be \"auto\"; a range's own "
                                   "span goes in its [[range]]");
            }
            choices.levelsAuto = true;
        } else if (key == "id_map") {
            const toml::array* pairs = node.as_array();
            if (pairs == nullptr) {
                return reader.Fail(node, "'id_map' must be a list of \"VALUE:ID\" strings");
            }
            choices.idMap.clear();
            for (const toml::node& pair : *pairs) {
                long long stored = 0;
                long long id = 0;
                if (!reader.String(pair, "id_map", text)) {
                    return 0;
                }
                const size_t at = text.find(':');
                const std::string value = text.substr(0, at);
                const std::string idText = at == std::string::npos ? "" : text.substr(at + 1);
                if (value.empty() || idText.empty() || value[0] == '+' || idText[0] == '+' ||
                    !ParseInteger(value, 0, 65535, stored) || !ParseInteger(idText, 0, 65535, id)) {
                    return reader.Fail(pair, "bad 'id_map' entry \"" + text +
                                                 "\": expected \"VALUE:ID\", both 0..65535");
                }
                choices.idMap.emplace_back(static_cast<uint16_t>(stored),
                                           static_cast<uint16_t>(id));
            }
        }
    }
    return 1;
}

int ReadOutput(TextReader& reader, const toml::table& table, SettingsChoices& choices) {
    if (!reader.CheckKeys(table, OUTPUT_KEYS, " in [outputs]")) {
        return 0;
    }
    long long integer = 0;
    double number = 0;
    for (const auto& [key, node] : table) {
        if (key == "transparent") {
            if (!reader.Integer(node, "transparent", 0, 255, integer)) {
                return 0;
            }
            choices.transparentIndex = static_cast<int>(integer);
        } else if (key == "bmp_rle") {
            if (!reader.Boolean(node, "bmp_rle", choices.bmpRle)) {
                return 0;
            }
        } else if (key == "fps") {
            if (!reader.Number(node, "fps", 0, 100, true, number)) {
                return 0;
            }
            choices.fps = number;
        } else if (key == "sheet") {
            if (!reader.String(node, "sheet", choices.sheetFile)) {
                return 0;
            }
        } else {
            // gif_scale, columns and sheet_padding: small whole numbers.
            const bool padding = key == "sheet_padding";
            const std::string name(key.str());
            // As --gif-scale, --sheet-padding and --columns take them.
            const long long most = key == "gif_scale" ? MAX_GIF_SCALE
                                   : padding          ? MAX_SHEET_PADDING
                                                      : MAX_SHEET_COLUMNS;
            if (!reader.Integer(node, name.c_str(), padding ? 0 : 1, most, integer)) {
                return 0;
            }
            (key == "gif_scale" ? choices.gifScale
             : padding          ? choices.sheetPadding
                                : choices.sheetColumns) = static_cast<int>(integer);
        }
    }
    return 1;
}

// `seen` marks the identifiers of the [[range]] tables read so far.
int ReadRange(TextReader& reader, const toml::table& table, SettingsText& parsed,
              bool (&seen)[RANGE_COUNT]) {
    if (!reader.CheckKeys(table, RANGE_KEYS, " in [[range]]")) {
        return 0;
    }
    const toml::node* idNode = table.get("id");
    long long id = 0;
    if (idNode == nullptr) {
        return reader.Fail(table, "[[range]] has no 'id' (the identifier 0..15 it is for)");
    }
    if (!reader.Integer(*idNode, "id", 0, RANGE_COUNT - 1, id)) {
        return 0;
    }
    if (seen[id]) {
        return reader.Fail(table, "range " + std::to_string(id) + " is given twice");
    }
    seen[id] = true;
    ColorRange& record = parsed.settings.ranges[id];
    RangeChoice& choice = parsed.choices.ranges.ranges[static_cast<size_t>(id)];
    record = {};
    choice = {};
    parsed.choices.levels[static_cast<size_t>(id)].reset();
    std::string text;
    for (const auto& [key, node] : table) {
        if (key == "spans") {
            std::vector<IndexSpan> spans;
            if (!reader.Spans(node, "spans", spans)) {
                return 0;
            }
            record.first = spans.front().first;
            record.last = spans.front().last;
            if (spans.size() > 1) {
                choice.spans = spans;
            }
        } else if (key == "method") {
            int32_t code = 0;
            if (!reader.Choice(node, "method", "uniform", "nearest", METHOD_UNIFORM, METHOD_NEAREST,
                               code)) {
                return 0;
            }
            choice.method = code == METHOD_UNIFORM ? RangeMethod::Uniform : RangeMethod::Nearest;
        } else if (key == "dither") {
            if (!reader.String(node, "dither", text)) {
                return 0;
            }
            const auto found = std::find(std::begin(DITHER_NAMES), std::end(DITHER_NAMES), text);
            if (found == std::end(DITHER_NAMES)) {
                return reader.Fail(node,
                                   "'dither' must be \"none\", \"checker\", \"bayer4\" or "
                                   "\"bayer8\", not \"" +
                                       text + "\"");
            }
            const auto pattern = static_cast<DitherPattern>(found - std::begin(DITHER_NAMES));
            // The block's flag is the checkerboard; a Bayer pattern is kelvo's own, with the
            // flag set so that the filter alone dithers too.
            record.dither = pattern == DitherPattern::None ? 0 : 1;
            if (pattern == DitherPattern::Bayer4 || pattern == DitherPattern::Bayer8) {
                choice.dither = pattern;
            }
        } else if (key == "strength") {
            if (!reader.Number(node, "strength", 0, 1, false, choice.strength)) {
                return 0;
            }
        } else if (key == "levels") {
            int unused = 0;
            LevelSpan span;
            std::string problem;
            if (!reader.String(node, "levels", text)) {
                return 0;
            }
            if (!ParseLevelSpan(std::to_string(id) + ":" + text, unused, span, problem)) {
                return reader.Fail(node,
                                   "'levels' must be \"LOW-HIGH\", luminances 0..1 with "
                                   "LOW below HIGH, not \"" +
                                       text + "\"");
            }
            parsed.choices.levels[static_cast<size_t>(id)] = span;
        }
    }
    if (choice.strength != 1.0 && !choice.dither) {
        return reader.Fail(table, "range " + std::to_string(id) +
                                      ": 'strength' is for dither \"bayer4\" or \"bayer8\"");
    }
    return 1;
}

}  // namespace

int ParseIndexSpans(std::string_view text, std::vector<IndexSpan>& spans, std::string& error) {
    spans.clear();
    size_t at = 0;
    while (at <= text.size()) {
        const size_t comma = std::min(text.find(',', at), text.size());
        std::string item(text.substr(at, comma - at));
        item.erase(0, item.find_first_not_of(' '));
        item.erase(item.find_last_not_of(' ') + 1);
        const size_t dash = item.find('-');
        long long first = 0;
        long long last = 0;
        const std::string firstText = item.substr(0, dash);
        const std::string lastText = dash == std::string::npos ? firstText : item.substr(dash + 1);
        if (firstText.empty() || lastText.empty() || firstText[0] == '+' || lastText[0] == '+' ||
            !ParseInteger(firstText, 0, 255, first) || !ParseInteger(lastText, 0, 255, last)) {
            error = "'" + item + "' is not an index 0..255 or FIRST-LAST (in \"" +
                    std::string(text) + "\")";
            return 0;
        }
        spans.push_back({static_cast<uint8_t>(first), static_cast<uint8_t>(last)});
        at = comma + 1;
    }
    return 1;
}

std::string FormatIndexSpans(const std::vector<IndexSpan>& spans) {
    std::string text;
    for (const IndexSpan& span : spans) {
        text += text.empty() ? "" : ", ";
        text += std::to_string(span.first);
        if (span.last != span.first) {
            text += "-";
            text += std::to_string(span.last);
        }
    }
    return text;
}

bool LooksLikeSettingsBlock(const std::vector<uint8_t>& bytes) {
    return std::find(bytes.begin(), bytes.end(), uint8_t{0}) != bytes.end();
}

int ParseSettingsText(std::string_view text, const std::string& name, SettingsText& parsed,
                      std::string& error) {
    toml::parse_result result = toml::parse(text, name);
    if (!result) {
        const toml::parse_error& problem = result.error();
        error = name + ":" + std::to_string(problem.source().begin.line) + ": " +
                std::string(problem.description());
        return 0;
    }
    const toml::table& root = result.table();
    TextReader reader(name, error);
    if (!reader.CheckKeys(root, TOP_KEYS, "")) {
        return 0;
    }
    SettingsChoices& choices = parsed.choices;
    std::string value;
    for (const auto& [key, node] : root) {
        if (key == "source") {
            if (!reader.Choice(node, "source", "material", "object", SOURCE_MATERIAL_EFFECTS,
                               SOURCE_OBJECT, parsed.settings.source)) {
                return 0;
            }
        } else if (key == "method") {
            if (!reader.Choice(node, "method", "uniform", "nearest", METHOD_UNIFORM, METHOD_NEAREST,
                               parsed.settings.method)) {
                return 0;
            }
        } else if (key == "output") {
            if (!reader.String(node, "output", value)) {
                return 0;
            }
            // Room for the terminating NUL: a longer name is refused, never cut.
            if (value.empty() || value.size() >= OUTPUT_NAME_SIZE ||
                value.find('\0') != std::string::npos) {
                return reader.Fail(node, "'output' must be a name of 1 to " +
                                             std::to_string(OUTPUT_NAME_SIZE - 1) +
                                             " bytes without NUL");
            }
            // As --output takes it: "out/hero_####.pcx" is stored as "out/hero_.pcx".
            std::string stored;
            std::string note;
            std::string problem;
            if (!OutputNameFromOption(value, stored, note, problem)) {
                return reader.Fail(node, "'output': " + problem);
            }
            std::memset(parsed.settings.outputName, 0, OUTPUT_NAME_SIZE);
            std::memcpy(parsed.settings.outputName, stored.data(), stored.size());
        } else if (key == "reserve") {
            std::vector<IndexSpan> spans;
            if (!reader.String(node, "reserve", value)) {
                return 0;
            }
            choices.ranges.reserved.reset();
            if (!value.empty() && !reader.Spans(node, "reserve", spans)) {
                return 0;
            }
            for (const IndexSpan& span : spans) {
                for (int i = std::min(span.first, span.last); i <= std::max(span.first, span.last);
                     ++i) {
                    choices.ranges.reserved.set(static_cast<size_t>(i));
                }
            }
        } else if (key == "palette") {
            if (!ReadPalette(reader, node, parsed)) {
                return 0;
            }
        } else if (key == "palette_depth") {
            long long depth = 0;
            if (!reader.Integer(node, "palette_depth", 6, 8, depth) || depth == 7) {
                return reader.Fail(node, "'palette_depth' must be 6 or 8");
            }
            parsed.paletteDepth = depth == 6 ? PALETTE_DEPTH_6 : PALETTE_DEPTH_8;
        } else if (key == "input" || key == "outputs") {
            const toml::table* table = node.as_table();
            if (table == nullptr) {
                return reader.Fail(node, "'" + std::string(key.str()) + "' must be a table");
            }
            if (!(key == "input" ? ReadInput(reader, *table, choices)
                                 : ReadOutput(reader, *table, choices))) {
                return 0;
            }
        } else if (key == "range") {
            const toml::array* ranges = node.as_array();
            if (ranges == nullptr || !ranges->is_array_of_tables()) {
                return reader.Fail(node, "'range' must be [[range]] tables");
            }
            bool seen[RANGE_COUNT] = {};
            for (const toml::node& range : *ranges) {
                if (!ReadRange(reader, *range.as_table(), parsed, seen)) {
                    return 0;
                }
            }
        }
    }
    if (parsed.paletteDepth != PALETTE_DEPTH_GUESS && parsed.paletteFile.empty()) {
        return reader.Fail(*root.get("palette_depth"),
                           "'palette_depth' is for a palette file, and 'palette' names none");
    }
    return 1;
}

namespace {

// A TOML basic string: quotes, backslashes and control characters escaped.
std::string TomlString(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// The shortest decimal that reads back as the same double.
std::string TomlNumber(double value) {
    char text[32];
    const auto [end, problem] = std::to_chars(text, text + sizeof text, value);
    return problem == std::errc() ? std::string(text, end) : "0";
}

std::string LevelsText(int id, const LevelSpan& span) {
    const std::string text = FormatLevelSpan(id, span);
    return text.substr(text.find(':') + 1);
}

std::string ReservedText(const std::bitset<PALETTE_ENTRIES>& reserved) {
    std::vector<IndexSpan> runs;
    for (int i = 0; i < PALETTE_ENTRIES; ++i) {
        if (!reserved[static_cast<size_t>(i)]) {
            continue;
        }
        if (!runs.empty() && runs.back().last + 1 == i) {
            runs.back().last = static_cast<uint8_t>(i);
        } else {
            runs.push_back({static_cast<uint8_t>(i), static_cast<uint8_t>(i)});
        }
    }
    return FormatIndexSpans(runs);
}

// What a range asks beyond its record of the block, as the text says it.
bool RangeChoosesMore(const SettingsText& text, int id) {
    return text.choices.ranges.ranges[static_cast<size_t>(id)] != RangeChoice{} ||
           text.choices.levels[static_cast<size_t>(id)].has_value();
}

// The name of the pattern a range dithers with: its own, else the block's flag.
DitherPattern RangeDither(const ColorRange& record, const RangeChoice& choice) {
    return choice.dither.value_or(record.dither != 0 ? DitherPattern::Checker
                                                     : DitherPattern::None);
}

}  // namespace

std::vector<std::string> SettingsChoices::BeyondBlock(const PaletteRenderSettings& settings) const {
    std::vector<std::string> lost;
    if (ranges.reserved.any()) {
        lost.push_back("reserved entries " + ReservedText(ranges.reserved));
    }
    for (int id = 0; id < RANGE_COUNT; ++id) {
        const RangeChoice& choice = ranges.ranges[static_cast<size_t>(id)];
        const ColorRange& record = settings.ranges[id];
        const std::string range = "range " + std::to_string(id) + "'s ";
        if (!choice.spans.empty() &&
            (choice.spans.size() > 1 ||
             choice.spans.front() != IndexSpan{record.first, record.last})) {
            lost.push_back(range + "spans " + FormatIndexSpans(choice.spans));
        }
        const bool blockUniform = settings.method == METHOD_UNIFORM;
        if (choice.method && (*choice.method == RangeMethod::Uniform) != blockUniform) {
            lost.push_back(range + "own method " +
                           (*choice.method == RangeMethod::Uniform ? "uniform" : "nearest"));
        }
        const DitherPattern dither = RangeDither(record, choice);
        if (dither == DitherPattern::Bayer4 || dither == DitherPattern::Bayer8 ||
            (choice.dither && (dither == DitherPattern::Checker) != (record.dither != 0))) {
            lost.push_back(range + "dither " + DITHER_NAMES[static_cast<int>(dither)]);
        }
        if (choice.strength != 1.0) {
            lost.push_back(range + "dither strength " + TomlNumber(choice.strength));
        }
        if (levels[static_cast<size_t>(id)]) {
            lost.push_back(range + "levels " + LevelsText(id, *levels[static_cast<size_t>(id)]));
        }
    }
    const struct {
        bool set;
        const char* what;
    } options[] = {
        {levelsAuto, "levels \"auto\""},
        {backgroundId.has_value(), "background_id"},
        {alphaThreshold.has_value(), "alpha_threshold"},
        {!idMap.empty(), "id_map"},
        {transparentIndex.has_value(), "transparent"},
        {bmpRle, "bmp_rle"},
        {fps.has_value(), "fps"},
        {gifScale.has_value(), "gif_scale"},
        {!sheetFile.empty(), "sheet"},
        {sheetColumns.has_value(), "columns"},
        {sheetPadding.has_value(), "sheet_padding"},
    };
    for (const auto& option : options) {
        if (option.set) {
            lost.push_back(option.what);
        }
    }
    return lost;
}

int FormatSettingsText(const SettingsText& text, std::string& formatted, std::string& error) {
    const PaletteRenderSettings& settings = text.settings;
    const SettingsChoices& choices = text.choices;
    const std::string name(settings.outputName, strnlen(settings.outputName, OUTPUT_NAME_SIZE));
    if (!IsUtf8(name) || name.empty()) {
        error = name.empty() ? "the output name is empty"
                             : "the output name is not UTF-8 text, which a settings text holds";
        return 0;
    }
    std::string stored;
    std::string note;
    if (!OutputNameFromOption(name, stored, note, error) || stored != name) {
        error = "the output name '" + name + "' holds a '#', which a settings text reads as " +
                "where the frame number goes";
        return 0;
    }
    std::string out =
        "# Kelvo settings. '#' starts a comment; a key kelvo does not know is an error.\n";
    out += "source = ";
    out += settings.source == SOURCE_MATERIAL_EFFECTS ? "\"material\"" : "\"object\"";
    out += "  # identifier channel: \"material\" (effects) or \"object\"\n";
    out += "method = ";
    out += settings.method == METHOD_UNIFORM ? "\"uniform\"" : "\"nearest\"";
    out += "  # \"uniform\" (by luminance) or \"nearest\" (colour), unless a range says\n";
    out += "output = " + TomlString(name) + "  # the frame number goes before the extension\n";
    if (choices.ranges.reserved.any()) {
        out += "reserve = \"" + ReservedText(choices.ranges.reserved) +
               "\"  # entries no pixel takes\n";
    }
    if (!text.paletteFile.empty()) {
        out += "palette = " + TomlString(text.paletteFile) + "  # relative to this file\n";
        if (text.paletteDepth != PALETTE_DEPTH_GUESS) {
            out += text.paletteDepth == PALETTE_DEPTH_6 ? "palette_depth = 6\n"
                                                        : "palette_depth = 8\n";
        }
    } else {
        out += "# 256 colours \"RRGGBB\", 16 to a line; the comment is the line's first entry.\n";
        out += "palette = [\n";
        for (int row = 0; row < PALETTE_ENTRIES / 16; ++row) {
            out += "   ";
            for (int column = 0; column < 16; ++column) {
                const PaletteEntry& entry = settings.palette[row * 16 + column];
                char color[16];
                std::snprintf(color, sizeof color, " \"%02X%02X%02X\",", entry.red, entry.green,
                              entry.blue);
                out += color;
            }
            out += "  # " + std::to_string(row * 16) + "\n";
        }
        out += "]\n";
    }
    std::string input;
    if (choices.backgroundId) {
        input += "background_id = " + std::to_string(*choices.backgroundId) + "\n";
    }
    if (choices.alphaThreshold) {
        input += "alpha_threshold = " + TomlNumber(*choices.alphaThreshold) + "\n";
    }
    if (!choices.idMap.empty()) {
        input += "id_map = [";
        for (size_t i = 0; i < choices.idMap.size(); ++i) {
            input += i == 0 ? "\"" : ", \"";
            input += std::to_string(choices.idMap[i].first) + ":" +
                     std::to_string(choices.idMap[i].second) + "\"";
        }
        input += "]  # \"VALUE:ID\": a stored identifier value and the identifier it stands for\n";
    }
    if (choices.levelsAuto) {
        input += "levels = \"auto\"  # stretch each identifier's luminance, measured\n";
    }
    if (!input.empty()) {
        out += "\n[input]\n" + input;
    }
    std::string outputs;
    const auto number = [&outputs](const char* key, const std::optional<int>& value) {
        if (value) {
            outputs += key;
            outputs += " = " + std::to_string(*value) + "\n";
        }
    };
    number("transparent", choices.transparentIndex);
    if (choices.bmpRle) {
        outputs += "bmp_rle = true\n";
    }
    if (choices.fps) {
        outputs += "fps = " + TomlNumber(*choices.fps) + "\n";
    }
    number("gif_scale", choices.gifScale);
    if (!choices.sheetFile.empty()) {
        outputs += "sheet = " + TomlString(choices.sheetFile) + "\n";
    }
    number("columns", choices.sheetColumns);
    number("sheet_padding", choices.sheetPadding);
    if (!outputs.empty()) {
        out += "\n[outputs]\n" + outputs;
    }
    for (int id = 0; id < RANGE_COUNT; ++id) {
        const ColorRange& record = settings.ranges[id];
        const RangeChoice& choice = choices.ranges.ranges[static_cast<size_t>(id)];
        if (record.first == 0 && record.last == 0 && record.dither == 0 &&
            !RangeChoosesMore(text, id)) {
            continue;
        }
        out += "\n[[range]]\nid = " + std::to_string(id) + "\n";
        const std::vector<IndexSpan> spans =
            choice.spans.empty() ? std::vector<IndexSpan>{{record.first, record.last}}
                                 : choice.spans;
        out += "spans = \"" + FormatIndexSpans(spans) + "\"\n";
        if (choice.method) {
            out += choice.method == RangeMethod::Uniform ? "method = \"uniform\"\n"
                                                         : "method = \"nearest\"\n";
        }
        const DitherPattern dither = RangeDither(record, choice);
        if (dither != DitherPattern::None) {
            out += "dither = \"";
            out += DITHER_NAMES[static_cast<int>(dither)];
            out += "\"\n";
        }
        if (choice.strength != 1.0) {
            out += "strength = " + TomlNumber(choice.strength) + "\n";
        }
        if (text.choices.levels[static_cast<size_t>(id)]) {
            out += "levels = \"" + LevelsText(id, *text.choices.levels[static_cast<size_t>(id)]) +
                   "\"\n";
        }
    }
    formatted = std::move(out);
    return 1;
}

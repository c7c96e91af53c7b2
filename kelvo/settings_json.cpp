// Shows a settings block as JSON for `kelvo settings show`.
#include "kelvo/settings_json.h"

#include <cstdio>
#include <cstring>

namespace {

// Length of the UTF-8 sequence starting at `at`, or 0 when it is not well formed.
size_t Utf8SequenceLength(const std::string& text, size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    size_t length = 0;
    unsigned minimum = 0;
    unsigned value = 0;
    if (lead < 0x80) {
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, minimum = 0x80, value = lead & 0x1Fu;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, minimum = 0x800, value = lead & 0x0Fu;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, minimum = 0x10000, value = lead & 0x07u;
    } else {
        return 0;
    }
    if (at + length > text.size()) {
        return 0;
    }
    for (size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        value = value << 6 | (next & 0x3Fu);
    }
    const bool surrogate = value >= 0xD800 && value <= 0xDFFF;
    return value < minimum || value > 0x10FFFF || surrogate ? 0 : length;
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    char escape[8];
    for (size_t at = 0; at < text.size();) {
        const auto byte = static_cast<unsigned char>(text[at]);
        const size_t length = Utf8SequenceLength(text, at);
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += static_cast<char>(byte);
        } else if (byte < 0x20 || length == 0) {
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            out += escape;
        } else {
            out.append(text, at, length);
            at += length;
            continue;
        }
        ++at;
    }
    return out + "\"";
}

}  // namespace

std::string FormatSettingsJson(const SettingsBlock& block) {
    PaletteRenderSettings settings;
    std::memcpy(&settings, block.data(), sizeof settings);
    const std::string name(settings.outputName, strnlen(settings.outputName, OUTPUT_NAME_SIZE));
    char line[128];
    std::string json;
    // Each code with the name of what the filter makes of it: any source but 1001 is the
    // object channel, any method but 1023 nearest colour.
    std::snprintf(line, sizeof line,
                  "{\n  \"version\": %d,\n  \"source\": %d,\n  \"sourceName\": \"%s\",\n",
                  static_cast<int>(settings.version), static_cast<int>(settings.source),
                  settings.source == SOURCE_MATERIAL_EFFECTS ? "material" : "object");
    json += line;
    json += "  \"outputName\": ";
    json += JsonString(name);
    std::snprintf(line, sizeof line,
                  ",\n  \"method\": %d,\n  \"methodName\": \"%s\",\n  \"palette\": [",
                  static_cast<int>(settings.method),
                  settings.method == METHOD_UNIFORM ? "uniform" : "nearest");
    json += line;
    for (int i = 0; i < PALETTE_ENTRIES; ++i) {
        const PaletteEntry& entry = settings.palette[i];
        std::snprintf(line, sizeof line, "%s[%d, %d, %d]%s", i % 8 == 0 ? "\n    " : " ", entry.red,
                      entry.green, entry.blue, i + 1 < PALETTE_ENTRIES ? "," : "");
        json += line;
    }
    json += "\n  ],\n  \"ranges\": [";
    for (int k = 0; k < RANGE_COUNT; ++k) {
        const ColorRange& range = settings.ranges[k];
        std::snprintf(line, sizeof line, "\n    {\"first\": %d, \"last\": %d, \"dither\": %d}%s",
                      range.first, range.last, range.dither, k + 1 < RANGE_COUNT ? "," : "");
        json += line;
    }
    json += "\n  ]\n}\n";
    return json;
}

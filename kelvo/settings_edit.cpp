// Builds a settings block's bytes from a base block and the command line's edits.
#include "kelvo/settings_edit.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "kelvo/imageio/palette_file.h"
#include "kelvo/os/file_io.h"

namespace {

// A settings text is a page or two; anything much larger is some other file.
constexpr size_t MAX_SETTINGS_TEXT_BYTES = 1 << 20;

}  // namespace

int LoadSettingsText(const std::string& path, const std::vector<uint8_t>& bytes,
                     SettingsText& parsed, std::string& error) {
    if (bytes.size() > MAX_SETTINGS_TEXT_BYTES) {
        error = "'" + path + "' is neither a settings block nor a settings text: it has " +
                std::to_string(bytes.size()) + " bytes";
        return 0;
    }
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (!ParseSettingsText(text, path, parsed, error)) {
        return 0;
    }
    if (parsed.paletteFile.empty()) {
        return 1;
    }
    // Relative to the text, so that a project's settings and palette move together.
    const std::filesystem::path named = std::filesystem::path(parsed.paletteFile);
    const std::string palettePath =
        named.is_absolute() ? parsed.paletteFile
                            : (std::filesystem::path(path).parent_path() / named).string();
    PaletteFileInfo info;
    if (!ReadPaletteFile(palettePath, parsed.paletteDepth, parsed.settings.palette, info, error)) {
        error = "'" + path + "': palette: " + error;
        return 0;
    }
    return 1;
}

int ReadSettingsFile(const std::string& path, SettingsBlock& block, std::string& error,
                     SettingsChoices* choices, bool* wasText) {
    std::vector<uint8_t> bytes;
    std::string reason;
    if (!ReadFileBytes(path, bytes, reason)) {
        error = "cannot read settings '" + path + "': " + reason;
        return 0;
    }
    const bool text = !LooksLikeSettingsBlock(bytes);
    if (wasText != nullptr) {
        *wasText = text;
    }
    if (text) {
        SettingsText parsed;
        std::memcpy(&parsed.settings, block.data(), block.size());
        if (!LoadSettingsText(path, bytes, parsed, error)) {
            return 0;
        }
        std::memcpy(block.data(), &parsed.settings, block.size());
        if (choices != nullptr) {
            *choices = std::move(parsed.choices);
        }
        return 1;
    }
    if (bytes.size() != block.size()) {
        error = "'" + path + "' is not a settings block: it has " + std::to_string(bytes.size()) +
                " bytes, not " + std::to_string(block.size());
        return 0;
    }
    std::memcpy(block.data(), bytes.data(), block.size());
    return 1;
}

int ApplySettingsEdits(const SettingsEdits& edits, SettingsBlock& block, RangeChoices& choices,
                       std::string& error, std::string* paletteNote) {
    PaletteRenderSettings settings;
    std::memcpy(&settings, block.data(), sizeof settings);
    if (!edits.paletteFile.empty()) {
        PaletteFileInfo info;
        if (!ReadPaletteFile(edits.paletteFile, edits.paletteDepth, settings.palette, info,
                             error)) {
            return 0;
        }
        const std::string described = DescribePaletteFile(info);
        if (paletteNote != nullptr && !described.empty()) {
            *paletteNote = "'" + edits.paletteFile + "' has " + described;
        }
    }
    for (const RangeEdit& range : edits.ranges) {
        settings.ranges[range.id] = {static_cast<uint8_t>(range.first),
                                     static_cast<uint8_t>(range.last),
                                     static_cast<uint8_t>(range.dither ? 1 : 0)};
        choices.ranges[static_cast<size_t>(range.id)] = range.choice;
    }
    if (edits.reserved) {
        choices.reserved = *edits.reserved;
    }
    if (edits.method) {
        settings.method = *edits.method;
    }
    if (edits.source) {
        settings.source = *edits.source;
    }
    if (edits.outputName) {
        std::memset(settings.outputName, 0, sizeof settings.outputName);
        std::memcpy(settings.outputName, edits.outputName->data(),
                    std::min(edits.outputName->size(), sizeof settings.outputName - 1));
    }
    std::memcpy(block.data(), &settings, sizeof settings);
    SimplifyRangeChoices(choices, settings);
    return 1;
}

std::string DescribeBeyondBlock(const RangeChoices& choices) {
    static const char* const PATTERNS[] = {"none", "checker", "bayer4", "bayer8"};
    std::vector<std::string> parts;
    if (choices.reserved.any()) {
        parts.push_back("reserved entries ");
        parts.back().append(FormatReserved(choices.reserved));
    }
    for (size_t id = 0; id < choices.ranges.size(); ++id) {
        const RangeChoice& choice = choices.ranges[id];
        std::string identifier = "identifier ";
        identifier.append(std::to_string(id)).append("'s ");
        if (!choice.spans.empty()) {
            parts.push_back(identifier + "spans " + FormatSpans(choice.spans));
        }
        if (choice.method) {
            parts.push_back(identifier + "method " +
                            (*choice.method == RangeMethod::Uniform ? "uniform" : "nearest"));
        }
        if (choice.dither) {
            parts.push_back(identifier + "dither " + PATTERNS[static_cast<int>(*choice.dither)]);
            if (choice.strength != 1.0) {
                char strength[32];
                std::snprintf(strength, sizeof strength, " at strength %g", choice.strength);
                parts.back() += strength;
            }
        }
    }
    std::string text;
    for (const std::string& part : parts) {
        if (!text.empty()) {
            text += ", ";
        }
        text += part;
    }
    return text;
}

int32_t SettingsBlockTag(const SettingsBlock& block) {
    const uint32_t tag = uint32_t{block[0]} | uint32_t{block[1]} << 8 | uint32_t{block[2]} << 16 |
                         uint32_t{block[3]} << 24;
    return static_cast<int32_t>(tag);
}

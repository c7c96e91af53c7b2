// `kelvo settings show|new|convert`: prints a settings block as JSON, writes a new one, or
// converts between a block and a settings text.
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "host/filter_factory.h"
#include "kelvo/batch/exit_codes.h"
#include "kelvo/cli_options.h"
#include "kelvo/commands.h"
#include "kelvo/configure_filter.h"
#include "kelvo/option_suggestion.h"
#include "kelvo/os/file_io.h"
#include "kelvo/settings_json.h"
#include "kelvo/settings_text.h"
#include "kelvo/usage_text.h"

namespace {

int Show(const std::vector<std::string>& args, const std::string& pluginPath) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(SETTINGS_USAGE, stdout);
        return EXIT_DONE;
    }
    if (args.size() != 1 || (args[0].size() > 1 && args[0][0] == '-')) {
        return Fail(EXIT_BAD_INPUT, "settings show takes one FILE (see 'kelvo settings --help')");
    }
    std::string error;
    PluginFilter plugin;
    if (!plugin.Open(pluginPath, error)) {
        return Fail(EXIT_BAD_INPUT, error);
    }
    ImageFilter& filter = plugin.Filter();
    if (!ConfigureFilter(filter, args[0], SettingsEdits{}, error)) {
        return Fail(EXIT_BAD_INPUT, error);
    }
    SettingsBlock block{};
    if (!ReadFilterSettings(filter, block)) {
        return Fail(EXIT_NOT_WRITTEN, "the filter did not give its settings block");
    }
    const std::string json = FormatSettingsJson(block);
    if (std::fwrite(json.data(), 1, json.size(), stdout) != json.size() ||
        std::fflush(stdout) != 0) {
        return Fail(EXIT_NOT_WRITTEN, "cannot write to standard output");
    }
    return EXIT_DONE;
}

int New(const std::vector<std::string>& args, const std::string& pluginPath) {
    SettingsNewOptions options;
    std::string error;
    if (!ParseSettingsNewOptions(args, options, error)) {
        return Fail(EXIT_BAD_INPUT, error + " (see 'kelvo settings --help')");
    }
    if (options.help) {
        std::fputs(SETTINGS_USAGE, stdout);
        return EXIT_DONE;
    }
    PluginFilter plugin;
    if (!plugin.Open(pluginPath, error)) {
        return Fail(EXIT_BAD_INPUT, error);
    }
    ImageFilter& filter = plugin.Filter();
    std::string paletteNote;
    if (!ConfigureFilter(filter, "", options.edits, error, &paletteNote)) {
        return Fail(EXIT_BAD_INPUT, error);
    }
    if (!paletteNote.empty()) {
        Complain("note: " + paletteNote);
    }
    SettingsBlock block{};
    if (!ReadFilterSettings(filter, block)) {
        return Fail(EXIT_NOT_WRITTEN, "the filter did not give its settings block");
    }
    if (!WriteFileBytes(options.outputFile, std::vector<uint8_t>(block.begin(), block.end()),
                        error)) {
        return Fail(EXIT_NOT_WRITTEN, "cannot write '" + options.outputFile + "': " + error);
    }
    if (!options.edits.outputNote.empty()) {
        Complain("warning: " + options.edits.outputNote);
    }
    std::printf("%s\n", options.outputFile.c_str());
    return std::fflush(stdout) == 0 ? EXIT_DONE : EXIT_NOT_WRITTEN;
}

// What a block holds that its text leaves out or says otherwise, where the filter reads it the
// same either way: bytes after the output name's end, a dither flag other than 1, codes of
// method and source the dialog never stores.
std::vector<std::string> NormalisedInText(const PaletteRenderSettings& settings) {
    std::vector<std::string> notes;
    const size_t length = strnlen(settings.outputName, OUTPUT_NAME_SIZE);
    for (size_t i = length; i < OUTPUT_NAME_SIZE; ++i) {
        if (settings.outputName[i] != 0) {
            notes.emplace_back("the bytes after the output name's end (an older, longer name)");
            break;
        }
    }
    for (int id = 0; id < RANGE_COUNT; ++id) {
        if (settings.ranges[id].dither > 1) {
            notes.push_back("range " + std::to_string(id) + "'s dither flag " +
                            std::to_string(settings.ranges[id].dither) + " (as 1)");
        }
    }
    if (settings.method != METHOD_UNIFORM && settings.method != METHOD_NEAREST) {
        notes.push_back("method code " + std::to_string(settings.method) + " (as \"nearest\")");
    }
    if (settings.source != SOURCE_MATERIAL_EFFECTS && settings.source != SOURCE_OBJECT) {
        notes.push_back("source code " + std::to_string(settings.source) + " (as \"object\")");
    }
    return notes;
}

std::string JoinList(const std::vector<std::string>& items) {
    std::string list;
    for (const std::string& item : items) {
        list += list.empty() ? "" : "; ";
        list += item;
    }
    return list;
}

int Convert(const std::vector<std::string>& args) {
    std::vector<std::string> operands;
    std::string to;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            std::fputs(SETTINGS_USAGE, stdout);
            return EXIT_DONE;
        }
        if (args[i] == "--to" && i + 1 < args.size()) {
            to = args[++i];
        } else if (args[i].rfind("--to=", 0) == 0) {
            to = args[i].substr(5);
        } else if (args[i].size() > 1 && args[i][0] == '-') {
            return Fail(EXIT_BAD_INPUT, "unknown or incomplete option '" + args[i] +
                                            "' (see 'kelvo settings --help')");
        } else {
            operands.push_back(args[i]);
        }
    }
    if (operands.size() != 2 || (!to.empty() && to != "block" && to != "text")) {
        return Fail(EXIT_BAD_INPUT,
                    "settings convert takes IN OUT and maybe --to block|text (see 'kelvo "
                    "settings --help')");
    }
    const std::string& in = operands[0];
    const std::string& out = operands[1];
    std::vector<uint8_t> bytes;
    std::string error;
    if (!ReadFileBytes(in, bytes, error)) {
        return Fail(EXIT_BAD_INPUT, "cannot read settings '" + in + "': " + error);
    }
    SettingsText parsed;
    SetDefaultSettings(parsed.settings);
    const bool fromBlock = LooksLikeSettingsBlock(bytes);
    if (fromBlock) {
        SettingsBlock block{};
        if (!ReadSettingsFile(in, block, error)) {
            return Fail(EXIT_BAD_INPUT, error);
        }
        if (SettingsBlockTag(block) != SETTINGS_VERSION) {
            return Fail(EXIT_BAD_INPUT, "'" + in + "' is not a settings block: its tag is " +
                                            std::to_string(SettingsBlockTag(block)) + ", not " +
                                            std::to_string(SETTINGS_VERSION));
        }
        std::memcpy(&parsed.settings, block.data(), block.size());
    } else if (!LoadSettingsText(in, bytes, parsed, error)) {
        return Fail(EXIT_BAD_INPUT, error);
    }
    const bool toBlock = to.empty() ? !fromBlock : to == "block";
    std::vector<uint8_t> written;
    if (toBlock) {
        const std::vector<std::string> lost = parsed.choices.BeyondBlock(parsed.settings);
        if (!lost.empty()) {
            return Fail(EXIT_BAD_INPUT, "'" + in + "' holds what a settings block cannot: " +
                                            JoinList(lost) + "; '" + out + "' was not written");
        }
        const auto* first = reinterpret_cast<const uint8_t*>(&parsed.settings);
        written.assign(first, first + sizeof parsed.settings);
    } else {
        if (!parsed.paletteFile.empty() &&
            !std::filesystem::path(parsed.paletteFile).is_absolute()) {
            // The palette file stays where it is: named from the new file's directory, or as
            // it was where a directory cannot be made absolute.
            std::error_code failed;
            const auto directory = [&failed](const std::string& path) {
                const std::filesystem::path parent = std::filesystem::path(path).parent_path();
                return std::filesystem::absolute(parent.empty() ? "." : parent, failed)
                    .lexically_normal();
            };
            const std::filesystem::path from = directory(in);
            const std::filesystem::path into = directory(out);
            const std::filesystem::path moved =
                (from / parsed.paletteFile).lexically_normal().lexically_proximate(into);
            if (!failed) {
                parsed.paletteFile = moved.generic_string();
            }
        }
        std::string text;
        if (!FormatSettingsText(parsed, text, error)) {
            return Fail(EXIT_BAD_INPUT,
                        "'" + in + "': " + error + "; '" + out + "' was not written");
        }
        written.assign(text.begin(), text.end());
        const std::vector<std::string> notes = NormalisedInText(parsed.settings);
        if (fromBlock && !notes.empty()) {
            Complain("note: '" + in + "' holds what the filter reads the same without, so " +
                     "converting back gives other bytes: " + JoinList(notes));
        }
    }
    if (!WriteFileBytes(out, written, error)) {
        return Fail(EXIT_NOT_WRITTEN, "cannot write '" + out + "': " + error);
    }
    std::printf("%s\n", out.c_str());
    return std::fflush(stdout) == 0 ? EXIT_DONE : EXIT_NOT_WRITTEN;
}

}  // namespace

int RunSettingsCommand(const std::vector<std::string>& args, const std::string& pluginPath) {
    if (args.empty()) {
        return Fail(EXIT_BAD_INPUT,
                    "settings needs 'show', 'new' or 'convert' (see 'kelvo settings --help')");
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (args[0] == "show") {
        return Show(rest, pluginPath);
    }
    if (args[0] == "new") {
        return New(rest, pluginPath);
    }
    if (args[0] == "convert") {
        return Convert(rest);
    }
    if (args[0] == "--help" || args[0] == "-h") {
        std::fputs(SETTINGS_USAGE, stdout);
        return EXIT_DONE;
    }
    std::string problem = "unknown settings command '" + args[0] + "'";
    problem += DidYouMean(args[0], {"show", "new"});
    return Fail(EXIT_BAD_INPUT, problem + " (see 'kelvo settings --help')");
}

// `kelvo settings show|new`: prints a settings block as JSON, or writes a new one.
#include <cstdio>

#include "host/filter_factory.h"
#include "kelvo/batch/exit_codes.h"
#include "kelvo/cli_options.h"
#include "kelvo/commands.h"
#include "kelvo/configure_filter.h"
#include "kelvo/option_suggestion.h"
#include "kelvo/os/file_io.h"
#include "kelvo/settings_json.h"
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

}  // namespace

int RunSettingsCommand(const std::vector<std::string>& args, const std::string& pluginPath) {
    if (args.empty()) {
        return Fail(EXIT_BAD_INPUT, "settings needs 'show' or 'new' (see 'kelvo settings --help')");
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (args[0] == "show") {
        return Show(rest, pluginPath);
    }
    if (args[0] == "new") {
        return New(rest, pluginPath);
    }
    if (args[0] == "--help" || args[0] == "-h") {
        std::fputs(SETTINGS_USAGE, stdout);
        return EXIT_DONE;
    }
    std::string problem = "unknown settings command '" + args[0] + "'";
    problem += DidYouMean(args[0], {"show", "new"});
    return Fail(EXIT_BAD_INPUT, problem + " (see 'kelvo settings --help')");
}

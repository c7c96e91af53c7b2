// kelvo: the stand-in rendering host that drives the palette filter from the command line.
#include <cstddef>
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "kelvo/batch/exit_codes.h"
#include "kelvo/batch/render_worker.h"
#include "kelvo/build_commit.h"
#include "kelvo/commands.h"
#include "kelvo/dialog_commands.h"
#include "kelvo/option_suggestion.h"
#include "kelvo/os/console.h"
#include "kelvo/os/heap.h"
#include "kelvo/usage_text.h"
#include "plugin/version.h"

namespace {

// Takes "--plugin PATH" (or "--plugin=PATH") out of the arguments, wherever it stands before a
// "--"; it names the plug-in module for every command.
int TakePluginOption(std::vector<std::string>& args, std::string& pluginPath) {
    for (size_t i = 0; i < args.size() && args[i] != "--"; ++i) {
        if (args[i].rfind("--plugin=", 0) == 0) {
            pluginPath = args[i].substr(9);
            args.erase(args.begin() + static_cast<std::ptrdiff_t>(i--));
        } else if (args[i] == "--plugin") {
            if (i + 1 >= args.size()) {
                return 0;
            }
            pluginPath = args[i + 1];
            args.erase(args.begin() + static_cast<std::ptrdiff_t>(i),
                       args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
            --i;
        }
    }
    return 1;
}

int Run(std::vector<std::string> args) {
    // kelvo started by itself to render; not a command anyone types.
    int workerExit = EXIT_DONE;
    if (RunAsRenderWorker(args, workerExit)) {
        return workerExit;
    }
    std::string pluginPath;
    if (!TakePluginOption(args, pluginPath)) {
        return Fail(EXIT_BAD_INPUT, "option '--plugin' needs a value (see 'kelvo --help')");
    }
    if (args.empty()) {
        std::fputs(KELVO_USAGE, stderr);
        return EXIT_BAD_INPUT;
    }
    const std::string& command = args[0];
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "render") {
        return RunRenderCommand(rest, pluginPath);
    }
    if (command == "settings") {
        return RunSettingsCommand(rest, pluginPath);
    }
    if (command == "palette") {
        return RunPaletteCommand(rest);
    }
    if (command == "swap") {
        return RunSwapCommand(rest);
    }
    if (command == "demo") {
        return RunDemoCommand(rest, pluginPath);
    }
    if (command == "configure") {
        return RunConfigureCommand(rest, pluginPath);
    }
    if (command == "about") {
        return RunAboutCommand(rest, pluginPath);
    }
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(KELVO_USAGE, stdout);
        return EXIT_DONE;
    }
    if (command == "--version") {
        // The commit, when the build knew it, tells two builds of one version apart.
        if (KELVO_COMMIT[0] != '\0') {
            std::printf("kelvo %s (commit %s)\n", KELVO_VERSION, KELVO_COMMIT);
        } else {
            std::printf("kelvo %s\n", KELVO_VERSION);
        }
        return EXIT_DONE;
    }
    std::string problem = "unknown command '" + command + "'";
    problem += DidYouMean(command, {"render", "settings", "palette", "demo", "configure", "about",
                                    "help", "--help", "--version", "--plugin"});
    return Fail(EXIT_BAD_INPUT, problem + " (see 'kelvo --help')");
}

}  // namespace

int main(int argc, char** argv) {
    KeepFreedFramesForReuse();
    PrepareConsoleStreams();
    // The standard library can still run out of memory; say so instead of aborting.
    try {
        return Run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::bad_alloc&) {
        Complain("out of memory");
    } catch (const std::exception& failure) {
        Complain(failure.what());
    }
    return EXIT_NOT_WRITTEN;
}

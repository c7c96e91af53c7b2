// kelvo's dialog commands: edit a stored settings block in the control dialog, show the About
// box. Both need the Windows build; each returns kelvo's exit code.
#include "kelvo/dialog_commands.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "host/filter_factory.h"
#include "kelvo/batch/exit_codes.h"
#include "kelvo/os/file_io.h"
#include "kelvo/usage_text.h"

namespace {

#ifdef _WIN32
constexpr bool HAVE_DIALOGS = true;
#else
constexpr bool HAVE_DIALOGS = false;
#endif

int NeedsWindows(const std::string& command) {
    return Fail(EXIT_BAD_INPUT, "'" + command +
                                    "' needs the Windows build: the plug-in's dialogs are Win32 "
                                    "dialogs");
}

int LoadFilter(const std::string& pluginPath, PluginFilter& plugin) {
    std::string error;
    if (!plugin.Open(pluginPath, error)) {
        Complain(error);
        return 0;
    }
    return 1;
}

// 1 with the file's bytes; 1 with `exists` false when there is no such file; 0 otherwise.
int ReadBlockFile(const std::string& path, std::vector<uint8_t>& bytes, bool& exists) {
    exists = false;
    FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) {
        if (errno == ENOENT) {
            return 1;
        }
        Complain("cannot read '" + path + "': " + std::strerror(errno));
        return 0;
    }
    exists = true;
    uint8_t chunk[4096];
    size_t count = 0;
    while ((count = std::fread(chunk, 1, sizeof chunk, in)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + count);
    }
    const bool failed = std::ferror(in) != 0;
    std::fclose(in);
    if (failed) {
        Complain("cannot read '" + path + "'");
        return 0;
    }
    return 1;
}

// Help on stdout and exit 0 when asked for, as every command gives it.
bool AskedForHelp(const std::vector<std::string>& args, const char* usage) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(usage, stdout);
        return true;
    }
    return false;
}

}  // namespace

int RunConfigureCommand(const std::vector<std::string>& args, const std::string& pluginPath) {
    if (AskedForHelp(args, CONFIGURE_USAGE)) {
        return EXIT_DONE;
    }
    if (args.size() != 1) {
        std::fputs(CONFIGURE_USAGE, stderr);
        return EXIT_BAD_INPUT;
    }
    if (!HAVE_DIALOGS) {
        return NeedsWindows("configure");
    }
    const std::string& path = args[0];
    std::vector<uint8_t> block;
    bool exists = false;
    if (!ReadBlockFile(path, block, exists)) {
        return EXIT_BAD_INPUT;
    }
    PluginFilter plugin;
    if (!LoadFilter(pluginPath, plugin)) {
        return EXIT_BAD_INPUT;
    }
    ImageFilter& filter = plugin.Filter();
    const size_t blockSize = filter.ConfigBlockSize();
    if (exists) {
        if (block.size() != blockSize) {
            return Fail(EXIT_BAD_INPUT,
                        "'" + path + "' holds no settings block: " + std::to_string(block.size()) +
                            " bytes, not " + std::to_string(blockSize));
        }
        if (!filter.LoadConfigBlock(block.data())) {
            return Fail(EXIT_BAD_INPUT,
                        "'" + path + "' holds no settings block: its version is not 101");
        }
    }
    const int result = filter.ShowControlDialog(nullptr);
    if (result == 0) {
        std::printf("%s: left as it was\n", path.c_str());
        return EXIT_DONE;
    }
    if (result != 1) {
        return Fail(EXIT_NOT_WRITTEN, "cannot open the control dialog");
    }
    // Written all or nothing: FILE holds the old block or the whole new one.
    block.assign(blockSize, 0);
    std::string error = "the filter did not give its settings block";
    if (!filter.SaveConfigBlock(block.data()) || !WriteFileBytes(path, block, error)) {
        return Fail(EXIT_NOT_WRITTEN, "cannot write '" + path + "': " + error);
    }
    std::printf("%s\n", path.c_str());
    return EXIT_DONE;
}

int RunAboutCommand(const std::vector<std::string>& args, const std::string& pluginPath) {
    if (AskedForHelp(args, ABOUT_USAGE)) {
        return EXIT_DONE;
    }
    if (!args.empty()) {
        std::fputs(ABOUT_USAGE, stderr);
        return EXIT_BAD_INPUT;
    }
    if (!HAVE_DIALOGS) {
        return NeedsWindows("about");
    }
    PluginFilter plugin;
    if (!LoadFilter(pluginPath, plugin)) {
        return EXIT_BAD_INPUT;
    }
    if (plugin.Filter().ShowAboutBox(nullptr) < 0) {
        return Fail(EXIT_NOT_WRITTEN, "cannot open the About box");
    }
    return EXIT_DONE;
}

// kelvo's dialog commands: edit a stored settings block in the control dialog, show the About
// box. Both need the Windows build; each returns kelvo's exit code.
#include "kelvo/dialog_commands.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "host/filter_factory.h"
#include "pcx/replace_file.h"

namespace {

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

#ifdef _WIN32
constexpr bool HAVE_DIALOGS = true;
#else
constexpr bool HAVE_DIALOGS = false;
#endif

int NeedsWindows(const char* command) {
    std::fprintf(stderr,
                 "kelvo: '%s' needs the Windows build: the plug-in's dialogs are Win32 dialogs\n",
                 command);
    return EXIT_USAGE;
}

int LoadFilter(const std::string& pluginPath, PluginFilter& plugin) {
    std::string error;
    if (!plugin.Open(pluginPath, error)) {
        std::fprintf(stderr, "kelvo: %s\n", error.c_str());
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
        std::fprintf(stderr, "kelvo: cannot read '%s': %s\n", path.c_str(), std::strerror(errno));
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
        std::fprintf(stderr, "kelvo: cannot read '%s'\n", path.c_str());
        return 0;
    }
    return 1;
}

// Writes beside the target and moves the finished file over it, so FILE holds the old block
// or the whole new one.
int WriteBlockFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    const std::string temporary = path + ".kelvo-tmp";
    FILE* out = std::fopen(temporary.c_str(), "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "kelvo: cannot write '%s': %s\n", temporary.c_str(),
                     std::strerror(errno));
        return 0;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    const bool closed = std::fclose(out) == 0;
    if (!written || !closed || !RenameOver(temporary.c_str(), path.c_str())) {
        std::remove(temporary.c_str());
        std::fprintf(stderr, "kelvo: cannot write '%s'\n", path.c_str());
        return 0;
    }
    return 1;
}

}  // namespace

int RunConfigureCommand(const std::vector<std::string>& args, const std::string& pluginPath) {
    if (args.size() != 1) {
        std::fputs("usage: kelvo configure FILE\n", stderr);
        return EXIT_USAGE;
    }
    if (!HAVE_DIALOGS) {
        return NeedsWindows("configure");
    }
    const std::string& path = args[0];
    std::vector<uint8_t> block;
    bool exists = false;
    if (!ReadBlockFile(path, block, exists)) {
        return EXIT_USAGE;
    }
    PluginFilter plugin;
    if (!LoadFilter(pluginPath, plugin)) {
        return EXIT_USAGE;
    }
    ImageFilter& filter = plugin.Filter();
    const size_t blockSize = filter.ConfigBlockSize();
    if (exists) {
        if (block.size() != blockSize) {
            std::fprintf(stderr, "kelvo: '%s' holds no settings block: %lu bytes, not %lu\n",
                         path.c_str(), static_cast<unsigned long>(block.size()),
                         static_cast<unsigned long>(blockSize));
            return EXIT_USAGE;
        }
        if (!filter.LoadConfigBlock(block.data())) {
            std::fprintf(stderr, "kelvo: '%s' holds no settings block: its version is not 101\n",
                         path.c_str());
            return EXIT_USAGE;
        }
    }
    const int result = filter.ShowControlDialog(nullptr);
    if (result == 0) {
        std::printf("%s: left as it was\n", path.c_str());
        return EXIT_OK;
    }
    if (result != 1) {
        std::fputs("kelvo: cannot open the control dialog\n", stderr);
        return EXIT_FAILED;
    }
    block.assign(blockSize, 0);
    if (!filter.SaveConfigBlock(block.data()) || !WriteBlockFile(path, block)) {
        return EXIT_FAILED;
    }
    std::printf("%s\n", path.c_str());
    return EXIT_OK;
}

int RunAboutCommand(const std::vector<std::string>& args, const std::string& pluginPath) {
    if (!args.empty()) {
        std::fputs("usage: kelvo about\n", stderr);
        return EXIT_USAGE;
    }
    if (!HAVE_DIALOGS) {
        return NeedsWindows("about");
    }
    PluginFilter plugin;
    if (!LoadFilter(pluginPath, plugin)) {
        return EXIT_USAGE;
    }
    if (plugin.Filter().ShowAboutBox(nullptr) < 0) {
        std::fputs("kelvo: cannot open the About box\n", stderr);
        return EXIT_FAILED;
    }
    return EXIT_OK;
}

// kelvo: the stand-in rendering host that drives the palette filter from the command line.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "host/dialog_commands.h"
#include "host/memory_bitmap.h"
#include "plugin/palette_render_filter.h"

namespace {

// A test frame: a horizontal grey ramp for ID 0 over a vertical one for ID 1.
void FillTestFrame(MemoryBitmap& bitmap) {
    const int width = bitmap.Width();
    const int height = bitmap.Height();
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool lower = y >= height / 2;
            const auto level = static_cast<uint16_t>(
                lower ? 65535 * (height - 1 - y) / (height - 1) : 65535 * x / (width - 1));
            bitmap.Pixel(x, y) = {level, level, level, 65535};
            bitmap.MaterialId(x, y) = lower ? 1 : 0;
        }
    }
}

int RunDemo(const std::string& directory) {
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) {
        std::fprintf(stderr, "kelvo: cannot create '%s': %s\n", directory.c_str(),
                     error.message().c_str());
        return 1;
    }
    PaletteRenderFilter filter;
    const std::string outputName = (std::filesystem::path(directory) / "demo.pcx").string();
    std::snprintf(filter.settings.outputName, sizeof filter.settings.outputName, "%s",
                  outputName.c_str());
    filter.settings.ranges[0] = {0, 255, 0};  // the 3-3-2 palette by luminance
    filter.settings.ranges[1] = {0xE0, 0xFF, 1};

    MemoryBitmap bitmap(320, 240);
    FillTestFrame(bitmap);
    ImageFilterInfo info{1};
    filter.SetSource(&bitmap);
    filter.SetFilterInfo(&info);
    filter.RenderFrame(nullptr);

    const std::string written = (std::filesystem::path(directory) / "demo0001.pcx").string();
    if (!std::filesystem::exists(written)) {
        std::fprintf(stderr, "kelvo: cannot write '%s'\n", written.c_str());
        return 1;
    }
    std::printf("%s\n", written.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "demo") == 0) {
        return RunDemo(argc >= 3 ? argv[2] : "kelvo-demo");
    }
    if (argc >= 2 && std::strcmp(argv[1], "configure") == 0) {
        return RunConfigureCommand(std::vector<std::string>(argv + 2, argv + argc));
    }
    if (argc >= 2 && std::strcmp(argv[1], "about") == 0) {
        return RunAboutCommand(std::vector<std::string>(argv + 2, argv + argc));
    }
    std::fprintf(stderr, "usage: kelvo demo [DIR] | kelvo configure FILE | kelvo about\n");
    return 2;
}

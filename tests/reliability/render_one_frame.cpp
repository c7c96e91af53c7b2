// Renders one deterministic frame through the filter to OUTPUT_NAME at FRAME and prints the
// render's result; the fault tests run it with injected file-system faults.
#include <cstdio>
#include <cstdlib>

#include "host/memory_bitmap.h"
#include "plugin/palette_render_filter.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: render_one_frame OUTPUT_NAME FRAME\n");
        return 2;
    }
    PaletteRenderFilter filter;
    std::snprintf(filter.settings.outputName, sizeof filter.settings.outputName, "%s", argv[1]);
    filter.settings.ranges[0] = {0, 255, 1};
    MemoryBitmap bitmap(160, 120);
    for (int y = 0; y < 120; ++y) {
        for (int x = 0; x < 160; ++x) {
            const auto level = static_cast<uint16_t>((x * 409 + y * 277) & 0xFFFF);
            bitmap.Pixel(x, y) = {level, static_cast<uint16_t>(level ^ 0x5555), level, 65535};
        }
    }
    ImageFilterInfo info{std::atoi(argv[2])};
    filter.SetSource(&bitmap);
    filter.SetFilterInfo(&info);
    std::printf("result %d\n", filter.RenderFrame(nullptr));
    return 0;
}

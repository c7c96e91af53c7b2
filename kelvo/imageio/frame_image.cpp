// A decoded input frame: 16-bit RGBA colour and one identifier per pixel.
#include "kelvo/imageio/frame_image.h"

#include <cstdio>

int CheckPixelBudget(int64_t width, int64_t height, int64_t maxPixels, std::string& error) {
    if (width <= 0 || height <= 0 || width <= maxPixels / height) {
        return 1;
    }
    error = std::to_string(width) + " x " + std::to_string(height) +
            " pixels is more than --max-pixels " + std::to_string(maxPixels);
    return 0;
}

std::string FormatBytes(uint64_t bytes) {
    if (bytes < 1024) {
        return std::to_string(bytes) + " bytes";
    }
    const char* const units[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    double value = static_cast<double>(bytes) / 1024;
    size_t unit = 0;
    while (value >= 1024 && unit + 1 < sizeof units / sizeof units[0]) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

std::string DescribeNoMemory(uint64_t bytes) {
    const std::string exact = bytes < 1024 ? "" : " (" + std::to_string(bytes) + " bytes)";
    return "not enough memory: " + FormatBytes(bytes) + exact + " were asked for";
}

std::string FormatIdValue(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

std::string DescribeIdOutOfRange(const std::string& value, int x, int y, int maxId) {
    std::string message = "identifier " + value + " at pixel (" + std::to_string(x) + ", " +
                          std::to_string(y) + ") is outside 0.." + std::to_string(maxId);
    if (maxId == 255) {
        message += " (the material channel holds 8 bits; --source object takes 0..65535)";
    }
    return message;
}

// A decoded input frame: 16-bit RGBA colour and one identifier per pixel.
#include "kelvo/imageio/frame_image.h"

#include <cstdio>

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

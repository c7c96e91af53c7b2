// What both PNG decoders say the same way: colour types, refused identifier pixels and the
// image size a file's head gives.
#include "kelvo/imageio/png_image.h"

#include <cstring>

const char* ColorTypeName(int colorType) {
    switch (colorType) {
        case 0:
            return "grey";
        case 2:
            return "RGB";
        case 3:
            return "palette";
        case 4:
            return "grey+alpha";
        default:
            return "RGBA";
    }
}

std::string RefuseIdPassLayout(int colorType, int bitDepth) {
    const bool kind = colorType == 0 || colorType == 2 || colorType == 6;
    if (kind && (bitDepth == 8 || bitDepth == 16)) {
        return "";
    }
    return std::string(ID_PASS_KINDS) + ", not " + ColorTypeName(colorType) + " of " +
           std::to_string(bitDepth) + " bits";
}

std::string DescribeUngreyIdPixel(int x, int y, const uint16_t (&rgb)[3]) {
    return std::string(ID_PASS_KINDS) + "; pixel (" + std::to_string(x) + ", " + std::to_string(y) +
           ") is (" + std::to_string(rgb[0]) + ", " + std::to_string(rgb[1]) + ", " +
           std::to_string(rgb[2]) + ")";
}

int PngSizeFromHead(const unsigned char* head, size_t size, int& width, int& height) {
    if (size < PNG_HEAD_SIZE || !LooksLikePng(head, size) ||
        std::memcmp(head + 8, "\0\0\0\x0dIHDR", 8) != 0) {
        return 0;
    }
    const auto be32 = [head](size_t at) {
        return static_cast<uint32_t>(head[at]) << 24 | static_cast<uint32_t>(head[at + 1]) << 16 |
               static_cast<uint32_t>(head[at + 2]) << 8 | static_cast<uint32_t>(head[at + 3]);
    };
    const uint32_t w = be32(16);
    const uint32_t h = be32(20);
    if (w == 0 || h == 0 || w > 0x7FFFFFFFu || h > 0x7FFFFFFFu) {
        return 0;
    }
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    return 1;
}

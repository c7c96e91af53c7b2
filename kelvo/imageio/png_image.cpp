// What both PNG decoders say the same way: colour types and refused identifier pixels.
#include "kelvo/imageio/png_image.h"

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

std::string DescribeUngreyIdPixel(int x, int y, const uint16_t (&rgb)[3]) {
    return std::string(ID_PASS_KINDS) + "; pixel (" + std::to_string(x) + ", " + std::to_string(y) +
           ") is (" + std::to_string(rgb[0]) + ", " + std::to_string(rgb[1]) + ", " +
           std::to_string(rgb[2]) + ")";
}

// OpenEXR input in a build without OpenEXR (Windows): such files are recognised and refused.
#include <cstring>

#include "host/exr_image.h"

int ReadExr(const std::string&, const ExrRequest&, ColorImage&, IdImage&, std::string& error) {
    error =
        "OpenEXR input is not available in the Windows build; convert to 16-bit PNG or use the "
        "Linux build";
    return 0;
}

bool LooksLikeExr(const unsigned char* head, size_t size) {
    // The magic number 20000630, little-endian.
    static constexpr unsigned char MAGIC[4] = {0x76, 0x2F, 0x31, 0x01};
    return size >= sizeof MAGIC && std::memcmp(head, MAGIC, sizeof MAGIC) == 0;
}

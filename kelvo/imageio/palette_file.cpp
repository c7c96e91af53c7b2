// The palette files kelvo reads for --palette and `palette show`, told apart by content.
#include "kelvo/imageio/palette_file.h"

#include <cstring>

#include "kelvo/os/file_io.h"
#include "pcx/pcx_format.h"

int DecodePaletteFile(const std::vector<uint8_t>& bytes, PaletteEntry (&palette)[PALETTE_ENTRIES],
                      std::string& error) {
    if (bytes.size() < PCX_HEADER_SIZE + PCX_TRAILER_SIZE ||
        bytes[PCX_MANUFACTURER] != PCX_MANUFACTURER_ZSOFT) {
        error = "not a PCX file; " + std::string(PALETTE_FORMATS);
        return 0;
    }
    const uint8_t* trailer = bytes.data() + bytes.size() - PCX_TRAILER_SIZE;
    if (trailer[0] != PCX_PALETTE_MARKER) {
        error =
            "a PCX file without a 256-colour palette at its end; " + std::string(PALETTE_FORMATS);
        return 0;
    }
    std::memcpy(palette, trailer + 1, PALETTE_BYTES);
    return 1;
}

int ReadPaletteFile(const std::string& path, PaletteEntry (&palette)[PALETTE_ENTRIES],
                    std::string& error) {
    std::vector<uint8_t> bytes;
    std::string reason;
    if (!ReadFileBytes(path, bytes, reason) || !DecodePaletteFile(bytes, palette, reason)) {
        error = "cannot read palette '" + path + "': " + reason;
        return 0;
    }
    return 1;
}

// Confirms that a frame's file was written by this render, and reads its indices back.
#include "kelvo/batch/frame_check.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "pcx/atomic_file.h"
#include "pcx/pcx_frame_reader.h"

std::string DiagnoseUnwritable(const std::string& path) {
    std::filesystem::path directory = std::filesystem::path(path).parent_path();
    if (directory.empty()) {
        directory = ".";
    }
    std::error_code error;
    if (!std::filesystem::exists(directory, error)) {
        return "directory '" + directory.string() + "' does not exist";
    }
    if (!std::filesystem::is_directory(directory, error)) {
        return std::string("'").append(directory.string()).append("' is not a directory");
    }
    const std::string trial = TemporaryNameBeside(path.c_str());
    FILE* file = std::fopen(trial.c_str(), "wb");
    if (file == nullptr) {
        return std::strerror(errno);
    }
    std::fclose(file);
    std::remove(trial.c_str());
    return "the file was not written (is the disk full?)";
}

int CheckFrameFile(const std::string& path, const FileIdentity& before, MemoryBitmap& bitmap,
                   const PaletteEntry* palette, std::vector<uint8_t>& indices,
                   std::string& reason) {
    const FileIdentity after = IdentifyFile(path);
    if (!after.exists) {
        reason = DiagnoseUnwritable(path);
        return 0;
    }
    if (SameFileVersion(before, after)) {
        reason = "the file there is left from before; " + DiagnoseUnwritable(path);
        return 0;
    }
    PcxFrame frame;
    if (!ReadPcxFrame(path.c_str(), frame)) {
        reason = "the file written cannot be read back as a PCX frame";
        return 0;
    }
    if (frame.width != bitmap.Width() || frame.height != bitmap.Height() ||
        std::memcmp(frame.palette, palette, PALETTE_BYTES) != 0) {
        reason = "the file written does not hold this frame";
        return 0;
    }
    // Each pixel as one 64-bit word, alpha masked off, against its entry's colour x 256 laid
    // out the same way; a difference anywhere shows in the words' combined differences.
    const auto word = [](uint16_t red, uint16_t green, uint16_t blue, uint16_t alpha) {
        const BMM_Color_64 colour = {red, green, blue, alpha};
        uint64_t bits = 0;
        std::memcpy(&bits, &colour, sizeof bits);
        return bits;
    };
    uint64_t expected[PALETTE_ENTRIES];
    for (size_t entry = 0; entry < PALETTE_ENTRIES; ++entry) {
        expected[entry] = word(static_cast<uint16_t>(palette[entry].red << 8),
                               static_cast<uint16_t>(palette[entry].green << 8),
                               static_cast<uint16_t>(palette[entry].blue << 8), 0);
    }
    const uint64_t colourBits = word(0xFFFF, 0xFFFF, 0xFFFF, 0);
    const std::vector<BMM_Color_64>& pixels = bitmap.Pixels();
    uint64_t differences = 0;
    for (size_t i = 0; i < pixels.size(); ++i) {
        uint64_t pixel = 0;
        std::memcpy(&pixel, &pixels[i], sizeof pixel);
        differences |= (pixel & colourBits) ^ expected[frame.indices[i]];
    }
    if (differences != 0) {
        reason = "the file written does not hold this frame";
        return 0;
    }
    indices = std::move(frame.indices);
    return 1;
}

// A PCX decoder written apart from the writer, to check what the writer stored.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DecodedPcx {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> indices;  // width x height, row 0 first
    std::vector<uint8_t> palette;  // 768 bytes
};

// Decodes an 8-bit single-plane RLE PCX image with a 256-colour trailer. Returns false, with
// the reason in `error`, for anything else or for a damaged file.
bool DecodePcx(const std::vector<uint8_t>& file, DecodedPcx& out, std::string& error);

std::vector<uint8_t> ReadWholeFile(const std::string& path);

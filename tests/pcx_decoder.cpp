// A PCX decoder written apart from the writer, to check what the writer stored.
#include "tests/pcx_decoder.h"

#include <fstream>
#include <iterator>

namespace {
int Word(const std::vector<uint8_t>& file, size_t at) {
    return file[at] | file[at + 1] << 8;
}
}  // namespace

bool DecodePcx(const std::vector<uint8_t>& file, DecodedPcx& out, std::string& error) {
    if (file.size() < 128 + 769) {
        error = "shorter than header and palette";
        return false;
    }
    if (file[0] != 10 || file[2] != 1 || file[3] != 8 || file[65] != 1) {
        error = "not an 8-bit single-plane RLE PCX file";
        return false;
    }
    out.width = Word(file, 8) - Word(file, 4) + 1;
    out.height = Word(file, 10) - Word(file, 6) + 1;
    const int bytesPerLine = Word(file, 66);
    if (bytesPerLine < out.width) {
        error = "bytes per line below the width";
        return false;
    }
    const size_t end = file.size() - 769;
    if (file[end] != 12) {
        error = "no palette marker 769 bytes before the end";
        return false;
    }
    out.palette.assign(file.begin() + static_cast<long>(end) + 1, file.end());
    out.indices.clear();
    size_t at = 128;
    for (int y = 0; y < out.height; ++y) {
        std::vector<uint8_t> line;
        while (static_cast<int>(line.size()) < bytesPerLine) {
            if (at >= end) {
                error = "image data runs into the palette at line " + std::to_string(y);
                return false;
            }
            const uint8_t byte = file[at++];
            if ((byte & 0xC0) == 0xC0) {
                if (at >= end) {
                    error = "run without a value";
                    return false;
                }
                line.insert(line.end(), byte & 0x3F, file[at++]);
            } else {
                line.push_back(byte);
            }
        }
        if (static_cast<int>(line.size()) != bytesPerLine) {
            error = "a run crosses the end of line " + std::to_string(y);
            return false;
        }
        out.indices.insert(out.indices.end(), line.begin(), line.begin() + out.width);
    }
    if (at != end) {
        error = "bytes left between the image and the palette";
        return false;
    }
    return true;
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

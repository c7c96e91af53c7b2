// Reads the blocks of a GIF file plainly, for tests: the screen, the global colour table, the
// loop extension, and each frame's control extension and image descriptor.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What the blocks of a GIF file say; `valid` is false when they do not parse.
struct GifBlocks {
    bool valid = false;
    std::string version;
    int width = 0, height = 0;
    uint8_t screenFlags = 0, background = 0;
    std::vector<uint8_t> globalTable;
    bool loopsForever = false;
    struct Frame {
        uint8_t disposal = 0;
        int delay = 0;
        int transparent = -1;
        uint8_t imageFlags = 0;
        int left = 0, top = 0, width = 0, height = 0;
    };
    std::vector<Frame> frames;
};

// Parses `bytes`; `valid` is set only when they end with the trailer right after the last block.
GifBlocks ReadGifBlocks(const std::vector<uint8_t>& bytes);

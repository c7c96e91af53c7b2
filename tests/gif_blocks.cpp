// Reads the blocks of a GIF file plainly, for tests.
#include "tests/gif_blocks.h"

#include <cstring>

GifBlocks ReadGifBlocks(const std::vector<uint8_t>& b) {
    GifBlocks gif;
    if (b.size() < 13) {
        return gif;
    }
    const auto le16 = [&b](size_t at) { return b[at] | b[at + 1] << 8; };
    gif.version.assign(b.begin(), b.begin() + 6);
    gif.width = le16(6);
    gif.height = le16(8);
    gif.screenFlags = b[10];
    gif.background = b[11];
    size_t at = 13;
    if (gif.screenFlags & 0x80) {
        const size_t size = size_t{3} << ((gif.screenFlags & 7) + 1);
        if (13 + size > b.size()) {
            return gif;
        }
        gif.globalTable.assign(b.begin() + 13, b.begin() + static_cast<std::ptrdiff_t>(13 + size));
        at += size;
    }
    const auto skipSubBlocks = [&b, &at]() {
        while (at < b.size() && b[at] != 0) {
            at += size_t{1} + b[at];
        }
        ++at;
    };
    GifBlocks::Frame next;
    while (at < b.size()) {
        if (b[at] == 0x3B) {
            gif.valid = at + 1 == b.size();
            return gif;
        }
        if (b[at] == 0x21 && at + 2 < b.size() && b[at + 1] == 0xF9 && at + 8 <= b.size()) {
            next.disposal = static_cast<uint8_t>((b[at + 3] >> 2) & 7);
            next.delay = le16(at + 4);
            next.transparent = (b[at + 3] & 1) ? b[at + 6] : -1;
            at += 2;
            skipSubBlocks();
        } else if (b[at] == 0x21 && at + 18 < b.size() && b[at + 1] == 0xFF) {
            gif.loopsForever = std::memcmp(&b[at + 3], "NETSCAPE2.0", 11) == 0 && b[at + 14] == 3 &&
                               b[at + 15] == 1 && le16(at + 16) == 0;
            at += 2;
            skipSubBlocks();
        } else if (b[at] == 0x2C && at + 11 < b.size()) {
            next.left = le16(at + 1);
            next.top = le16(at + 3);
            next.width = le16(at + 5);
            next.height = le16(at + 7);
            next.imageFlags = b[at + 9];
            gif.frames.push_back(next);
            next = {};
            at += 11;  // then the LZW code size and the data's sub-blocks
            skipSubBlocks();
        } else {
            return gif;
        }
    }
    return gif;
}

// A deterministic test frame and filter settings, rendered alike by every build of the module.
#include "tests/reference_frame.h"

namespace {

// Grey levels whose palette index is decided by the last bits of the luminance.
std::vector<uint16_t> EdgeGreys() {
    std::vector<uint16_t> greys = {0,     1,     65534, 65535, 16383, 16384, 16385,
                                   32767, 32768, 32769, 49151, 49152, 49153};
    // Level edges of the full range without dither: multiples of 256.
    for (int k : {1, 2, 63, 64, 127, 128, 129, 191, 254, 255}) {
        for (int delta : {-1, 0, 1}) {
            greys.push_back(static_cast<uint16_t>(256 * k + delta));
        }
    }
    // Level edges of the dithered ranges: multiples of 65536 / m for m = 7 and 511.
    for (int m : {7, 511}) {
        for (int h = 1; h<m; h += m> 7 ? 37 : 1) {
            const int edge = static_cast<int>((65536LL * h + m - 1) / m);
            for (int delta : {-1, 0, 1}) {
                greys.push_back(static_cast<uint16_t>(edge + delta));
            }
        }
    }
    return greys;
}

struct Lcg {
    uint32_t state;
    uint32_t Next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
};

}  // namespace

void FillReferenceFrame(MemoryBitmap& frame) {
    const std::vector<uint16_t> greys = EdgeGreys();
    Lcg random{20240521u};
    size_t next = 0;
    for (int y = 0; y < frame.Height(); ++y) {
        for (int x = 0; x < frame.Width(); ++x) {
            BMM_Color_64 pixel;
            // Every fourth row holds colours, the others greys; each grey is met at both
            // checkerboard parities and under several identifiers.
            if (y % 4 == 3) {
                pixel = {static_cast<uint16_t>(random.Next()), static_cast<uint16_t>(random.Next()),
                         static_cast<uint16_t>(random.Next()), 0};
            } else {
                const uint16_t grey = greys[next++ % greys.size()];
                pixel = {grey, grey, grey, 0};
            }
            pixel.a = static_cast<uint16_t>(random.Next());
            frame.Pixel(x, y) = pixel;
            // Identifiers 0-17, and a few far beyond the sixteen ranges.
            const unsigned id = (static_cast<unsigned>(x) / 4 + static_cast<unsigned>(y)) % 18;
            frame.MaterialId(x, y) = static_cast<uint8_t>(x == 63 ? 200 : id);
            frame.ObjectId(x, y) = static_cast<uint16_t>(x == 63 ? 65535 : id);
        }
    }
}

void SetReferenceSettings(PaletteRenderSettings& settings, ReferenceVariant variant) {
    SetDefaultSettings(settings);
    const ColorRange ranges[RANGE_COUNT] = {
        {0, 255, 0},   {10, 13, 1}, {255, 0, 0},   {13, 10, 1},   {0, 255, 1}, {7, 7, 1},
        {255, 0, 1},   {40, 39, 0}, {128, 143, 0}, {144, 159, 1}, {0, 0, 0},   {5, 6, 0},
        {224, 255, 1}, {1, 254, 0}, {200, 100, 0}, {16, 31, 1},
    };
    for (int k = 0; k < RANGE_COUNT; ++k) {
        settings.ranges[k] = ranges[k];
    }
    if (variant == REFERENCE_NEAREST) {
        settings.method = METHOD_NEAREST;
        settings.source = SOURCE_OBJECT;
        settings.palette[6] = settings.palette[5];  // a tie: the lower index wins
    }
}

uint64_t Fingerprint(const uint8_t* data, size_t size) {
    uint64_t hash = 14695981039346656037ull;
    for (size_t i = 0; i < size; ++i) {
        hash = (hash ^ data[i]) * 1099511628211ull;
    }
    return hash;
}

uint64_t BitmapFingerprint(MemoryBitmap& frame) {
    std::vector<uint8_t> bytes;
    for (const BMM_Color_64& pixel : frame.Pixels()) {
        for (uint16_t channel : {pixel.r, pixel.g, pixel.b, pixel.a}) {
            bytes.push_back(static_cast<uint8_t>(channel & 0xFF));
            bytes.push_back(static_cast<uint8_t>(channel >> 8));
        }
    }
    return Fingerprint(bytes.data(), bytes.size());
}

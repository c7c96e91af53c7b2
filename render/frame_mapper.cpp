// Chooses the palette indices of a frame's pixels, with the settings prepared once per frame.
#include "render/frame_mapper.h"

#include <cstring>

#include "render/palette_mapping.h"

FrameMapper::FrameMapper(const PaletteRenderSettings& settings)
    : settings_(settings),
      uniform_(settings.method == METHOD_UNIFORM),
      kernel_(FastestUniformKernel()) {
    for (int k = 0; k < RANGE_COUNT; ++k) {
        steps_[k] = UniformStepOf(settings.ranges[k]);
    }
}

FrameMapper::~FrameMapper() = default;

namespace {

// Where the run of identifiers of range `rangeIndex` that starts at `x` ends: eight bytes of
// identifiers at a time while they all hold `rangeIndex` itself (as frames without
// identifiers do, all 0), then one at a time, through `rangeOf`.
template <typename Id, typename RangeOf>
int RunEnd(const Id* ids, int x, int count, unsigned rangeIndex, RangeOf rangeOf) {
    constexpr int PER_WORD = static_cast<int>(sizeof(uint64_t) / sizeof(Id));
    const uint64_t same = rangeIndex * (sizeof(Id) == 1 ? uint64_t{0x0101010101010101}
                                                        : uint64_t{0x0001000100010001});
    int end = x + 1;
    for (uint64_t word = 0; end + PER_WORD <= count; end += PER_WORD) {
        std::memcpy(&word, ids + end, sizeof word);
        if (word != same) {
            break;
        }
    }
    while (end < count && rangeOf(ids[end]) == rangeIndex) {
        ++end;
    }
    return end;
}

}  // namespace

// Runs of pixels with one range go to its search together.
template <typename Id>
void FrameMapper::MapNearestRow(const BMM_Color_64* pixels, const Id* ids, int count,
                                uint8_t* indices) {
    static_assert(sizeof(Id) == 1 || sizeof(Id) == 2);
    int x = 0;
    while (x < count) {
        const unsigned rangeIndex = RangeIndexOf(ids[x]);
        const int end = RunEnd(ids, x, count, rangeIndex, RangeIndexOf);
        NearestSearch* search = SearchFor(rangeIndex);
        if (search != nullptr) {
            search->FindAll(pixels + x, static_cast<size_t>(end - x), indices + x);
        } else {
            const ColorRange& range = settings_.ranges[rangeIndex];
            for (int i = x; i < end; ++i) {
                indices[i] = static_cast<uint8_t>(
                    NearestIndex(settings_.palette, range, pixels[i].r, pixels[i].g, pixels[i].b));
            }
        }
        x = end;
    }
}

void FrameMapper::MapRow(const BMM_Color_64* pixels, const uint8_t* ids, int count, int y,
                         uint8_t* indices) {
    if (uniform_) {
        MapUniformRow(kernel_, steps_, pixels, ids, count, y, indices);
    } else {
        MapNearestRow(pixels, ids, count, indices);
    }
}

void FrameMapper::MapRow(const BMM_Color_64* pixels, const uint16_t* ids, int count, int y,
                         uint8_t* indices) {
    if (uniform_) {
        MapUniformRow(kernel_, steps_, pixels, ids, count, y, indices);
    } else {
        MapNearestRow(pixels, ids, count, indices);
    }
}

int FrameMapper::MapPixel(const BMM_Color_64& pixel, unsigned id, int x, int y) {
    if (uniform_) {
        return UniformStepIndex(steps_[RangeIndexOf(id)], pixel, x, y);
    }
    const unsigned rangeIndex = RangeIndexOf(id);
    NearestSearch* search = SearchFor(rangeIndex);
    return search != nullptr ? search->Find(pixel.r, pixel.g, pixel.b)
                             : NearestIndex(settings_.palette, settings_.ranges[rangeIndex],
                                            pixel.r, pixel.g, pixel.b);
}

NearestSearch* FrameMapper::SearchFor(unsigned rangeIndex) {
    if (searchTried_[rangeIndex]) {
        return searches_[rangeIndex];
    }
    searchTried_[rangeIndex] = true;
    const ColorRange& range = settings_.ranges[rangeIndex];
    for (int k = 0; k < RANGE_COUNT; ++k) {
        const ColorRange& other = settings_.ranges[k];
        if (searches_[k] != nullptr && other.first == range.first && other.last == range.last) {
            searches_[rangeIndex] = searches_[k];
            return searches_[rangeIndex];
        }
    }
    try {
        owned_[rangeIndex] = std::make_unique<NearestSearch>(settings_.palette, range);
        if (owned_[rangeIndex]->Ready()) {
            searches_[rangeIndex] = owned_[rangeIndex].get();
        }
    } catch (...) {
        // Without memory for a search the range is scanned, with the same result.
    }
    return searches_[rangeIndex];
}

// Chooses the palette indices of a frame's pixels, with the settings prepared once per frame.
#include "render/frame_mapper.h"

#include <cstring>

#include "render/palette_mapping.h"

namespace {

// The entries a range's nearest search looks at: its usable entries, or the block's range as
// NearestIndex reads it.
std::bitset<PALETTE_ENTRIES> SearchEntries(const ColorRange& range, const RangeRule& rule) {
    return rule.fromBlock ? RangeEntries(range) : rule.entrySet;
}

}  // namespace

FrameMapper::FrameMapper(const PaletteRenderSettings& settings)
    : settings_(settings),
      uniform_(settings.method == METHOD_UNIFORM),
      kernel_(FastestUniformKernel()) {
    for (int k = 0; k < RANGE_COUNT; ++k) {
        steps_[k] = UniformStepOf(settings.ranges[k]);
    }
}

FrameMapper::FrameMapper(const PaletteRenderSettings& settings, const RangeChoices& choices)
    : FrameMapper(settings) {
    for (int k = 0; k < RANGE_COUNT; ++k) {
        rules_[static_cast<size_t>(k)] = RangeRuleOf(settings, choices, k);
        blockOnly_ = blockOnly_ && rules_[static_cast<size_t>(k)].fromBlock;
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

void FrameMapper::FindNearest(unsigned rangeIndex, const BMM_Color_64* pixels, int x, int count,
                              uint8_t* indices) {
    NearestSearch* search = SearchFor(rangeIndex);
    if (search != nullptr) {
        search->FindAll(pixels + x, static_cast<size_t>(count), indices + x);
        return;
    }
    const RangeRule& rule = rules_[rangeIndex];
    const ColorRange& range = settings_.ranges[rangeIndex];
    for (int i = x; i < x + count; ++i) {
        const BMM_Color_64& pixel = pixels[i];
        indices[i] = static_cast<uint8_t>(
            rule.fromBlock
                ? NearestIndex(settings_.palette, range, pixel.r, pixel.g, pixel.b)
                : NearestEntryIndex(settings_.palette, rule.entrySet, pixel.r, pixel.g, pixel.b));
    }
}

// Runs of pixels with one range go to its search together.
template <typename Id>
void FrameMapper::MapNearestRow(const BMM_Color_64* pixels, const Id* ids, int count,
                                uint8_t* indices) {
    static_assert(sizeof(Id) == 1 || sizeof(Id) == 2);
    int x = 0;
    while (x < count) {
        const unsigned rangeIndex = RangeIndexOf(ids[x]);
        const int end = RunEnd(ids, x, count, rangeIndex, RangeIndexOf);
        FindNearest(rangeIndex, pixels, x, end - x, indices);
        x = end;
    }
}

template <typename Id>
void FrameMapper::MapMixedRow(const BMM_Color_64* pixels, const Id* ids, int count, int y,
                              uint8_t* indices) {
    int x = 0;
    while (x < count) {
        const unsigned rangeIndex = RangeIndexOf(ids[x]);
        const int end = RunEnd(ids, x, count, rangeIndex, RangeIndexOf);
        const RangeRule& rule = rules_[rangeIndex];
        if (rule.fromBlock ? !uniform_ : rule.method == RangeMethod::Nearest) {
            FindNearest(rangeIndex, pixels, x, end - x, indices);
        } else if (rule.fromBlock) {
            for (int i = x; i < end; ++i) {
                indices[i] =
                    static_cast<uint8_t>(UniformStepIndex(steps_[rangeIndex], pixels[i], i, y));
            }
        } else {
            const int entries = static_cast<int>(rule.entries.size());
            for (int i = x; i < end; ++i) {
                const double luminance = Luminance(pixels[i].r, pixels[i].g, pixels[i].b);
                indices[i] = rule.entries[static_cast<size_t>(
                    SpreadPosition(entries, rule.pattern, rule.strength, luminance, i, y))];
            }
        }
        x = end;
    }
}

void FrameMapper::MapRow(const BMM_Color_64* pixels, const uint8_t* ids, int count, int y,
                         uint8_t* indices) {
    if (!blockOnly_) {
        MapMixedRow(pixels, ids, count, y, indices);
    } else if (uniform_) {
        MapUniformRow(kernel_, steps_, pixels, ids, count, y, indices);
    } else {
        MapNearestRow(pixels, ids, count, indices);
    }
}

void FrameMapper::MapRow(const BMM_Color_64* pixels, const uint16_t* ids, int count, int y,
                         uint8_t* indices) {
    if (!blockOnly_) {
        MapMixedRow(pixels, ids, count, y, indices);
    } else if (uniform_) {
        MapUniformRow(kernel_, steps_, pixels, ids, count, y, indices);
    } else {
        MapNearestRow(pixels, ids, count, indices);
    }
}

int FrameMapper::MapPixel(const BMM_Color_64& pixel, unsigned id, int x, int y) {
    const unsigned rangeIndex = RangeIndexOf(id);
    const RangeRule& rule = rules_[rangeIndex];
    if (rule.fromBlock ? uniform_ : rule.method == RangeMethod::Uniform) {
        if (rule.fromBlock) {
            return UniformStepIndex(steps_[rangeIndex], pixel, x, y);
        }
        const double luminance = Luminance(pixel.r, pixel.g, pixel.b);
        return rule.entries[static_cast<size_t>(SpreadPosition(
            static_cast<int>(rule.entries.size()), rule.pattern, rule.strength, luminance, x, y))];
    }
    uint8_t index = 0;
    FindNearest(rangeIndex, &pixel, 0, 1, &index);
    return index;
}

NearestSearch* FrameMapper::SearchFor(unsigned rangeIndex) {
    if (searchTried_[rangeIndex]) {
        return searches_[rangeIndex];
    }
    searchTried_[rangeIndex] = true;
    try {
        const std::bitset<PALETTE_ENTRIES> entries =
            SearchEntries(settings_.ranges[rangeIndex], rules_[rangeIndex]);
        for (unsigned k = 0; k < RANGE_COUNT; ++k) {
            if (searches_[k] != nullptr &&
                SearchEntries(settings_.ranges[k], rules_[k]) == entries) {
                searches_[rangeIndex] = searches_[k];
                return searches_[rangeIndex];
            }
        }
        owned_[rangeIndex] = std::make_unique<NearestSearch>(settings_.palette, entries);
        if (owned_[rangeIndex]->Ready()) {
            searches_[rangeIndex] = owned_[rangeIndex].get();
        }
    } catch (...) {
        // Without memory for a search the range is scanned, with the same result.
    }
    return searches_[rangeIndex];
}

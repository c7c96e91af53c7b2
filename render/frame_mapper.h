// Chooses the palette indices of a frame's pixels, with the settings prepared once per frame.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "hostapi/host_api.h"
#include "plugin/settings.h"
#include "render/nearest_search.h"
#include "render/range_rules.h"
#include "render/uniform_rows.h"

// Gives for every pixel exactly the index that UniformIndex, DitheredIndex or NearestIndex
// give for its identifier's range, or, for a range whose rule (RangeRuleOf) maps over its
// usable entries, the entry at SpreadPosition or the nearest usable entry. What it prepares
// per range (the uniform step, the rule, the nearest search) lives as long as the mapper; the
// settings must not change meanwhile.
class FrameMapper {
public:
    explicit FrameMapper(const PaletteRenderSettings& settings);
    // With range choices (copied): ranges the block alone describes map as above.
    FrameMapper(const PaletteRenderSettings& settings, const RangeChoices& choices);
    ~FrameMapper();
    FrameMapper(const FrameMapper&) = delete;
    FrameMapper& operator=(const FrameMapper&) = delete;

    // The indices of `count` pixels of row y, from column 0, with their identifiers.
    void MapRow(const BMM_Color_64* pixels, const uint8_t* ids, int count, int y, uint8_t* indices);
    void MapRow(const BMM_Color_64* pixels, const uint16_t* ids, int count, int y,
                uint8_t* indices);

    // The index of the one pixel (x, y).
    int MapPixel(const BMM_Color_64& pixel, unsigned id, int x, int y);

private:
    // Identifiers beyond the sixteen ranges are served by range 0 (see RangeForId).
    static unsigned RangeIndexOf(unsigned id) { return id < RANGE_COUNT ? id : 0; }

    // The range's search, made on its first use; null when there is no memory for one.
    NearestSearch* SearchFor(unsigned rangeIndex);
    template <typename Id>
    void MapNearestRow(const BMM_Color_64* pixels, const Id* ids, int count, uint8_t* indices);
    // Rows where some range maps over its usable entries: range by range, run by run.
    template <typename Id>
    void MapMixedRow(const BMM_Color_64* pixels, const Id* ids, int count, int y, uint8_t* indices);
    // The nearest of `count` pixels from column `x` in range `rangeIndex`.
    void FindNearest(unsigned rangeIndex, const BMM_Color_64* pixels, int x, int count,
                     uint8_t* indices);

    const PaletteRenderSettings& settings_;
    bool uniform_;
    UniformKernel kernel_;
    UniformStep steps_[RANGE_COUNT];
    std::array<RangeRule, RANGE_COUNT> rules_;
    bool blockOnly_ = true;  // every rule is the block's: the plug-in's paths alone
    // Per range the search, shared by ranges of equal entries.
    NearestSearch* searches_[RANGE_COUNT] = {};
    std::unique_ptr<NearestSearch> owned_[RANGE_COUNT];
    bool searchTried_[RANGE_COUNT] = {};
};

// Exact nearest palette entry of one colour range, through a lazily built grid of candidates.
#include "render/nearest_search.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int32_t COARSE_SIDE = 8192;  // colour values per coarse cell side
constexpr int32_t FINE_SIDE = 1024;    // colour values per fine cell side

// Squared distance from the palette colour `scaled` (byte x 256) to the nearest and to the
// farthest value of [low, high] along one axis.
void AxisDistances(int32_t scaled, int32_t low, int32_t high, uint64_t& nearest,
                   uint64_t& farthest) {
    const int32_t below = low - scaled;
    const int32_t above = scaled - high;
    const int32_t gap = below > 0 ? below : (above > 0 ? above : 0);
    const int32_t reach = std::max(scaled - low, high - scaled);
    nearest = static_cast<uint64_t>(gap) * static_cast<uint64_t>(gap);
    const int64_t reach64 = reach;
    farthest = static_cast<uint64_t>(reach64 * reach64);
}

}  // namespace

NearestSearch::NearestSearch(const PaletteEntry* palette, ColorRange range,
                             size_t listBytesLimit)
    : listBytesLimit_(listBytesLimit) {
    std::fill(std::begin(coarseBlocks_), std::end(coarseBlocks_), -1);
    // A later entry of the same colour never wins: the lowest index takes every tie.
    for (int i = range.first; i <= range.last; ++i) {
        const PaletteEntry& colour = palette[i];
        Entry& entry = entries_[i];
        entry.red = colour.red;
        entry.green = colour.green;
        entry.blue = colour.blue;
        entry.weight = 128 * (entry.red * entry.red + entry.green * entry.green +
                              entry.blue * entry.blue);
        bool duplicate = false;
        for (uint8_t earlier : distinct_) {
            const Entry& other = entries_[earlier];
            if (other.red == entry.red && other.green == entry.green && other.blue == entry.blue) {
                duplicate = true;
                break;
            }
        }
        if (!duplicate) {
            distinct_.push_back(static_cast<uint8_t>(i));
        }
    }
    if (distinct_.empty()) {
        // A reversed range answers `first` for every colour.
        distinct_.push_back(range.first);
    }
    lists_.push_back(0);  // offset 0 stays unused, so a cell word of 0 means "not built"
}

int NearestSearch::FindSlow(uint16_t red, uint16_t green, uint16_t blue) {
    const unsigned coarse = CoarseCell(red, green, blue);
    const unsigned fine = FineCell(red, green, blue);
    int32_t block = coarseBlocks_[coarse];
    if (block < 0) {
        block = exhausted_ ? -1 : BuildCoarse(coarse);
        if (block < 0) {
            return Scan(distinct_.data(), distinct_.size(), red, green, blue);
        }
    }
    uint32_t& cell = cells_[static_cast<size_t>(block) * CELLS_PER_BLOCK + fine];
    if (cell == 0 && !exhausted_) {
        cell = BuildFine(block, coarse, fine);
    }
    if ((cell & CELL_SINGLE) != 0) {
        return static_cast<int>(cell >> 1);
    }
    // A list of this cell, or (when memory ran out) the coarse cell's list.
    const uint8_t* list = lists_.data() + (cell != 0 ? cell >> 1 : coarseLists_[static_cast<size_t>(block)]);
    return Scan(list + 1, size_t{list[0]} + 1, red, green, blue);
}

int32_t NearestSearch::BuildCoarse(unsigned coarse) {
    const int32_t corner[3] = {static_cast<int32_t>(coarse >> 6) * COARSE_SIDE,
                               static_cast<int32_t>((coarse >> 3) & 7) * COARSE_SIDE,
                               static_cast<int32_t>(coarse & 7) * COARSE_SIDE};
    Box box;
    for (int axis = 0; axis < 3; ++axis) {
        box.low[axis] = corner[axis];
        box.high[axis] = corner[axis] + COARSE_SIDE - 1;
    }
    uint8_t kept[PALETTE_ENTRIES];
    const size_t count = Prune(box, distinct_.data(), distinct_.size(), kept);
    uint32_t offset = 0;
    if (!StoreList(kept, count, offset)) {
        return -1;
    }
    const auto block = static_cast<int32_t>(coarseLists_.size());
    try {
        coarseLists_.push_back(offset);
        cells_.resize(cells_.size() + CELLS_PER_BLOCK, 0);
    } catch (...) {
        coarseLists_.resize(static_cast<size_t>(block));
        exhausted_ = true;
        return -1;
    }
    coarseBlocks_[coarse] = block;
    return block;
}

uint32_t NearestSearch::BuildFine(int32_t block, unsigned coarse, unsigned fine) {
    const int32_t corner[3] = {
        static_cast<int32_t>(coarse >> 6) * COARSE_SIDE + static_cast<int32_t>(fine >> 6) * FINE_SIDE,
        static_cast<int32_t>((coarse >> 3) & 7) * COARSE_SIDE +
            static_cast<int32_t>((fine >> 3) & 7) * FINE_SIDE,
        static_cast<int32_t>(coarse & 7) * COARSE_SIDE + static_cast<int32_t>(fine & 7) * FINE_SIDE};
    Box box;
    for (int axis = 0; axis < 3; ++axis) {
        box.low[axis] = corner[axis];
        box.high[axis] = corner[axis] + FINE_SIDE - 1;
    }
    const uint8_t* coarseList = lists_.data() + coarseLists_[static_cast<size_t>(block)];
    uint8_t kept[PALETTE_ENTRIES];
    const size_t count = Prune(box, coarseList + 1, size_t{coarseList[0]} + 1, kept);
    if (count == 1) {
        return (uint32_t{kept[0]} << 1) | CELL_SINGLE;
    }
    uint32_t offset = 0;
    return StoreList(kept, count, offset) ? offset << 1 : 0;
}

int NearestSearch::StoreList(const uint8_t* list, size_t count, uint32_t& offset) {
    if (lists_.size() + count + 1 > listBytesLimit_) {
        exhausted_ = true;
        return 0;
    }
    const size_t start = lists_.size();
    try {
        lists_.push_back(static_cast<uint8_t>(count - 1));
        lists_.insert(lists_.end(), list, list + count);
    } catch (...) {
        lists_.resize(start);
        exhausted_ = true;
        return 0;
    }
    offset = static_cast<uint32_t>(start);
    return 1;
}

// Keeps, in ascending order, the candidates that are the choice for at least one colour of
// the box. First a cheap cut: an entry whose nearest point of the box is farther than some
// entry's farthest point loses everywhere. Then each survivor is tested against each other.
size_t NearestSearch::Prune(const Box& box, const uint8_t* candidates, size_t count,
                            uint8_t* kept) const {
    uint64_t nearest[PALETTE_ENTRIES];
    uint64_t bound = UINT64_MAX;
    for (size_t i = 0; i < count; ++i) {
        const Entry& entry = entries_[candidates[i]];
        const int32_t scaled[3] = {entry.red << 8, entry.green << 8, entry.blue << 8};
        uint64_t near = 0;
        uint64_t far = 0;
        for (int axis = 0; axis < 3; ++axis) {
            uint64_t axisNear = 0;
            uint64_t axisFar = 0;
            AxisDistances(scaled[axis], box.low[axis], box.high[axis], axisNear, axisFar);
            near += axisNear;
            far += axisFar;
        }
        nearest[i] = near;
        bound = std::min(bound, far);
    }
    uint8_t survivors[PALETTE_ENTRIES];
    size_t survivorCount = 0;
    for (size_t i = 0; i < count; ++i) {
        if (nearest[i] <= bound) {
            survivors[survivorCount++] = candidates[i];
        }
    }
    size_t keptCount = 0;
    for (size_t i = 0; i < survivorCount; ++i) {
        bool loses = false;
        for (size_t j = 0; j < survivorCount && !loses; ++j) {
            loses = j != i && NeverBeats(survivors[i], survivors[j], box);
        }
        if (!loses) {
            kept[keptCount++] = survivors[i];
        }
    }
    return keptCount;
}

// True when `loser` is never the choice over `winner` anywhere in the box. The squared
// distances differ by 512 times a linear function of the colour, so its least value over
// the box sits at a corner picked axis by axis.
bool NearestSearch::NeverBeats(int loser, int winner, const Box& box) const {
    const Entry& a = entries_[loser];
    const Entry& b = entries_[winner];
    const int32_t delta[3] = {a.red - b.red, a.green - b.green, a.blue - b.blue};
    int64_t least = int64_t{a.weight} - b.weight;
    for (int axis = 0; axis < 3; ++axis) {
        const int32_t at = delta[axis] > 0 ? box.high[axis] : box.low[axis];
        least -= int64_t{delta[axis]} * at;
    }
    return least > 0 || (least == 0 && winner < loser);
}

int NearestSearch::Scan(const uint8_t* candidates, size_t count, uint16_t red, uint16_t green,
                        uint16_t blue) const {
    int best = candidates[0];
    int32_t bestKey = INT32_MAX;
    for (size_t i = 0; i < count; ++i) {
        const Entry& entry = entries_[candidates[i]];
        const int32_t key =
            entry.weight - (entry.red * red + entry.green * green + entry.blue * blue);
        if (key < bestKey) {
            bestKey = key;
            best = candidates[i];
        }
    }
    return best;
}

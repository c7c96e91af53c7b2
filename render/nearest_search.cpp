// Exact nearest palette entry of one colour range, through a lazily built grid of candidates.
#include "render/nearest_search.h"

#include <algorithm>
#include <cstdlib>

#include "render/palette_mapping.h"

namespace {

constexpr unsigned CELL_COUNT = 1u << 18;
constexpr int32_t CELL_SIDE = 1024;    // colour values per cell side
constexpr int32_t HALF_SIDE = 512;     // and per side of a halved cell
constexpr int32_t COARSE_SIDE = 8192;  // and per side of a block of 8 x 8 x 8 cells
constexpr size_t PAIR_KEYS = 256 * 256;

unsigned CoarseOf(unsigned red, unsigned green, unsigned blue) {
    return ((red >> 13) << 6) | ((green >> 13) << 3) | (blue >> 13);
}

// Squared distance from the palette colour `scaled` (byte x 256) to the nearest and to the
// farthest value of [low, high] along one axis.
void AxisDistances(int32_t scaled, int32_t low, int32_t high, uint64_t& nearest,
                   uint64_t& farthest) {
    const int32_t below = low - scaled;
    const int32_t above = scaled - high;
    const int64_t gap = below > 0 ? below : (above > 0 ? above : 0);
    const int64_t reach = std::max(scaled - low, high - scaled);
    nearest = static_cast<uint64_t>(gap * gap);
    farthest = static_cast<uint64_t>(reach * reach);
}

}  // namespace

NearestSearch::NearestSearch(const PaletteEntry* palette, ColorRange range, size_t tableBytesLimit)
    : NearestSearch(palette, RangeEntries(range), tableBytesLimit) {}

NearestSearch::NearestSearch(const PaletteEntry* palette,
                             const std::bitset<PALETTE_ENTRIES>& entries, size_t tableBytesLimit)
    : tableBytesLimit_(tableBytesLimit) {
    // A later entry of the same colour never wins: the lowest index takes every tie.
    for (int i = 0; i < PALETTE_ENTRIES; ++i) {
        if (!entries[static_cast<size_t>(i)]) {
            continue;
        }
        Entry& entry = entries_[i];
        entry.red = palette[i].red;
        entry.green = palette[i].green;
        entry.blue = palette[i].blue;
        entry.weight =
            128 * (entry.red * entry.red + entry.green * entry.green + entry.blue * entry.blue);
        const bool duplicate = std::any_of(distinct_.begin(), distinct_.end(), [&](uint8_t k) {
            return entries_[k].red == entry.red && entries_[k].green == entry.green &&
                   entries_[k].blue == entry.blue;
        });
        if (!duplicate) {
            distinct_.push_back(static_cast<uint8_t>(i));
        }
    }
    if (distinct_.empty()) {
        distinct_.push_back(0);  // outside the contract; an answer still, never a crash
    }
    records_.reserve(1 + PALETTE_ENTRIES + 64);
    records_.push_back({0, 0, 0, 0, 0, 0, LIST_NOT_BUILT});
    for (int i = 0; i < PALETTE_ENTRIES; ++i) {
        const auto index = static_cast<uint8_t>(i);
        records_.push_back({0, 0, 0, 0, index, index, 0});
    }
    lists_.push_back(0);  // offset 0 stays unused: a list offset of 0 means "no list"
    cells_ = static_cast<uint16_t*>(std::calloc(CELL_COUNT, sizeof(uint16_t)));
}

NearestSearch::~NearestSearch() {
    std::free(cells_);
}

int NearestSearch::FindInList(uint32_t list, uint16_t red, uint16_t green, uint16_t blue) {
    if (list == LIST_NOT_BUILT) {
        const unsigned coarse = CoarseOf(red, green, blue);
        uint32_t coarseList = coarseLists_[coarse];
        if (coarseList == 0 && !exhausted_) {
            coarseList = BuildCoarse(coarse);
        }
        const unsigned cell = CellOf(red, green, blue);
        if (coarseList != 0 && !exhausted_) {
            cells_[cell] = BuildCell(cell, coarseList);
        }
        if (cells_[cell] == 0) {
            // Out of room for cells: compare the block's candidates, or all of them.
            return coarseList != 0 ? Scan(&lists_[coarseList + 1], lists_[coarseList] + size_t{1},
                                          red, green, blue)
                                   : Scan(distinct_.data(), distinct_.size(), red, green, blue);
        }
        return Find(red, green, blue);
    }
    if ((list & LIST_HALVES) != 0) {
        const unsigned half = ((red >> 7) & 4u) | ((green >> 8) & 2u) | ((blue >> 9) & 1u);
        return Answer(halves_[(list & ~LIST_HALVES) + half], red, green, blue);
    }
    return Scan(&lists_[list + 1], lists_[list] + size_t{1}, red, green, blue);
}

// What a record that is not halved says about the colour.
int NearestSearch::Answer(uint16_t recordNumber, uint16_t red, uint16_t green,
                          uint16_t blue) const {
    const CellRecord& cell = records_[recordNumber];
    if (cell.list != 0) {
        return Scan(&lists_[cell.list + 1], lists_[cell.list] + size_t{1}, red, green, blue);
    }
    const int32_t side = cell.red * red + cell.green * green + cell.blue * blue;
    return side < cell.bound ? cell.second : cell.first;
}

uint32_t NearestSearch::BuildCoarse(unsigned coarse) {
    Box box;
    const unsigned corner[3] = {coarse >> 6, (coarse >> 3) & 7, coarse & 7};
    for (int axis = 0; axis < 3; ++axis) {
        box.low[axis] = static_cast<int32_t>(corner[axis]) * COARSE_SIDE;
        box.high[axis] = box.low[axis] + COARSE_SIDE - 1;
    }
    uint8_t kept[PALETTE_ENTRIES];
    const size_t count = Prune(box, distinct_.data(), distinct_.size(), kept);
    uint32_t offset = 0;
    if (StoreList(kept, count, offset)) {
        coarseLists_[coarse] = offset;
    }
    return offset;
}

// The record of the cell: 0 when there is no room left for it.
uint16_t NearestSearch::BuildCell(unsigned cell, uint32_t coarseList) {
    Box box;
    const unsigned corner[3] = {cell >> 12, (cell >> 6) & 63, cell & 63};
    for (int axis = 0; axis < 3; ++axis) {
        box.low[axis] = static_cast<int32_t>(corner[axis]) * CELL_SIDE;
        box.high[axis] = box.low[axis] + CELL_SIDE - 1;
    }
    uint8_t candidates[PALETTE_ENTRIES];
    const size_t candidateCount = lists_[coarseList] + size_t{1};
    std::copy_n(&lists_[coarseList + 1], candidateCount, candidates);
    uint8_t kept[PALETTE_ENTRIES];
    const size_t count = Prune(box, candidates, candidateCount, kept);
    return count <= 2 ? RecordFor(kept, count) : HalvedRecord(box.low, kept, count);
}

// A cell with three or more candidates: its eight halves, each pruned again from them.
uint16_t NearestSearch::HalvedRecord(const int32_t (&low)[3], const uint8_t* kept, size_t count) {
    uint16_t halves[8];
    for (unsigned half = 0; half < 8; ++half) {
        Box box;
        const unsigned upper[3] = {(half >> 2) & 1, (half >> 1) & 1, half & 1};
        for (int axis = 0; axis < 3; ++axis) {
            box.low[axis] = low[axis] + static_cast<int32_t>(upper[axis]) * HALF_SIDE;
            box.high[axis] = box.low[axis] + HALF_SIDE - 1;
        }
        uint8_t halfKept[PALETTE_ENTRIES];
        const size_t halfCount = Prune(box, kept, count, halfKept);
        halves[half] = RecordFor(halfKept, halfCount);
        if (halves[half] == 0) {
            return 0;
        }
    }
    const size_t offset = halves_.size();
    if (offset > LIST_HALVES - 8 || !Affordable(sizeof halves)) {
        exhausted_ = true;
        return 0;
    }
    try {
        halves_.insert(halves_.end(), std::begin(halves), std::end(halves));
    } catch (...) {
        exhausted_ = true;
        return 0;
    }
    CellRecord record = {0, 0, 0, 0, kept[0], kept[0], LIST_HALVES | static_cast<uint32_t>(offset)};
    if (records_.size() > UINT16_MAX || !Affordable(sizeof record)) {
        exhausted_ = true;
        return 0;
    }
    try {
        records_.push_back(record);
    } catch (...) {
        exhausted_ = true;
        return 0;
    }
    return static_cast<uint16_t>(records_.size() - 1);
}

uint16_t NearestSearch::RecordFor(const uint8_t* kept, size_t count) {
    if (count == 1) {
        return static_cast<uint16_t>(1 + kept[0]);
    }
    uint16_t* pairSlot = nullptr;
    if (count == 2) {
        // The plane depends on the two entries only: cells sharing the pair share a record.
        if (pairRecords_.empty()) {
            if (!Affordable(PAIR_KEYS * sizeof(uint16_t))) {
                return 0;
            }
            try {
                pairRecords_.resize(PAIR_KEYS, 0);
            } catch (...) {
                exhausted_ = true;
                return 0;
            }
        }
        pairSlot = &pairRecords_[kept[0] * size_t{256} + kept[1]];
        if (*pairSlot != 0) {
            return *pairSlot;
        }
    }
    CellRecord record = {0, 0, 0, 0, kept[0], kept[0], 0};
    if (count == 2) {
        const Entry& a = entries_[kept[0]];
        const Entry& b = entries_[kept[1]];
        record = {a.weight - b.weight,
                  static_cast<int16_t>(a.red - b.red),
                  static_cast<int16_t>(a.green - b.green),
                  static_cast<int16_t>(a.blue - b.blue),
                  kept[0],
                  kept[1],
                  0};
    } else if (!StoreList(kept, count, record.list)) {
        return 0;
    }
    // Record numbers are 16 bits wide, which keeps the cell table at half a megabyte.
    if (records_.size() > UINT16_MAX || !Affordable(sizeof record)) {
        exhausted_ = true;
        return 0;
    }
    try {
        records_.push_back(record);
    } catch (...) {
        exhausted_ = true;
        return 0;
    }
    const auto number = static_cast<uint16_t>(records_.size() - 1);
    if (pairSlot != nullptr) {
        *pairSlot = number;
    }
    return number;
}

int NearestSearch::StoreList(const uint8_t* list, size_t count, uint32_t& offset) {
    if (!Affordable(count + 1)) {
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

bool NearestSearch::Affordable(size_t moreBytes) {
    if (exhausted_ || moreBytes > tableBytesLimit_ - std::min(tableBytes_, tableBytesLimit_)) {
        exhausted_ = true;
        return false;
    }
    tableBytes_ += moreBytes;
    return true;
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

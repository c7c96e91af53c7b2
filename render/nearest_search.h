// Exact nearest palette entry of one colour range, through a lazily built grid of candidates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pcx/palette.h"
#include "plugin/settings.h"

// Gives exactly NearestIndex's choice (lowest index among equal squared distances) without
// scanning the range per colour. The 16-bit colour cube is cut into 8 x 8 x 8 coarse cells,
// each into 8 x 8 x 8 fine cells of 1024 values a side; a cell lists only the entries that
// are nearest to at least one colour inside it, so most fine cells name their answer
// outright. Cells are built on first use, so a frame pays only for the colours it holds.
// When memory runs out the search scans instead: slower, never different.
class NearestSearch {
public:
    // Beyond this many bytes of candidate lists no further cells are built.
    static constexpr size_t LIST_BYTES_LIMIT = size_t{16} << 20;

    // `palette` is read now and never again.
    NearestSearch(const PaletteEntry* palette, ColorRange range,
                  size_t listBytesLimit = LIST_BYTES_LIMIT);
    NearestSearch(const NearestSearch&) = delete;
    NearestSearch& operator=(const NearestSearch&) = delete;

    int Find(uint16_t red, uint16_t green, uint16_t blue) {
        const unsigned coarse = CoarseCell(red, green, blue);
        const unsigned fine = FineCell(red, green, blue);
        const int32_t block = coarseBlocks_[coarse];
        if (block >= 0) {
            const uint32_t cell = cells_[static_cast<size_t>(block) * CELLS_PER_BLOCK + fine];
            if ((cell & CELL_SINGLE) != 0) {
                return static_cast<int>(cell >> 1);
            }
        }
        return FindSlow(red, green, blue);
    }

private:
    static constexpr unsigned CELLS_PER_BLOCK = 512;
    // A cell word: 0 not built yet; bit 0 set: the one candidate is word >> 1; otherwise
    // word >> 1 is the offset of a list in `lists_`: count - 1, then the indices, ascending.
    static constexpr uint32_t CELL_SINGLE = 1;

    // One palette entry as the distance comparison uses it: 128 (r² + g² + b²) - (r, g, b).C
    // is the squared distance to C over 512, less a term shared by every entry.
    struct Entry {
        int32_t weight;
        int32_t red, green, blue;
    };
    struct Box {
        int32_t low[3];
        int32_t high[3];
    };

    // 8 x 8 x 8 coarse cells, and 8 x 8 x 8 fine cells in each: three bits per channel.
    static unsigned CoarseCell(unsigned red, unsigned green, unsigned blue) {
        return ((red >> 13) << 6) | ((green >> 13) << 3) | (blue >> 13);
    }
    static unsigned FineCell(unsigned red, unsigned green, unsigned blue) {
        return (((red >> 10) & 7) << 6) | (((green >> 10) & 7) << 3) | ((blue >> 10) & 7);
    }
    int FindSlow(uint16_t red, uint16_t green, uint16_t blue);
    int32_t BuildCoarse(unsigned coarse);
    uint32_t BuildFine(int32_t block, unsigned coarse, unsigned fine);
    int StoreList(const uint8_t* list, size_t count, uint32_t& offset);
    size_t Prune(const Box& box, const uint8_t* candidates, size_t count, uint8_t* kept) const;
    bool NeverBeats(int loser, int winner, const Box& box) const;
    int Scan(const uint8_t* candidates, size_t count, uint16_t red, uint16_t green,
             uint16_t blue) const;

    Entry entries_[PALETTE_ENTRIES] = {};
    std::vector<uint8_t> distinct_;       // the range's entries, later duplicates dropped
    int32_t coarseBlocks_[512];           // block of fine cells per coarse cell, -1 if none
    std::vector<uint32_t> coarseLists_;   // per block: offset of the coarse cell's list
    std::vector<uint32_t> cells_;         // CELLS_PER_BLOCK words per block
    std::vector<uint8_t> lists_;
    size_t listBytesLimit_;
    bool exhausted_ = false;              // memory ran out: no further cells are built
};

// Exact nearest palette entry of one colour range (or set of entries), through a lazily built grid
// of candidates.
#pragma once

#include <bit>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#include "pcx/palette.h"
#include "plugin/settings.h"

// Gives exactly NearestIndex's choice (lowest index among equal squared distances) without
// scanning the range per colour. The 16-bit colour cube is cut into 64 x 64 x 64 cells of
// 1024 values a side. A cell knows only the entries that are nearest to at least one colour
// inside it, worked out on first use (from the candidates of its 8 x 8 x 8 block of cells):
// one entry, answered outright; two, answered by which side of the plane of equal distance
// the colour lies on; more, split once more into eight cells of 512, each answered the same
// way or, rarely, by comparing a short list. A frame pays only for the cells its colours
// fall in. When memory runs out the search compares more entries instead: slower, never
// different.
class NearestSearch {
public:
    // Beyond this many bytes of candidate lists and cell records no further cells are built.
    static constexpr size_t TABLE_BYTES_LIMIT = size_t{16} << 20;

    // `palette` is read now and never again. Check Ready() before the first Find.
    NearestSearch(const PaletteEntry* palette, ColorRange range,
                  size_t tableBytesLimit = TABLE_BYTES_LIMIT);
    // The same over any set of entries (not empty), as a range of scattered entries has them:
    // the lowest index still wins ties.
    NearestSearch(const PaletteEntry* palette, const std::bitset<PALETTE_ENTRIES>& entries,
                  size_t tableBytesLimit = TABLE_BYTES_LIMIT);
    ~NearestSearch();
    NearestSearch(const NearestSearch&) = delete;
    NearestSearch& operator=(const NearestSearch&) = delete;

    // False when the cell table could not be allocated.
    bool Ready() const { return cells_ != nullptr; }

    int Find(uint16_t red, uint16_t green, uint16_t blue) {
        return FindIn(cells_, records_.data(), red, green, blue);
    }

    // Find for each of `count` pixels (anything with fields r, g and b), into `indices`. A
    // pixel of the colour of the one before it takes its index without a search: rendered
    // frames of smooth colours hold long runs of one colour.
    template <typename Pixel>
    void FindAll(const Pixel* pixels, size_t count, uint8_t* __restrict indices) {
        const uint16_t* cells = cells_;
        uint64_t previous = ~uint64_t{0};  // no colour: one above the 48 bits of a colour
        uint8_t previousIndex = 0;
        for (size_t i = 0; i < count; ++i) {
            const uint64_t colour = ColourOf(pixels[i]);
            if (colour != previous) {
                previous = colour;
                previousIndex = static_cast<uint8_t>(
                    FindIn(cells, records_.data(), pixels[i].r, pixels[i].g, pixels[i].b));
            }
            indices[i] = previousIndex;
        }
    }

private:
    // Red, green and blue as one word: of a pixel laid out as four 16-bit values, red first
    // (as the bitmap holds them), its first eight bytes less alpha's, in one load.
    template <typename Pixel>
    static uint64_t ColourOf(const Pixel& pixel) {
        if constexpr (sizeof(Pixel) == sizeof(uint64_t) && std::is_standard_layout_v<Pixel> &&
                      std::endian::native == std::endian::little) {
            if constexpr (offsetof(Pixel, r) == 0 && offsetof(Pixel, g) == 2 &&
                          offsetof(Pixel, b) == 4) {
                uint64_t word = 0;
                std::memcpy(&word, &pixel, sizeof word);
                return word & 0xFFFFFFFFFFFF;
            }
        }
        return uint64_t{pixel.r} | uint64_t{pixel.g} << 16 | uint64_t{pixel.b} << 32;
    }

    // What a cell knows. Choose `second` when (red, green, blue).C < bound, else `first`:
    // for two entries a < b this is the plane where their squared distances are equal
    // (a wins on it), with (red, green, blue) = a - b and bound = weight(a) - weight(b).
    // `list` is 0; LIST_NOT_BUILT for a cell not worked out yet; LIST_HALVES | offset of
    // the eight record numbers of its halved cells in `halves_`; or the offset of a list in
    // `lists_`: count - 1, then the indices, ascending.
    struct CellRecord {
        int32_t bound;
        int16_t red, green, blue;
        uint8_t first, second;
        uint32_t list;
    };
    static constexpr uint32_t LIST_NOT_BUILT = 0xFFFFFFFF;
    static constexpr uint32_t LIST_HALVES = 0x80000000;

    // One palette entry as the comparison uses it: 128 (r² + g² + b²) - (r, g, b).C is the
    // squared distance to C over 512, less a term shared by every entry.
    struct Entry {
        int32_t weight;
        int32_t red, green, blue;
    };
    struct Box {
        int32_t low[3];
        int32_t high[3];
    };

    // Six bits per channel.
    static unsigned CellOf(unsigned red, unsigned green, unsigned blue) {
        return ((red & 0xFC00u) << 2) | ((green & 0xFC00u) >> 4) | (blue >> 10);
    }

    int FindIn(const uint16_t* cells, const CellRecord* records, uint16_t red, uint16_t green,
               uint16_t blue) {
        const CellRecord& cell = records[cells[CellOf(red, green, blue)]];
        // One entry: all-zero plane, never below the bound 0. Two: the plane decides.
        const int32_t side = cell.red * red + cell.green * green + cell.blue * blue;
        const int index = side < cell.bound ? cell.second : cell.first;
        return cell.list == 0 ? index : FindInList(cell.list, red, green, blue);
    }
    int FindInList(uint32_t list, uint16_t red, uint16_t green, uint16_t blue);
    uint32_t BuildCoarse(unsigned coarse);
    int Answer(uint16_t recordNumber, uint16_t red, uint16_t green, uint16_t blue) const;
    uint16_t BuildCell(unsigned cell, uint32_t coarseList);
    uint16_t RecordFor(const uint8_t* kept, size_t count);
    uint16_t HalvedRecord(const int32_t (&low)[3], const uint8_t* kept, size_t count);
    int StoreList(const uint8_t* list, size_t count, uint32_t& offset);
    bool Affordable(size_t moreBytes);
    size_t Prune(const Box& box, const uint8_t* candidates, size_t count, uint8_t* kept) const;
    bool NeverBeats(int loser, int winner, const Box& box) const;
    int Scan(const uint8_t* candidates, size_t count, uint16_t red, uint16_t green,
             uint16_t blue) const;

    uint16_t* cells_ = nullptr;          // 2^18 record numbers, 0 until the cell is built
    std::vector<CellRecord> records_;    // 0: not built; 1 + i: entry i alone; then the rest
    std::vector<uint16_t> pairRecords_;  // record number per pair a x 256 + b, 0 if none yet
    uint32_t coarseLists_[512] = {};     // list offset per block of 8 x 8 x 8 cells
    std::vector<uint8_t> lists_;
    std::vector<uint16_t> halves_;   // eight record numbers per halved cell
    std::vector<uint8_t> distinct_;  // the range's entries, later duplicates dropped
    Entry entries_[PALETTE_ENTRIES] = {};
    size_t tableBytes_ = 0;
    size_t tableBytesLimit_;
    bool exhausted_ = false;  // no further cells are built
};

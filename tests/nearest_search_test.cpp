#include "render/nearest_search.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "render/palette_mapping.h"

namespace {

struct Colour {
    uint16_t red, green, blue;
};

using Palette = std::vector<PaletteEntry>;

Palette RandomPalette(std::minstd_rand& random) {
    Palette palette(PALETTE_ENTRIES);
    for (PaletteEntry& entry : palette) {
        entry = {static_cast<uint8_t>(random()), static_cast<uint8_t>(random()),
                 static_cast<uint8_t>(random())};
    }
    return palette;
}

// Only a few distinct colours, each repeated at scattered indices: ties everywhere.
Palette PaletteWithDuplicates(std::minstd_rand& random) {
    const Palette few = RandomPalette(random);
    Palette palette(PALETTE_ENTRIES);
    for (PaletteEntry& entry : palette) {
        entry = few[random() % 6];
    }
    return palette;
}

// Entries on multiples of 4 (1024 in 16-bit) sit on the corners of the search's cells.
Palette PaletteOnCellCorners(std::minstd_rand& random) {
    Palette palette(PALETTE_ENTRIES);
    for (PaletteEntry& entry : palette) {
        entry = {static_cast<uint8_t>(random() % 64 * 4), static_cast<uint8_t>(random() % 64 * 4),
                 static_cast<uint8_t>(random() % 64 * 4)};
    }
    return palette;
}

Palette DefaultPalette() {
    Palette palette(PALETTE_ENTRIES);
    SetDefaultPalette(palette.data());
    return palette;
}

uint16_t Clamp16(int value) {
    return static_cast<uint16_t>(value < 0 ? 0 : (value > 65535 ? 65535 : value));
}

// Colours equidistant from two entries of the range, and their neighbours one step off in
// every direction: the midpoint, and points of the bisecting plane around it.
void AddBoundaryColours(const Palette& palette, ColorRange range, std::minstd_rand& random,
                        std::vector<Colour>& colours) {
    if (range.first > range.last) {
        return;
    }
    const int span = range.last - range.first + 1;
    for (int pair = 0; pair < 12; ++pair) {
        const PaletteEntry& a = palette[range.first + static_cast<int>(random() % span)];
        const PaletteEntry& b = palette[range.first + static_cast<int>(random() % span)];
        const int mid[3] = {128 * (a.red + b.red), 128 * (a.green + b.green),
                            128 * (a.blue + b.blue)};
        const int axis[3] = {a.red - b.red, a.green - b.green, a.blue - b.blue};
        // Integer vectors across the axis stay on the plane of equal distance.
        const int other[3] = {static_cast<int>(random() % 7) - 3,
                              static_cast<int>(random() % 7) - 3, 1};
        const int along[3] = {axis[1] * other[2] - axis[2] * other[1],
                              axis[2] * other[0] - axis[0] * other[2],
                              axis[0] * other[1] - axis[1] * other[0]};
        for (int step = -1; step <= 1; ++step) {
            for (int dr = -1; dr <= 1; ++dr) {
                for (int dg = -1; dg <= 1; ++dg) {
                    for (int db = -1; db <= 1; ++db) {
                        colours.push_back({Clamp16(mid[0] + step * along[0] + dr),
                                           Clamp16(mid[1] + step * along[1] + dg),
                                           Clamp16(mid[2] + step * along[2] + db)});
                    }
                }
            }
        }
    }
}

void AddRandomColours(std::minstd_rand& random, int count, std::vector<Colour>& colours) {
    for (int i = 0; i < count; ++i) {
        colours.push_back({static_cast<uint16_t>(random()), static_cast<uint16_t>(random()),
                           static_cast<uint16_t>(random())});
    }
}

// Colours on the first or last value of a cell along each axis (cells are 1024 wide).
void AddCellEdgeColours(std::minstd_rand& random, int count, std::vector<Colour>& colours) {
    const auto edge = [&] {
        const unsigned cell = random() % 64 * 1024;
        return static_cast<uint16_t>(random() % 2 == 0 ? cell : cell + 1023);
    };
    for (int i = 0; i < count; ++i) {
        colours.push_back({edge(), edge(), edge()});
    }
}

// Cell edges (multiples of 1024 and one below), the cube's corners and palette colours.
void AddEdgeColours(const Palette& palette, std::vector<Colour>& colours) {
    const uint16_t edges[] = {0, 1023, 1024, 8191, 32768, 65280, 65535};
    for (uint16_t red : edges) {
        for (uint16_t green : edges) {
            for (uint16_t blue : edges) {
                colours.push_back({red, green, blue});
            }
        }
    }
    for (int i = 0; i < PALETTE_ENTRIES; i += 5) {
        colours.push_back({static_cast<uint16_t>(palette[i].red << 8),
                           static_cast<uint16_t>(palette[i].green << 8),
                           static_cast<uint16_t>(palette[i].blue << 8)});
    }
}

// Every colour gets the scan's choice, first through cells being built, then again
// through the built cells.
void ExpectSameAsScan(const Palette& palette, ColorRange range, const std::vector<Colour>& colours,
                      size_t tableBytesLimit = NearestSearch::TABLE_BYTES_LIMIT) {
    NearestSearch search(palette.data(), range, tableBytesLimit);
    ASSERT_TRUE(search.Ready());
    for (int pass = 0; pass < 2; ++pass) {
        int mismatches = 0;
        for (const Colour& c : colours) {
            const int expected = NearestIndex(palette.data(), range, c.red, c.green, c.blue);
            const int found = search.Find(c.red, c.green, c.blue);
            if (found != expected && ++mismatches <= 5) {
                ADD_FAILURE() << "pass " << pass << " colour (" << c.red << ", " << c.green << ", "
                              << c.blue << "): search " << found << ", scan " << expected;
            }
        }
        ASSERT_EQ(mismatches, 0);
    }
}

TEST(NearestSearchTest, MatchesTheScanForEveryPaletteAndRangeShape) {
    std::minstd_rand random(12345);
    struct PaletteCase {
        const char* name;
        Palette palette;
    };
    const PaletteCase palettes[] = {
        {"random", RandomPalette(random)},
        {"duplicates", PaletteWithDuplicates(random)},
        {"on cell corners", PaletteOnCellCorners(random)},
        {"3-3-2", DefaultPalette()},
        {"one colour", Palette(PALETTE_ENTRIES, PaletteEntry{40, 200, 7})},
    };
    const ColorRange ranges[] = {
        {0, 255, 0}, {255, 255, 0}, {0, 0, 0},     {17, 17, 0}, {200, 100, 0},
        {255, 0, 0}, {30, 45, 0},   {250, 255, 0}, {0, 1, 0},
    };
    for (const PaletteCase& p : palettes) {
        for (const ColorRange& range : ranges) {
            SCOPED_TRACE(::testing::Message() << p.name << " palette, range " << int{range.first}
                                              << ".." << int{range.last});
            std::vector<Colour> colours;
            AddRandomColours(random, 200, colours);
            AddCellEdgeColours(random, 200, colours);
            AddBoundaryColours(p.palette, range, random, colours);
            AddEdgeColours(p.palette, colours);
            ExpectSameAsScan(p.palette, range, colours);
        }
    }
}

TEST(NearestSearchTest, TiesGoToTheLowestIndex) {
    Palette palette(PALETTE_ENTRIES, PaletteEntry{0, 0, 0});
    palette[3] = {10, 10, 10};
    palette[7] = {10, 10, 10};
    palette[9] = {12, 10, 10};
    palette[12] = {8, 10, 10};
    struct Case {
        const char* name;
        ColorRange range;
        Colour colour;
        int index;
    };
    const Case cases[] = {
        {"duplicate entries", {3, 9, 0}, {2560, 2560, 2560}, 3},
        {"duplicate after the first", {4, 9, 0}, {2560, 2560, 2560}, 7},
        // 11 x 256 lies halfway between 10 x 256 and 12 x 256.
        {"halfway between 7 and 9", {5, 9, 0}, {2816, 2560, 2560}, 7},
        {"one above halfway", {5, 9, 0}, {2817, 2560, 2560}, 9},
        {"halfway between 12 and 3", {3, 12, 0}, {2304, 2560, 2560}, 3},
        {"reversed range", {12, 3, 0}, {2560, 2560, 2560}, 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NearestSearch search(palette.data(), c.range);
        EXPECT_EQ(search.Find(c.colour.red, c.colour.green, c.colour.blue), c.index);
        EXPECT_EQ(
            NearestIndex(palette.data(), c.range, c.colour.red, c.colour.green, c.colour.blue),
            c.index);
    }
}

TEST(NearestSearchTest, ScansWhenOutOfMemoryForCells) {
    std::minstd_rand random(99);
    const Palette palette = RandomPalette(random);
    std::vector<Colour> colours;
    AddRandomColours(random, 500, colours);
    AddBoundaryColours(palette, {0, 255, 0}, random, colours);
    // No room at all, room for a few blocks' lists, for some cells but no pair table, and
    // for the pair table and a few more cells.
    for (size_t limit : {size_t{0}, size_t{600}, size_t{5000}, size_t{263000}}) {
        SCOPED_TRACE(limit);
        ExpectSameAsScan(palette, {0, 255, 0}, colours, limit);
    }
}

}  // namespace

#include "plugin/settings.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "plugin/palette_render_filter.h"

namespace {

std::array<uint8_t, SETTINGS_BLOCK_SIZE> Saved(PaletteRenderFilter& filter) {
    std::array<uint8_t, SETTINGS_BLOCK_SIZE> block{};
    EXPECT_EQ(filter.SaveConfigBlock(block.data()), 1);
    return block;
}

TEST(SettingsTest, FreshFilterSavesTheDefaultBlock) {
    PaletteRenderFilter filter;
    EXPECT_EQ(filter.ConfigBlockSize(), 1084u);
    const auto block = Saved(filter);
    const uint8_t head[] = {0x65, 0,   0,   0,   0xE9, 0x03, 0,   0, 'k',
                            'e',  'l', 'v', '.', 'p',  'c',  'x', 0};
    EXPECT_EQ(std::memcmp(block.data(), head, sizeof head), 0);
    // method 1023 at offset 264
    EXPECT_EQ(block[264], 0xFF);
    EXPECT_EQ(block[265], 0x03);
    for (size_t i = 1036; i < 1084; ++i) {
        EXPECT_EQ(block[i], 0) << "range byte " << i;
    }
}

TEST(SettingsTest, DefaultPaletteIsThreeThreeTwo) {
    PaletteEntry palette[PALETTE_ENTRIES];
    SetDefaultPalette(palette);
    struct Case {
        int index;
        PaletteEntry colour;
    };
    const Case cases[] = {
        {0, {0, 0, 0}},      {37, {36, 36, 85}},  {255, {255, 255, 255}}, {0xE0, {255, 0, 0}},
        {0x1C, {0, 255, 0}}, {3, {0, 0, 255}},    {0x60, {109, 0, 0}},    {0x80, {145, 0, 0}},
        {0xA0, {182, 0, 0}}, {0xC0, {218, 0, 0}}, {0x0E, {0, 109, 170}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        EXPECT_EQ(palette[c.index].red, c.colour.red);
        EXPECT_EQ(palette[c.index].green, c.colour.green);
        EXPECT_EQ(palette[c.index].blue, c.colour.blue);
    }
}

TEST(SettingsTest, LoadRefusesNullAndForeignTags) {
    PaletteRenderFilter filter;
    const auto before = Saved(filter);
    EXPECT_EQ(filter.LoadConfigBlock(nullptr), 0);
    for (int32_t tag : {100, 102, 0, -101, 101 + 256}) {
        SCOPED_TRACE(tag);
        auto block = before;
        std::memcpy(block.data(), &tag, 4);
        block[20] = 'X';
        EXPECT_EQ(filter.LoadConfigBlock(block.data()), 0);
        EXPECT_EQ(Saved(filter), before);
    }
}

TEST(SettingsTest, LoadTakesEveryByteUnchecked) {
    PaletteRenderFilter filter;
    std::array<uint8_t, SETTINGS_BLOCK_SIZE> block;
    for (size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    const int32_t tag = 101;
    const int32_t oddSource = 7;
    std::memcpy(block.data(), &tag, 4);
    std::memcpy(block.data() + 4, &oddSource, 4);
    EXPECT_EQ(filter.LoadConfigBlock(block.data()), 1);
    EXPECT_EQ(Saved(filter), block);
    EXPECT_EQ(filter.RequiredChannels(), 4u);  // any source but 1001 is the object channel
}

TEST(SettingsTest, SaveThenLoadGivesIdenticalInstances) {
    PaletteRenderFilter first;
    first.settings.source = SOURCE_OBJECT;
    first.settings.ranges[3] = {10, 20, 1};
    std::strcpy(first.settings.outputName, "out/shot.pcx");
    const auto block = Saved(first);
    PaletteRenderFilter second;
    ASSERT_EQ(second.LoadConfigBlock(const_cast<uint8_t*>(block.data())), 1);
    EXPECT_EQ(Saved(second), block);
    EXPECT_EQ(first.SaveConfigBlock(nullptr), 0);
}

TEST(SettingsTest, RequiredChannelFollowsSource) {
    PaletteRenderFilter filter;
    EXPECT_EQ(filter.RequiredChannels(), 2u);
    filter.settings.source = SOURCE_OBJECT;
    EXPECT_EQ(filter.RequiredChannels(), 4u);
    filter.settings.source = 0;
    EXPECT_EQ(filter.RequiredChannels(), 4u);
}

}  // namespace

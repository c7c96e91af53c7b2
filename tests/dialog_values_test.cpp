#include "ui/dialog_values.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// What the controls show right after initialisation from `settings`, unchanged by the user.
DialogControlValues Unchanged(const PaletteRenderSettings& settings) {
    DialogControlValues values{};
    values.materialEffectsChecked = settings.source == SOURCE_MATERIAL_EFFECTS;
    OutputNameText(settings, values.outputText);
    values.outputText[254] = '\0';  // the read-back count of 255 holds 254 characters
    values.uniformChecked = settings.method == METHOD_UNIFORM;
    for (int r = 0; r < RANGE_COUNT; ++r) {
        values.fromValues[r] = settings.ranges[r].first;
        values.toValues[r] = settings.ranges[r].last;
        values.ditherChecked[r] = settings.ranges[r].dither != 0;
    }
    return values;
}

TEST(DialogValuesTest, OkWithoutChangesOnlyNormalisesCodes) {
    PaletteRenderSettings settings;
    SetDefaultSettings(settings);
    settings.source = 7;
    settings.method = 5;
    settings.ranges[3] = {10, 20, 200};
    settings.ranges[4] = {30, 5, 1};
    std::memset(settings.outputName, 'n', sizeof settings.outputName);  // no NUL at all
    PaletteRenderSettings expected = settings;
    expected.source = SOURCE_OBJECT;
    expected.method = METHOD_NEAREST;
    expected.ranges[3].dither = 1;
    expected.outputName[254] = '\0';

    CommitDialogValues(Unchanged(settings), settings.palette, settings);
    EXPECT_EQ(std::memcmp(&settings, &expected, sizeof settings), 0);
}

TEST(DialogValuesTest, CommitStoresControlsAndWorkingPalette) {
    PaletteRenderSettings settings;
    SetDefaultSettings(settings);
    std::strcpy(settings.outputName + 20, "tail");  // bytes after the NUL stay
    DialogControlValues values = Unchanged(settings);
    values.materialEffectsChecked = 0;
    values.uniformChecked = 0;
    std::strcpy(values.outputText, "out/a.pcx");
    values.fromValues[0] = 256 + 7;
    values.toValues[0] = -1;
    values.fromValues[15] = 200;
    values.toValues[15] = 100;
    values.fromValues[2] = DIALOG_SPINNER_MISSING;
    settings.ranges[2] = {9, 8, 0};
    values.ditherChecked[5] = 1;
    PaletteEntry working[PALETTE_ENTRIES];
    for (int i = 0; i < PALETTE_ENTRIES; ++i) {
        working[i] = {static_cast<uint8_t>(i), 1, 2};
    }

    CommitDialogValues(values, working, settings);
    EXPECT_EQ(settings.source, SOURCE_OBJECT);
    EXPECT_EQ(settings.method, METHOD_NEAREST);
    EXPECT_STREQ(settings.outputName, "out/a.pcx");
    EXPECT_STREQ(settings.outputName + 20, "tail");
    struct Case {
        int range;
        ColorRange expected;
    };
    const Case cases[] = {
        {0, {7, 255, 0}},
        {15, {200, 100, 0}},
        {2, {9, 0, 0}},
        {5, {0, 0, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.range);
        EXPECT_EQ(settings.ranges[c.range].first, c.expected.first);
        EXPECT_EQ(settings.ranges[c.range].last, c.expected.last);
        EXPECT_EQ(settings.ranges[c.range].dither, c.expected.dither);
    }
    EXPECT_EQ(std::memcmp(settings.palette, working, sizeof working), 0);
}

}  // namespace

// The control dialog on real Win32: initialisation, commands, commit and cancel, the grid and
// its picks, the spinners and both file choosers, driven from a second thread.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "hostapi/custom_control_classes_win32.h"
#include "pcx/pcx_writer.h"
#include "tests/loaded_module.h"
#include "tests/temp_dir.h"
#include "tests/win32/dialog_driver.h"
#include "ui/resource.h"

namespace {

// Pick buttons, dither boxes and edit fields of range r, from the dialog's range table.
constexpr int FROM_EDIT[16] = {1028, 1031, 1034, 1037, 1040, 1043, 1046, 1063,
                               1068, 1073, 1078, 1083, 1088, 1093, 1098, 1103};
constexpr int FROM_SPINNER[16] = {1048, 1050, 1052, 1054, 1056, 1058, 1060, 1064,
                                  1069, 1074, 1079, 1084, 1089, 1094, 1099, 1104};
constexpr int TO_EDIT[16] = {1030, 1032, 1035, 1038, 1041, 1044, 1047, 1065,
                             1070, 1075, 1080, 1085, 1090, 1095, 1100, 1105};
constexpr int TO_SPINNER[16] = {1049, 1051, 1053, 1055, 1057, 1059, 1061, 1066,
                                1071, 1076, 1081, 1086, 1091, 1096, 1101, 1106};
constexpr int DITHER[16] = {1027, 1033, 1036, 1039, 1042, 1045, 1062, 1067,
                            1072, 1077, 1082, 1087, 1092, 1097, 1102, 1107};
constexpr int PICK_0 = 1007;

constexpr COLORREF RED = RGB(255, 0, 0);
constexpr COLORREF BLACK = RGB(0, 0, 0);

PaletteRenderSettings DefaultSettings() {
    PaletteRenderSettings settings;
    SetDefaultSettings(settings);
    return settings;
}

// The centre of palette index k's swatch, and the top-left pixel of its 8 x 8 frame.
int SwatchX(int k) {
    return 28 + 9 * (k / 16) + 3;
}
int SwatchY(int top, int k) {
    return top + 6 * (k % 16) + 3;
}
int FrameLeft(int k) {
    return 27 + 9 * (k / 16);
}
int FrameTop(int top, int k) {
    return top + 6 * (k % 16) - 1;
}

// The frame's left side, at a height where no neighbouring frame's top or bottom line runs.
COLORREF FrameSide(HWND dialog, int k) {
    const int top = GridTopOf(dialog);
    return PixelAt(dialog, FrameLeft(k), FrameTop(top, k) + 3);
}

COLORREF Colour(const PaletteEntry& entry) {
    return RGB(entry.red, entry.green, entry.blue);
}

// Each test opens the dialog on a fresh filter of the module, loaded afresh as the host loads
// it: every test after the first also shows that a reloaded module's controls still work.
class ControlDialogTest : public LoadedModuleTest {
protected:
    void SetUp() override {
        LoadedModuleTest::SetUp();
        ASSERT_NE(module, nullptr);
        filter = CreateFilterFrom(*module);
        ASSERT_NE(filter, nullptr);
    }

    FilterHandle filter;
};

TEST_F(ControlDialogTest, InitialisationShowsTheStoredSettings) {
    PaletteRenderSettings settings = DefaultSettings();
    settings.source = SOURCE_OBJECT;
    settings.method = METHOD_NEAREST;
    std::strcpy(settings.outputName, "C:\\frames\\take.pcx");
    settings.ranges[0] = {16, 40, 1};
    settings.ranges[7] = {200, 3, 0};
    settings.ranges[15] = {255, 255, 77};
    WriteSettings(*filter, settings);

    const int result = RunControlDialog(*filter, [&](HWND dialog) {
        EXPECT_FALSE(IsChecked(dialog, IDC_SOURCE_MATERIAL_EFFECTS));
        EXPECT_TRUE(IsChecked(dialog, IDC_SOURCE_OBJECT));
        EXPECT_FALSE(IsChecked(dialog, IDC_METHOD_UNIFORM));
        EXPECT_TRUE(IsChecked(dialog, IDC_METHOD_NEAREST));
        EXPECT_EQ(ControlText(dialog, IDC_OUTPUT_NAME), "C:\\frames\\take.pcx");
        for (int r = 0; r < RANGE_COUNT; ++r) {
            SCOPED_TRACE(r);
            EXPECT_EQ(ControlText(dialog, FROM_EDIT[r]), std::to_string(settings.ranges[r].first));
            EXPECT_EQ(ControlText(dialog, TO_EDIT[r]), std::to_string(settings.ranges[r].last));
            EXPECT_EQ(IsChecked(dialog, DITHER[r]), settings.ranges[r].dither != 0);
            // Nearest-colour mapping does not dither: the boxes show their state, disabled.
            EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, DITHER[r])));
        }
        ClickControl(dialog, IDCANCEL);
    });
    EXPECT_EQ(result, 0);
    const PaletteRenderSettings after = ReadSettings(*filter);
    EXPECT_EQ(std::memcmp(&after, &settings, sizeof settings), 0);
}

TEST_F(ControlDialogTest, CodesMatchingNeitherButtonAreNormalisedByOk) {
    PaletteRenderSettings settings = DefaultSettings();
    settings.source = 7;
    settings.method = 5;
    settings.ranges[4] = {1, 2, 200};
    std::memset(settings.outputName, 'n', 255);
    settings.outputName[255] = '\0';
    WriteSettings(*filter, settings);

    const int result = RunControlDialog(*filter, [&](HWND dialog) {
        for (int id : {IDC_SOURCE_MATERIAL_EFFECTS, IDC_SOURCE_OBJECT, IDC_METHOD_UNIFORM,
                       IDC_METHOD_NEAREST}) {
            EXPECT_FALSE(IsChecked(dialog, id)) << id;
        }
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, DITHER[4])));
        ClickControl(dialog, IDOK);
    });
    EXPECT_EQ(result, 1);
    PaletteRenderSettings expected = settings;
    expected.source = SOURCE_OBJECT;
    expected.method = METHOD_NEAREST;
    expected.ranges[4].dither = 1;
    expected.outputName[254] = '\0';  // 254 characters come back from the field
    const PaletteRenderSettings after = ReadSettings(*filter);
    EXPECT_EQ(std::memcmp(&after, &expected, sizeof expected), 0);
}

TEST_F(ControlDialogTest, DitherBoxesAreEnabledExactlyWhileUniformIsSelected) {
    PaletteRenderSettings settings = DefaultSettings();
    settings.ranges[2].dither = 1;
    WriteSettings(*filter, settings);
    RunControlDialog(*filter, [&](HWND dialog) {
        struct Step {
            int click;
            bool enabled;
        };
        const Step steps[] = {{0, true},
                              {IDC_METHOD_NEAREST, false},
                              {IDC_METHOD_UNIFORM, true},
                              {IDC_METHOD_NEAREST, false},
                              {IDC_SOURCE_OBJECT, false}};
        for (const Step& step : steps) {
            SCOPED_TRACE(step.click);
            if (step.click != 0) {
                ClickControl(dialog, step.click);
            }
            for (int r = 0; r < RANGE_COUNT; ++r) {
                EXPECT_EQ(IsWindowEnabled(GetDlgItem(dialog, DITHER[r])) != 0, step.enabled) << r;
            }
            EXPECT_TRUE(IsChecked(dialog, DITHER[2]));
        }
        ClickControl(dialog, IDOK);
    });
    const PaletteRenderSettings after = ReadSettings(*filter);
    EXPECT_EQ(after.method, METHOD_NEAREST);
    EXPECT_EQ(after.ranges[2].dither, 1);
}

TEST_F(ControlDialogTest, OkCommitsEveryControl) {
    WriteSettings(*filter, DefaultSettings());
    const int result = RunControlDialog(*filter, [&](HWND dialog) {
        ClickControl(dialog, IDC_SOURCE_OBJECT);
        ClickControl(dialog, IDC_METHOD_NEAREST);
        SetDlgItemTextA(dialog, IDC_OUTPUT_NAME, "typed/as is.pcx");
        ClickControl(dialog, DITHER[3]);
        ClickControl(dialog, DITHER[15]);
        // Spinners hold 0 ... 255 here; a wider range shows that only the low 8 bits are kept.
        HWND from1 = GetDlgItem(dialog, FROM_SPINNER[1]);
        SendMessageA(from1, SPINNER_SET_RANGE, 0, 1000);
        SendMessageA(from1, SPINNER_SET_VALUE, 300, 0);
        SetDlgItemTextA(dialog, TO_EDIT[1], "77");
        SendMessageA(GetDlgItem(dialog, TO_EDIT[1]), WM_KEYDOWN, VK_RETURN, 0);
        ClickControl(dialog, IDOK);
    });
    EXPECT_EQ(result, 1);
    const PaletteRenderSettings after = ReadSettings(*filter);
    EXPECT_EQ(after.source, SOURCE_OBJECT);
    EXPECT_EQ(after.method, METHOD_NEAREST);
    EXPECT_STREQ(after.outputName, "typed/as is.pcx");
    EXPECT_EQ(after.ranges[1].first, 300 & 0xFF);
    EXPECT_EQ(after.ranges[1].last, 77);
    for (int r = 0; r < RANGE_COUNT; ++r) {
        EXPECT_EQ(after.ranges[r].dither, r == 3 || r == 15 ? 1 : 0) << r;
    }
}

TEST_F(ControlDialogTest, SpinnersStepHoldAndTakeTypedNumbers) {
    PaletteRenderSettings settings = DefaultSettings();
    settings.ranges[5] = {10, 254, 0};
    WriteSettings(*filter, settings);
    RunControlDialog(*filter, [&](HWND dialog) {
        HWND from = GetDlgItem(dialog, FROM_SPINNER[5]);
        HWND to = GetDlgItem(dialog, TO_SPINNER[5]);
        RECT box;
        GetClientRect(from, &box);
        const LPARAM upper = MAKELPARAM(box.right / 2, 1);
        const LPARAM lower = MAKELPARAM(box.right / 2, box.bottom - 2);
        // One click on each half steps once.
        SendMessageA(from, WM_LBUTTONDOWN, MK_LBUTTON, upper);
        SendMessageA(from, WM_LBUTTONUP, 0, upper);
        EXPECT_EQ(ControlText(dialog, FROM_EDIT[5]), "11");
        SendMessageA(from, WM_LBUTTONDOWN, MK_LBUTTON, lower);
        SendMessageA(from, WM_LBUTTONUP, 0, lower);
        EXPECT_EQ(ControlText(dialog, FROM_EDIT[5]), "10");
        // Held: every repeat tick steps again, until the button is let go.
        SendMessageA(from, WM_LBUTTONDOWN, MK_LBUTTON, lower);
        SendMessageA(from, WM_TIMER, 1, 0);
        SendMessageA(from, WM_TIMER, 1, 0);
        SendMessageA(from, WM_LBUTTONUP, 0, lower);
        SendMessageA(from, WM_TIMER, 1, 0);
        EXPECT_EQ(ControlText(dialog, FROM_EDIT[5]), "7");
        // The upper limit holds.
        SendMessageA(to, WM_LBUTTONDOWN, MK_LBUTTON, upper);
        SendMessageA(to, WM_TIMER, 1, 0);
        SendMessageA(to, WM_LBUTTONUP, 0, upper);
        EXPECT_EQ(ControlText(dialog, TO_EDIT[5]), "255");
        // Typed text: taken on Enter or on focus loss; invalid text falls back.
        HWND fromEdit = GetDlgItem(dialog, FROM_EDIT[5]);
        struct Typed {
            const char* text;
            bool enter;
            const char* shown;
        };
        const Typed typed[] = {{"42", true, "42"}, {"300", true, "255"}, {"-4", false, "0"},
                               {"abc", true, "0"}, {"19", false, "19"},  {"", false, "19"}};
        for (const Typed& t : typed) {
            SCOPED_TRACE(t.text);
            SetWindowTextA(fromEdit, t.text);
            if (t.enter) {
                SendMessageA(fromEdit, WM_KEYDOWN, VK_RETURN, 0);
            } else {
                SendMessageA(fromEdit, WM_KILLFOCUS, 0, 0);
            }
            EXPECT_EQ(ControlText(dialog, FROM_EDIT[5]), t.shown);
        }
        // Enter pressed in the field goes through the dialog's keyboard handling: the field
        // takes it, and the default button does not close the dialog.
        SetWindowTextA(fromEdit, "023");  // shown as "23" once taken
        PostMessageA(fromEdit, WM_KEYDOWN, VK_RETURN, 1);
        for (int step = 0; step < 1000 && ControlText(dialog, FROM_EDIT[5]) != "23"; ++step) {
            Sleep(10);
        }
        SetWindowTextA(fromEdit, "x");
        PostMessageA(fromEdit, WM_KEYDOWN, VK_RETURN, 1);
        for (int step = 0; step < 1000 && ControlText(dialog, FROM_EDIT[5]) == "x"; ++step) {
            Sleep(10);
        }
        EXPECT_EQ(ControlText(dialog, FROM_EDIT[5]), "23");
        EXPECT_TRUE(IsWindowVisible(dialog));
        ClickControl(dialog, IDOK);
    });
    const PaletteRenderSettings after = ReadSettings(*filter);
    EXPECT_EQ(after.ranges[5].first, 23);
    EXPECT_EQ(after.ranges[5].last, 255);
}

TEST_F(ControlDialogTest, GridShowsPaletteRangeAndCursorAtTheirPixels) {
    PaletteRenderSettings settings = DefaultSettings();
    for (int k = 0; k < PALETTE_ENTRIES; ++k) {
        settings.palette[k] = {static_cast<uint8_t>(k), static_cast<uint8_t>(255 - k), 99};
    }
    settings.ranges[0] = {40, 42, 0};
    WriteSettings(*filter, settings);
    RunControlDialog(*filter, [&](HWND dialog) {
        const int top = GridTopOf(dialog);
        // Index 53: column 3, row 5, swatch (55, T + 30) to (61, T + 36) exclusive.
        const COLORREF colour53 = Colour(settings.palette[53]);
        for (int y = top + 30; y < top + 36; ++y) {
            for (int x = 55; x < 61; ++x) {
                ASSERT_EQ(PixelAt(dialog, x, y), colour53) << x << ", T + " << y - top;
            }
        }
        // Around it, the white backdrop (left and right) or its neighbours' frames.
        EXPECT_EQ(PixelAt(dialog, 53, top + 33), RGB(255, 255, 255));
        EXPECT_EQ(PixelAt(dialog, 62, top + 33), RGB(255, 255, 255));
        EXPECT_EQ(PixelAt(dialog, 58, top + 36), Colour(settings.palette[54]));
        // Range 0 is framed red, the cursor (index 0) black.
        for (int k : {40, 41, 42}) {
            EXPECT_EQ(FrameSide(dialog, k), RED) << k;
        }
        EXPECT_EQ(FrameSide(dialog, 39), RGB(255, 255, 255));
        EXPECT_EQ(FrameSide(dialog, 43), RGB(255, 255, 255));
        EXPECT_EQ(FrameSide(dialog, 53), RGB(255, 255, 255));
        // A frame's bottom line covers the top pixel row of the swatch below it.
        EXPECT_EQ(PixelAt(dialog, 47, top + 66), RED);
        EXPECT_EQ(PixelAt(dialog, 47, top + 67), Colour(settings.palette[43]));
        EXPECT_EQ(FrameSide(dialog, 0), BLACK);
        EXPECT_EQ(PixelAt(dialog, FrameLeft(0), FrameTop(top, 0)), BLACK);
        EXPECT_EQ(PixelAt(dialog, FrameLeft(0) + 7, FrameTop(top, 0) + 7), BLACK);
        EXPECT_EQ(PixelAt(dialog, FrameLeft(0) + 8, FrameTop(top, 0) + 7), RGB(255, 255, 255));
        // The backdrop's corners.
        EXPECT_EQ(PixelAt(dialog, 23, top - 4), RGB(255, 255, 255));
        EXPECT_EQ(PixelAt(dialog, 173, top + 99), RGB(255, 255, 255));
        EXPECT_NE(PixelAt(dialog, 22, top - 4), RGB(255, 255, 255));
        EXPECT_NE(PixelAt(dialog, 174, top + 99), RGB(255, 255, 255));
        ClickControl(dialog, IDCANCEL);
    });
}

TEST_F(ControlDialogTest, GridSurvivesRepaintsWithBackgroundErase) {
    PaletteRenderSettings settings = DefaultSettings();
    WriteSettings(*filter, settings);
    RunControlDialog(*filter, [&](HWND dialog) {
        const int top = GridTopOf(dialog);
        for (int round = 0; round < 3; ++round) {
            RepaintNow(dialog);
            for (int k : {0, 37, 53, 128, 255}) {
                EXPECT_EQ(PixelAt(dialog, SwatchX(k), SwatchY(top, k)), Colour(settings.palette[k]))
                    << "round " << round << ", index " << k;
            }
        }
        ClickControl(dialog, IDCANCEL);
    });
}

TEST_F(ControlDialogTest, ClicksHitTheGridCellsUpToTheirEdges) {
    WriteSettings(*filter, DefaultSettings());
    RunControlDialog(*filter, [&](HWND dialog) {
        const int top = GridTopOf(dialog);
        struct Case {
            int x;
            int y;
            int cursor;  // where the black frame is afterwards
        };
        const Case cases[] = {
            {168, top + 95, 255}, {169, top, 255},    {25, top + 96, 255}, {25, top, 0},
            {27, top + 10, 1},    {24, top, 1},       {25, top - 1, 1},    {168, top, 240},
            {57, top + 33, 53},   {33, top + 95, 15}, {34, top + 95, 31},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "(" << c.x << ", T + " << c.y - top << ")");
            ClickDialog(dialog, c.x, c.y);
            EXPECT_EQ(FrameSide(dialog, c.cursor), BLACK);
        }
        ClickControl(dialog, IDOK);
    });
    // Cursor clicks write nothing into the settings.
    const PaletteRenderSettings after = ReadSettings(*filter);
    const PaletteRenderSettings expected = DefaultSettings();
    EXPECT_EQ(std::memcmp(&after, &expected, sizeof expected), 0);
}

TEST_F(ControlDialogTest, TwoClicksAroundAPickButtonSetARange) {
    PaletteRenderSettings settings = DefaultSettings();
    settings.ranges[2] = {1, 2, 1};
    settings.ranges[6] = {9, 9, 0};
    WriteSettings(*filter, settings);
    RunControlDialog(*filter, [&](HWND dialog) {
        const int top = GridTopOf(dialog);
        ClickDialog(dialog, SwatchX(53), SwatchY(top, 53));  // the cursor goes to 53
        ClickControl(dialog, PICK_0 + 2);
        // Range 2 is now the framed one, still as stored, from the next paint on.
        RepaintNow(dialog);
        EXPECT_EQ(FrameSide(dialog, 1), RED);
        ClickDialog(dialog, 200, 5);  // off the grid: the pick stays pending
        ClickDialog(dialog, SwatchX(60), SwatchY(top, 60));
        EXPECT_EQ(ControlText(dialog, FROM_EDIT[2]), "53");
        EXPECT_EQ(ControlText(dialog, TO_EDIT[2]), "60");
        for (int k = 54; k <= 60; ++k) {
            EXPECT_EQ(FrameSide(dialog, k), RED) << k;
        }
        EXPECT_EQ(FrameSide(dialog, 53), BLACK);  // the cursor frame lies over the range's
        EXPECT_EQ(FrameSide(dialog, 61), RGB(255, 255, 255));
        EXPECT_EQ(FrameSide(dialog, 1), RGB(255, 255, 255));
        // The pick is over: the next click only moves the cursor.
        ClickDialog(dialog, SwatchX(70), SwatchY(top, 70));
        EXPECT_EQ(FrameSide(dialog, 70), BLACK);
        EXPECT_EQ(FrameSide(dialog, 53), RED);

        // A second pick button retargets a pending pick.
        ClickControl(dialog, PICK_0 + 3);
        ClickControl(dialog, PICK_0 + 6);
        ClickDialog(dialog, SwatchX(65), SwatchY(top, 65));
        EXPECT_EQ(ControlText(dialog, FROM_EDIT[6]), "70");
        EXPECT_EQ(ControlText(dialog, TO_EDIT[6]), "65");
        EXPECT_EQ(FrameSide(dialog, 65), RGB(255, 255, 255));  // first > last: no red frame
        EXPECT_EQ(FrameSide(dialog, 70), BLACK);

        // A right click abandons a pending pick and keeps the current range.
        ClickControl(dialog, PICK_0 + 2);
        RightClickDialog(dialog, 100, 100);
        ClickDialog(dialog, SwatchX(100), SwatchY(top, 100));
        EXPECT_EQ(ControlText(dialog, TO_EDIT[2]), "60");
        EXPECT_EQ(FrameSide(dialog, 100), BLACK);
        EXPECT_EQ(FrameSide(dialog, 55), RED);
        ClickControl(dialog, IDCANCEL);
    });
    // Completed picks stay after Cancel; everything else is as it was.
    const PaletteRenderSettings after = ReadSettings(*filter);
    PaletteRenderSettings expected = settings;
    expected.ranges[2].first = 53;
    expected.ranges[2].last = 60;
    expected.ranges[6].first = 70;
    expected.ranges[6].last = 65;
    EXPECT_EQ(std::memcmp(&after, &expected, sizeof expected), 0);
}

TEST_F(ControlDialogTest, CrossCursorShowsWhileAPickIsPending) {
    WriteSettings(*filter, DefaultSettings());
    RunControlDialog(*filter, [&](HWND dialog) {
        const HCURSOR cross = LoadCursor(nullptr, IDC_CROSS);
        const HCURSOR arrow = LoadCursor(nullptr, IDC_ARROW);
        // What the pointer shows after it moves over the dialog's surface.
        auto cursorAfterMove = [&] {
            SendMessageA(dialog, WM_SETCURSOR, reinterpret_cast<WPARAM>(dialog),
                         MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
            CURSORINFO info{};
            info.cbSize = sizeof info;
            GetCursorInfo(&info);
            return info.hCursor;
        };
        EXPECT_EQ(cursorAfterMove(), arrow);
        ClickControl(dialog, PICK_0 + 5);
        EXPECT_EQ(cursorAfterMove(), cross);
        EXPECT_EQ(cursorAfterMove(), cross);
        RightClickDialog(dialog, 100, 100);
        EXPECT_EQ(cursorAfterMove(), arrow);
        ClickControl(dialog, PICK_0 + 5);
        const int top = GridTopOf(dialog);
        ClickDialog(dialog, SwatchX(9), SwatchY(top, 9));
        EXPECT_EQ(cursorAfterMove(), arrow);
        ClickControl(dialog, IDCANCEL);
    });
}

TEST_F(ControlDialogTest, CancelDropsEditsButKeepsPicksAndTheBrowsedName) {
    TempDir dir;
    PaletteRenderSettings settings = DefaultSettings();
    WriteSettings(*filter, settings);
    const int result = RunControlDialog(*filter, [&](HWND dialog) {
        ClickControl(dialog, IDC_SOURCE_OBJECT);
        ClickControl(dialog, IDC_METHOD_NEAREST);
        ClickControl(dialog, DITHER[0]);
        SetDlgItemTextA(dialog, FROM_EDIT[9], "99");
        SendMessageA(GetDlgItem(dialog, FROM_EDIT[9]), WM_KILLFOCUS, 0, 0);
        const int top = GridTopOf(dialog);
        ClickDialog(dialog, SwatchX(3), SwatchY(top, 3));
        ClickControl(dialog, PICK_0 + 4);
        ClickDialog(dialog, SwatchX(4), SwatchY(top, 4));
        SetDlgItemTextA(dialog, IDC_OUTPUT_NAME, "typed.pcx");
        PostCommand(dialog, IDC_BROWSE_OUTPUT);
        EXPECT_TRUE(ChooseInFileDialog(OUTPUT_CHOOSER_TITLE, dir.File("shot0012.pcx")));
        ClickControl(dialog, IDCANCEL);
    });
    EXPECT_EQ(result, 0);
    const PaletteRenderSettings after = ReadSettings(*filter);
    PaletteRenderSettings expected = settings;
    expected.ranges[4].first = 3;
    expected.ranges[4].last = 4;
    const std::string stored = dir.File("shot.pcx");
    std::memcpy(expected.outputName, stored.c_str(), stored.size() + 1);
    EXPECT_STREQ(after.outputName, stored.c_str());
    EXPECT_EQ(std::memcmp(&after, &expected, sizeof expected), 0);
}

TEST_F(ControlDialogTest, ChoosersOpenAsRequestedAndCancelChangesNothing) {
    WriteSettings(*filter, DefaultSettings());
    const int result = RunControlDialog(*filter, [&](HWND dialog) {
        struct Case {
            int command;
            const char* title;
            const char* startName;  // the output chooser starts from the stored name
        };
        const Case cases[] = {{IDC_BROWSE_OUTPUT, OUTPUT_CHOOSER_TITLE, "kelv.pcx"},
                              {IDC_BROWSE_PALETTE, PALETTE_CHOOSER_TITLE, ""}};
        SetDlgItemTextA(dialog, IDC_OUTPUT_NAME, "typed.pcx");
        for (const Case& c : cases) {
            SCOPED_TRACE(c.title);
            PostCommand(dialog, c.command);
            HWND chooser = WaitForChooser(c.title);
            ASSERT_NE(chooser, nullptr);
            EXPECT_EQ(ControlText(chooser, CHOOSER_FILE_NAME), c.startName);
            EXPECT_EQ(ControlText(chooser, CHOOSER_FILE_TYPE), "PCX Files (*.pcx)");
            EXPECT_FALSE(IsWindowVisible(GetDlgItem(chooser, CHOOSER_READ_ONLY)));
            CancelChooser(chooser);
        }
        // The field shows the stored name again: the typed one is gone.
        EXPECT_EQ(ControlText(dialog, IDC_OUTPUT_NAME), "kelv.pcx");
        ClickControl(dialog, IDOK);
    });
    EXPECT_EQ(result, 1);
    const PaletteRenderSettings after = ReadSettings(*filter);
    const PaletteRenderSettings expected = DefaultSettings();
    EXPECT_EQ(std::memcmp(&after, &expected, sizeof expected), 0);
}

TEST_F(ControlDialogTest, PaletteChooserLoadsIntoTheWorkingCopyUntilOk) {
    TempDir dir;
    PaletteEntry loaded[PALETTE_ENTRIES];
    for (int k = 0; k < PALETTE_ENTRIES; ++k) {
        loaded[k] = {static_cast<uint8_t>(255 - k), static_cast<uint8_t>(k / 2), 200};
    }
    const uint8_t indices[4] = {0, 1, 2, 3};
    ASSERT_EQ(WritePcxFrame(dir.File("pal.pcx").c_str(), indices, 2, 2, loaded), 1);
    const PaletteRenderSettings settings = DefaultSettings();

    // Cancel drops the loaded palette, though the grid showed it.
    WriteSettings(*filter, settings);
    RunControlDialog(*filter, [&](HWND dialog) {
        PostCommand(dialog, IDC_BROWSE_PALETTE);
        // Typed without its ending: the chooser reads pal.pcx.
        EXPECT_TRUE(ChooseInFileDialog(PALETTE_CHOOSER_TITLE, dir.File("pal")));
        RepaintNow(dialog);
        const int top = GridTopOf(dialog);
        EXPECT_EQ(PixelAt(dialog, SwatchX(53), SwatchY(top, 53)), Colour(loaded[53]));
        ClickControl(dialog, IDCANCEL);
    });
    PaletteRenderSettings after = ReadSettings(*filter);
    EXPECT_EQ(std::memcmp(after.palette, settings.palette, sizeof settings.palette), 0);

    // A name that does not open leaves the working palette; OK stores what was loaded.
    RunControlDialog(*filter, [&](HWND dialog) {
        PostCommand(dialog, IDC_BROWSE_PALETTE);
        EXPECT_TRUE(ChooseInFileDialog(PALETTE_CHOOSER_TITLE, dir.File("pal.pcx")));
        PostCommand(dialog, IDC_BROWSE_PALETTE);
        EXPECT_TRUE(ChooseInFileDialog(PALETTE_CHOOSER_TITLE, dir.File("missing")));
        ClickControl(dialog, IDOK);
    });
    after = ReadSettings(*filter);
    EXPECT_EQ(std::memcmp(after.palette, loaded, sizeof loaded), 0);
}

TEST_F(ControlDialogTest, ScreenshotWithLoadedPaletteAndPickedRange) {
    TempDir dir;
    PaletteEntry loaded[PALETTE_ENTRIES];
    for (int k = 0; k < PALETTE_ENTRIES; ++k) {  // a smooth palette, unlike the 3-3-2 one
        loaded[k] = {static_cast<uint8_t>(k), static_cast<uint8_t>((k * 3) & 255),
                     static_cast<uint8_t>(255 - k)};
    }
    const uint8_t indices[1] = {0};
    ASSERT_EQ(WritePcxFrame(dir.File("smooth.pcx").c_str(), indices, 1, 1, loaded), 1);
    PaletteRenderSettings settings = DefaultSettings();
    settings.ranges[1] = {0, 0, 1};
    WriteSettings(*filter, settings);
    const char* path = std::getenv("KELVO_SCREENSHOT");
    RunControlDialog(*filter, [&](HWND dialog) {
        PostCommand(dialog, IDC_BROWSE_PALETTE);
        EXPECT_TRUE(ChooseInFileDialog(PALETTE_CHOOSER_TITLE, dir.File("smooth.pcx")));
        const int top = GridTopOf(dialog);
        ClickDialog(dialog, SwatchX(40), SwatchY(top, 40));
        ClickControl(dialog, PICK_0 + 1);
        ClickDialog(dialog, SwatchX(75), SwatchY(top, 75));
        RepaintNow(dialog);
        EXPECT_EQ(PixelAt(dialog, SwatchX(200), SwatchY(top, 200)), Colour(loaded[200]));
        if (path != nullptr) {
            EXPECT_TRUE(SaveWindowPng(dialog, path)) << path;
        }
        ClickControl(dialog, IDOK);
    });
    const PaletteRenderSettings after = ReadSettings(*filter);
    EXPECT_EQ(after.ranges[1].first, 40);
    EXPECT_EQ(after.ranges[1].last, 75);
    EXPECT_EQ(std::memcmp(after.palette, loaded, sizeof loaded), 0);
}

}  // namespace

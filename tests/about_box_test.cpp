#include "ui/about_box.h"

#include <gtest/gtest.h>

// On Windows the procedure runs in a real dialog; see about_box_win32_test.cpp.
#ifndef _WIN32

namespace {

TEST(AboutBoxTest, OkAndEscapeEndTheBoxWithOne) {
    struct Case {
        const char* name;
        UINT message;
        WPARAM wParam;
        INT_PTR handled;
        bool ends;
    };
    const Case cases[] = {
        {"initialisation", WM_INITDIALOG, 0, TRUE, false},
        {"OK", WM_COMMAND, IDOK, TRUE, true},
        {"Escape", WM_COMMAND, IDCANCEL, TRUE, true},
        {"OK with a notification code in the high word", WM_COMMAND, 0x00050001, TRUE, true},
        {"another command", WM_COMMAND, 3, TRUE, false},
        {"a command whose high word alone is 1", WM_COMMAND, 0x00010000, TRUE, false},
        {"any other message", 0x000F, IDOK, FALSE, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HWND dialog = CreateStandInWindow(nullptr, nullptr);
        EXPECT_EQ(AboutDialogProc(dialog, c.message, c.wParam, 0), c.handled);
        INT_PTR result = 0;
        EXPECT_EQ(StandInDialogEnded(dialog, result), c.ends);
        if (c.ends) {
            EXPECT_EQ(result, 1);
        }
        DestroyStandInWindow(dialog);
    }
}

}  // namespace

#endif

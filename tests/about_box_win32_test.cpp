// The About box of the loaded Kelvo.flt in a real Win32 dialog (run under Xvfb with Wine).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/loaded_module.h"

namespace {

constexpr char ABOUT_CAPTION[] = "About Kelvo Rendering Filter";
constexpr char DESCRIPTION[] = "Palette Rendering Image Filter for Game Developer and Animator";

struct Child {
    std::string text;
    LONG style;
    RECT rect;  // in the dialog's client coordinates
};

// What the timer saw of the open box, and how it closes it.
struct AboutVisit {
    enum Close { CLOSE_BY_ESCAPE, CLOSE_BY_OK };
    explicit AboutVisit(Close how) : close(how) {}

    Close close;
    HWND dialog = nullptr;
    RECT window{};
    RECT client{};
    std::vector<Child> children;
    SIZE picture{};
    int ticks = 0;
};

AboutVisit* visit = nullptr;

BOOL CALLBACK CollectChild(HWND child, LPARAM) {
    char text[128] = "";
    GetWindowTextA(child, text, sizeof text);
    Child seen{text, GetWindowLongA(child, GWL_STYLE), {}};
    GetWindowRect(child, &seen.rect);
    MapWindowPoints(nullptr, visit->dialog, reinterpret_cast<POINT*>(&seen.rect), 2);
    if ((seen.style & SS_TYPEMASK) == SS_BITMAP) {
        BITMAP bitmap{};
        auto image = reinterpret_cast<HBITMAP>(SendMessageA(child, STM_GETIMAGE, IMAGE_BITMAP, 0));
        if (image != nullptr && GetObjectA(image, sizeof bitmap, &bitmap) != 0) {
            visit->picture = {bitmap.bmWidth, bitmap.bmHeight};
        }
    }
    visit->children.push_back(seen);
    return TRUE;
}

// Runs inside the box's modal loop: looks at the box once it is up, then closes it as a user
// would. A box that will not close is ended after many ticks, so the test fails, not hangs.
void CALLBACK VisitAboutBox(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND dialog = FindWindowA(MAKEINTATOM(32770), ABOUT_CAPTION);
    if (dialog == nullptr) {
        return;
    }
    if (visit->dialog == nullptr) {
        visit->dialog = dialog;
        GetWindowRect(dialog, &visit->window);
        GetClientRect(dialog, &visit->client);
        EnumChildWindows(dialog, CollectChild, 0);
        if (visit->close == AboutVisit::CLOSE_BY_ESCAPE) {
            HWND focus = GetFocus();
            PostMessageA(focus != nullptr ? focus : dialog, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        } else {
            PostMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
        }
    } else if (++visit->ticks > 100) {
        KillTimer(nullptr, timer);
        EndDialog(dialog, 99);
    }
}

RECT DialogUnits(HWND dialog, int left, int top, int width, int height) {
    RECT rect{left, top, left + width, top + height};
    MapDialogRect(dialog, &rect);
    return rect;
}

// One parent window for the suite: under Wine without a window manager every top-level
// window takes a while to go away.
class AboutBoxTest : public LoadedModuleTest {
protected:
    static void SetUpTestSuite() {
        parent = CreateWindowExA(0, "STATIC", "Kelvo test host", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                 120, 90, 640, 420, nullptr, nullptr, nullptr, nullptr);
    }
    static void TearDownTestSuite() { DestroyWindow(parent); }

    void SetUp() override {
        LoadedModuleTest::SetUp();
        ASSERT_NE(parent, nullptr) << "no window system: run the Windows tests under xvfb-run -a";
        filter = CreateFilterFrom(*module);
        ASSERT_NE(filter, nullptr);
    }
    void TearDown() override { visit = nullptr; }

    int ShowAbout(AboutVisit& seen) {
        visit = &seen;
        const UINT_PTR timer = SetTimer(nullptr, 0, 50, VisitAboutBox);
        const int result = filter->ShowAboutBox(parent);
        KillTimer(nullptr, timer);
        return result;
    }

    static HWND parent;
    FilterHandle filter{nullptr, FilterDeleter{nullptr}};
};

HWND AboutBoxTest::parent = nullptr;

TEST_F(AboutBoxTest, OkEndsTheBoxWithOne) {
    AboutVisit seen(AboutVisit::CLOSE_BY_OK);
    EXPECT_EQ(ShowAbout(seen), 1);
    EXPECT_NE(seen.dialog, nullptr);
    EXPECT_FALSE(IsWindow(seen.dialog));
}

// Escape, the layout of dialog 101 and the placement are seen in one visit.
TEST_F(AboutBoxTest, EscapeEndsTheBoxWithOne) {
    AboutVisit seen(AboutVisit::CLOSE_BY_ESCAPE);
    ASSERT_EQ(ShowAbout(seen), 1);
    ASSERT_NE(seen.dialog, nullptr);
    EXPECT_FALSE(IsWindow(seen.dialog));

    RECT area;
    GetWindowRect(parent, &area);
    EXPECT_NEAR((seen.window.left + seen.window.right) / 2, (area.left + area.right) / 2, 1);
    EXPECT_NEAR((seen.window.top + seen.window.bottom) / 2, (area.top + area.bottom) / 2, 1);

    // The box is gone: dialog units are mapped through a hidden box of the same template.
    HWND probe = CreateDialogParamA(GetModuleHandleA("Kelvo.flt"), MAKEINTRESOURCEA(101), parent,
                                    nullptr, 0);
    ASSERT_NE(probe, nullptr);
    const RECT client = DialogUnits(probe, 0, 0, 247, 125);
    EXPECT_EQ(seen.client.right, client.right);
    EXPECT_EQ(seen.client.bottom, client.bottom);

    struct Expected {
        const char* text;
        LONG type;
        RECT rect;
    };
    const Expected expected[] = {
        {"OK", -1, DialogUnits(probe, 171, 103, 66, 14)},
        {"Kelvo 1.0", SS_RIGHT, DialogUnits(probe, 169, 24, 60, 8)},
        {DESCRIPTION, SS_RIGHT, DialogUnits(probe, 100, 36, 129, 17)},
        {nullptr, SS_BITMAP, DialogUnits(probe, 24, 23, 60, 59)},  // any text
    };
    DestroyWindow(probe);
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.text != nullptr ? e.text : "picture");
        const Child* found = nullptr;
        for (const Child& child : seen.children) {
            const bool typeMatches = e.type < 0 || (child.style & SS_TYPEMASK) == e.type;
            if ((e.text == nullptr || child.text == e.text) && typeMatches) {
                found = &child;
            }
        }
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->rect.left, e.rect.left);
        EXPECT_EQ(found->rect.top, e.rect.top);
    }
    EXPECT_EQ(seen.picture.cx, 60);
    EXPECT_EQ(seen.picture.cy, 59);
}

using AboutPictureTest = LoadedModuleTest;

TEST_F(AboutPictureTest, IsA60By59SixteenColourBitmap) {
    HMODULE flt = GetModuleHandleA("Kelvo.flt");
    ASSERT_NE(flt, nullptr);
    HRSRC found = FindResourceA(flt, MAKEINTRESOURCEA(103), MAKEINTRESOURCEA(2));  // RT_BITMAP
    ASSERT_NE(found, nullptr);
    ASSERT_GE(SizeofResource(flt, found), sizeof(BITMAPINFOHEADER));
    const auto* header =
        static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(flt, found)));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->biWidth, 60);
    EXPECT_EQ(header->biHeight, 59);
    EXPECT_EQ(header->biBitCount, 4);
    EXPECT_EQ(header->biCompression, static_cast<DWORD>(BI_RGB));
}

}  // namespace

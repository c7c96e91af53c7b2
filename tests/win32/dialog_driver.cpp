// Drives the real control dialog from a second thread while the test's thread runs its modal
// loop, as a user would: commands, clicks, typed text, the file dialog, and read-backs.
#include "tests/win32/dialog_driver.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

namespace {

// Generous: the first dialog of a run waits for Wine to load the common controls.
constexpr int WAIT_STEPS = 3000;
constexpr DWORD WAIT_STEP_MS = 10;

HWND WaitForDialog(const char* title) {
    for (int step = 0; step < WAIT_STEPS; ++step) {
        HWND window = FindWindowA("#32770", title);
        if (window != nullptr && IsWindowVisible(window)) {
            return window;
        }
        Sleep(WAIT_STEP_MS);
    }
    return nullptr;
}

struct ScriptRun {
    const std::function<void(HWND)>* script;
};

DWORD WINAPI RunScript(void* parameter) {
    const ScriptRun& run = *static_cast<ScriptRun*>(parameter);
    HWND dialog = WaitForDialog(CONTROL_DIALOG_CAPTION);
    if (dialog == nullptr) {
        ADD_FAILURE() << "the control dialog did not appear";
        return 0;
    }
    RepaintNow(dialog);
    (*run.script)(dialog);
    if (IsWindow(dialog) && IsWindowVisible(dialog)) {
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    }
    return 0;
}

HWND DirectChildButton(HWND parent, int id) {
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        char className[16] = "";
        GetClassNameA(child, className, sizeof className);
        if (GetDlgCtrlID(child) == id && lstrcmpiA(className, "Button") == 0) {
            return child;
        }
    }
    return nullptr;
}

}  // namespace

int RunControlDialog(ImageFilter& filter, const std::function<void(HWND)>& script) {
    ScriptRun run{&script};
    HANDLE thread = CreateThread(nullptr, 0, RunScript, &run, 0, nullptr);
    if (thread == nullptr) {
        ADD_FAILURE() << "cannot start the driving thread";
        return -1;
    }
    const int result = filter.ShowControlDialog(nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return result;
}

PaletteRenderSettings ReadSettings(ImageFilter& filter) {
    PaletteRenderSettings settings{};
    EXPECT_EQ(filter.SaveConfigBlock(&settings), 1);
    return settings;
}

void WriteSettings(ImageFilter& filter, const PaletteRenderSettings& settings) {
    PaletteRenderSettings copy = settings;
    EXPECT_EQ(filter.LoadConfigBlock(&copy), 1);
}

void ClickControl(HWND dialog, int id) { SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

void ClickDialog(HWND dialog, int x, int y) {
    SendMessageA(dialog, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    SendMessageA(dialog, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

void RightClickDialog(HWND dialog, int x, int y) {
    SendMessageA(dialog, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(x, y));
    SendMessageA(dialog, WM_RBUTTONUP, 0, MAKELPARAM(x, y));
}

void PostCommand(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

int IsChecked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

std::string ControlText(HWND dialog, int id) {
    char text[512] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

int GridTopOf(HWND dialog) {
    RECT client;
    GetClientRect(dialog, &client);
    return client.bottom - 164;
}

void RepaintNow(HWND dialog) {
    RedrawWindow(dialog, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    // Anything the dialog's thread still has queued is handled before this returns.
    SendMessageA(dialog, WM_NULL, 0, 0);
}

COLORREF PixelAt(HWND dialog, int x, int y) {
    HDC dc = GetDC(dialog);
    const COLORREF colour = GetPixel(dc, x, y);
    ReleaseDC(dialog, dc);
    return colour;
}

int ChooseInFileDialog(const char* title, const std::string& name) {
    HWND chooser = WaitForDialog(title);
    if (chooser == nullptr) {
        return 0;
    }
    const int fileNameField = 0x47C;  // the explorer-style dialog's file-name combo box
    for (int step = 0; step < WAIT_STEPS && GetDlgItem(chooser, fileNameField) == nullptr; ++step) {
        Sleep(WAIT_STEP_MS);
    }
    SetDlgItemTextA(chooser, fileNameField, name.c_str());
    SendMessageA(DirectChildButton(chooser, IDOK), BM_CLICK, 0, 0);
    for (int step = 0; step < WAIT_STEPS && IsWindow(chooser); ++step) {
        Sleep(WAIT_STEP_MS);
    }
    return !IsWindow(chooser);
}

int SaveWindowBitmap(HWND window, const std::string& path) {
    RECT box;
    GetWindowRect(window, &box);
    const int width = box.right - box.left;
    const int height = box.bottom - box.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // bottom-up, as BMP files store rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    int saved = 0;
    if (bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, box.left, box.top, SRCCOPY);
        SelectObject(memory, old);
        GdiFlush();
        const DWORD rowBytes = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
        const DWORD imageBytes = rowBytes * static_cast<DWORD>(height);
        BITMAPFILEHEADER file{};
        file.bfType = 0x4D42;  // "BM"
        file.bfOffBits = sizeof file + sizeof info.bmiHeader;
        file.bfSize = file.bfOffBits + imageBytes;
        if (FILE* out = std::fopen(path.c_str(), "wb")) {
            saved = std::fwrite(&file, sizeof file, 1, out) == 1 &&
                    std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out) == 1 &&
                    std::fwrite(bits, imageBytes, 1, out) == 1;
            saved = std::fclose(out) == 0 && saved;
        }
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return saved;
}

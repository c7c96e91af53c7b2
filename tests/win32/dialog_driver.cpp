// Drives the real control dialog from a second thread while the test's thread runs its modal
// loop, as a user would: commands, clicks, typed text, the file dialog, and read-backs.
#include "tests/win32/dialog_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
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

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0) {
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

void PutBe32(std::vector<uint8_t>& out, uint32_t value) {
    out.insert(out.end(), {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                           static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)});
}

void PutChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    PutBe32(out, static_cast<uint32_t>(data.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    PutBe32(out, Crc32(out.data() + start, out.size() - start));
}

// An 8-bit RGB PNG whose image data is stored in uncompressed deflate blocks: enough for a
// screenshot, with no compression library on the Windows side.
int WriteRgbPng(const std::string& path, int width, int height,
                const std::vector<uint8_t>& filteredRows) {
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    PutBe32(header, static_cast<uint32_t>(width));
    PutBe32(header, static_cast<uint32_t>(height));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // depth 8, RGB, deflate, no filter, no interlace
    PutChunk(png, "IHDR", header);
    std::vector<uint8_t> zlib = {0x78, 0x01};
    uint32_t a = 1;
    uint32_t b = 0;
    for (uint8_t byte : filteredRows) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    for (size_t offset = 0; offset < filteredRows.size() || offset == 0; offset += 65535) {
        const size_t length = std::min<size_t>(65535, filteredRows.size() - offset);
        const bool last = offset + length >= filteredRows.size();
        zlib.insert(zlib.end(), {static_cast<uint8_t>(last ? 1 : 0), static_cast<uint8_t>(length),
                                 static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(~length),
                                 static_cast<uint8_t>(~length >> 8)});
        zlib.insert(zlib.end(), filteredRows.begin() + static_cast<std::ptrdiff_t>(offset),
                    filteredRows.begin() + static_cast<std::ptrdiff_t>(offset + length));
        if (last) {
            break;
        }
    }
    PutBe32(zlib, (b << 16) | a);
    PutChunk(png, "IDAT", zlib);
    PutChunk(png, "IEND", {});
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        return 0;
    }
    const bool written = std::fwrite(png.data(), png.size(), 1, out) == 1;
    return std::fclose(out) == 0 && written;
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

void ClickControl(HWND dialog, int id) {
    SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

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

int IsChecked(HWND dialog, int id) {
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

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

HWND WaitForChooser(const char* title) {
    HWND chooser = WaitForDialog(title);
    for (int step = 0; chooser != nullptr && step < WAIT_STEPS; ++step) {
        if (GetDlgItem(chooser, CHOOSER_FILE_NAME) != nullptr) {
            return chooser;
        }
        Sleep(WAIT_STEP_MS);
    }
    return nullptr;
}

namespace {

void WaitUntilGone(HWND window) {
    for (int step = 0; step < WAIT_STEPS && IsWindow(window); ++step) {
        Sleep(WAIT_STEP_MS);
    }
}

}  // namespace

void CancelChooser(HWND chooser) {
    PostMessageA(chooser, WM_COMMAND, IDCANCEL, 0);
    WaitUntilGone(chooser);
}

int ChooseInFileDialog(const char* title, const std::string& name) {
    HWND chooser = WaitForChooser(title);
    if (chooser == nullptr) {
        return 0;
    }
    SetDlgItemTextA(chooser, CHOOSER_FILE_NAME, name.c_str());
    SendMessageA(DirectChildButton(chooser, IDOK), BM_CLICK, 0, 0);
    WaitUntilGone(chooser);
    return !IsWindow(chooser);
}

int SaveWindowPng(HWND window, const std::string& path) {
    RECT box;
    GetWindowRect(window, &box);
    const int width = box.right - box.left;
    const int height = box.bottom - box.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first, as PNG stores rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    int saved = 0;
    if (bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, box.left, box.top, SRCCOPY);
        SelectObject(memory, old);
        GdiFlush();
        const auto* pixels = static_cast<const uint8_t*>(bits);  // blue, green, red, unused
        std::vector<uint8_t> rows;
        for (int y = 0; y < height; ++y) {
            rows.push_back(0);  // filter type: none
            for (int x = 0; x < width; ++x) {
                const uint8_t* pixel = pixels + 4 * (static_cast<size_t>(y) * width + x);
                rows.insert(rows.end(), {pixel[2], pixel[1], pixel[0]});
            }
        }
        saved = WriteRgbPng(path, width, height, rows);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return saved;
}

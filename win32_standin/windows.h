// Platform stand-in: the few Win32 types and calls the plug-in needs, for builds off Windows.
// A window is a host-supplied callback; SendMessageA calls it synchronously, as Win32 does.
#pragma once

#include <cstddef>
#include <cstdint>

using BOOL = int;
using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using ULONG = uint32_t;
using UINT = unsigned int;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using INT_PTR = intptr_t;
using LPVOID = void*;
using LPSTR = char*;
using LPCSTR = const char*;

struct HWND__;
using HWND = HWND__*;
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
struct HICON__;
using HCURSOR = HICON__*;

#define WINAPI
#define CALLBACK

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);
using DLGPROC = INT_PTR (*)(HWND, UINT, WPARAM, LPARAM);

constexpr BOOL FALSE = 0;
constexpr BOOL TRUE = 1;

// Reasons of the module load notification.
constexpr DWORD DLL_PROCESS_DETACH = 0;
constexpr DWORD DLL_PROCESS_ATTACH = 1;
constexpr DWORD DLL_THREAD_ATTACH = 2;
constexpr DWORD DLL_THREAD_DETACH = 3;

constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

inline WORD LOWORD(uintptr_t value) {
    return static_cast<WORD>(value & 0xFFFF);
}
inline LPSTR MAKEINTRESOURCEA(int id) {
    return reinterpret_cast<LPSTR>(static_cast<uintptr_t>(static_cast<WORD>(id)));
}
#define IDC_ARROW MAKEINTRESOURCEA(32512)

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
HWND GetParent(HWND window);

// Strings come from the module's compiled-in string table (see standin_resources.h); 0 when
// the string is missing or empty, as Win32 answers.
int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int bufferSize);

// There is no window system: every dialog fails to open with -1, as Win32 reports a failure.
INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND parent, DLGPROC procedure,
                        LPARAM initParam);
BOOL EndDialog(HWND dialog, INT_PTR result);
HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name);
HCURSOR SetCursor(HCURSOR cursor);

// Stand-in only: a window whose messages go to `procedure`, with `context` for its owner.
HWND CreateStandInWindow(WNDPROC procedure, void* context);
void* StandInWindowContext(HWND window);
void DestroyStandInWindow(HWND window);
// Stand-in only: whether EndDialog was called for the window, and with which result.
bool StandInDialogEnded(HWND window, INT_PTR& result);

// Platform stand-in: the few Win32 types and calls the plug-in needs, for builds off Windows.
// A window is a host-supplied callback; SendMessageA calls it synchronously, as Win32 does.
#pragma once

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

struct HWND__;
using HWND = HWND__*;
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

constexpr BOOL FALSE = 0;
constexpr BOOL TRUE = 1;

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Stand-in only: a window whose messages go to `procedure`, with `context` for its owner.
HWND CreateStandInWindow(WNDPROC procedure, void* context);
void* StandInWindowContext(HWND window);
void DestroyStandInWindow(HWND window);

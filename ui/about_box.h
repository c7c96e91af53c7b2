// The About box's dialog procedure (dialog 101).
#pragma once

#include <windows.h>

// Centres the box over its parent with the arrow cursor; OK (1) and Escape (2) end it with 1.
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

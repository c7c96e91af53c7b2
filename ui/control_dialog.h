// The modal control dialog that edits one filter's settings.
#pragma once

#include <windows.h>

// The dialog procedure handed to the platform: remembers the filter (a PaletteRenderFilter)
// passed with WM_INITDIALOG and hands that dialog's messages to its ControlDialogProc.
INT_PTR CALLBACK ControlDialogThunk(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Enables the sixteen dither boxes exactly while "Uniform Distribution" is checked.
void UpdateDitherEnabling(HWND dialog);

// The modal control dialog that edits one filter's settings.
#pragma once

#include <windows.h>

class PaletteRenderFilter;

// The dialog procedure handed to the platform: remembers the filter passed with
// WM_INITDIALOG and hands that dialog's messages to its ControlDialogProc.
INT_PTR CALLBACK ControlDialogThunk(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Enables the sixteen dither boxes exactly while "Uniform Distribution" is checked.
void UpdateDitherEnabling(HWND dialog);

// Runs dialog 102 from `module` modally over `parent` on `filter`: the end code, 1 after OK
// and 0 after Cancel, or the platform's failure result.
INT_PTR RunControlDialog(HINSTANCE module, HWND parent, PaletteRenderFilter* filter);

// Builds off Windows: the control dialog is a Win32 dialog, and the platform stand-in's
// DialogBoxParamA answers with the failure result before any procedure could run.
#include "ui/control_dialog.h"

INT_PTR CALLBACK ControlDialogThunk(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}

// Registration of the host's custom control window classes, and how they talk to each other.
#pragma once

#include <windows.h>

// Messages a "SpinnerControl" window answers (the ISpinnerControl operations go through them).
constexpr UINT SPINNER_GET_VALUE = WM_USER + 0x60;    // result: the value
constexpr UINT SPINNER_SET_VALUE = WM_USER + 0x61;    // wParam: value (int)
constexpr UINT SPINNER_SET_RANGE = WM_USER + 0x62;    // wParam, lParam: minimum, maximum
constexpr UINT SPINNER_ATTACH_EDIT = WM_USER + 0x63;  // wParam: the edit window
constexpr UINT SPINNER_TAKE_TEXT = WM_USER + 0x64;    // the attached edit's text is final

// The property by which a "CustEdit" window knows the spinner it is attached to.
constexpr char SPINNER_PROPERTY[] = "KelvoSpinner";

// Each returns 1 when its class is registered (or already was).
int RegisterSpinnerControlClass(HINSTANCE instance);
int RegisterCustEditClass(HINSTANCE instance);

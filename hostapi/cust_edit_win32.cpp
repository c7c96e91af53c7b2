// The host's "CustEdit" window class: an edit field that hands typed numbers to its spinner.
#include <windows.h>

#include "hostapi/custom_control_classes_win32.h"

namespace {

constexpr char CUST_EDIT_CLASS[] = "CustEdit";
WNDPROC editProc = nullptr;  // the platform's edit procedure, set once at registration

HWND AttachedSpinner(HWND edit) {
    return static_cast<HWND>(GetPropA(edit, SPINNER_PROPERTY));
}

bool IsEnterKey(LPARAM lParam) {
    const MSG* message = reinterpret_cast<const MSG*>(lParam);
    return message != nullptr && message->message == WM_KEYDOWN && message->wParam == VK_RETURN;
}

LRESULT CALLBACK CustEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_NCCREATE: {
            // The field draws its own border, whatever the template gave it.
            CREATESTRUCTA* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
            create->style |= WS_BORDER | ES_AUTOHSCROLL;
            SetWindowLongPtrA(edit, GWL_STYLE, create->style);
            break;
        }
        case WM_GETDLGCODE: {
            LRESULT code = CallWindowProcA(editProc, edit, message, wParam, lParam);
            // Enter confirms the typed number instead of pressing the dialog's default button.
            if (AttachedSpinner(edit) != nullptr && IsEnterKey(lParam)) {
                code |= DLGC_WANTMESSAGE;
            }
            return code;
        }
        case WM_KEYDOWN:
            if (wParam == VK_RETURN && AttachedSpinner(edit) != nullptr) {
                SendMessageA(AttachedSpinner(edit), SPINNER_TAKE_TEXT, 0, 0);
                SendMessageA(edit, EM_SETSEL, 0, -1);
                return 0;
            }
            break;
        case WM_CHAR:
            if (wParam == '\r' && AttachedSpinner(edit) != nullptr) {
                return 0;  // already taken on the key press; no beep
            }
            break;
        case WM_KILLFOCUS: {
            const LRESULT result = CallWindowProcA(editProc, edit, message, wParam, lParam);
            if (AttachedSpinner(edit) != nullptr) {
                SendMessageA(AttachedSpinner(edit), SPINNER_TAKE_TEXT, 0, 0);
            }
            return result;
        }
        case WM_NCDESTROY:
            RemovePropA(edit, SPINNER_PROPERTY);
            break;
        default:
            break;
    }
    return CallWindowProcA(editProc, edit, message, wParam, lParam);
}

}  // namespace

int RegisterCustEditClass(HINSTANCE instance) {
    WNDCLASSA editClass;
    if (!GetClassInfoA(nullptr, "EDIT", &editClass)) {
        return 0;
    }
    // Set on every load: a class left from an earlier load may point at this very code.
    editProc = editClass.lpfnWndProc;
    WNDCLASSA existing;
    if (GetClassInfoA(instance, CUST_EDIT_CLASS, &existing)) {
        if (existing.lpfnWndProc == CustEditProc) {
            return 1;
        }
        // Left behind by an earlier load of this code: its procedure is gone with it.
        UnregisterClassA(CUST_EDIT_CLASS, existing.hInstance);
    }
    editClass.style |= CS_GLOBALCLASS;
    editClass.lpfnWndProc = CustEditProc;
    editClass.hInstance = instance;
    editClass.lpszClassName = CUST_EDIT_CLASS;
    return RegisterClassA(&editClass) != 0;
}

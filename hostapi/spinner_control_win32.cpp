// The host's "SpinnerControl" window class and the ISpinnerControl handles given out for it.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "hostapi/custom_control_classes_win32.h"
#include "hostapi/host_api.h"
#include "hostapi/spinner_value.h"

namespace {

constexpr char SPINNER_CLASS[] = "SpinnerControl";
constexpr UINT_PTR REPEAT_TIMER = 1;
constexpr UINT REPEAT_DELAY_MS = 400;  // before a held half starts repeating
constexpr UINT REPEAT_RATE_MS = 60;
constexpr int EDIT_TEXT_LIMIT = 11;  // "-2147483648"

struct SpinnerData {
    int value = 0;
    int minimum = 0;
    int maximum = 100;
    HWND edit = nullptr;
    int heldStep = 0;  // +1 while the upper half is held, -1 for the lower, 0 otherwise
};

SpinnerData* DataOf(HWND window) {
    return reinterpret_cast<SpinnerData*>(GetWindowLongPtrA(window, 0));
}

void ShowValueInEdit(const SpinnerData& data) {
    if (data.edit != nullptr && IsWindow(data.edit)) {
        char text[16];
        std::snprintf(text, sizeof text, "%d", data.value);
        SetWindowTextA(data.edit, text);
    }
}

void SetValue(SpinnerData& data, int value) {
    data.value = ClampSpinnerValue(value, data.minimum, data.maximum);
    ShowValueInEdit(data);
}

// Takes what was typed into the attached edit field; text that is no valid value falls back to
// the nearest one, and the field shows the value taken.
void TakeEditText(SpinnerData& data) {
    if (data.edit == nullptr || !IsWindow(data.edit)) {
        return;
    }
    char text[EDIT_TEXT_LIMIT + 2] = "";
    GetWindowTextA(data.edit, text, sizeof text);
    SetValue(data, SpinnerValueFromText(text, data.value, data.minimum, data.maximum));
}

void Paint(HWND window, const SpinnerData& data) {
    PAINTSTRUCT paint;
    const HDC dc = BeginPaint(window, &paint);
    if (dc == nullptr) {
        return;
    }
    RECT client;
    GetClientRect(window, &client);
    const int middle = client.bottom / 2;
    const UINT inactive = IsWindowEnabled(window) ? 0 : DFCS_INACTIVE;
    RECT upper = {client.left, client.top, client.right, middle};
    RECT lower = {client.left, middle, client.right, client.bottom};
    DrawFrameControl(dc, &upper, DFC_SCROLL,
                     DFCS_SCROLLUP | inactive | (data.heldStep > 0 ? DFCS_PUSHED : 0));
    DrawFrameControl(dc, &lower, DFC_SCROLL,
                     DFCS_SCROLLDOWN | inactive | (data.heldStep < 0 ? DFCS_PUSHED : 0));
    EndPaint(window, &paint);
}

void StopRepeating(HWND window, SpinnerData& data) {
    KillTimer(window, REPEAT_TIMER);
    if (data.heldStep != 0) {
        data.heldStep = 0;
        InvalidateRect(window, nullptr, FALSE);
    }
}

LRESULT CALLBACK SpinnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        SpinnerData* created = new (std::nothrow) SpinnerData;
        if (created == nullptr) {
            return FALSE;
        }
        SetWindowLongPtrA(window, 0, reinterpret_cast<LONG_PTR>(created));
    }
    SpinnerData* data = DataOf(window);
    if (data == nullptr) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    switch (message) {
        case SPINNER_GET_VALUE:
            return data->value;
        case SPINNER_SET_VALUE:
            SetValue(*data, static_cast<int>(wParam));
            return 0;
        case SPINNER_SET_RANGE:
            data->minimum = static_cast<int>(wParam);
            data->maximum = static_cast<int>(lParam);
            SetValue(*data, data->value);
            return 0;
        case SPINNER_ATTACH_EDIT:
            data->edit = reinterpret_cast<HWND>(wParam);
            if (data->edit != nullptr) {
                SetPropA(data->edit, SPINNER_PROPERTY, window);
                SendMessageA(data->edit, EM_LIMITTEXT, EDIT_TEXT_LIMIT, 0);
                ShowValueInEdit(*data);
            }
            return 0;
        case SPINNER_TAKE_TEXT:
            TakeEditText(*data);
            return 0;
        case WM_PAINT:
            Paint(window, *data);
            return 0;
        case WM_ENABLE:
            InvalidateRect(window, nullptr, FALSE);
            return 0;
        case WM_LBUTTONDOWN: {
            if (!IsWindowEnabled(window)) {
                return 0;
            }
            TakeEditText(*data);
            RECT client;
            GetClientRect(window, &client);
            data->heldStep = static_cast<short>(HIWORD(lParam)) < client.bottom / 2 ? 1 : -1;
            SetValue(*data,
                     StepSpinnerValue(data->value, data->heldStep, data->minimum, data->maximum));
            SetCapture(window);
            SetTimer(window, REPEAT_TIMER, REPEAT_DELAY_MS, nullptr);
            InvalidateRect(window, nullptr, FALSE);
            return 0;
        }
        case WM_TIMER:
            if (wParam == REPEAT_TIMER && data->heldStep != 0) {
                SetValue(*data, StepSpinnerValue(data->value, data->heldStep, data->minimum,
                                                 data->maximum));
                SetTimer(window, REPEAT_TIMER, REPEAT_RATE_MS, nullptr);
            }
            return 0;
        case WM_LBUTTONUP:
            StopRepeating(window, *data);
            if (GetCapture() == window) {
                ReleaseCapture();
            }
            return 0;
        case WM_CAPTURECHANGED:
            StopRepeating(window, *data);
            return 0;
        case WM_NCDESTROY:
            KillTimer(window, REPEAT_TIMER);
            if (data->edit != nullptr && IsWindow(data->edit) &&
                GetPropA(data->edit, SPINNER_PROPERTY) == window) {
                RemovePropA(data->edit, SPINNER_PROPERTY);
            }
            SetWindowLongPtrA(window, 0, 0);
            delete data;
            return DefWindowProcA(window, message, wParam, lParam);
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

// What GetISpinner hands out: it reaches the control through its window, so a handle that
// outlives its window does no harm.
class SpinnerHandle final : public ISpinnerControl {
public:
    explicit SpinnerHandle(HWND window) : window_(window) {}

    int GetIntValue() override {
        return static_cast<int>(SendMessageA(window_, SPINNER_GET_VALUE, 0, 0));
    }
    void SetIntValue(int value, int) override {
        SendMessageA(window_, SPINNER_SET_VALUE, static_cast<WPARAM>(value), 0);
    }
    void SetValueRange(int minimum, int maximum, int) override {
        SendMessageA(window_, SPINNER_SET_RANGE, static_cast<WPARAM>(minimum),
                     static_cast<LPARAM>(maximum));
    }
    void AttachEdit(HWND edit, int) override {
        SendMessageA(window_, SPINNER_ATTACH_EDIT, reinterpret_cast<WPARAM>(edit), 0);
    }

private:
    HWND window_;
};

}  // namespace

int RegisterSpinnerControlClass(HINSTANCE instance) {
    WNDCLASSA spinnerClass;
    if (GetClassInfoA(instance, SPINNER_CLASS, &spinnerClass)) {
        if (spinnerClass.lpfnWndProc == SpinnerProc) {
            return 1;
        }
        // Left behind by an earlier load of this code: its procedure is gone with it.
        UnregisterClassA(SPINNER_CLASS, spinnerClass.hInstance);
    }
    std::memset(&spinnerClass, 0, sizeof spinnerClass);
    spinnerClass.style = CS_GLOBALCLASS | CS_HREDRAW | CS_VREDRAW;
    spinnerClass.lpfnWndProc = SpinnerProc;
    spinnerClass.cbWndExtra = sizeof(LONG_PTR);
    spinnerClass.hInstance = instance;
    spinnerClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    spinnerClass.lpszClassName = SPINNER_CLASS;
    return RegisterClassA(&spinnerClass) != 0;
}

ISpinnerControl* GetISpinner(HWND spinner) {
    char className[sizeof SPINNER_CLASS + 1] = "";
    if (spinner == nullptr || GetClassNameA(spinner, className, sizeof className) == 0 ||
        std::strcmp(className, SPINNER_CLASS) != 0) {
        return nullptr;
    }
    return new (std::nothrow) SpinnerHandle(spinner);
}

void ReleaseISpinner(ISpinnerControl* spinner) {
    delete static_cast<SpinnerHandle*>(spinner);
}

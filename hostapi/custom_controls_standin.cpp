// Platform stand-in: the host's custom controls, with no window system to register them in.
#include "hostapi/host_api.h"

#include "hostapi/custom_controls_standin.h"

namespace {

int initCount = 0;

}  // namespace

void InitCustomControls(HINSTANCE) {
    ++initCount;
}

void CenterWindow(HWND, HWND) {}

// There are no spinner windows here, so there is no spinner to hand out.
ISpinnerControl* GetISpinner(HWND) {
    return nullptr;
}
void ReleaseISpinner(ISpinnerControl*) {}

int StandInCustomControlsInitCount() {
    return initCount;
}

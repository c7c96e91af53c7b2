// The module's load entry: stores the module handle and initialises the custom controls once.
#include "plugin/module.h"

#include "hostapi/host_api.h"

namespace {

HINSTANCE moduleInstance = nullptr;
bool customControlsReady = false;

}  // namespace

HINSTANCE ModuleInstance() {
    return moduleInstance;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    switch (reason) {
        case DLL_PROCESS_DETACH:
            moduleInstance = nullptr;
            return TRUE;
        case DLL_PROCESS_ATTACH:
            if (moduleInstance != nullptr) {
                return FALSE;
            }
            moduleInstance = instance;
            if (!customControlsReady) {
                customControlsReady = true;
                InitCustomControls(instance);
            }
            return TRUE;
        default:
            return TRUE;
    }
}

// The module resources a test program carries, to hand to the module's load entry.
#pragma once

#include <windows.h>

#ifndef _WIN32
#include "win32_standin/standin_resources.h"
#endif

// On Windows the test program is built with ui/kelvo.rc; elsewhere the string table of the
// same script is compiled in.
inline HINSTANCE TestModuleResources() {
#ifdef _WIN32
    return GetModuleHandleA(nullptr);
#else
    return StandInModuleResources();
#endif
}

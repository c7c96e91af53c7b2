// The module's load entry and the module instance handle it keeps for loading resources.
#pragma once

#include <windows.h>

// The handle stored by the load notification; null before it and after the unload.
HINSTANCE ModuleInstance();

// The system's load and unload notification. Load stores the handle (a second load without
// an unload in between is refused with FALSE) and initialises the host's custom controls the
// first time; unload clears the handle; every other reason is accepted and ignored.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

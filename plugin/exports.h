// The four functions the host looks up by name after it has loaded the module.
#pragma once

#include "hostapi/host_api.h"

// 2000 in the upper 16 bits and 5 in bits 8-15: the host interface the module is built for.
constexpr ULONG MODULE_INTERFACE_VERSION = 0x07D00500;

// Undecorated in the export table through plugin/kelvo.def.
extern "C" {
// The library description: string 3.
const char* LibDescription();
// The number of plug-in classes in the module: 1.
int LibNumberClasses();
// The class descriptor for index 0; null for every other index.
ClassDesc* LibClassDesc(int index);
ULONG LibVersion();
}

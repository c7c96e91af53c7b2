// The module's exported functions: how the host discovers the plug-in after loading it.
#include "plugin/exports.h"

#include "plugin/class_desc.h"
#include "plugin/module_strings.h"
#include "ui/resource.h"

extern "C" const char* LibDescription() {
    return LoadModuleString(IDS_LIB_DESCRIPTION);
}

extern "C" int LibNumberClasses() {
    return 1;
}

extern "C" ClassDesc* LibClassDesc(int index) {
    return index == 0 ? &TheClassDesc() : nullptr;
}

extern "C" ULONG LibVersion() {
    return MODULE_INTERFACE_VERSION;
}

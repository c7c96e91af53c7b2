// Texts from the module's string table, loaded into one shared buffer.
#include "plugin/module_strings.h"

#include <windows.h>

#include "plugin/module.h"

namespace {

char stringBuffer[MODULE_STRING_SIZE];

}  // namespace

const char* LoadModuleString(int id) {
    HINSTANCE instance = ModuleInstance();
    if (instance == nullptr) {
        return nullptr;
    }
    const int length =
        LoadStringA(instance, static_cast<UINT>(id), stringBuffer, MODULE_STRING_SIZE);
    return length > 0 ? stringBuffer : nullptr;
}

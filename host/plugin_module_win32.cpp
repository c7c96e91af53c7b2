// Loads Kelvo.flt with the Win32 loader and finds its exported functions.
#include <windows.h>

#include "host/plugin_module.h"

namespace {

std::string LastErrorText() {
    const DWORD code = GetLastError();
    char text[256] = "";
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    return message.empty() ? "error " + std::to_string(code) : message;
}

// GetProcAddress gives a generic function pointer; the export's own type is ours to know.
template <typename Function>
bool FindExport(HMODULE module, const char* name, Function& function) {
    const FARPROC address = GetProcAddress(module, name);
    function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
    return address != nullptr;
}

}  // namespace

std::unique_ptr<PluginModule> PluginModule::Load(const std::string& path, std::string& error) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
        error = "cannot load '" + path + "': " + LastErrorText();
        return nullptr;
    }
    PluginExports exports{};
    const char* missing = nullptr;
    if (!FindExport(module, "LibDescription", exports.libDescription)) {
        missing = "LibDescription";
    } else if (!FindExport(module, "LibNumberClasses", exports.libNumberClasses)) {
        missing = "LibNumberClasses";
    } else if (!FindExport(module, "LibClassDesc", exports.libClassDesc)) {
        missing = "LibClassDesc";
    } else if (!FindExport(module, "LibVersion", exports.libVersion)) {
        missing = "LibVersion";
    }
    if (missing != nullptr) {
        error = "'" + path + "' is not a plug-in module: it does not export " + missing;
        FreeLibrary(module);
        return nullptr;
    }
    std::unique_ptr<PluginModule> loaded(new PluginModule(module, exports));
    if (!loaded->CheckClass(path, error)) {
        return nullptr;
    }
    return loaded;
}

void PluginModule::Unload(void* handle) {
    FreeLibrary(static_cast<HMODULE>(handle));
}

std::string DefaultModulePath() {
    char program[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, program, MAX_PATH);
    std::string path = length > 0 && length < MAX_PATH ? std::string(program, length) : "";
    const size_t slash = path.find_last_of("\\/");
    path.resize(slash == std::string::npos ? 0 : slash + 1);
    return path + "Kelvo.flt";
}

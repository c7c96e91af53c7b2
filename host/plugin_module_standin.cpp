// The plug-in module linked into the program: its load entry and exports are called directly.
#include "host/plugin_module.h"

#include "plugin/exports.h"
#include "plugin/module.h"
#include "win32_standin/standin_resources.h"

std::unique_ptr<PluginModule> PluginModule::Load(const std::string& path, std::string& error) {
    HINSTANCE resources = StandInModuleResources();
    if (!DllMain(resources, DLL_PROCESS_ATTACH, nullptr)) {
        error = "cannot load '" + path + "': the plug-in module is already loaded";
        return nullptr;
    }
    const PluginExports exports{LibDescription, LibNumberClasses, LibClassDesc, LibVersion};
    std::unique_ptr<PluginModule> loaded(new PluginModule(resources, exports));
    if (!loaded->CheckClass(path, error)) {
        return nullptr;
    }
    return loaded;
}

void PluginModule::Unload(void* handle) {
    DllMain(static_cast<HINSTANCE>(handle), DLL_PROCESS_DETACH, nullptr);
}

std::string DefaultModulePath() {
    return "Kelvo.flt";
}

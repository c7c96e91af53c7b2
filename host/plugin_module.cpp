// What the host does with a loaded plug-in module, the same on every platform.
#include "host/plugin_module.h"

PluginModule::PluginModule(void* handle, const PluginExports& exports)
    : handle_(handle), exports_(exports) {}

PluginModule::~PluginModule() {
    Unload(handle_);
}

int PluginModule::CheckClass(const std::string& path, std::string& error) const {
    ClassDesc* descriptor = ClassCount() >= 1 ? ClassDescriptor(0) : nullptr;
    if (descriptor == nullptr) {
        error = "'" + path + "' offers no plug-in class";
        return 0;
    }
    if (descriptor->SuperClassIdentifier() != IMAGE_FILTER_CLASS_ID) {
        error = "'" + path + "' is not an image filter";
        return 0;
    }
    return 1;
}

ImageFilter* PluginModule::CreateFilter() {
    ClassDesc* descriptor = ClassDescriptor(0);
    return descriptor != nullptr ? descriptor->CreateFilter(0) : nullptr;
}

void PluginModule::DeleteFilter(ImageFilter* filter) {
    if (filter != nullptr) {
        filter->Destroy(DESTROY_FREE_MEMORY);
    }
}

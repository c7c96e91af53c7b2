// The palette filter as kelvo reaches it: the plug-in module loaded and one filter created
// through the module's class descriptor.
#include "host/filter_factory.h"

PluginFilter::~PluginFilter() {
    if (module_ != nullptr) {
        module_->DeleteFilter(filter_);
    }
}

int PluginFilter::Open(const std::string& modulePath, std::string& error) {
    const std::string path = modulePath.empty() ? DefaultModulePath() : modulePath;
    module_ = PluginModule::Load(path, error);
    if (module_ == nullptr) {
        if (modulePath.empty()) {
            error += " (kelvo looks for Kelvo.flt beside itself; --plugin PATH names another)";
        }
        return 0;
    }
    filter_ = module_->CreateFilter();
    if (filter_ == nullptr) {
        error = "'" + path + "' created no filter";
        return 0;
    }
    return 1;
}

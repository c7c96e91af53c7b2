// The palette filter as kelvo reaches it: the plug-in module loaded and one filter created
// through the module's class descriptor.
#pragma once

#include <memory>
#include <string>

#include "host/plugin_module.h"
#include "hostapi/host_api.h"

class PluginFilter {
public:
    PluginFilter() = default;
    // Deletes the filter through the module, then unloads the module.
    ~PluginFilter();
    PluginFilter(const PluginFilter&) = delete;
    PluginFilter& operator=(const PluginFilter&) = delete;

    // Loads the module at `modulePath` (empty: Kelvo.flt beside the program) and creates a
    // filter with its default settings. On 0, `error` is one line saying why; kelvo then
    // exits 2, before anything is written.
    [[nodiscard]] int Open(const std::string& modulePath, std::string& error);
    ImageFilter& Filter() { return *filter_; }

private:
    std::unique_ptr<PluginModule> module_;
    ImageFilter* filter_ = nullptr;
};

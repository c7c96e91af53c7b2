// The plug-in module as the stand-in host uses it: loaded, asked for its filter class, and
// used to create and delete filters. On Windows it is Kelvo.flt loaded with LoadLibraryA;
// elsewhere the module is linked into the program and called the same way.
#pragma once

#include <memory>
#include <string>

#include "hostapi/host_api.h"

// The four functions the module exports, as the host finds them.
struct PluginExports {
    const char* (*libDescription)();
    int (*libNumberClasses)();
    ClassDesc* (*libClassDesc)(int index);
    ULONG (*libVersion)();
};

class PluginModule {
public:
    // Loads the module at `path` (not used where the module is linked in) and checks that its
    // first class is an image filter. Null, with a one-line reason in `error`, when the file
    // cannot be loaded, lacks an export, or serves no image filter; also while the module is
    // already loaded, since it accepts one load notification at a time.
    static std::unique_ptr<PluginModule> Load(const std::string& path, std::string& error);
    // Unloads the module: every filter it created must have been deleted before.
    ~PluginModule();
    PluginModule(const PluginModule&) = delete;
    PluginModule& operator=(const PluginModule&) = delete;

    // The answers of the exported functions.
    const char* Description() const { return exports_.libDescription(); }
    int ClassCount() const { return exports_.libNumberClasses(); }
    ClassDesc* ClassDescriptor(int index) const { return exports_.libClassDesc(index); }
    ULONG InterfaceVersion() const { return exports_.libVersion(); }

    // A new filter of the module's image-filter class with its default settings; null when
    // the module cannot create one.
    ImageFilter* CreateFilter();
    // Deletes a filter from CreateFilter through its destructor slot, so the module frees the
    // memory it allocated. Null is ignored.
    void DeleteFilter(ImageFilter* filter);

private:
    PluginModule(void* handle, const PluginExports& exports);
    // Checks the module's answers; 0, with the reason in `error`, when it serves no filter.
    int CheckClass(const std::string& path, std::string& error) const;
    static void Unload(void* handle);

    void* handle_;
    PluginExports exports_;
};

// Where the host looks for the module by default: Kelvo.flt beside the running program.
std::string DefaultModulePath();

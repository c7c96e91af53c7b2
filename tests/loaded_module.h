// The plug-in module loaded the way the stand-in host loads it, for tests that go through it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "host/plugin_module.h"

// Loads the module (Kelvo.flt beside the test program on Windows) once per test.
class LoadedModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        module = PluginModule::Load(DefaultModulePath(), error);
        ASSERT_NE(module, nullptr) << error;
    }

    std::unique_ptr<PluginModule> module;
};

// A filter that the module deletes again when the test is done with it.
struct FilterDeleter {
    PluginModule* module;
    void operator()(ImageFilter* filter) const { module->DeleteFilter(filter); }
};
using FilterHandle = std::unique_ptr<ImageFilter, FilterDeleter>;

inline FilterHandle CreateFilterFrom(PluginModule& module) {
    return FilterHandle(module.CreateFilter(), FilterDeleter{&module});
}

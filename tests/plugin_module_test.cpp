#include "host/plugin_module.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include "host/filter_driver.h"
#include "plugin/settings.h"
#include "tests/loaded_module.h"

namespace {

using PluginModuleTest = LoadedModuleTest;

TEST_F(PluginModuleTest, AnswersTheHostsDiscoveryCalls) {
    EXPECT_STREQ(module->Description(), "Kelvo Renderer");
    EXPECT_EQ(module->ClassCount(), 1);
    EXPECT_EQ(module->InterfaceVersion(), 0x07D00500u);
    ClassDesc* first = module->ClassDescriptor(0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(module->ClassDescriptor(0), first);
    for (int index : {1, -1, 2, INT_MAX, INT_MIN}) {
        SCOPED_TRACE(index);
        EXPECT_EQ(module->ClassDescriptor(index), nullptr);
    }
}

TEST_F(PluginModuleTest, ClassDescriptorNamesAnImageFilterClass) {
    ClassDesc& descriptor = *module->ClassDescriptor(0);
    EXPECT_STREQ(descriptor.ClassNameText(), "Kelvo Renderer");
    EXPECT_STREQ(descriptor.CategoryText(), "Image Filter");
    EXPECT_EQ(descriptor.SuperClassIdentifier(), 0x0E00u);
    ClassIdentifierRecord record{0xDEADBEEF, 0xDEADBEEF};
    EXPECT_EQ(descriptor.ClassIdentifier(&record), &record);
    EXPECT_EQ(record.partA, 0x130079D8u);
    EXPECT_EQ(record.partB, 0x05A618A8u);
    EXPECT_EQ(descriptor.ClassIdentifier(nullptr), nullptr);
}

TEST_F(PluginModuleTest, ClassDescriptorGivesItsFixedAnswers) {
    ClassDesc& descriptor = *module->ClassDescriptor(0);
    int word = 0;
    const int answers[] = {
        descriptor.IsPublic(),           descriptor.BeginCreate(&word),
        descriptor.EndCreate(&word),     descriptor.OkToCreate(&word),
        descriptor.HasClassParameters(), descriptor.ActionTableCount(),
    };
    EXPECT_EQ(std::vector<int>(std::begin(answers), std::end(answers)),
              (std::vector<int>{1, 0, 0, 1, 0, 0}));
    EXPECT_EQ(descriptor.ActionTable(0), nullptr);
    EXPECT_EQ(descriptor.Extension(0), nullptr);
    descriptor.EditClassParameters(nullptr);
    descriptor.ResetClassParameters(1);
}

TEST_F(PluginModuleTest, FilterTextsShareTheModulesStringBuffer) {
    FilterHandle filter = CreateFilterFrom(*module);
    ASSERT_NE(filter, nullptr);
    const char* description = filter->DescriptionText();
    ASSERT_NE(description, nullptr);
    EXPECT_STREQ(description, "Kelvo Palette Renderer");
    const char* category = module->ClassDescriptor(0)->CategoryText();
    EXPECT_EQ(category, description);
    EXPECT_STREQ(description, "Image Filter");
}

TEST_F(PluginModuleTest, FilterAnswersAsAPaletteRenderFilter) {
    FilterHandle filter = CreateFilterFrom(*module);
    ASSERT_NE(filter, nullptr);
    EXPECT_NE(std::strstr(filter->AuthorText(), "Kelvo project"), nullptr);
    EXPECT_NE(std::strstr(filter->CopyrightText(), "Kelvo project"), nullptr);
    EXPECT_EQ(filter->FilterVersion(), 101u);
    EXPECT_EQ(filter->CapabilityMask(), 6u);
    EXPECT_EQ(filter->ConfigBlockSize(), 1084u);
    EXPECT_EQ(filter->RequiredChannels(), 2u);
}

TEST_F(PluginModuleTest, EachFilterIsANewInstanceWithDefaults) {
    FilterHandle first = CreateFilterFrom(*module);
    FilterHandle second = CreateFilterFrom(*module);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first.get(), second.get());
    std::vector<uint8_t> block;
    ASSERT_EQ(SaveFilterBlock(*first, block), 1);
    PaletteRenderSettings defaults;
    SetDefaultSettings(defaults);
    ASSERT_EQ(block.size(), sizeof defaults);
    EXPECT_EQ(std::memcmp(block.data(), &defaults, sizeof defaults), 0);
}

TEST_F(PluginModuleTest, BlocksTravelBetweenFiltersByteForByte) {
    FilterHandle first = CreateFilterFrom(*module);
    FilterHandle second = CreateFilterFrom(*module);
    PaletteRenderSettings settings;
    SetDefaultSettings(settings);
    settings.source = SOURCE_OBJECT;
    settings.method = METHOD_NEAREST;
    settings.ranges[3] = {10, 20, 1};
    settings.palette[7] = {1, 2, 3};
    ASSERT_EQ(LoadFilterBlock(*first, &settings, sizeof settings), 1);
    EXPECT_EQ(first->RequiredChannels(), 4u);
    std::vector<uint8_t> block;
    ASSERT_EQ(SaveFilterBlock(*first, block), 1);
    ASSERT_EQ(LoadFilterBlock(*second, block.data(), block.size()), 1);
    std::vector<uint8_t> copy;
    ASSERT_EQ(SaveFilterBlock(*second, copy), 1);
    EXPECT_EQ(copy, block);
    EXPECT_EQ(std::memcmp(block.data(), &settings, sizeof settings), 0);
}

TEST_F(PluginModuleTest, RefusedBlocksLeaveTheSettings) {
    FilterHandle filter = CreateFilterFrom(*module);
    std::vector<uint8_t> before;
    ASSERT_EQ(SaveFilterBlock(*filter, before), 1);
    PaletteRenderSettings settings;
    SetDefaultSettings(settings);
    settings.source = SOURCE_OBJECT;
    settings.version = 100;
    EXPECT_EQ(LoadFilterBlock(*filter, &settings, sizeof settings), 0);
    settings.version = SETTINGS_VERSION;
    EXPECT_EQ(LoadFilterBlock(*filter, &settings, sizeof settings - 1), 0);
    EXPECT_EQ(LoadFilterBlock(*filter, nullptr, sizeof settings), 0);
    std::vector<uint8_t> after;
    ASSERT_EQ(SaveFilterBlock(*filter, after), 1);
    EXPECT_EQ(after, before);
}

#ifndef _WIN32
TEST_F(PluginModuleTest, DialogsFailWithoutAWindowSystem) {
    FilterHandle filter = CreateFilterFrom(*module);
    EXPECT_EQ(filter->ShowAboutBox(nullptr), -1);
}

TEST_F(PluginModuleTest, TheLinkedModuleLoadsOnceAtATime) {
    std::string error;
    EXPECT_EQ(PluginModule::Load(DefaultModulePath(), error), nullptr);
    EXPECT_NE(error.find("already loaded"), std::string::npos) << error;
}
#else
TEST(PluginModuleLoadTest, RefusesWhatIsNotAPluginModule) {
    struct Case {
        const char* path;
        const char* reason;
    };
    const Case cases[] = {
        {"no-such-module.flt", "cannot load 'no-such-module.flt'"},
        {"kernel32.dll", "does not export LibDescription"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        std::string error;
        EXPECT_EQ(PluginModule::Load(c.path, error), nullptr);
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
}
#endif

}  // namespace

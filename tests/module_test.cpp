#include "plugin/module.h"

#include <gtest/gtest.h>

#include "plugin/class_desc.h"
#include "plugin/exports.h"
#include "plugin/module_strings.h"
#include "plugin/palette_render_filter.h"
#include "tests/module_resources.h"

#ifndef _WIN32
#include "hostapi/custom_controls_standin.h"
#endif

namespace {

// Every test leaves the module unloaded, as the process found it.
class ModuleTest : public ::testing::Test {
protected:
    ~ModuleTest() override { DllMain(ModuleInstance(), DLL_PROCESS_DETACH, nullptr); }
    HINSTANCE resources = TestModuleResources();
};

TEST_F(ModuleTest, KeepsTheFirstHandleAndRefusesASecondLoad) {
    HINSTANCE other = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x10000));
    ASSERT_EQ(ModuleInstance(), nullptr);
    EXPECT_EQ(DllMain(resources, DLL_PROCESS_ATTACH, nullptr), TRUE);
    EXPECT_EQ(ModuleInstance(), resources);
    EXPECT_EQ(DllMain(other, DLL_PROCESS_ATTACH, nullptr), FALSE);
    EXPECT_EQ(DllMain(resources, DLL_PROCESS_ATTACH, nullptr), FALSE);
    EXPECT_EQ(ModuleInstance(), resources);
    EXPECT_STREQ(LoadModuleString(5), "Kelvo Palette Renderer");
}

TEST_F(ModuleTest, OtherNotificationsChangeNothing) {
    const DWORD reasons[] = {DLL_THREAD_ATTACH, DLL_THREAD_DETACH, 7};
    for (DWORD reason : reasons) {
        SCOPED_TRACE(reason);
        EXPECT_EQ(DllMain(resources, reason, nullptr), TRUE);
        EXPECT_EQ(ModuleInstance(), nullptr);
    }
    DllMain(resources, DLL_PROCESS_ATTACH, nullptr);
    EXPECT_EQ(DllMain(nullptr, DLL_THREAD_ATTACH, nullptr), TRUE);
    EXPECT_EQ(ModuleInstance(), resources);
}

TEST_F(ModuleTest, UnloadClearsTheHandleAndAllowsALoadAgain) {
    DllMain(resources, DLL_PROCESS_ATTACH, nullptr);
    EXPECT_EQ(DllMain(resources, DLL_PROCESS_DETACH, nullptr), TRUE);
    EXPECT_EQ(ModuleInstance(), nullptr);
    EXPECT_EQ(LoadModuleString(5), nullptr);
    EXPECT_EQ(DllMain(resources, DLL_PROCESS_ATTACH, nullptr), TRUE);
    EXPECT_STREQ(LoadModuleString(5), "Kelvo Palette Renderer");
}

#ifndef _WIN32
TEST_F(ModuleTest, InitialisesTheCustomControlsOnlyOnce) {
    for (int load = 0; load < 3; ++load) {
        DllMain(resources, DLL_PROCESS_ATTACH, nullptr);
        DllMain(resources, DLL_PROCESS_DETACH, nullptr);
    }
    EXPECT_EQ(StandInCustomControlsInitCount(), 1);
}
#endif

TEST_F(ModuleTest, StringTableHasIdsOneToFiveButFour) {
    DllMain(resources, DLL_PROCESS_ATTACH, nullptr);
    struct Case {
        int id;
        const char* text;
    };
    const Case cases[] = {
        {1, "Kelvo Renderer"},         {2, "Image Filter"}, {3, "Kelvo Renderer"}, {4, nullptr},
        {5, "Kelvo Palette Renderer"}, {0, nullptr},        {6, nullptr},          {101, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        const char* text = LoadModuleString(c.id);
        if (c.text == nullptr) {
            EXPECT_EQ(text, nullptr);
        } else {
            EXPECT_STREQ(text, c.text);
        }
    }
}

TEST_F(ModuleTest, EveryStringLandsInTheOneSharedBuffer) {
    DllMain(resources, DLL_PROCESS_ATTACH, nullptr);
    const char* description = LoadModuleString(5);
    const char* category = LoadModuleString(2);
    ASSERT_NE(description, nullptr);
    EXPECT_EQ(category, description);
    EXPECT_STREQ(description, "Image Filter");
}

TEST_F(ModuleTest, TextsAndAboutBoxNeedTheModuleHandle) {
    PaletteRenderFilter filter;
    EXPECT_EQ(LibDescription(), nullptr);
    EXPECT_EQ(TheClassDesc().ClassNameText(), nullptr);
    EXPECT_EQ(TheClassDesc().CategoryText(), nullptr);
    EXPECT_EQ(filter.DescriptionText(), nullptr);
    EXPECT_EQ(filter.ShowAboutBox(nullptr), -1);
}

}  // namespace

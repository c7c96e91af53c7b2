// The version record of Kelvo.flt, read back the way Windows' file properties read it.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/plugin_module.h"
#include "plugin/version.h"

namespace {

class VersionRecordTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string path = DefaultModulePath();
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
        ASSERT_GT(size, 0u) << path;
        record.resize(size);
        ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, record.data()));
    }

    // The value at `path` in the record, or null.
    const void* Value(const char* path, UINT& length) {
        void* value = nullptr;
        length = 0;
        return VerQueryValueA(record.data(), path, &value, &length) ? value : nullptr;
    }

    std::vector<char> record;
};

// The project's version, as the record's four numbers (the fourth always 0) and as its text.
constexpr DWORD VERSION_MS = (KELVO_VERSION_MAJOR << 16) | KELVO_VERSION_MINOR;
constexpr DWORD VERSION_LS = KELVO_VERSION_PATCH << 16;

std::string VersionText() {
    return std::to_string(KELVO_VERSION_MAJOR) + ", " + std::to_string(KELVO_VERSION_MINOR) + ", " +
           std::to_string(KELVO_VERSION_PATCH) + ", 0";
}

TEST_F(VersionRecordTest, NumericVersionIsTheProjectVersion) {
    UINT length = 0;
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(Value("\\", length));
    ASSERT_NE(fixed, nullptr);
    ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, VERSION_MS);
    EXPECT_EQ(fixed->dwFileVersionLS, VERSION_LS);
    EXPECT_EQ(fixed->dwProductVersionMS, VERSION_MS);
    EXPECT_EQ(fixed->dwProductVersionLS, VERSION_LS);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
}

TEST_F(VersionRecordTest, IsInUsEnglishWithUnicodeCodePage) {
    UINT length = 0;
    const auto* translation = static_cast<const WORD*>(Value("\\VarFileInfo\\Translation", length));
    ASSERT_NE(translation, nullptr);
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 0x04B0);
}

TEST_F(VersionRecordTest, HoldsTheModulesTexts) {
    struct Case {
        const char* name;
        std::string text;
    };
    const Case cases[] = {
        {"FileVersion", VersionText()},
        {"ProductVersion", VersionText()},
        {"OriginalFilename", "Kelvo.flt"},
        {"InternalName", "Kelvo"},
        {"FileDescription", "Kelvo"},
        {"Comments", "Kelvo Renderer (plugin)"},
        {"ProductName", "Kelvo Palette Renderer for 3DSMAX R2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = std::string("\\StringFileInfo\\040904B0\\") + c.name;
        UINT length = 0;
        const auto* text = static_cast<const char*>(Value(path.c_str(), length));
        ASSERT_NE(text, nullptr);
        EXPECT_STREQ(text, c.text.c_str());
    }
}

}  // namespace

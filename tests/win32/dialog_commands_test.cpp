// kelvo configure and kelvo about, run as a user runs them: kelvo.exe in its own process,
// its dialog driven from here.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "plugin/settings.h"
#include "tests/temp_dir.h"
#include "tests/win32/dialog_driver.h"
#include "ui/resource.h"

namespace {

constexpr int WAIT_STEPS = 3000;
constexpr char ABOUT_CAPTION[] = "About Kelvo Rendering Filter";

// kelvo.exe beside this test program, started with `arguments`.
class KelvoProcess {
public:
    explicit KelvoProcess(const std::string& arguments) {
        char program[MAX_PATH];
        const DWORD length = GetModuleFileNameA(nullptr, program, MAX_PATH);
        std::string path(program, length);
        path.resize(path.find_last_of("\\/") + 1);
        path += "kelvo.exe";
        std::string commandLine = "\"" + path + "\" " + arguments;
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        started_ = CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                                  nullptr, nullptr, &startup, &process_) != 0;
    }
    ~KelvoProcess() {
        if (started_) {
            CloseHandle(process_.hProcess);
            CloseHandle(process_.hThread);
        }
    }
    KelvoProcess(const KelvoProcess&) = delete;
    KelvoProcess& operator=(const KelvoProcess&) = delete;

    bool Started() const { return started_; }
    // The exit code once the process has ended; -1 if it does not end.
    int Wait() {
        if (!started_ || WaitForSingleObject(process_.hProcess, 30000) != WAIT_OBJECT_0) {
            return -1;
        }
        DWORD code = 0;
        GetExitCodeProcess(process_.hProcess, &code);
        return static_cast<int>(code);
    }

private:
    bool started_ = false;
    PROCESS_INFORMATION process_{};
};

HWND WaitForWindow(const char* caption) {
    for (int step = 0; step < WAIT_STEPS; ++step) {
        HWND window = FindWindowA("#32770", caption);
        if (window != nullptr && IsWindowVisible(window)) {
            return window;
        }
        Sleep(10);
    }
    return nullptr;
}

std::vector<char> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const void* data, size_t size) {
    std::ofstream out(path, std::ios::binary);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

TEST(DialogCommandsTest, ConfigureStartsFromDefaultsAndWritesTheBlockOnOk) {
    TempDir dir;
    const std::string file = dir.File("block.bin");
    KelvoProcess kelvo("configure \"" + file + "\"");
    ASSERT_TRUE(kelvo.Started());
    HWND dialog = WaitForWindow(CONTROL_DIALOG_CAPTION);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(ControlText(dialog, IDC_OUTPUT_NAME), "kelv.pcx");
    ClickControl(dialog, IDC_SOURCE_OBJECT);
    ClickControl(dialog, IDOK);
    EXPECT_EQ(kelvo.Wait(), 0);

    PaletteRenderSettings expected;
    SetDefaultSettings(expected);
    expected.source = SOURCE_OBJECT;
    const std::vector<char> block = FileBytes(file);
    ASSERT_EQ(block.size(), SETTINGS_BLOCK_SIZE);
    EXPECT_EQ(std::memcmp(block.data(), &expected, SETTINGS_BLOCK_SIZE), 0);
    EXPECT_EQ(dir.Entries().size(), 1u);  // no temporary file left beside it
}

TEST(DialogCommandsTest, ConfigureShowsTheStoredBlockAndCancelLeavesTheFile) {
    TempDir dir;
    const std::string file = dir.File("block.bin");
    PaletteRenderSettings stored;
    SetDefaultSettings(stored);
    std::strcpy(stored.outputName, "stored.pcx");
    stored.ranges[3] = {7, 9, 1};
    WriteBytes(file, &stored, sizeof stored);

    KelvoProcess kelvo("configure \"" + file + "\"");
    ASSERT_TRUE(kelvo.Started());
    HWND dialog = WaitForWindow(CONTROL_DIALOG_CAPTION);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(ControlText(dialog, IDC_OUTPUT_NAME), "stored.pcx");
    EXPECT_EQ(ControlText(dialog, IDC_FROM_EDIT_3), "7");
    ClickControl(dialog, IDC_METHOD_NEAREST);
    ClickDialog(dialog, 40, GridTopOf(dialog) + 40);  // a completed pick, then Cancel
    ClickControl(dialog, IDC_PICK_3);
    ClickDialog(dialog, 50, GridTopOf(dialog) + 50);
    ClickControl(dialog, IDCANCEL);
    EXPECT_EQ(kelvo.Wait(), 0);
    const std::vector<char> block = FileBytes(file);
    ASSERT_EQ(block.size(), SETTINGS_BLOCK_SIZE);
    EXPECT_EQ(std::memcmp(block.data(), &stored, SETTINGS_BLOCK_SIZE), 0);
}

TEST(DialogCommandsTest, ConfigureRefusesAFileThatHoldsNoBlock) {
    TempDir dir;
    struct Case {
        const char* name;
        std::vector<char> bytes;
    };
    std::vector<char> wrongVersion(SETTINGS_BLOCK_SIZE, 0);
    wrongVersion[0] = 100;
    const Case cases[] = {
        {"too short", std::vector<char>(SETTINGS_BLOCK_SIZE - 1, 0)},
        {"too long", std::vector<char>(SETTINGS_BLOCK_SIZE + 1, 0)},
        {"version 100", wrongVersion},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = dir.File("bad.bin");
        WriteBytes(file, c.bytes.data(), c.bytes.size());
        KelvoProcess kelvo("configure \"" + file + "\"");
        ASSERT_TRUE(kelvo.Started());
        EXPECT_EQ(kelvo.Wait(), 2);
        EXPECT_EQ(FileBytes(file), c.bytes);
    }
}

TEST(DialogCommandsTest, AboutShowsTheAboutBoxUntilOk) {
    KelvoProcess kelvo("about");
    ASSERT_TRUE(kelvo.Started());
    HWND about = WaitForWindow(ABOUT_CAPTION);
    ASSERT_NE(about, nullptr);
    ClickControl(about, IDOK);
    EXPECT_EQ(kelvo.Wait(), 0);
}

}  // namespace

// The temporary files of all-or-nothing writing: made new under a name no other writer holds.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "pcx/atomic_file.h"

namespace {

namespace fs = std::filesystem;

std::string Contents(const fs::path& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

// Names another writer's temporary files hold are passed over and those files left as they
// are; when every try finds its name taken, the write fails with EEXIST and changes nothing.
TEST(AtomicFileTest, TakenTemporaryNamesArePassedOver) {
    const fs::path directory =
        fs::temp_directory_path() / ("kelvo-atomic-" + std::to_string(CurrentProcessId()));
    const std::string target = (directory / "0001.pcx").string();
    for (const int taken : {0, 1, 3, TEMPORARY_NAME_TRIES - 1, TEMPORARY_NAME_TRIES}) {
        fs::remove_all(directory);
        fs::create_directories(directory);
        std::ofstream(target) << "old";
        SeedTemporaryNames(12345);
        for (int k = 0; k < taken; ++k) {
            std::ofstream(TemporaryNameBeside(target.c_str())) << "other";
        }
        SeedTemporaryNames(12345);
        const int written = WriteFileAtomically(target.c_str(), [](ByteSink& sink) {
            return sink.Write(reinterpret_cast<const uint8_t*>("new"), 3);
        });
        const bool fits = taken < TEMPORARY_NAME_TRIES;
        EXPECT_EQ(written, fits ? 1 : 0) << taken;
        EXPECT_TRUE(fits || errno == EEXIST) << taken;
        EXPECT_EQ(Contents(target), fits ? "new" : "old") << taken;
        int others = 0;
        for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
            others += entry.path() != target && Contents(entry.path()) == "other";
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(directory), {}), taken + 1) << taken;
        EXPECT_EQ(others, taken) << taken;
    }
    fs::remove_all(directory);
}

#ifndef _WIN32
// A child of fork draws names of its own, none of its parent's next ones.
TEST(AtomicFileTest, ForkedChildDrawsOtherNamesThanItsParent) {
    TemporaryNameBeside("f.pcx");  // the parent's generator is seeded
    int link[2];
    ASSERT_EQ(pipe(link), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    std::string names;
    for (int k = 0; k < 8; ++k) {
        names += TemporaryNameBeside("f.pcx");
    }
    if (child == 0) {
        _exit(write(link[1], names.data(), names.size()) == 96 ? 0 : 1);
    }
    std::string childNames(96, '\0');
    int status = 0;
    ASSERT_EQ(read(link[0], &childNames[0], 96), 96);  // a pipe's write of 96 bytes is whole
    waitpid(child, &status, 0);
    close(link[0]);
    close(link[1]);
    for (size_t at = 0; at < 96; at += 12) {
        EXPECT_EQ(names.find(childNames.substr(at, 12)), std::string::npos)
            << "the child drew its parent's name " << childNames.substr(at, 12);
    }
}
#endif

}  // namespace

// The temporary files of all-or-nothing writing: made new under a name no other writer holds.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "pcx/atomic_file.h"

namespace {

namespace fs = std::filesystem;

std::string Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Put(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Names taken by another writer's temporary files are passed over: the file is written under
// the next name, and the other files are left as they were; when every try finds its name taken,
// the write fails with EEXIST and leaves the target as it was.
TEST(AtomicFileTest, TakenTemporaryNamesArePassedOver) {
    const fs::path directory =
        fs::temp_directory_path() / ("kelvo-atomic-" + std::to_string(CurrentProcessId()));
    const std::string target = (directory / "0001.pcx").string();
    for (const int taken : {0, 1, 3, TEMPORARY_NAME_TRIES - 1, TEMPORARY_NAME_TRIES}) {
        fs::remove_all(directory);
        fs::create_directories(directory);
        Put(target, "old");
        SeedTemporaryNames(12345);
        std::vector<std::string> names;
        for (int k = 0; k < taken; ++k) {
            names.push_back(TemporaryNameBeside(target.c_str()));
            Put(names.back(), "another writer's " + std::to_string(k));
        }
        SeedTemporaryNames(12345);
        errno = 0;
        const int written = WriteFileAtomically(target.c_str(), [](ByteSink& sink) {
            return sink.Write(reinterpret_cast<const uint8_t*>("new"), 3);
        });
        const bool fits = taken < TEMPORARY_NAME_TRIES;
        EXPECT_EQ(written, fits ? 1 : 0) << taken;
        EXPECT_EQ(Contents(target), fits ? "new" : "old") << taken;
        if (!fits) {
            EXPECT_EQ(errno, EEXIST);
        }
        for (int k = 0; k < taken; ++k) {
            EXPECT_EQ(Contents(names[k]), "another writer's " + std::to_string(k)) << taken;
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(directory), fs::directory_iterator()),
                  taken + 1)
            << "a temporary file is left, " << taken << " taken";
    }
    fs::remove_all(directory);
}

#ifndef _WIN32
// A child of fork draws names of its own, not its parent's next ones.
TEST(AtomicFileTest, ForkedChildDrawsOtherNamesThanItsParent) {
    constexpr int NAMES = 8;
    TemporaryNameBeside("f.pcx");  // the parent's generator is seeded
    int link[2];
    ASSERT_EQ(pipe(link), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::string names;
        for (int k = 0; k < NAMES; ++k) {
            names += TemporaryNameBeside("f.pcx");
        }
        const bool sent =
            write(link[1], names.data(), names.size()) == static_cast<ssize_t>(names.size());
        _exit(sent ? 0 : 1);
    }
    close(link[1]);
    std::set<std::string> parent;
    for (int k = 0; k < NAMES; ++k) {
        parent.insert(TemporaryNameBeside("f.pcx"));
    }
    std::string received(NAMES * 12, '\0');
    size_t got = 0;
    ssize_t n = 0;
    while (got < received.size() &&
           (n = read(link[0], &received[got], received.size() - got)) > 0) {
        got += static_cast<size_t>(n);
    }
    close(link[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_EQ(got, received.size());
    for (int k = 0; k < NAMES; ++k) {
        EXPECT_EQ(parent.count(received.substr(k * 12, 12)), 0u)
            << "the child drew its parent's name " << received.substr(k * 12, 12);
    }
}
#endif

}  // namespace

// The limits of what this process may use, parsed from the kernel's texts: cgroup v2 cpu.max and
// memory.max, /proc/self/cgroup, /proc/self/mountinfo, and Windows affinity masks.
#include <gtest/gtest.h>

#include "kelvo/os/process_limits.h"

namespace {

TEST(ProcessLimitsTest, CpuMaxGivesItsProcessorsRoundedUp) {
    const struct {
        const char* text;
        std::optional<int> processors;
    } cases[] = {
        {"max 100000\n", std::nullopt},
        {"100000 100000\n", 1},
        {"150000 100000\n", 2},
        {"200000 100000", 2},
        {"1000 100000\n", 1},
        {"50000 25000\n", 2},
        {"400000\n", 4},
        {"0 100000\n", std::nullopt},
        {"100000 0\n", std::nullopt},
        {"", std::nullopt},
        {"-5 100000", std::nullopt},
        {"1e5 100000", std::nullopt},
        {"100000 100000 7", std::nullopt},
        {"99999999999999999999 1", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProcessorsOfCpuMax(c.text), c.processors) << c.text;
    }
}

TEST(ProcessLimitsTest, MemoryMaxGivesItsBytes) {
    const struct {
        const char* text;
        std::optional<uint64_t> bytes;
    } cases[] = {
        {"max\n", std::nullopt}, {"536870912\n", 536870912}, {"0\n", 0},
        {"", std::nullopt},      {"12k\n", std::nullopt},    {"18446744073709551616", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BytesOfMemoryMax(c.text), c.bytes) << c.text;
    }
}

TEST(ProcessLimitsTest, CgroupPathIsTheVersion2Line) {
    const struct {
        const char* text;
        std::optional<std::string> path;
    } cases[] = {
        {"0::/user.slice/user-1000.slice/session-3.scope\n",
         "/user.slice/user-1000.slice/session-3.scope"},
        {"12:memory:/job_7\n4:cpu,cpuacct:/job_7\n0::/slurm/uid_0/job_7/step_0\n",
         "/slurm/uid_0/job_7/step_0"},
        {"0::/\n", "/"},
        {"4:memory:/docker/abc\n1:name=systemd:/\n", std::nullopt},
        {"0::\n", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CgroupV2Path(c.text), c.path) << c.text;
    }
}

TEST(ProcessLimitsTest, LimitsAreReadFromTheCgroupAndItsParentsWithinTheMount) {
    const char* hybrid =
        "31 23 0:28 / /sys/fs/cgroup rw,relatime - tmpfs tmpfs rw,mode=755\n"
        "35 31 0:32 / /sys/fs/cgroup/memory rw,relatime - cgroup cgroup rw,memory\n"
        "41 31 0:38 / /sys/fs/cgroup/unified rw,relatime shared:9 - cgroup2 cgroup2 rw\n";
    const char* container =
        "700 650 0:40 /kubepods/pod1 /sys/fs/cgroup ro,nosuid - cgroup2 "
        "cgroup rw\n";
    const char* spaced = "9 1 0:40 / /mnt/c\\040g rw - cgroup2 none rw\n";
    const struct {
        const char* mountInfo;
        const char* path;
        std::vector<std::string> directories;
    } cases[] = {
        {hybrid,
         "/a/b",
         {"/sys/fs/cgroup/unified/a/b", "/sys/fs/cgroup/unified/a", "/sys/fs/cgroup/unified"}},
        {hybrid, "/", {"/sys/fs/cgroup/unified"}},
        {hybrid,
         "/a/b/",
         {"/sys/fs/cgroup/unified/a/b", "/sys/fs/cgroup/unified/a", "/sys/fs/cgroup/unified"}},
        {container, "/kubepods/pod1/c", {"/sys/fs/cgroup/c", "/sys/fs/cgroup"}},
        {container, "/kubepods/pod1", {"/sys/fs/cgroup"}},
        {container, "/kubepods/pod10", {}},
        {container, "/other", {}},
        {spaced, "/x", {"/mnt/c g/x", "/mnt/c g"}},
        {hybrid, "/a/../../etc", {}},
    };
    for (const auto& c : cases) {
        const std::optional<CgroupMount> mount = CgroupV2Mount(c.mountInfo);
        ASSERT_TRUE(mount) << c.mountInfo;
        EXPECT_EQ(CgroupDirectories(*mount, c.path), c.directories) << c.path;
    }
    EXPECT_FALSE(
        CgroupV2Mount("35 31 0:32 / /sys/fs/cgroup/memory rw - cgroup cgroup rw,memory\n"));
    EXPECT_FALSE(CgroupV2Mount("35 31 0:32 / /x rw shared:1\n"));
}

TEST(ProcessLimitsTest, AffinityMaskGivesItsProcessors) {
    const struct {
        uint64_t processMask;
        uint64_t systemMask;
        int active;
        int processors;
    } cases[] = {
        {0x1, 0xf, 4, 1},
        {0x5, 0xf, 4, 2},
        {0xf, 0xf, 4, 4},
        {0xffffffffffffffff, 0xffffffffffffffff, 128, 128},  // every group: all active ones
        {0x3, 0xffffffffffffffff, 128, 2},
        {0x0, 0xf, 4, 4},
        {0x0, 0x0, 0, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProcessorsOfAffinityMask(c.processMask, c.systemMask, c.active), c.processors)
            << std::hex << c.processMask;
    }
}

}  // namespace

// The limits of what this process may use, parsed from the kernel's texts: cgroup v2 cpu.max and
// memory.max, /proc/self/cgroup, /proc/self/mountinfo, and Windows affinity masks.
#include <gtest/gtest.h>

#include "kelvo/os/process_limits.h"

namespace {

using std::nullopt;

TEST(ProcessLimitsTest, CgroupFilesGiveTheirLimits) {
    const struct {
        const char* text;
        std::optional<int> processors;  // as a cpu.max
        std::optional<uint64_t> bytes;  // as a memory.max
    } cases[] = {
        {"max 100000\n", nullopt, nullopt},
        {"max\n", nullopt, nullopt},
        {"100000 100000\n", 1, nullopt},
        {"150000 100000\n", 2, nullopt},
        {"1000 100000", 1, nullopt},
        {"50000 25000\n", 2, nullopt},
        {"400000\n", 4, 400000},
        {"0 100000\n", nullopt, nullopt},
        {"100000 0\n", nullopt, nullopt},
        {"", nullopt, nullopt},
        {"-5 100000", nullopt, nullopt},
        {"12k\n", nullopt, nullopt},
        {"536870912\n", 5369, 536870912},
        {"18446744073709551616", nullopt, nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProcessorsOfCpuMax(c.text), c.processors) << c.text;
        EXPECT_EQ(BytesOfMemoryMax(c.text), c.bytes) << c.text;
    }
}

// The cgroup of /proc/self/cgroup and the directories of its limits, under the cgroup2 mount.
TEST(ProcessLimitsTest, LimitsAreReadFromTheCgroupAndItsParentsWithinTheMount) {
    const char* hybrid =
        "35 31 0:32 / /sys/fs/cgroup/memory rw,relatime - cgroup cgroup rw,memory\n"
        "41 31 0:38 / /sys/fs/cgroup/unified rw,relatime shared:9 - cgroup2 cgroup2 rw\n";
    const char* pod = "700 650 0:40 /kubepods/pod1 /sys/fs/cgroup ro - cgroup2 cgroup rw\n";
    const char* spaced = "9 1 0:40 / /mnt/c\\040g rw - cgroup2 none rw\n";
    const std::string unified = "/sys/fs/cgroup/unified";
    const struct {
        const char* mountInfo;
        const char* cgroup;
        std::vector<std::string> directories;
    } cases[] = {
        {hybrid, "12:memory:/job_7\n0::/a/b\n", {unified + "/a/b", unified + "/a", unified}},
        {hybrid, "0::/a/b/\n", {unified + "/a/b", unified + "/a", unified}},
        {hybrid, "0::/\n", {unified}},
        {pod, "0::/kubepods/pod1/c\n", {"/sys/fs/cgroup/c", "/sys/fs/cgroup"}},
        {pod, "0::/kubepods/pod1\n", {"/sys/fs/cgroup"}},
        {pod, "0::/kubepods/pod10\n", {}},
        {spaced, "0::/x\n", {"/mnt/c g/x", "/mnt/c g"}},
        {hybrid, "0::/a/../../etc\n", {}},
    };
    for (const auto& c : cases) {
        const std::optional<CgroupMount> mount = CgroupV2Mount(c.mountInfo);
        const std::optional<std::string> path = CgroupV2Path(c.cgroup);
        ASSERT_TRUE(mount && path) << c.mountInfo << c.cgroup;
        EXPECT_EQ(CgroupDirectories(*mount, *path), c.directories) << c.cgroup;
    }
    EXPECT_FALSE(CgroupV2Mount("35 31 0:32 / /sys/fs/cgroup/cpu rw - cgroup cgroup rw,cpu\n"));
    EXPECT_FALSE(CgroupV2Path("4:memory:/docker/abc\n1:name=systemd:/\n0::\n"));
}

TEST(ProcessLimitsTest, AffinityMaskGivesItsProcessors) {
    const struct {
        uint64_t processMask, systemMask;
        int active, processors;
    } cases[] = {
        {0x1, 0xf, 4, 1},     {0x5, 0xf, 4, 2}, {0xf, 0xf, 4, 4}, {~0ull, ~0ull, 128, 128},
        {0x3, ~0ull, 128, 2}, {0x0, 0xf, 4, 4}, {0x0, 0x0, 0, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProcessorsOfAffinityMask(c.processMask, c.systemMask, c.active), c.processors)
            << std::hex << c.processMask;
    }
}

}  // namespace

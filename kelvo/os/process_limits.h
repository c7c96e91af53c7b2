// What this process may use of the machine: the processors its affinity and its cgroup's CPU
// quota leave it, and its cgroup's memory limit. The parsing is kept apart from the file reads
// so that it can be tested on any system.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The processors this process may run on, at least 1 and at most 256: those of its affinity,
// no more than its cgroup's CPU quota allows (Linux); its process affinity mask (Windows).
int UsableProcessorCount();

// The smallest memory.max along this process's cgroup and its parents, in bytes; none when no
// limit is set or cgroup v2 is not there (and always on Windows).
std::optional<uint64_t> CgroupMemoryLimit();

// The pure parts.

// The processors a cgroup v2 cpu.max ("QUOTA PERIOD", or "max PERIOD") allows: the quota
// divided by the period, rounded up, at least 1; none for "max" and for text that is not a
// cpu.max.
std::optional<int> ProcessorsOfCpuMax(std::string_view text);

// The bytes of a cgroup v2 memory.max ("max" or a byte count); none for "max" and for text that
// is not a memory.max.
std::optional<uint64_t> BytesOfMemoryMax(std::string_view text);

// The cgroup v2 path of a /proc/self/cgroup text (the line "0::PATH"); none without one.
std::optional<std::string> CgroupV2Path(std::string_view procSelfCgroup);

// Where cgroup v2 is mounted, from a /proc/self/mountinfo text: the mount point and the root of
// the hierarchy it shows; none when it is not mounted.
struct CgroupMount {
    std::string mountPoint;
    std::string root;
};
std::optional<CgroupMount> CgroupV2Mount(std::string_view mountInfo);

// The directories holding the limits of the cgroup at `path`, the cgroup's own first, then each
// parent's up to the mount point: none of those outside what the mount shows.
std::vector<std::string> CgroupDirectories(const CgroupMount& mount, const std::string& path);

// The processors of a Windows process whose affinity is `processMask`, of a system whose mask
// is `systemMask` and that has `activeProcessors` in all its groups: the mask's processors, or
// every active processor when the mask allows every processor of its group.
int ProcessorsOfAffinityMask(uint64_t processMask, uint64_t systemMask, int activeProcessors);

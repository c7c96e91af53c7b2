// The processors and memory this process may use on Linux: its affinity (sched_getaffinity)
// and the limits of its cgroup v2 and of the cgroup's parents (cpu.max, memory.max).
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "kelvo/os/process_limits.h"

namespace {

// A small file of the kernel's (their sizes read as 0, so it is read to its end); "" when it
// cannot be read.
std::string ReadKernelFile(const std::string& path) {
    std::string text;
    if (FILE* file = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        size_t got = 0;
        while (text.size() < (1u << 20) && (got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
            text.append(buffer, got);
        }
        std::fclose(file);
    }
    return text;
}

// The directories of this process's cgroup and of its parents, its own first; none without
// cgroup v2.
std::vector<std::string> OwnCgroupDirectories() {
    const std::optional<std::string> path = CgroupV2Path(ReadKernelFile("/proc/self/cgroup"));
    const std::optional<CgroupMount> mount = CgroupV2Mount(ReadKernelFile("/proc/self/mountinfo"));
    if (!path || !mount) {
        return {};
    }
    return CgroupDirectories(*mount, *path);
}

// The processors of this process's affinity; none when the system does not say.
std::optional<int> AffinityProcessors() {
    // Sets big enough for the machine's processors, however many it has.
    for (int size = 1024; size <= 1 << 16; size *= 2) {
        cpu_set_t* set = CPU_ALLOC(size);
        if (set == nullptr) {
            return std::nullopt;
        }
        const size_t bytes = CPU_ALLOC_SIZE(size);
        CPU_ZERO_S(bytes, set);
        const int result = sched_getaffinity(0, bytes, set);
        const int count = CPU_COUNT_S(bytes, set);
        CPU_FREE(set);
        if (result == 0) {
            return count > 0 ? std::optional<int>(count) : std::nullopt;
        }
        if (errno != EINVAL) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

}  // namespace

int UsableProcessorCount() {
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    int count =
        AffinityProcessors().value_or(online < 1 ? 1 : static_cast<int>(std::min(online, 4096L)));
    for (const std::string& directory : OwnCgroupDirectories()) {
        if (const std::optional<int> quota =
                ProcessorsOfCpuMax(ReadKernelFile(directory + "/cpu.max"))) {
            count = std::min(count, *quota);
        }
    }
    return std::clamp(count, 1, 256);
}

std::optional<uint64_t> CgroupMemoryLimit() {
    std::optional<uint64_t> limit;
    for (const std::string& directory : OwnCgroupDirectories()) {
        if (const std::optional<uint64_t> bytes =
                BytesOfMemoryMax(ReadKernelFile(directory + "/memory.max"))) {
            limit = std::min(limit.value_or(*bytes), *bytes);
        }
    }
    return limit;
}

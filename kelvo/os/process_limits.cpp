// The pure parts of the process's limits: cgroup v2 files and paths, and affinity masks.
#include <algorithm>
#include <bitset>
#include <charconv>
#include <climits>

#include "kelvo/os/process_limits.h"

namespace {

std::string_view Trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The whole of `text` as a number; none when it is not one or does not fit.
std::optional<uint64_t> Number(std::string_view text) {
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// The fields of one line, split at runs of spaces.
std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t at = 0;
    while ((at = line.find_first_not_of(' ', at)) != std::string_view::npos) {
        const size_t end = std::min(line.find(' ', at), line.size());
        fields.push_back(line.substr(at, end - at));
        at = end;
    }
    return fields;
}

// A mountinfo path with its escapes (\040 for a space, \011, \012, \134) undone.
std::string Unescaped(std::string_view field) {
    std::string path;
    for (size_t k = 0; k < field.size(); ++k) {
        if (field[k] == '\\' && k + 3 < field.size() && field[k + 1] >= '0' &&
            field[k + 1] <= '3' && field[k + 2] >= '0' && field[k + 2] <= '7' &&
            field[k + 3] >= '0' && field[k + 3] <= '7') {
            path += static_cast<char>((field[k + 1] - '0') * 64 + (field[k + 2] - '0') * 8 +
                                      (field[k + 3] - '0'));
            k += 3;
        } else {
            path += field[k];
        }
    }
    return path;
}

template <typename Visit>
void ForEachLine(std::string_view text, Visit visit) {
    while (!text.empty()) {
        const size_t end = std::min(text.find('\n'), text.size());
        visit(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
    }
}

}  // namespace

std::optional<int> ProcessorsOfCpuMax(std::string_view text) {
    const std::vector<std::string_view> fields = Fields(Trimmed(text));
    if (fields.empty() || fields.size() > 2) {
        return std::nullopt;
    }
    const std::optional<uint64_t> period =
        fields.size() == 2 ? Number(fields[1]) : std::optional<uint64_t>(100000);
    if (!period || *period == 0 || fields[0] == "max") {
        return std::nullopt;
    }
    const std::optional<uint64_t> quota = Number(fields[0]);
    if (!quota || *quota == 0) {
        return std::nullopt;
    }
    const uint64_t processors = *quota / *period + (*quota % *period != 0 ? 1 : 0);
    return static_cast<int>(std::min<uint64_t>(processors, INT_MAX));
}

std::optional<uint64_t> BytesOfMemoryMax(std::string_view text) {
    return Number(Trimmed(text));
}

std::optional<std::string> CgroupV2Path(std::string_view procSelfCgroup) {
    std::optional<std::string> path;
    ForEachLine(procSelfCgroup, [&](std::string_view line) {
        if (line.substr(0, 3) == "0::" && line.size() > 3 && line[3] == '/') {
            path = std::string(Trimmed(line.substr(3)));
        }
    });
    return path;
}

std::optional<CgroupMount> CgroupV2Mount(std::string_view mountInfo) {
    std::optional<CgroupMount> mount;
    ForEachLine(mountInfo, [&](std::string_view line) {
        const std::vector<std::string_view> fields = Fields(line);
        // ID PARENT MAJOR:MINOR ROOT MOUNT-POINT OPTIONS [OPTIONAL...] - TYPE SOURCE OPTIONS
        size_t dash = 6;
        while (dash < fields.size() && fields[dash] != "-") {
            ++dash;
        }
        if (!mount && dash + 1 < fields.size() && fields[dash + 1] == "cgroup2") {
            mount = CgroupMount{Unescaped(fields[4]), Unescaped(fields[3])};
        }
    });
    return mount;
}

std::vector<std::string> CgroupDirectories(const CgroupMount& mount, const std::string& path) {
    // The part of `path` below the mount's root; nothing when the mount does not show it.
    std::string below;
    if (mount.root == "/") {
        below = path;
    } else if (path == mount.root) {
        below = "/";
    } else if (path.compare(0, mount.root.size() + 1, mount.root + "/") == 0) {
        below = path.substr(mount.root.size());
    } else {
        return {};
    }
    if (below.empty() || below[0] != '/' || below.find("/..") != std::string::npos) {
        return {};
    }
    while (below.size() > 1 && below.back() == '/') {
        below.pop_back();
    }
    std::vector<std::string> directories;
    for (;;) {
        directories.push_back(below == "/" ? mount.mountPoint : mount.mountPoint + below);
        if (below == "/") {
            return directories;
        }
        const size_t slash = below.rfind('/');
        below = slash == 0 ? "/" : below.substr(0, slash);
    }
}

int ProcessorsOfAffinityMask(uint64_t processMask, uint64_t systemMask, int activeProcessors) {
    const int inMask = static_cast<int>(std::bitset<64>(processMask).count());
    if (inMask == 0) {
        return std::max(activeProcessors, 1);
    }
    return processMask == systemMask ? std::max(activeProcessors, inMask) : inMask;
}

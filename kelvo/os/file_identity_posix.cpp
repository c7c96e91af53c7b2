// Tells versions of a file apart, and two names of one file, with stat.
#include <sys/stat.h>

#include <chrono>
#include <filesystem>

#include "kelvo/os/file_identity.h"

FileIdentity IdentifyFile(const std::string& path) {
    FileIdentity identity;
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        return identity;
    }
    identity.exists = true;
    identity.device = static_cast<uint64_t>(status.st_dev);
    identity.inode = static_cast<uint64_t>(status.st_ino);
    identity.size = static_cast<uint64_t>(status.st_size);
    // The time of the same stat, in the ticks std::filesystem::last_write_time counts, which a
    // second stat of the file would give.
    const auto since = std::chrono::seconds(status.st_mtim.tv_sec) +
                       std::chrono::nanoseconds(status.st_mtim.tv_nsec);
    const auto modified = std::chrono::file_clock::from_sys(std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(since)));
    identity.modified =
        static_cast<int64_t>(std::chrono::duration_cast<std::filesystem::file_time_type::duration>(
                                 modified.time_since_epoch())
                                 .count());
    return identity;
}

std::string ComparableName(const std::string& path) {
    std::error_code error;
    const std::filesystem::path normal = std::filesystem::weakly_canonical(path, error);
    return error ? std::filesystem::path(path).lexically_normal().string() : normal.string();
}

std::string ComparableNameIn(const std::string& directory, const std::string& fileName) {
    return (std::filesystem::path(directory) / fileName).string();
}

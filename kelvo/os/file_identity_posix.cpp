// Tells versions of a file apart, and two names of one file, with stat.
#include <sys/stat.h>

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
    std::error_code error;
    const auto modified = std::filesystem::last_write_time(path, error);
    identity.modified = error ? 0 : static_cast<int64_t>(modified.time_since_epoch().count());
    return identity;
}

std::string ComparableName(const std::string& path) {
    std::error_code error;
    const std::filesystem::path normal = std::filesystem::weakly_canonical(path, error);
    return error ? std::filesystem::path(path).lexically_normal().string() : normal.string();
}

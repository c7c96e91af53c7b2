// Tells versions of a file apart, and two names of one file, with the Win32 file information.
#include <windows.h>

#include <filesystem>

#include "kelvo/os/file_identity.h"

FileIdentity IdentifyFile(const std::string& path) {
    FileIdentity identity;
    // Opened for its information only; others may go on reading, writing or renaming it.
    HANDLE file =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return identity;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    const bool known = GetFileInformationByHandle(file, &information) != 0;
    CloseHandle(file);
    if (!known) {
        return identity;
    }
    identity.exists = true;
    identity.device = information.dwVolumeSerialNumber;
    identity.inode =
        static_cast<uint64_t>(information.nFileIndexHigh) << 32 | information.nFileIndexLow;
    identity.size =
        static_cast<uint64_t>(information.nFileSizeHigh) << 32 | information.nFileSizeLow;
    identity.modified = static_cast<int64_t>(
        static_cast<uint64_t>(information.ftLastWriteTime.dwHighDateTime) << 32 |
        information.ftLastWriteTime.dwLowDateTime);
    return identity;
}

std::string ComparableName(const std::string& path) {
    std::error_code error;
    const std::filesystem::path normal = std::filesystem::weakly_canonical(path, error);
    std::string name =
        error ? std::filesystem::path(path).lexically_normal().string() : normal.string();
    // The system's own case folding of the ANSI code page, as it compares file names.
    if (!name.empty()) {
        CharLowerBuffA(name.data(), static_cast<DWORD>(name.size()));
    }
    return name;
}

std::string ComparableNameIn(const std::string& directory, const std::string& fileName) {
    std::string name = fileName;
    if (!name.empty()) {
        CharLowerBuffA(name.data(), static_cast<DWORD>(name.size()));
    }
    return (std::filesystem::path(directory) / name).string();
}

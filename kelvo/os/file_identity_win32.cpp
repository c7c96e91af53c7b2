// Tells versions of a file apart, and two names of one file, with the Win32 file information.
#include <windows.h>

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

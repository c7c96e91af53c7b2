// Tells versions of a file apart, and two names of one file: the system's file number, size
// and modification time.
#pragma once

#include <cstdint>
#include <string>

// What identifies one version of a file: a replaced file differs in at least one field.
struct FileIdentity {
    bool exists = false;
    uint64_t device = 0;  // the volume
    uint64_t inode = 0;   // the file's number on its volume; 0 when the system gives none
    uint64_t size = 0;
    int64_t modified = 0;  // file clock ticks
};

// On Windows the file index and the 100 ns write time, since the C runtime's stat gives no
// file number and whole seconds only.
FileIdentity IdentifyFile(const std::string& path);

inline bool SameFileVersion(const FileIdentity& a, const FileIdentity& b) {
    return a.exists == b.exists && a.device == b.device && a.inode == b.inode && a.size == b.size &&
           a.modified == b.modified;
}

// The name of `path` in a form two names of one file share even before it exists: absolute
// and normalised, and on Windows, whose names ignore letter case, in lower case.
std::string ComparableName(const std::string& path);

// What ComparableName gives for the file `fileName` (no separator, not "." or "..") in the
// directory whose ComparableName is `directory`, when that file is no link: the files of a run
// share a few directories, which are each resolved once rather than once a file.
std::string ComparableNameIn(const std::string& directory, const std::string& fileName);

// True when both exist and are one file, whatever their names (case, links, "..").
inline bool IsSameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.exists && b.exists && a.inode != 0 && a.device == b.device && a.inode == b.inode;
}

// The files one run reads and writes, and the checks that no file is written twice or written
// over an input, and that a file written is not a directory.
#include "kelvo/batch/run_files.h"

#include <filesystem>
#include <map>
#include <utility>

namespace {

// Where each file was first met, by name and by identity.
struct Seen {
    std::map<std::string, size_t> names;
    std::map<std::pair<uint64_t, uint64_t>, size_t> files;
};

// A directory of the run's files: its ComparableName, and whether it is there.
struct Directory {
    std::string name;
    bool exists = false;
};

// ComparableName of `path`, its directory resolved once for every file in it (`directories`,
// by the name given), which `directory` is then set to (null for a path with no file name).
// A file that is a link is found by its identity instead.
std::string NameOf(const std::string& path, std::map<std::string, Directory>& directories,
                   const Directory*& directory) {
    const std::filesystem::path whole(path);
    const std::filesystem::path fileName = whole.filename();
    directory = nullptr;
    if (fileName.empty() || fileName == "." || fileName == "..") {
        return ComparableName(path);
    }
    const std::string parent = whole.parent_path().string();
    auto found = directories.find(parent);
    if (found == directories.end()) {
        const std::string named = parent.empty() ? "." : parent;
        found = directories
                    .emplace(parent, Directory{ComparableName(named), IdentifyFile(named).exists})
                    .first;
    }
    directory = &found->second;
    return ComparableNameIn(found->second.name, fileName.string());
}

}  // namespace

int CheckRunFiles(const std::vector<RunFile>& files, std::string& error) {
    Seen read;
    Seen written;
    std::map<std::string, Directory> directories;
    for (size_t i = 0; i < files.size(); ++i) {
        const RunFile& file = files[i];
        const Directory* directory = nullptr;
        const std::string name = NameOf(file.path, directories, directory);
        // Nothing is in a directory that is not there (the outputs of a first run).
        const FileIdentity identity = file.identity ? *file.identity
                                      : directory != nullptr && !directory->exists
                                          ? FileIdentity{}
                                          : IdentifyFile(file.path);
        const bool identified = identity.exists && identity.inode != 0;
        const std::pair<uint64_t, uint64_t> key{identity.device, identity.inode};
        // A written file may meet nothing before it; a read one no written one.
        for (const Seen* seen : {&written, file.written ? &read : nullptr}) {
            if (seen == nullptr) {
                continue;
            }
            auto byName = seen->names.find(name);
            auto byFile = identified ? seen->files.find(key) : seen->files.end();
            const size_t other = byName != seen->names.end()   ? byName->second
                                 : byFile != seen->files.end() ? byFile->second
                                                               : files.size();
            if (other < files.size()) {
                const RunFile& first = files[other];
                error = "'" + first.path + "' (" + first.role + ") and '" + file.path + "' (" +
                        file.role + ") are the same file";
                return 0;
            }
        }
        Seen& into = file.written ? written : read;
        into.names.emplace(name, i);
        if (identified) {
            into.files.emplace(key, i);
        }
    }
    return 1;
}

int CheckOutputFileName(const RunFile& file, std::string& error) {
    const std::string name = std::filesystem::path(file.path).filename().string();
    std::error_code status;
    if (name.empty() || name == "." || name == "..") {
        error = "'" + file.path + "' (" + file.role + ") names a directory, not a file";
        return 0;
    }
    if (std::filesystem::is_directory(file.path, status)) {
        error = "'" + file.path + "' (" + file.role + ") is a directory";
        return 0;
    }
    return 1;
}

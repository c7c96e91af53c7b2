// The files one run reads and writes, and the checks that no file is written twice or written
// over an input, and that a file written is not a directory.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "kelvo/os/file_identity.h"

struct RunFile {
    std::string path;
    std::string role;  // what the run does with it, for messages: "frame 7's file"
    bool written = false;
    std::optional<FileIdentity> identity;  // as the run found it already; looked up when empty
};

// 0, with `error` naming both ("'out/a0007.png' (frame 7's preview) and 'out/a0007.png'
// (frame 7's file) are the same file"), when a file the run writes is the same file as
// another it writes or reads: by file identity where both exist, by their comparable names
// otherwise. Files that are only read may repeat.
[[nodiscard]] int CheckRunFiles(const std::vector<RunFile>& files, std::string& error);

// 0, with `error` ("'out/anim.gif' (--gif) is a directory"), when `file` cannot be written as
// a file: it is an existing directory, or its name ends in none ("out/", "out/.."). A
// missing directory of it is no problem here: it is made after the check.
[[nodiscard]] int CheckOutputFileName(const RunFile& file, std::string& error);

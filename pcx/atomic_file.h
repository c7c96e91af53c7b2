// All-or-nothing file writing: the bytes go to a temporary file beside the target, which
// replaces the target only when every byte was written and the file closed cleanly. The one
// way the module and kelvo write files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "pcx/byte_sink.h"

// Writes the whole contents of a file into `sink`; 1 on success. `context` is the caller's.
using FileContents = int (*)(ByteSink& sink, void* context);

// Opens a temporary file beside `path`, lets `contents` write into a buffered sink over it,
// and moves the finished file over `path` only when `contents` returned 1 and the file closed
// cleanly. On 0, `path` is as it was, no temporary file is left, and errno holds the reason
// of the failed system call (unchanged when `contents` itself refused). Never throws.
int WriteFileAtomically(const char* path, FileContents contents, void* context);

// The same, for any callable `contents(ByteSink&)` that returns 1 on success.
template <typename Contents>
int WriteFileAtomically(const char* path, Contents&& contents) {
    return WriteFileAtomically(
        path,
        [](ByteSink& sink, void* context) { return (*static_cast<Contents*>(context))(sink); },
        &contents);
}

// The temporary file of `path`: in the same directory, so that the final rename stays on one
// file system, with a file name of its own ("~", seven hex digits, ".tmp"). Twelve characters,
// no longer than any frame file's name ("0001.pcx" and more), so a path the system takes for
// the frame it takes for the temporary file too. The digits say which process made the file:
// its ID (the low 22 bits: every process ID Linux gives), then one of TEMPORARY_NAME_TRIES
// numbers, drawn in turn from a place picked at random in each process (seeded again in a
// child that inherited the generator through fork). Processes running at once on one machine
// draw names of their own (on Windows, whose IDs can be longer, unless two IDs share their
// low 22 bits), and what a process that was killed left can be found by its ID. A name that
// is taken (a file left by an earlier process of the same ID, or made on another machine
// sharing the directory) is passed over.
std::string TemporaryNameBeside(const char* path);

// True when `fileName` (no directory) is a temporary file's name TemporaryNameBeside gives in
// the process `process`.
bool IsTemporaryNameOf(const std::string& fileName, uint64_t process);

// How many names WriteFileAtomically tries when the temporary file's name is taken: every name
// of this process.
constexpr int TEMPORARY_NAME_TRIES = 64;

// For tests: seeds this process's generator of temporary names with `seed`, so that the names
// it draws next can be known (and taken) beforehand.
void SeedTemporaryNames(uint64_t seed);

// Creates `path` for writing, binary, only when no file of that name exists (O_EXCL,
// CREATE_NEW): null with errno EEXIST when one does, or another errno.
FILE* CreateNewFile(const char* path);

// This process's ID.
uint64_t CurrentProcessId();

// Where the file-name part of `path` begins: after this system's last directory separator.
size_t FileNameStart(const char* path);

// Returns 1 when `from` now stands at `to` (replacing any file there), 0 with errno set
// otherwise. (Not called ReplaceFile: <windows.h> defines that name as a macro.)
int RenameOver(const char* from, const char* to);

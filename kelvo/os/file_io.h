// Whole-file reads and all-or-nothing writes, with the reason of any failure as text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Reads the whole file. On 0, `error` holds the reason ("No such file or directory").
int ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes, std::string& error);

// Writes `bytes` to a temporary file beside `path` and moves it over `path` only when every
// byte was written and the file closed cleanly, so `path` never holds a partial file.
int WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes,
                   std::string& error);

// A temporary name in the same directory as `path`, so the final rename stays on one file
// system.
std::string TemporaryNameBeside(const std::string& path);

// Moves the finished temporary file over `path`; removes it and returns 0 on failure.
int CommitTemporaryFile(const std::string& temporary, const std::string& path,
                        std::string& error);

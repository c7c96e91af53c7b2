// Whole-file reads and all-or-nothing writes, with the reason of any failure as text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Reads the whole file. On 0, `error` holds the reason ("No such file or directory").
[[nodiscard]] int ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes,
                                std::string& error);

// Creates the directory that holds `path`, with its parents, when it is missing; `created`
// then names it (it is left empty when the directory was there). On 0, `error` says why: a
// file in the way, no permission.
[[nodiscard]] int MakeDirectoryFor(const std::string& path, std::string& created,
                                   std::string& error);

// Writes `bytes` all or nothing (WriteFileAtomically), so `path` never holds a partial file.
// On 0, `error` holds the reason.
[[nodiscard]] int WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes,
                                 std::string& error);

// Confirms that a frame's file was written by this render, and reads its indices back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/memory_bitmap.h"
#include "kelvo/os/file_identity.h"
#include "pcx/palette.h"

// Returns 1 when the file at `path` is a new version (unlike `before`) that decodes as a PCX
// frame of the bitmap's size with `palette`, each index's colour x 256 matching the palettised
// bitmap's pixel; `indices` then holds the frame's indices. On 0, `reason` says what is wrong.
[[nodiscard]] int CheckFrameFile(const std::string& path, const FileIdentity& before,
                                 MemoryBitmap& bitmap, const PaletteEntry* palette,
                                 std::vector<uint8_t>& indices, std::string& reason);

// Why no file could be created at `path`: a missing or unwritable directory, or the system's
// reason when a trial file cannot be created beside it.
std::string DiagnoseUnwritable(const std::string& path);

// Texts from the module's string table, loaded into one shared buffer.
#pragma once

constexpr int MODULE_STRING_SIZE = 256;

// Loads string `id` from the module's resources into the module's one 256-byte buffer (at
// most 255 characters) and returns the buffer; null when no module handle is stored, or the
// string is missing or empty. Every call overwrites the buffer: use the text before the next.
const char* LoadModuleString(int id);

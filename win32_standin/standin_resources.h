// Platform stand-in: a module's resources compiled into the program instead of a resource file.
#pragma once

#include <windows.h>

struct StandInString {
    UINT id;
    const char* text;
};

// What a module handle stands for off Windows: the module's string table.
struct HINSTANCE__ {
    const StandInString* strings;
    size_t stringCount;
};

// The plug-in module's resources, generated from ui/kelvo.rc at build time.
HINSTANCE StandInModuleResources();

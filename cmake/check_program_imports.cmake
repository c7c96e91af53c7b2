# Checks that a built Windows program imports nothing but system DLLs: its libraries (OpenEXR,
# zlib, the C++ runtime, threads) are linked in, so it runs from any folder on its own.
# Usage: cmake -DOBJDUMP=i686-w64-mingw32-objdump -DPROGRAM=kelvo.exe -P check_program_imports.cmake
cmake_minimum_required(VERSION 3.25)

set(SYSTEM_DLLS kernel32.dll user32.dll gdi32.dll comdlg32.dll msvcrt.dll advapi32.dll
                ole32.dll version.dll)

execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM}
    OUTPUT_VARIABLE tables RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p ${PROGRAM} failed: ${errors}")
endif()
if(NOT tables MATCHES "file format pei-i386")
    message(FATAL_ERROR "${PROGRAM} is not a PE32 file for i386")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${tables}")
if(NOT imports)
    message(FATAL_ERROR "${PROGRAM} has no import table")
endif()
foreach(import IN LISTS imports)
    string(REGEX REPLACE "DLL Name: " "" dll "${import}")
    string(TOLOWER "${dll}" dll)
    if(NOT dll IN_LIST SYSTEM_DLLS)
        message(FATAL_ERROR "${PROGRAM} imports ${dll}, which is not a system DLL")
    endif()
endforeach()
message(STATUS "${PROGRAM}: imports ${imports}")

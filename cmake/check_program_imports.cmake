# Checks that a built Windows program imports nothing but system DLLs: its libraries (OpenEXR,
# zlib, the C++ runtime, threads) are linked in, so it runs from any folder on its own.
# Usage: cmake -DOBJDUMP=i686-w64-mingw32-objdump -DPROGRAM=kelvo.exe -P check_program_imports.cmake
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/pe_tables.cmake)

set(SYSTEM_DLLS kernel32.dll user32.dll gdi32.dll comdlg32.dll msvcrt.dll advapi32.dll
                ole32.dll version.dll)

read_pe_tables(${OBJDUMP} ${PROGRAM} tables)
check_system_imports(${PROGRAM} "${tables}" "${SYSTEM_DLLS}" imports)
message(STATUS "${PROGRAM}: imports ${imports}")

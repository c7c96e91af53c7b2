# Checks the built module's PE tables: a 32-bit DLL that exports exactly the host's four
# functions, undecorated, and imports nothing but system DLLs (the runtimes are linked in).
# Usage: cmake -DOBJDUMP=i686-w64-mingw32-objdump -DMODULE=Kelvo.flt -P check_module_exports.cmake
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/pe_tables.cmake)

set(EXPECTED_EXPORTS LibClassDesc LibDescription LibNumberClasses LibVersion)
set(SYSTEM_DLLS kernel32.dll user32.dll gdi32.dll comdlg32.dll msvcrt.dll advapi32.dll)

read_pe_tables(${OBJDUMP} ${MODULE} tables)
if(NOT tables MATCHES "\n[ \t]+DLL\n")
    message(FATAL_ERROR "${MODULE} is not marked as a DLL")
endif()

# The names follow the "[Ordinal/Name Pointer] Table" heading, one "[   n] Name" a line.
string(FIND "${tables}" "[Ordinal/Name Pointer] Table" start)
if(start EQUAL -1)
    message(FATAL_ERROR "${MODULE} has no export name table")
endif()
string(SUBSTRING "${tables}" ${start} -1 names)
string(REGEX REPLACE "\n[ \t]*\n.*" "" names "${names}")
string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" entries "${names}")
set(exports "")
foreach(entry IN LISTS entries)
    string(REGEX REPLACE "\\[ *[0-9]+\\] " "" name "${entry}")
    list(APPEND exports "${name}")
endforeach()
list(SORT exports)
if(NOT exports STREQUAL EXPECTED_EXPORTS)
    message(FATAL_ERROR "${MODULE} exports '${exports}', expected '${EXPECTED_EXPORTS}'")
endif()

check_system_imports(${MODULE} "${tables}" "${SYSTEM_DLLS}" imports)
message(STATUS "${MODULE}: exports ${exports}; imports ${imports}")

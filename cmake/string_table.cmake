# Writes the STRINGTABLE of a resource script as a C++ table for the platform stand-in, so
# that builds off Windows serve the very texts the resource compiler puts in the module.
# Usage: cmake -DRC=kelvo.rc -DHEADER=resource.h -DOUTPUT=strings.cpp -P string_table.cmake

file(READ "${HEADER}" header)
string(REGEX MATCHALL "#define[ \t]+IDS_[A-Za-z0-9_]+[ \t]+[0-9]+" defines "${header}")
foreach(define IN LISTS defines)
    string(REGEX REPLACE "#define[ \t]+([A-Za-z0-9_]+)[ \t]+([0-9]+)" "\\1" name "${define}")
    string(REGEX REPLACE "#define[ \t]+([A-Za-z0-9_]+)[ \t]+([0-9]+)" "\\2" value "${define}")
    set(id_${name} ${value})
endforeach()

file(READ "${RC}" script)
# The table runs from the BEGIN after STRINGTABLE to its own END; other blocks follow it.
string(FIND "${script}" "\nSTRINGTABLE" start)
if(start EQUAL -1)
    message(FATAL_ERROR "${RC}: no STRINGTABLE")
endif()
string(SUBSTRING "${script}" ${start} -1 script)
string(FIND "${script}" "\nBEGIN\n" begin)
string(FIND "${script}" "\nEND" end)
if(begin EQUAL -1 OR end LESS begin)
    message(FATAL_ERROR "${RC}: no BEGIN ... END after STRINGTABLE")
endif()
math(EXPR begin "${begin} + 7")
math(EXPR length "${end} - ${begin}")
string(SUBSTRING "${script}" ${begin} ${length} body)

set(entries "")
string(REPLACE "\n" ";" lines "${body}")
foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*$" OR line MATCHES "^[ \t]*//")
        continue()
    endif()
    if(NOT line MATCHES "^[ \t]*([A-Za-z0-9_]+)[ \t]+(\"[^\"\\\\]*\")[ \t]*$")
        message(FATAL_ERROR "${RC}: cannot read string table line '${line}'")
    endif()
    set(name "${CMAKE_MATCH_1}")
    set(text "${CMAKE_MATCH_2}")
    if(name MATCHES "^[0-9]+$")
        set(id ${name})
    elseif(DEFINED id_${name})
        set(id ${id_${name}})
    else()
        message(FATAL_ERROR "${RC}: ${name} is not defined in ${HEADER}")
    endif()
    string(APPEND entries "    {${id}, ${text}},\n")
endforeach()

set(source "// Generated from the resource script's string table; do not edit.
#include \"win32_standin/standin_resources.h\"

namespace {

const StandInString moduleStrings[] = {
${entries}};

HINSTANCE__ moduleResources{moduleStrings, sizeof moduleStrings / sizeof moduleStrings[0]};

}  // namespace

HINSTANCE StandInModuleResources() { return &moduleResources; }
")
file(WRITE "${OUTPUT}.tmp" "${source}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")

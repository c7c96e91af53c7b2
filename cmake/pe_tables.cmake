# Reading a built Windows file's PE tables with objdump, for the checks run by ctest.

# Sets `out` to what `objdump -p FILE` prints; stops unless FILE is a PE32 file for i386.
function(read_pe_tables objdump file out)
    execute_process(COMMAND ${objdump} -p ${file}
        OUTPUT_VARIABLE tables RESULT_VARIABLE status ERROR_VARIABLE errors)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${objdump} -p ${file} failed: ${errors}")
    endif()
    if(NOT tables MATCHES "file format pei-i386")
        message(FATAL_ERROR "${file} is not a PE32 file for i386")
    endif()
    set(${out} "${tables}" PARENT_SCOPE)
endfunction()

# Stops unless every DLL that `tables` imports is in `allowed` (lower case); sets `out` to the
# list of imports.
function(check_system_imports file tables allowed out)
    string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${tables}")
    if(NOT imports)
        message(FATAL_ERROR "${file} has no import table")
    endif()
    foreach(import IN LISTS imports)
        string(REGEX REPLACE "DLL Name: " "" dll "${import}")
        string(TOLOWER "${dll}" dll)
        if(NOT dll IN_LIST allowed)
            message(FATAL_ERROR "${file} imports ${dll}, which is not a system DLL")
        endif()
    endforeach()
    set(${out} "${imports}" PARENT_SCOPE)
endfunction()

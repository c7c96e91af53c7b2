# Writes the commit the build is made from into a header, at every build but only when it
# changed, so that `kelvo --version` names it without rebuilding anything else. Outside a git
# checkout (a source archive) the commit is unknown and the header says so.
# Usage: cmake -DSOURCE_DIR=... -DOUTPUT=kelvo_commit.h -P kelvo_commit.cmake
set(commit "")
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS "${SOURCE_DIR}/.git")
    execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" rev-parse --short=12 HEAD
                    OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE failed ERROR_QUIET)
    if(failed)
        set(commit "")
    else()
        # Changes not committed make the build something no commit holds.
        execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" status --porcelain
                                --untracked-files=no
                        OUTPUT_VARIABLE changes RESULT_VARIABLE failed ERROR_QUIET)
        if(NOT failed AND NOT changes STREQUAL "")
            string(APPEND commit "+changes")
        endif()
    endif()
endif()
set(text "// The commit this build is made from; generated, do not edit.\n#pragma once\n#define KELVO_COMMIT \"${commit}\"\n")
if(EXISTS "${OUTPUT}")
    file(READ "${OUTPUT}" old)
else()
    set(old "")
endif()
if(NOT old STREQUAL text)
    file(WRITE "${OUTPUT}" "${text}")
endif()

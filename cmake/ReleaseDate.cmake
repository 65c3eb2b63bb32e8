# First step of every cpack run (CPACK_PROJECT_CONFIG_FILE, cmake/Release.cmake): which commit
# the package is made from, and the one date every time stamp in it takes.
#
# The date is SOURCE_DATE_EPOCH when it is set, else the commit's time (git log -1 --format=%ct).
# Outside a git checkout (an unpacked source archive, say) the commit is "unknown" and the date
# 1980-01-01, the earliest a zip entry holds, unless SOURCE_DATE_EPOCH names one.
# The date goes back into the environment: strip, which CPack runs on the staged programs, writes
# SOURCE_DATE_EPOCH into their PE headers (it would write the time of the run otherwise).
# Sets CPACK_INSTALLER_COMMIT and CPACK_INSTALLER_SOURCE_DATE_EPOCH for the steps after it.

set(source ${CPACK_INSTALLER_SOURCE_DIR})
set(CPACK_INSTALLER_COMMIT unknown)
find_program(git_program git)
if(git_program)
    # Only the source tree's own repository counts, not one that happens to hold it.
    execute_process(COMMAND ${git_program} -C ${source} rev-parse --show-toplevel HEAD
        OUTPUT_VARIABLE lines RESULT_VARIABLE result ERROR_QUIET
        OUTPUT_STRIP_TRAILING_WHITESPACE)
    string(REPLACE "\n" ";" lines "${lines}")
    list(LENGTH lines count)
    if(result EQUAL 0 AND count EQUAL 2)
        list(GET lines 0 top)
        file(REAL_PATH ${top} top)
        file(REAL_PATH ${source} real_source)
        if(top STREQUAL real_source)
            list(GET lines 1 CPACK_INSTALLER_COMMIT)
        endif()
    endif()
endif()

if(NOT CPACK_INSTALLER_COMMIT STREQUAL "unknown")
    execute_process(COMMAND ${git_program} -C ${source} status --porcelain --untracked-files=no
        OUTPUT_VARIABLE changes ERROR_QUIET)
    if(NOT changes STREQUAL "")
        string(APPEND CPACK_INSTALLER_COMMIT " with uncommitted changes")
    endif()
endif()

if(NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
    set(CPACK_INSTALLER_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
elseif(NOT CPACK_INSTALLER_COMMIT STREQUAL "unknown")
    execute_process(COMMAND ${git_program} -C ${source} log -1 --format=%ct
        OUTPUT_VARIABLE CPACK_INSTALLER_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE)
else()
    set(CPACK_INSTALLER_SOURCE_DATE_EPOCH 315532800)
    message(STATUS "Installer: ${source} is not a git checkout and SOURCE_DATE_EPOCH is not "
        "set: the commit is unknown and every date 1980-01-01")
endif()
if(NOT CPACK_INSTALLER_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    message(FATAL_ERROR "SOURCE_DATE_EPOCH must be seconds since 1970 (UTC), "
        "not \"${CPACK_INSTALLER_SOURCE_DATE_EPOCH}\"")
endif()
set(ENV{SOURCE_DATE_EPOCH} ${CPACK_INSTALLER_SOURCE_DATE_EPOCH})

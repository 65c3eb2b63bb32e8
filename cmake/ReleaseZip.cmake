# CPack post-build step (cmake/Release.cmake): runs on the finished zip before CPack copies it
# into the package folder.
# - CPack's zip records each file's modification time (in local time, too), owner and group,
#   and the umask's modes. strip-nondeterminism rewrites the entries in name order with the
#   source date (UTC), no owner, and mode 644, or 755 for programs.
# - SHA256SUMS beside the zip gets the zip's line. Lines for other zips still in that folder are
#   kept, so that packages made into one folder (cpack -B) share one list.

if(NOT CPACK_INSTALLER_STRIP_NONDETERMINISM)
    message(FATAL_ERROR "the zip needs strip-nondeterminism to be reproducible "
        "(apt-get install strip-nondeterminism, then configure again)")
endif()

set(sums_file ${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS)
set(lines "")
set(names "")
foreach(zip IN LISTS CPACK_PACKAGE_FILES)
    execute_process(
        COMMAND ${CPACK_INSTALLER_STRIP_NONDETERMINISM} --type zip
            --timestamp ${CPACK_INSTALLER_SOURCE_DATE_EPOCH} ${zip}
        RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "strip-nondeterminism failed on ${zip}")
    endif()
    get_filename_component(name ${zip} NAME)
    file(SHA256 ${zip} hash)
    list(APPEND lines "${hash}  ${name}")
    list(APPEND names ${name})
endforeach()

if(EXISTS ${sums_file})
    file(STRINGS ${sums_file} old_lines)
    foreach(line IN LISTS old_lines)
        if(line MATCHES "^[0-9a-f]+  (.+)$" AND NOT CMAKE_MATCH_1 IN_LIST names
            AND EXISTS ${CPACK_PACKAGE_DIRECTORY}/${CMAKE_MATCH_1})
            list(APPEND lines "${line}")
        endif()
    endforeach()
endif()
# By file name, which starts each line after the hash.
list(TRANSFORM lines REPLACE "^([0-9a-f]+)  (.*)$" "\\2  \\1")
list(SORT lines)
list(TRANSFORM lines REPLACE "^(.*)  ([0-9a-f]+)$" "\\2  \\1")
list(JOIN lines "\n" text)
file(WRITE ${sums_file} "${text}\n")

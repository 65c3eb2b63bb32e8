# CPack pre-build step (cmake/Release.cmake): runs on the staged, stripped files before they are
# zipped. Signs the programs when a certificate is named (cmake/ReleaseSign.cmake), writes
# BUILDINFO.txt and, for the deployment zip, SHA256SUMS of every file in it; so the zip, and the
# sums, hold the signed programs.

include(${CMAKE_CURRENT_LIST_DIR}/ReleaseSign.cmake)

set(stage ${CPACK_TEMPORARY_DIRECTORY})
installer_sign_programs(${stage})

# BUILDINFO.txt: what someone needs to build the same bytes again. CR LF, like the other texts.
string(TIMESTAMP source_date "%Y-%m-%d %H:%M:%S UTC" UTC) # from SOURCE_DATE_EPOCH
set(lines
    "${CPACK_INSTALLER_BUILDINFO_TITLE}"
    "commit: ${CPACK_INSTALLER_COMMIT}"
    "source date: ${source_date} (SOURCE_DATE_EPOCH=${CPACK_INSTALLER_SOURCE_DATE_EPOCH})")
foreach(toolchain IN LISTS CPACK_INSTALLER_TOOLCHAIN_FILES)
    file(STRINGS ${toolchain} toolchain_lines)
    list(APPEND lines ${toolchain_lines})
endforeach()
list(APPEND lines ${CPACK_INSTALLER_PACKAGING_TOOLS})
list(JOIN lines "\r\n" text)
file(WRITE ${stage}/BUILDINFO.txt "${text}\r\n")

# SHA256SUMS of the zip's own files, in the form `sha256sum -c` reads ("<hash>  <path>", LF).
if(CPACK_INSTALLER_FILE_SUMS)
    file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${stage} "${stage}/*")
    list(REMOVE_ITEM files SHA256SUMS)
    list(SORT files)
    set(sums "")
    foreach(path IN LISTS files)
        file(SHA256 ${stage}/${path} hash)
        string(APPEND sums "${hash}  ${path}\n")
    endforeach()
    file(WRITE ${stage}/SHA256SUMS "${sums}")
endif()

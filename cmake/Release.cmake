# The steps CPack runs around every release zip (cmake/Packaging.cmake, cmake/Bundle.cmake), and
# what they need to know from the configure step:
#   cmake/ReleaseDate.cmake   first: the commit and its date; strip takes the date from there
#   cmake/ReleaseStage.cmake  on the staged files: signing, BUILDINFO.txt, the bundle's SHA256SUMS
#   cmake/ReleaseZip.cmake    on the zip: fixed entry times, order and modes; SHA256SUMS beside it
# The including file sets CPACK_INSTALLER_BUILDINFO_TITLE (BUILDINFO.txt's first line),
# CPACK_INSTALLER_TOOLCHAIN_FILES (the toolchain lines of the builds in the zip, as the Windows
# builds write them below) and CPACK_INSTALLER_FILE_SUMS (ON: a SHA256SUMS of the zip's files).

# "<first line of `program --version`> (Debian <package> <version>)", the package part when
# dpkg knows the program.
function(installer_tool_line var program)
    execute_process(COMMAND ${program} --version OUTPUT_VARIABLE line ERROR_QUIET)
    string(REGEX REPLACE "\n.*" "" line "${line}")
    installer_debian_package(package ${program})
    set(${var} "${line}${package}" PARENT_SCOPE)
endfunction()

# " (Debian <package> <version>)" for the package that holds `file`, empty when dpkg does not
# know it.
function(installer_debian_package var file)
    set(${var} "" PARENT_SCOPE)
    file(REAL_PATH "${file}" file)
    execute_process(COMMAND dpkg-query -S "${file}" OUTPUT_VARIABLE package
        RESULT_VARIABLE result ERROR_QUIET)
    if(result EQUAL 0 AND package MATCHES "^([^:, ]+)(:[a-z0-9]+)?: ")
        set(package ${CMAKE_MATCH_1})
        execute_process(COMMAND dpkg-query -W -f=\${Version} ${package}
            OUTPUT_VARIABLE version ERROR_QUIET)
        set(${var} " (Debian ${package} ${version})" PARENT_SCOPE)
    endif()
endfunction()

# A Windows build writes its toolchain's versions for BUILDINFO.txt, each line marked with its
# folder in the deployment zip (x86, x64, arm64). The ARM64 build's zig (cmake/zig/) carries its
# own clang, linker and mingw-w64; its resources from Debian's llvm-rc (cmake/zig/windres).
if(WIN32 AND DEFINED INSTALLER_ZIG_VERSION)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} --version OUTPUT_VARIABLE clang ERROR_QUIET)
    string(REGEX REPLACE " *\\(.*" "" clang "${clang}")
    string(REGEX REPLACE "\n.*" "" clang "${clang}")
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -E -dM -x c++ -include _mingw_mac.h /dev/null
        OUTPUT_VARIABLE mingw ERROR_QUIET)
    set(parts "")
    foreach(part MAJOR MINOR BUGFIX)
        string(REGEX MATCH "#define __MINGW64_VERSION_${part} ([0-9]+)" found "${mingw}")
        list(APPEND parts "${CMAKE_MATCH_1}")
    endforeach()
    list(JOIN parts "." mingw)
    installer_debian_package(resources_package /usr/lib/llvm-14/bin/llvm-rc)
    file(WRITE ${CMAKE_BINARY_DIR}/release-toolchain.txt
        "${INSTALLER_BUNDLE_FOLDER} compiler: zig ${INSTALLER_ZIG_VERSION} (PyPI ziglang "
        "${INSTALLER_ZIG_VERSION}), ${clang}, aarch64-windows-gnu\n"
        "${INSTALLER_BUNDLE_FOLDER} linker: zig ${INSTALLER_ZIG_VERSION}'s lld\n"
        "${INSTALLER_BUNDLE_FOLDER} mingw-w64: ${mingw} (zig ${INSTALLER_ZIG_VERSION})\n"
        "${INSTALLER_BUNDLE_FOLDER} resources: llvm-rc and llvm-cvtres${resources_package}\n")
elseif(WIN32)
    installer_tool_line(compiler ${CMAKE_CXX_COMPILER})
    installer_tool_line(binutils ${CMAKE_LINKER})
    file(STRINGS ${CMAKE_FIND_ROOT_PATH}/include/_mingw_mac.h mingw
        REGEX "#define __MINGW64_VERSION_(MAJOR|MINOR|BUGFIX) ")
    string(REGEX REPLACE "[^;]* ([0-9]+)(;|$)" "\\1\\2" mingw "${mingw}")
    string(REPLACE ";" "." mingw "${mingw}")
    installer_debian_package(mingw_package ${CMAKE_FIND_ROOT_PATH}/lib/libmingw32.a)
    file(WRITE ${CMAKE_BINARY_DIR}/release-toolchain.txt
        "${INSTALLER_BUNDLE_FOLDER} compiler: ${compiler}\n"
        "${INSTALLER_BUNDLE_FOLDER} binutils: ${binutils}\n"
        "${INSTALLER_BUNDLE_FOLDER} mingw-w64: ${mingw}${mingw_package}\n")
endif()

find_program(INSTALLER_STRIP_NONDETERMINISM strip-nondeterminism)
if(INSTALLER_STRIP_NONDETERMINISM)
    installer_tool_line(zip_tool ${INSTALLER_STRIP_NONDETERMINISM})
else()
    set(zip_tool "not found")
endif()
installer_tool_line(cmake_tool ${CMAKE_COMMAND})
set(CPACK_INSTALLER_PACKAGING_TOOLS "cmake: ${cmake_tool}" "zip: ${zip_tool}")
set(CPACK_INSTALLER_STRIP_NONDETERMINISM ${INSTALLER_STRIP_NONDETERMINISM})
set(CPACK_INSTALLER_SOURCE_DIR ${PROJECT_SOURCE_DIR})

set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/ReleaseDate.cmake)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/ReleaseStage.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/ReleaseZip.cmake)

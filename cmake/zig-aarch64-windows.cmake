# Cross build for ARM64 Windows with zig's clang (`zig c++ -target aarch64-windows-gnu`: its own
# mingw-w64, msvcrt and libc++, all linked statically) and Debian's llvm-rc for the
# resources. The pinned zig (cmake/zig/VERSION, PyPI's ziglang) is installed by
# scripts/setup.sh; INSTALLER_ZIG in the environment names another. The wrappers in cmake/zig/
# give CMake one program per tool and hold what zig 0.11 does not do by itself (the wmain entry
# and a link with no time stamp).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ARM64)
set(installer_zig_wrappers ${CMAKE_CURRENT_LIST_DIR}/zig)
set(CMAKE_C_COMPILER ${installer_zig_wrappers}/cc)
set(CMAKE_CXX_COMPILER ${installer_zig_wrappers}/c++)
set(CMAKE_AR ${installer_zig_wrappers}/ar CACHE FILEPATH "zig ar")
set(CMAKE_RANLIB ${installer_zig_wrappers}/ranlib CACHE FILEPATH "zig ranlib")
set(CMAKE_RC_COMPILER ${installer_zig_wrappers}/windres)
# The programs are linked without symbols or a debug directory (whose PDB GUID would differ on
# every link); so CPack's strip has nothing left to do, and llvm-strip reads ARM64 images.
set(CMAKE_STRIP /usr/lib/llvm-14/bin/llvm-strip CACHE FILEPATH "llvm-strip")
set(CMAKE_EXE_LINKER_FLAGS_INIT -s)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -s)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -s)
# For BUILDINFO.txt (cmake/Release.cmake).
file(READ ${installer_zig_wrappers}/VERSION INSTALLER_ZIG_VERSION)
string(STRIP "${INSTALLER_ZIG_VERSION}" INSTALLER_ZIG_VERSION)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

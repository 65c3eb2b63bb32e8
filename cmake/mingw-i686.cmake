# Cross build for 32-bit x86 Windows with mingw-w64 (cmake/mingw-w64.cmake).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

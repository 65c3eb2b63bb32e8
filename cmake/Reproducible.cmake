# The Windows programs come out byte for byte the same from the same commit, whoever builds it,
# wherever and whenever (docs/packaging.md, "Checking and signing a release"):
# - the linker writes no time into the PE header (TimeDateStamp stays zero). strip, which CPack
#   runs on the packaged copies, has no such switch; it takes SOURCE_DATE_EPOCH, which the
#   packaging sets (cmake/ReleaseDate.cmake);
# - no absolute path of the checkout reaches an object: __FILE__ and debug information name the
#   source tree ".", the build tree "build". Only C++ is compiled with it: windres takes no
#   such option, and its output holds no path.
# - in release builds, section names stay within the PE limit of eight characters: a longer
#   one (".eh_frame" of the 32-bit programs) keeps a COFF string table at the end of the
#   stripped program, which leaves its length off the eight-byte boundary a signature starts
#   on; the signing tool pads it, and removing the signature would not give back the same
#   bytes. Windows and the unwinder find sections by address, not by name. Builds with debug
#   information keep the long names their debugger needs.
# zig's linker (winarm64) takes neither option: its wrapper clears the time stamp after the link
# (cmake/zig/pe-no-timestamp.sh), and its ARM64 programs have no long section name (their
# unwind tables are .pdata and .xdata).
if(NOT DEFINED INSTALLER_ZIG_VERSION)
    add_link_options(-Wl,--no-insert-timestamp)
    if(CMAKE_BUILD_TYPE MATCHES "^(Release|MinSizeRel)$")
        add_link_options(-Wl,--disable-long-section-names)
    endif()
endif()
add_compile_options(
    "$<$<COMPILE_LANGUAGE:CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.>"
    "$<$<COMPILE_LANGUAGE:CXX>:-ffile-prefix-map=${PROJECT_BINARY_DIR}=build>")

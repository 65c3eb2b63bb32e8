# Deployment zip of the Windows programs (preset "bundle"): Installer-<version>-windows.zip with
# x86\, x64\ and arm64\ (each Installer.exe, InstallerCheck.exe, InstallerRemove.exe,
# TraceLogDecode.exe, InstallerDeploy.exe), TqDbgCfg.ini, README.txt and Deploy.cmd
# (cmake/bundle/), BUILDINFO.txt and
# SHA256SUMS. It builds nothing: the win32 and win64 builds must be there, and CPack takes their
# Bundle components (cmake/Packaging.cmake) with their own strip tools. The winarm64 build gives
# arm64\ when it is there; on a machine without its compiler (scripts/setup.sh) the zip has no
# arm64\, and configuring says so.
#
#   cmake --build --preset win32 && cmake --build --preset win64 && cmake --build --preset winarm64
#   cmake --preset bundle && cpack --preset bundle        -> build/bundle/Installer-*-windows.zip
set(INSTALLER_BUNDLE_WIN32 ${PROJECT_SOURCE_DIR}/build/win32 CACHE PATH "The win32 build")
set(INSTALLER_BUNDLE_WIN64 ${PROJECT_SOURCE_DIR}/build/win64 CACHE PATH "The win64 build")
set(INSTALLER_BUNDLE_WINARM64 ${PROJECT_SOURCE_DIR}/build/winarm64 CACHE PATH "The winarm64 build")
set(installer_bundle_builds ${INSTALLER_BUNDLE_WIN32} ${INSTALLER_BUNDLE_WIN64})
set(installer_bundle_folders "x86 (32-bit x86) and x64 (x86-64)")
if(EXISTS ${INSTALLER_BUNDLE_WINARM64}/cmake_install.cmake)
    list(APPEND installer_bundle_builds ${INSTALLER_BUNDLE_WINARM64})
    set(installer_bundle_folders "x86 (32-bit x86), x64 (x86-64) and arm64 (ARM64)")
else()
    message(STATUS "Installer: no winarm64 build in ${INSTALLER_BUNDLE_WINARM64}: "
        "the deployment zip has no arm64 folder")
endif()

foreach(build IN LISTS installer_bundle_builds)
    foreach(file IN ITEMS cmake_install.cmake release-toolchain.txt
            Installer.exe InstallerCheck.exe InstallerRemove.exe TraceLogDecode.exe InstallerDeploy.exe)
        if(NOT EXISTS ${build}/${file})
            message(FATAL_ERROR "${build}/${file} missing: build the Windows presets first")
        endif()
    endforeach()
endforeach()

# Windows texts: CR LF line ends (cmd.exe misreads labels in a batch file with bare LF).
set(installer_bundle_texts ${CMAKE_BINARY_DIR}/bundle-texts)
set(installer_resources_dir ${PROJECT_SOURCE_DIR}/SourceCode/Installer/resources)
set(installer_bundle_dir ${CMAKE_CURRENT_LIST_DIR}/bundle)
configure_file(${installer_bundle_dir}/README.txt
    ${installer_bundle_texts}/README.txt @ONLY NEWLINE_STYLE CRLF)
configure_file(${installer_resources_dir}/TqDbgCfg.ini
    ${installer_bundle_texts}/TqDbgCfg.ini @ONLY NEWLINE_STYLE CRLF)
configure_file(${installer_bundle_dir}/Deploy.cmd
    ${installer_bundle_texts}/Deploy.cmd @ONLY NEWLINE_STYLE CRLF)

install(FILES
    ${installer_bundle_texts}/README.txt
    ${installer_bundle_texts}/TqDbgCfg.ini
    ${installer_bundle_texts}/Deploy.cmd
    DESTINATION . COMPONENT Bundle)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Installer)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Plug and Play driver package installer")
set(CPACK_SYSTEM_NAME windows)
set(CPACK_PACKAGE_FILE_NAME Installer-${PROJECT_VERSION}-windows)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_INSTALL_CMAKE_PROJECTS "")
set(CPACK_INSTALLER_TOOLCHAIN_FILES "")
foreach(build IN LISTS installer_bundle_builds)
    list(APPEND CPACK_INSTALL_CMAKE_PROJECTS "${build};Installer;Bundle;/")
    list(APPEND CPACK_INSTALLER_TOOLCHAIN_FILES ${build}/release-toolchain.txt)
endforeach()
list(APPEND CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};Installer;Bundle;/")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")
# As for the single-program zips (cmake/Release.cmake), and SHA256SUMS of the zip's own files.
set(CPACK_INSTALLER_BUILDINFO_TITLE
    "Installer ${PROJECT_VERSION}, deployment zip: ${installer_bundle_folders} programs")
set(CPACK_INSTALLER_FILE_SUMS ON)
include(${CMAKE_CURRENT_LIST_DIR}/Release.cmake)

include(CPack)

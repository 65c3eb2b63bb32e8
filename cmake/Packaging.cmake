# Release package of a Windows program: one ZIP per preset (cpack --preset win32|win64|winarm64) with
# Installer.exe, README-trace.txt, an example TqDbgCfg.ini that switches the trace off and
# BUILDINFO.txt (cmake/Release.cmake). The
# Bundle component is this build's folder of the deployment zip (cmake/Bundle.cmake).
# Host builds have nothing to ship.
if(NOT WIN32)
    return()
endif()

set(INSTALLER_BUNDLE_FOLDER ${INSTALLER_WINDOWS_ARCH})
if(INSTALLER_WINDOWS_ARCH STREQUAL "x86")
    set(INSTALLER_PACKAGE_SYSTEM win32)
    set(INSTALLER_PACKAGE_ARCHITECTURE "32-bit x86")
elseif(INSTALLER_WINDOWS_ARCH STREQUAL "arm64")
    set(INSTALLER_PACKAGE_SYSTEM winarm64)
    set(INSTALLER_PACKAGE_ARCHITECTURE "ARM64")
else()
    set(INSTALLER_PACKAGE_SYSTEM win64)
    set(INSTALLER_PACKAGE_ARCHITECTURE "x86-64")
endif()

# The texts are kept with LF line ends in the sources and shipped with CR LF for Windows
# editors; the README names the version and the architecture of its package.
set(installer_package_texts ${CMAKE_BINARY_DIR}/package-texts)
set(installer_resources_dir ${PROJECT_SOURCE_DIR}/SourceCode/Installer/resources)
configure_file(${installer_resources_dir}/README-trace.txt
    ${installer_package_texts}/README-trace.txt @ONLY NEWLINE_STYLE CRLF)
configure_file(${installer_resources_dir}/TqDbgCfg.ini
    ${installer_package_texts}/TqDbgCfg.ini @ONLY NEWLINE_STYLE CRLF)

install(TARGETS Installer RUNTIME DESTINATION . COMPONENT Installer)
install(FILES
    ${installer_package_texts}/README-trace.txt
    ${installer_package_texts}/TqDbgCfg.ini
    DESTINATION . COMPONENT Installer)

# This build's folder of the two-program deployment zip (cmake/Bundle.cmake): the Bundle
# component, which the zip above leaves out.
install(TARGETS Installer InstallerCheck InstallerRemove TraceLogDecode InstallerDeploy
    RUNTIME DESTINATION ${INSTALLER_BUNDLE_FOLDER} COMPONENT Bundle)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Installer)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Plug and Play driver package installer")
set(CPACK_SYSTEM_NAME ${INSTALLER_PACKAGE_SYSTEM})
set(CPACK_PACKAGE_FILE_NAME Installer-${PROJECT_VERSION}-${INSTALLER_PACKAGE_SYSTEM})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
# Only the Installer component: whatever else the build installs stays out of the package.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};Installer;/")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")
# The same bytes from the same commit, BUILDINFO.txt, SHA256SUMS beside the zip, and signing
# when a certificate is named (cmake/Release.cmake).
set(CPACK_INSTALLER_BUILDINFO_TITLE
    "Installer ${PROJECT_VERSION}, ${INSTALLER_PACKAGE_ARCHITECTURE} (${INSTALLER_PACKAGE_SYSTEM})")
set(CPACK_INSTALLER_TOOLCHAIN_FILES ${CMAKE_BINARY_DIR}/release-toolchain.txt)
set(CPACK_INSTALLER_FILE_SUMS OFF)
include(${CMAKE_CURRENT_LIST_DIR}/Release.cmake)

include(CPack)

// The Windows error codes that the host stand-ins leave as the thread's last error or return,
// each named once as Windows names it (without the ERROR_ prefix), for the stand-ins of every
// layer: the device services, the simulator and the trace platform. Host builds only.
#pragma once

#include <cstdint>
#include <system_error>

namespace HostSupport::WinError {

inline constexpr uint32_t FILE_NOT_FOUND = 2;
inline constexpr uint32_t PATH_NOT_FOUND = 3;
inline constexpr uint32_t ACCESS_DENIED = 5;
inline constexpr uint32_t INVALID_HANDLE = 6;
inline constexpr uint32_t NO_MORE_FILES = 18;
inline constexpr uint32_t INVALID_PARAMETER = 87;
inline constexpr uint32_t INSUFFICIENT_BUFFER = 122;
inline constexpr uint32_t MORE_DATA = 234;
inline constexpr uint32_t INVALID_FLAGS = 1004;

// What Windows reports for a folder or file the host could not reach: PATH_NOT_FOUND when a
// part of the path is missing or not a folder, ACCESS_DENIED otherwise.
inline uint32_t FromErrorCode(const std::error_code& ec) {
    return ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory
               ? PATH_NOT_FOUND
               : ACCESS_DENIED;
}

} // namespace HostSupport::WinError

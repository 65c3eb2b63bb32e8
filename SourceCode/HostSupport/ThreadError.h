// The calling thread's last error, as Windows keeps it: one value per thread that every host
// stand-in sets where the system call it stands for does, the device-manager simulator's calls
// and the trace platform's alike. So a test sees one layer's call overwrite the error that a
// call of the other layer left, as it would on Windows. Host builds only.
#pragma once

#include <cstdint>

namespace HostSupport {

uint32_t& ThreadError();

} // namespace HostSupport

// Host-only control of DecodeStreams' stand-ins, for tests. Host builds only.
#pragma once

#include <cstddef>
#include <optional>

namespace DecodeStreamsHost {

// A read of a file or of standard input fails (EIO, as a failing disk gives) once `bytes` bytes
// of it have been read; nullopt: reads fail only when the system's do.
void SetReadFailureAfter(std::optional<size_t> bytes);

} // namespace DecodeStreamsHost

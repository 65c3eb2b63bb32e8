// Host-only controls of the deploy platform's stand-ins, for tests. Host builds only.
#pragma once

#include <optional>
#include <string>

namespace DeployPlatformHost {

// NativeArchitecture answers `name` instead of the machine's; nullopt returns to the machine's.
void SetNativeArchitecture(std::optional<std::u16string> name);
// While set, WriteOutput appends to these instead of writing; nullptr stops the capture.
void CaptureOutput(std::string* out, std::string* err);

} // namespace DeployPlatformHost

// Host-only controls of the trace platform stand-ins, for tests, and the path and text
// conversions they use. Host builds only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace TracePlatformHost {

// ExecutablePath reports `path` (Windows style, e.g. u"\\tmp\\run\\Installer.exe") instead of
// /proc/self/exe; an empty path makes it fail (return 0). nullopt returns to the real path.
void SetExecutablePath(std::optional<std::u16string> path);

// While `sink` is set, every DebugChannelWrite appends its text to it and nothing else is
// written. nullptr stops the capture.
void CaptureDebugChannel(std::vector<std::u16string>* sink);

// CurrentTime returns `now` instead of the system clock; nullopt returns to the system clock.
void SetClock(std::optional<int64_t> now);

// Undoes all of the above.
void ResetControls();

// The file that stands in for the per-user override key: $XTRACE_USER_REGISTRY, else
// $XDG_CONFIG_HOME/Installer/user.reg, else $HOME/.config/Installer/user.reg. Empty when none of
// these variables is set.
std::string OverrideStorePath();

// A path as the core handles it (UTF-16, '\\' separators) turned into a host path (UTF-8, '/').
std::string HostPath(const char16_t* path);
// A host path turned into the core's form.
std::u16string CorePath(const std::string& path);

// UTF-8 <-> UTF-16. Malformed input becomes U+FFFD.
std::u16string FromUtf8(const std::string& text);
std::string ToUtf8(const std::u16string& text);

} // namespace TracePlatformHost

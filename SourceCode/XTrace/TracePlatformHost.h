// Host-only controls of the trace platform stand-ins, for tests, and the path and text
// conversions they use. Host builds only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "HostPath.h"

namespace TracePlatformHost {

// ExecutablePath reports `path` (Windows style, e.g. u"\\tmp\\run\\Installer.exe") instead of
// /proc/self/exe; an empty path makes it fail (return 0). nullopt returns to the real path.
void SetExecutablePath(std::optional<std::u16string> path);

// While `sink` is set, every DebugChannelWrite appends its text to it and nothing else is
// written. nullptr stops the capture.
void CaptureDebugChannel(std::vector<std::u16string>* sink);

// Undoes all of the above.
void ResetControls();

// Override keys opened and not yet closed.
int OpenOverrideKeys();

// Every TracePlatform call the stand-ins have answered so far; each stand-in counts itself.
uint32_t PlatformCalls();
void CountPlatformCall();

// The file that stands in for the per-user override key: $XTRACE_USER_REGISTRY, else
// $XDG_CONFIG_HOME/Installer/user.reg, else $HOME/.config/Installer/user.reg. Empty when none of
// these variables is set.
std::string OverrideStorePath();

// The path and text conversions every host stand-in uses (HostSupport/HostPath.h).
using HostSupport::CorePath;
using HostSupport::HostPath;
using HostSupport::ToUtf8;
// UTF-8 to UTF-16; malformed input becomes U+FFFD.
std::u16string FromUtf8(const std::string& text);

// INI-style text as the settings-file reader and the override store both read it
// (HostIniReader.cpp).
namespace IniText {
// The whole file; false when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string* out);
// File contents as UTF-16: UTF-16LE after its byte-order mark, otherwise UTF-8 (its mark, if
// any, skipped).
std::u16string DecodeFile(const std::string& bytes);
// Splits at LF, dropping the CR of a CR LF.
std::vector<std::u16string_view> SplitLines(std::u16string_view text);
// Without blanks (spaces, tabs) at either end.
std::u16string_view Trim(std::u16string_view text);
bool IsComment(std::u16string_view line); // begins with ';' or '#'
// "[name]" -> name, trimmed; a missing ']' takes the rest of the line.
std::u16string_view SectionName(std::u16string_view line);
// Names compare without regard to the case of ASCII letters; FoldName gives the form to key
// them by.
bool SameName(std::u16string_view a, std::u16string_view b);
std::u16string FoldName(std::u16string_view name);
} // namespace IniText

} // namespace TracePlatformHost

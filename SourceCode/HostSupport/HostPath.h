// Paths and text between the core's form and the host's: the core handles UTF-16 with '\\'
// separators, Linux UTF-8 with '/'. Every host stand-in converts through these, so that a path
// means the same to the device services, the simulator and the trace. Host builds only.
#pragma once

#include <filesystem>
#include <string>

namespace HostSupport {

// A path as the core handles it turned into a host path (UTF-8, '/'); "" for a null pointer.
std::string HostPath(const char16_t* path);
// A host path turned into the core's form.
std::u16string CorePath(const std::string& path);

// UTF-16 to UTF-8 (Text/Utf8.h); an unpaired surrogate becomes U+FFFD.
std::string ToUtf8(const std::u16string& text);

// `path` as the file system holds it, found as Windows' file system finds names: ignoring the
// case of ASCII letters, component by component. A component that is there as written wins;
// otherwise the first entry of the folder, in name order, whose name differs only in case.
// Unchanged when nothing fits.
std::filesystem::path CaseBlind(const std::filesystem::path& path);

} // namespace HostSupport

#include "HostPath.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "AsciiCase.h"
#include "Utf8.h"

namespace HostSupport {

std::string HostPath(const char16_t* path) {
    std::string out = path == nullptr ? std::string() : Text::Utf16ToUtf8(path);
    std::replace(out.begin(), out.end(), '\\', '/');
    return out;
}

std::u16string CorePath(const std::string& path) {
    std::u16string out = Text::Utf8ToUtf16(path);
    std::replace(out.begin(), out.end(), u'/', u'\\');
    return out;
}

std::string ToUtf8(const std::u16string& text) {
    return Text::Utf16ToUtf8(text);
}

// `path` as the file system holds it, found as Windows' file system finds names: ignoring the
// case of ASCII letters, component by component. A component that is there as written wins;
// otherwise the first entry of the folder, in name order, whose name differs only in case.
// Unchanged when nothing fits.
std::filesystem::path CaseBlind(const std::filesystem::path& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::exists(fs::symlink_status(path, ec)) || !path.has_relative_path()) {
        return path;
    }
    fs::path found = path.root_path();
    for (const fs::path& part : path.relative_path()) {
        fs::path next = found / part;
        if (!fs::exists(fs::symlink_status(next, ec))) {
            std::vector<fs::path> names;
            for (fs::directory_iterator it(found.empty() ? fs::path(".") : found, ec), end;
                 !ec && it != end; it.increment(ec)) {
                names.push_back(it->path().filename());
            }
            std::sort(names.begin(), names.end());
            for (const fs::path& name : names) {
                if (EqualIgnoringAsciiCase(std::string_view(name.native()),
                                           std::string_view(part.native()))) {
                    next = found / name;
                    break;
                }
            }
        }
        found = next;
    }
    return found;
}

} // namespace HostSupport

#include "HostPath.h"

#include <algorithm>

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

} // namespace HostSupport

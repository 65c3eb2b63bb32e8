// UTF-8 <-> UTF-16: the core works in UTF-16, while the host stand-ins meet UTF-8 in file names,
// state files and settings files, and the consoles and the deployment log write UTF-8 on every
// platform.
#pragma once

#include <string>
#include <string_view>

namespace Text {

// UTF-8 to UTF-16. Each malformed sequence (a byte that cannot begin one, one cut short, an
// overlong form, a surrogate or a value above U+10FFFF) becomes one U+FFFD; `malformed`, when
// given, is set to whether there was any, so that a caller may refuse such text instead.
std::u16string Utf8ToUtf16(std::string_view text, bool* malformed = nullptr);

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

} // namespace Text

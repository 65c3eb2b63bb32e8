// The hardware-ID match rule. Each program is built with exactly one of MatchPrefix.cpp
// (32-bit x86: the lower-cased entry begins with the requested ID) and MatchEquality.cpp
// (x86-64: the entry equals the requested ID, ignoring the case of A to Z).
#pragma once

#include <string>
#include <string_view>

// Compares one entry of a device's hardware-ID list with `csHwID`, tracing what the rule
// traces. `shown` receives the text that the walk's records show for the entry.
bool MatchHardwareId(const std::u16string& csHwID, const std::u16string& entry,
                     std::u16string& shown);

// "prefix" or "equality": the rule this program was built with, for reports.
const char16_t* MatchRuleName();

// A to Z become a to z; every other character stays.
inline char16_t LowerAscii(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + (u'a' - u'A')) : c;
}
inline void LowerAsciiInPlace(std::u16string& text) {
    for (char16_t& c : text) {
        c = LowerAscii(c);
    }
}
// Equal when the letters A to Z equal a to z and every other character is identical.
inline bool EqualIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

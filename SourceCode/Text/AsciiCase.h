// Case folding of the letters A to Z alone, as the system compares hardware IDs, file names,
// setting names and value names: every other character stays as it is, whatever the locale.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

// A to Z become a to z; every other character stays.
template <typename Char> constexpr Char LowerAscii(Char c) {
    return (c >= Char('A') && c <= Char('Z')) ? static_cast<Char>(c + (Char('a') - Char('A'))) : c;
}

template <typename Char> void LowerAsciiInPlace(std::basic_string<Char>& text) {
    for (Char& c : text) {
        c = LowerAscii(c);
    }
}

template <typename Char> std::basic_string<Char> LoweredAscii(std::basic_string_view<Char> text) {
    std::basic_string<Char> out(text);
    LowerAsciiInPlace(out);
    return out;
}

// Equal when the letters A to Z equal a to z and every other character is identical.
template <typename Char>
bool EqualIgnoringAsciiCase(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
    return std::ranges::equal(a, b, {}, LowerAscii<Char>, LowerAscii<Char>);
}
inline bool EqualIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
    return EqualIgnoringAsciiCase<char16_t>(a, b);
}
inline bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return EqualIgnoringAsciiCase<char>(a, b);
}

// Trimming: a text without the layout characters at its ends, where each reader says what layout
// is (blanks, tabs, carriage returns, an end-of-file mark).
#pragma once

#include <string_view>

// `text` without the characters at either end for which `layout` is true.
template <typename Char, typename Layout>
std::basic_string_view<Char> TrimmedView(std::basic_string_view<Char> text, Layout layout) {
    while (!text.empty() && layout(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && layout(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

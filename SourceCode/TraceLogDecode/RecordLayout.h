// The scrambled record layout, over any line that gives its characters by index. LogDecode.cpp
// reads a std::u16string_view through it; a test reads a line that counts what is read.
#pragma once

#include <cstddef>

namespace RecordLayout {

inline constexpr size_t kBaseNameColumns = 19; // "%19s"
inline constexpr size_t kLineDigits = 4;       // "%04d"

// True when `line` has the layout "%19s(%04d) : " scrambles to: the base name right-aligned in 19
// columns (wider names unpadded), 'h', at least four digits as 'p'..'y' (or 'm' for a minus and
// at least three), 'i', " z ", after a base name that is not all blank. `Line` gives size() and
// operator[] and nothing else is used, so what is read can be counted: each character is read a
// bounded number of times (the blanks that lead the line once, a candidate "i z " at most four
// times, the digits before it once), and the time is linear in the line's length.
template <typename Line> bool HasScrambledRecordLayout(const Line& line) {
    const size_t size = line.size();
    size_t firstNonBlank = 0;
    while (firstNonBlank < size && line[firstNonBlank] == u' ') {
        ++firstNonBlank;
    }
    for (size_t close = firstNonBlank; close + 4 <= size; ++close) {
        if (line[close] != u'i' || line[close + 1] != u' ' || line[close + 2] != u'z' ||
            line[close + 3] != u' ') {
            continue;
        }
        size_t open = close;
        while (open > 0 && line[open - 1] >= u'p' && line[open - 1] <= u'y') {
            --open; // a digit '0'..'9' shifted
        }
        size_t digits = close - open;
        if (open > 0 && line[open - 1] == u'm') {
            --open;
            ++digits; // the minus takes the place of a digit
        }
        if (digits < kLineDigits || open == 0 || line[open - 1] != u'h') {
            continue;
        }
        const size_t field = open - 1; // the base name's columns
        if (field >= kBaseNameColumns && firstNonBlank < field &&
            (field == kBaseNameColumns || firstNonBlank == 0)) {
            return true;
        }
    }
    return false;
}

} // namespace RecordLayout

// The log file's shift and its inverse on arbitrary lines (input: UTF-16LE units).
//
// ScrambleLine moves every unit before the first line feed or terminator, except a space, up by
// 0x40. Shifting back restores the line unless a shifted unit lands on a terminator (0xFFC0),
// a line feed (0xFFCA) or a space (0xFFE0): those three, and only those, end or hide the rest
// of the line for the inverse. The same holds the other way round for '@', 'J' and '`'.
#include <cstring>
#include <memory>
#include <string_view>

#include "FuzzSupport.h"
#include "XTrace.h"

namespace {

// Where the shifted part of `line` ends: its first line feed or terminator.
size_t ShiftedLength(std::u16string_view line) {
    const size_t end = line.find_first_of(std::u16string_view(u"\n\0", 2));
    return end == std::u16string_view::npos ? line.size() : end;
}

bool HasAny(std::u16string_view text, std::u16string_view units) {
    return text.find_first_of(units) != std::u16string_view::npos;
}

std::u16string Apply(void (*shift)(char16_t*), const std::u16string& line) {
    const std::unique_ptr<char16_t[]> copy = ExactText(line);
    shift(copy.get());
    FUZZ_CHECK(copy[line.size()] == u'\0');
    return std::u16string(copy.get(), line.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string line(size / 2, u'\0');
    std::memcpy(line.data(), data, line.size() * sizeof(char16_t));
    const size_t shifted = ShiftedLength(line);
    const std::u16string_view head = std::u16string_view(line).substr(0, shifted);

    const std::u16string scrambled = Apply(ScrambleLine, line);
    for (size_t i = 0; i < line.size(); ++i) {
        const bool moves = i < shifted && line[i] != u' ';
        FUZZ_CHECK(scrambled[i] == (moves ? static_cast<char16_t>(line[i] + 0x40) : line[i]));
    }

    const bool forwardLossy = HasAny(head, std::u16string_view(u"\uFFC0\uFFCA\uFFE0"));
    FUZZ_CHECK((Apply(UnscrambleLine, scrambled) == line) == !forwardLossy);

    const bool backwardLossy = HasAny(head, std::u16string_view(u"@J`"));
    FUZZ_CHECK((Apply(ScrambleLine, Apply(UnscrambleLine, line)) == line) == !backwardLossy);
    return 0;
}

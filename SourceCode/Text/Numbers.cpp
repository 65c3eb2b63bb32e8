#include "Numbers.h"

namespace Text {

std::u16string Hex(uint32_t value, int digits) {
    std::u16string text;
    do {
        text.insert(text.begin(), u"0123456789abcdef"[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    while (static_cast<int>(text.size()) < digits) {
        text.insert(text.begin(), u'0');
    }
    return text;
}

std::u16string Decimal(uint64_t value) {
    std::u16string text;
    do {
        text.insert(text.begin(), static_cast<char16_t>(u'0' + value % 10));
        value /= 10;
    } while (value != 0);
    return text;
}

std::u16string Count(size_t n, const char16_t* one, const char16_t* many) {
    return Decimal(n) + u" " + (n == 1 ? one : many);
}

} // namespace Text

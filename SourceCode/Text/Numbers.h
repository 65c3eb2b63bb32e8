// Numbers as the companions' reports and messages write them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Text {

// Lower-case hexadecimal with at least `digits` digits, as codes and flag words are shown.
std::u16string Hex(uint32_t value, int digits = 0);
// Decimal, as counts are shown.
std::u16string Decimal(uint64_t value);
// "1 device", "2 devices".
std::u16string Count(size_t n, const char16_t* one, const char16_t* many);

} // namespace Text

// How the companions' reports write numbers, strings and the line that names the request.
#pragma once

#include <cstdint>
#include <string>

#include "PackageRequest.h"

// Hexadecimal with at least `digits` digits, as the reports show codes and flag words.
std::u16string Hex(uint32_t value, int digits = 0);
// Decimal, as the reports show counts.
std::u16string Decimal(uint64_t value);
// "1 device", "2 devices".
std::u16string Count(size_t n, const char16_t* one, const char16_t* many);

// `text` as the content of a JSON string, quotes included.
std::u16string JsonString(const std::u16string& text);
std::u16string JsonBool(bool value);

// The report's first line: `<command> for hardware ID "<ID>" (given as "<ID as given>"), <rule>
// rule, INF "<INF>"`, the part in parentheses only when the two differ.
std::u16string RequestLine(const std::u16string& command, const PackageRequest& request,
                           const std::u16string& rule);

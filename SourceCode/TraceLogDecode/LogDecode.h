// Turns the bytes of a scrambled trace log back into plain text.
#pragma once

#include <string>
#include <string_view>

// True when `line` (one log line, one character per byte, without its line end) has the
// scrambled record layout: a right-aligned base name, "(", a line number, ") : ".
bool IsScrambledRecord(std::u16string_view line);

// Decodes a whole log: lines with the scrambled record layout are shifted back, other lines
// (the plain remainders of records whose message held a line feed) are kept as they are.
// Returns UTF-8 text with LF line ends. A character that the log could not hold (one that
// the shift took past U+00FF, written as '?') comes back as U+FFFD.
std::string DecodeTraceLog(std::string_view bytes);

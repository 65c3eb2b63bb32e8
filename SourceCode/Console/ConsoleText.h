// Where a companion's text goes: standard output and standard error. A console shows it as text;
// a pipe or a file receives UTF-8.
#pragma once

#include <string>
#include <string_view>

// Writes `text` to standard output (`error` false) or standard error.
void WriteConsoleText(bool error, const std::u16string& text);
// The same for text that is UTF-8 already, such as what another program wrote to a pipe.
void WriteConsoleUtf8(bool error, std::string_view utf8);

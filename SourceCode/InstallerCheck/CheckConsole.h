// Where InstallerCheck's text goes: standard output and standard error.
#pragma once

#include <string>

// Writes `text` to standard output (`error` false) or standard error. A console shows it as
// text; a pipe or a file receives UTF-8.
void WriteConsoleText(bool error, const std::u16string& text);

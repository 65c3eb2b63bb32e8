// The decoder's input and output: standard input and output as bytes exactly as they are (no
// line-end translation, no end-of-file byte), files opened by their UTF-16 names. Windows
// (DecodeStreams-win32.cpp) calls the system's functions; DecodeStreams-host.cpp stands in on
// Linux (DecodeStreamsHost.h: its control for tests).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace DecodeStreams {

enum class ReadResult {
    Done,      // read to its end
    NotOpened, // nothing read: no such file, no access, no standard input
    Cut,       // a read failed: `bytes` holds what came before it
};

// Reads standard input to its end (a pipe's end included).
ReadResult ReadStandardInput(std::string* bytes);
// Reads the file at `path` to its end.
ReadResult ReadNamedFile(const std::u16string& path, std::string* bytes);

// Writes all of `utf8` to standard output; false when not all of it could be written. A Windows
// console is given the text as wide characters; anything else, the bytes.
bool WriteStandardOutput(std::string_view utf8);
// Writes `text` to standard error, as WriteStandardOutput writes.
void WriteStandardError(const std::u16string& text);

} // namespace DecodeStreams

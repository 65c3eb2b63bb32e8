// TraceLogDecode's command: the arguments in, the decoded logs written to standard output, the
// exit code out. The same on every platform; it reads and writes through DecodeStreams.h.
#pragma once

#include <string>
#include <vector>

inline constexpr int kDecodeDone = 0;     // every input read to its end, its text written
inline constexpr int kDecodeNotRead = 1;  // an input could not be opened, or the text written
inline constexpr int kDecodeInputCut = 2; // a read failed part way: only what came before it
                                          // was decoded

// Decodes the files named by `arguments` (without the program's name) one after the other, or
// standard input when there are none; "-h" or "--help" prints the help instead. An input that
// cannot be opened is named on standard error and the next one is decoded; the exit code is the
// highest of the inputs'.
int RunTraceLogDecode(const std::vector<std::u16string>& arguments);

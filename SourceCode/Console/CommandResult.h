// What a companion's command gives back: its exit code and the text for the two streams. The
// exit codes are shared: each program uses those that apply to it.
#pragma once

#include <string>

inline constexpr int kExitOk = 0;          // done: planned, verified, removed
inline constexpr int kExitNotVerified = 1; // the state is not the one asked for
inline constexpr int kExitUsage = 2;       // a wrong command line
inline constexpr int kExitUnreadable = 3;  // the device state could not be read
inline constexpr int kExitRestart = 4;     // the state is there, but a restart is needed to finish

struct CommandResult {
    int exitCode = kExitOk;
    std::u16string out; // for standard output
    std::u16string err; // for standard error
};

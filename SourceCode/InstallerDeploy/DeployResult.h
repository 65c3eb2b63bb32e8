// The deploy program's exit codes, which deployment tools understand, and what each means: one
// table (DeployResult.cpp) gives both the exit code and the log's "result: N (meaning)" line.
#pragma once

#include <cstdint>

inline constexpr int kDeployDone = 0;             // done and verified
inline constexpr int kDeployRestartNeeded = 3010; // done, but a restart is needed to finish
inline constexpr int kDeployNotDone = 1603;       // not done, or the package or /keep unusable
inline constexpr int kDeployWrongCommandLine = 2; // wrong command line, or no INF (nothing run)
inline constexpr int kDeployStateUnreadable = 3;  // the device state could not be read
inline constexpr int kDeployUnsupported = 1633;   // not an architecture the package holds

struct StepCode {
    bool started;  // false: the program did not start (code is then the system's reason)
    uint32_t code; // its exit code
};
// The exit code that the last program's result gives (InstallerCheck's and InstallerRemove's
// shared codes: 0 done, 4 done with a restart needed, 1 not done, 2 wrong command line, 3 state
// unreadable). A program that did not start, or that ended with any other code, is not done;
// `known` (when given) says whether the code was one of the table's.
int DeployCodeFor(StepCode step, bool* known = nullptr);

// What an exit code of the deploy program means; "unknown" for any other.
const char* DeployResultMeaning(int code);

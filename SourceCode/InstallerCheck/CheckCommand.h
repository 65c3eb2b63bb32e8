// InstallerCheck's command line: which report, in which form, and the exit code.
//
//   InstallerCheck plan   [--json]          <hardware ID> <INF full path>
//   InstallerCheck verify [--json|--detect] <hardware ID> <INF full path>
#pragma once

#include <string>
#include <vector>

inline constexpr int kExitOk = 0;          // plan made; verify: the state is verified
inline constexpr int kExitNotVerified = 1; // verify: some condition does not hold
inline constexpr int kExitUsage = 2;       // a wrong command line
inline constexpr int kExitUnreadable = 3;  // the device state could not be read

struct CheckResult {
    int exitCode = kExitOk;
    std::u16string out; // for standard output
    std::u16string err; // for standard error
};

// `arguments` without the program's name.
CheckResult RunCheck(const std::vector<std::u16string>& arguments);

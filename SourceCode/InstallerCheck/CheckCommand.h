// InstallerCheck's command line: which report, in which form, and the exit code (0 planned or
// verified, 1 not verified or the package will not install here, 2 wrong command line, 3 state
// unreadable, 4 verified but a restart is needed). When plan finds reasons why the package will
// not install, each also goes to standard error as one line "InstallerCheck: <reason>".
//
//   InstallerCheck plan   [--json]          <hardware ID> <INF full path>
//   InstallerCheck verify [--json|--detect] <hardware ID> <INF full path>
#pragma once

#include <string>
#include <vector>

#include "CommandResult.h"

using CheckResult = CommandResult;

// `arguments` without the program's name.
CheckResult RunCheck(const std::vector<std::u16string>& arguments);

// InstallerRemove's command line, which report form, and the exit code:
//
//   InstallerRemove [--dry-run] [--json] [--force] [--] <hardware ID> <INF full path>
//
// 0 removed (also: nothing to remove, a dry run), 1 not removed, 2 wrong command line, 3 the
// device state could not be read, 4 removed but a restart is needed to finish.
#pragma once

#include <string>
#include <vector>

#include "CommandResult.h"

// `arguments` without the program's name.
CommandResult RunRemove(const std::vector<std::u16string>& arguments);

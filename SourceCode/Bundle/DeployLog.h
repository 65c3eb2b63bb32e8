// DeployLog: the deployment log that Deploy.cmd keeps for administrators, in the folder their
// deployment tool collects. Each run of Deploy.cmd appends one record: when, where and as whom it
// ran, its command line and the architecture it chose, every program it ran with that program's
// output and exit code, the decoded trace of the run, and the final code.
//
//   DeployLog LOG begin ACTION ARCHITECTURE [DEPLOY-ARGUMENT...]
//   DeployLog LOG run [--trace] PROGRAM [ARGUMENT...]
//   DeployLog LOG say WORD...
//   DeployLog LOG end CODE
//
// `begin` rolls the log over to one .old file once it has reached 1 MiB, then starts the
// record. `run` runs PROGRAM (a full path), passes its output on to this program's own, appends
// the command, the output and the exit code, and exits with that code; with --trace it also
// appends the trace records that the run added to the *.log files beside PROGRAM, decoded.
// `say` writes its words, joined by spaces, to standard error and to the record: Deploy.cmd's
// own reasons for a code. `end` closes the record with the final code and what it means. LOG may be
// empty: then nothing is written, and `run` still runs the program. The log is never what decides a
// deployment: a log that cannot be written costs one line on standard error.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Runs one command (the arguments after the program's name); returns the exit code.
int RunDeployLog(const std::vector<std::u16string>& arguments);

// Beyond this size the log is rolled over at the next record.
inline constexpr uint64_t kDeployLogRollBytes = 1024 * 1024;
// At most this much of a program's output, and of a trace, goes into one record.
inline constexpr size_t kDeployLogMaxCapture = 4 * 1024 * 1024;

// An argument quoted as Windows programs read their command line: as it is when it needs no
// quotes, otherwise in double quotes with embedded quotes and the backslashes before them
// escaped.
std::u16string QuoteArgument(const std::u16string& argument);

// The name the log is rolled over to: its extension replaced by ".old" ("Deploy.log" gives
// "Deploy.old"; a name without one gains it).
std::u16string RolledOverName(const std::u16string& log);

// What a final code of Deploy.cmd means.
const char* DeployResultMeaning(int code);

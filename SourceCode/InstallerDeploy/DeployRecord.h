// One deployment's record for the deployment log, gathered while the deployment runs: the
// programs it ran, each with its command line, output, exit code and (for Installer.exe) the
// decoded trace the run added, and the deploy program's own messages. It is written to the log
// in one append when the deployment ends (DeployLogFile.h).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "DeployResult.h"

// At most this much of a program's output, and of a trace, goes into one record.
inline constexpr size_t kDeployMaxCapture = 4 * 1024 * 1024;

class DeployRecord {
  public:
    // Adds `text` (one or more lines) as it is.
    void Add(std::string_view text);
    // Writes one line to standard error and adds it: the deploy program's reason for a code.
    void Say(std::string_view line);
    // Runs `program` (a full path) with `arguments`, passes its output on to this program's, and
    // adds its command line, output and exit code, or "did not start: error N". With `trace`, it
    // also adds what the run added to the trace's *.log files beside the program, decoded.
    StepCode Run(const std::u16string& program, const std::vector<std::u16string>& arguments,
                 bool trace);
    // The record with every line ended by CR LF, as Windows log readers expect.
    std::string Text() const;

  private:
    std::string text_;
};

// Whether a file name ends in ".log", in any case: the trace's log files.
bool IsLogName(std::u16string_view name);

// UTF-16 to UTF-8, for the record and the console.
std::string Utf8(std::u16string_view text);

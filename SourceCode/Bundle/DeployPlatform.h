// What the deployment log needs from the system besides the trace's append (which never follows
// a link): sizes and reads of plain files that follow no link either, a rename, running a
// program with its output captured, the console, and who and where the run is.
// DeployPlatform-win32.cpp calls the Windows functions; DeployPlatform-host.cpp stands in on
// Linux.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace DeployPlatform {

struct PlainFile {
    std::u16string name; // without the folder
    uint64_t bytes;
};

// The plain files in `folder` whose names end in ".log" (in any case); links and folders are
// left out.
std::vector<PlainFile> ListLogFiles(const std::u16string& folder);

// The size of the file at `path` when it is a plain file with one name, never what a link there
// leads to; nullopt otherwise (nothing there, a link, a folder, a device).
std::optional<uint64_t> PlainFileSize(const std::u16string& path);

// Reads the plain file at `path` from byte `offset` to its end, at most `maxBytes`, on the same
// terms as PlainFileSize. False when it is not such a file or cannot be read.
bool ReadPlainFile(const std::u16string& path, uint64_t offset, uint64_t maxBytes,
                   std::string* bytes);

// Renames `from` to `to`, replacing what `to` names. A link at either name is itself renamed or
// replaced, never followed.
bool RenameReplacing(const std::u16string& from, const std::u16string& to);

struct Finished {
    bool started = false;
    uint32_t code = 0; // the exit code, or the system's reason when the program did not start
    std::string out;   // what it wrote to standard output and standard error, as it wrote it
    std::string err;
};
// Runs `program` (a full path: nothing is searched for) with `arguments`; `commandLine` is the
// same quoted as Windows programs read their command line. Returns when it has ended.
Finished RunProgram(const std::u16string& program, const std::vector<std::u16string>& arguments,
                    const std::u16string& commandLine);

// Writes UTF-8 text to standard output (`error` false) or standard error; a console shows it as
// text.
void WriteOutput(bool error, const std::string& utf8);

std::u16string ComputerName();
// The account the program runs as, "DOMAIN\name" where there is a domain.
std::u16string AccountName();
struct LocalNow {
    int year, month, day, hour, minute, second;
    int utcOffsetMinutes; // local time less UTC
};
// The local time now.
LocalNow Now();

} // namespace DeployPlatform

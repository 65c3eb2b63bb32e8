// The /keep folder: on install it is emptied and made anew, with its final owner and access
// list in the one call that makes it, and receives InstallerCheck.exe and the INF, from which
// the detection command runs later as SYSTEM, with the catalogs beside the INF (the check judges
// a staged package by its catalog); on uninstall what an install kept there goes.
#pragma once

#include <string>

enum class KeepResult {
    Ready,     // made anew and filled
    Link,      // a junction, symbolic link or other reparse point: refused
    NotFolder, // a file: refused
    HoldsInf,  // one of its names is the INF, however spelled: refused, emptying it would delete it
    HasFolders, // holds folders: refused, it needs a folder of its own
    NotCleared, // a file in it could not be deleted, or the folder not removed
    NotMade,    // could not be made anew (someone made it meanwhile, or no access)
    NotSecured, // its security could not be built
    CopyFailed, // InstallerCheck.exe, the INF or a catalog beside it could not be copied in
};
// `keep` and `inf` are full paths; `checker` is the InstallerCheck.exe to keep.
KeepResult PrepareKeep(const std::u16string& keep, const std::u16string& checker,
                       const std::u16string& inf);
// Deploy's message for a refusal (every result but Ready), naming `keep`.
std::string KeepRefusal(KeepResult result, const std::u16string& keep);

// Copies the *.log files of `programs` into `keep` (the trace of the run, for later reading).
void KeepTraceLogs(const std::u16string& programs, const std::u16string& keep);

enum class UnkeepResult { Gone, Missing, Link, Left };
// Deletes InstallerCheck.exe, the INF named `infName`, *.cat and *.log from `keep`, and the folder
// when nothing else is in it. A link at `keep` is left alone: deleting through it would delete
// someone else's files.
UnkeepResult ClearKeep(const std::u16string& keep, const std::u16string& infName);

// Whether one of the names in `folder` (each name itself, not what a link leads to) is the file at
// `file` (followed through links), compared by identity: a folder reached by another spelling (a
// link in a parent folder, an 8.3 short name, "\\?\", another drive) is still itself.
bool FolderHoldsFile(const std::u16string& folder, const std::u16string& file);

// `path` without one trailing backslash (a root such as "C:\" keeps it).
std::u16string WithoutTrailingSeparator(const std::u16string& path);
// The last name in `path`.
std::u16string BaseName(const std::u16string& path);
// Whether two paths are the same text ignoring ASCII case, as Windows compares names.
bool SamePath(const std::u16string& a, const std::u16string& b);

// Host-only controls of SafeFile's stand-ins, for tests. Host builds only.
#pragma once

#include <cstdint>
#include <functional>

namespace SafeFileHost {

// Called by AppendFile::RenameTo once it has found that the name still leads to its file and
// before it renames: a test holds the rename there to let other writers run into it. Empty: none.
void SetBeforeRename(std::function<void()> hook);

// Called by AppendFile::Open once it has opened the file and before it takes the writer's lock:
// a test holds a writer there while another rolls the log over. Empty: none.
void SetBeforeLock(std::function<void()> hook);

// How many times an open met another writer holding the file, since the program started.
uint32_t SharingViolations();

// The calls SafeFile's stand-ins have answered so far, every one counted: a test of a record
// that is dropped sees, with LocalClockHost::Calls, that no file or clock call was made for it.
uint32_t Calls();

} // namespace SafeFileHost

// The first thing every program does: keep the DLLs that the system DLLs load by name (and any
// other DLL loaded without a full path) to the system folder, so that a DLL left beside the
// program, or in the working folder, never runs in it. Programs run as administrator and as
// SYSTEM from folders that other users may be able to write to.
#pragma once

// Windows: SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32), looked up at run time, since
// systems without KB2533623 lack it (there the system's own search order stays). Linux: nothing.
void LimitDllSearchToSystemFolder();

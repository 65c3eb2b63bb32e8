// The entry of a companion program: the arguments in, the command run, its text written and its
// exit code returned. Each program's Main-win32.cpp / Main-host.cpp is this one call.
#pragma once

#include <string>
#include <vector>

#include "CommandResult.h"

// A companion's command: the arguments without the program's name.
using ConsoleCommand = CommandResult (*)(const std::vector<std::u16string>& arguments);

// Windows (wmain, -municode): first keeps the DLL search to the system folder, then runs `run`.
int RunConsoleProgram(int argc, wchar_t** argv, ConsoleCommand run);
// Linux (main): UTF-8 arguments.
int RunConsoleProgram(int argc, char** argv, ConsoleCommand run);

// What both do with the arguments: runs `run`, writes its text to the two streams and returns its
// exit code.
int RunConsoleCommand(const std::vector<std::u16string>& arguments, ConsoleCommand run);

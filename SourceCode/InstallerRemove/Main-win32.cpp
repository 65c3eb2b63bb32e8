// Windows console entry with a wide argument vector (linked with -municode).
#include "ConsoleProgram.h"
#include "RemoveCommand.h"

int wmain(int argc, wchar_t** argv) {
    return RunConsoleProgram(argc, argv, RunRemove);
}

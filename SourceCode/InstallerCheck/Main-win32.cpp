// Windows console entry with a wide argument vector (linked with -municode).
#include "CheckCommand.h"
#include "ConsoleProgram.h"

int wmain(int argc, wchar_t** argv) {
    return RunConsoleProgram(argc, argv, RunCheck);
}

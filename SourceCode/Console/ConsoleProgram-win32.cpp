#include "ConsoleProgram.h"

#include "DllSearch.h"
#include "Win32.h"

int RunConsoleProgram(int argc, wchar_t** argv, ConsoleCommand run) {
    LimitDllSearchToSystemFolder();
    std::vector<std::u16string> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.push_back(Win32::FromWide(argv[i]));
    }
    return RunConsoleCommand(arguments, run);
}

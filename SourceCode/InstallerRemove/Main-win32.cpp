// Windows console entry with a wide argument vector (linked with -municode).
#include <string>
#include <vector>

#include "CheckConsole.h"
#include "DllSearch.h"
#include "RemoveCommand.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t));

int wmain(int argc, wchar_t** argv) {
    LimitDllSearchToSystemFolder();
    std::vector<std::u16string> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
    }
    const CommandResult result = RunRemove(arguments);
    WriteConsoleText(false, result.out);
    WriteConsoleText(true, result.err);
    return result.exitCode;
}

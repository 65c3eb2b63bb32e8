#include "ConsoleProgram.h"

#include "ConsoleText.h"

int RunConsoleCommand(const std::vector<std::u16string>& arguments, ConsoleCommand run) {
    const CommandResult result = run(arguments);
    WriteConsoleText(false, result.out);
    WriteConsoleText(true, result.err);
    return result.exitCode;
}

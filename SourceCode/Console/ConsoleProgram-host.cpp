#include "ConsoleProgram.h"

#include "ConsoleText.h"
#include "Utf8.h"

int RunConsoleProgram(int argc, char** argv, ConsoleCommand run) {
    std::vector<std::u16string> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.push_back(Text::Utf8ToUtf16(argv[i]));
    }
    const CommandResult result = run(arguments);
    WriteConsoleText(false, result.out);
    WriteConsoleText(true, result.err);
    return result.exitCode;
}

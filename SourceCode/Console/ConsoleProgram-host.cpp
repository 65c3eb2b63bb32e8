#include "ConsoleProgram.h"

#include "Utf8.h"

int RunConsoleProgram(int argc, char** argv, ConsoleCommand run) {
    std::vector<std::u16string> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.push_back(Text::Utf8ToUtf16(argv[i]));
    }
    return RunConsoleCommand(arguments, run);
}

// Linux entry: UTF-8 arguments in, the report out.
#include <string>
#include <vector>

#include "CheckConsole.h"
#include "RemoveCommand.h"
#include "TracePlatformHost.h"

int main(int argc, char** argv) {
    std::vector<std::u16string> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.push_back(TracePlatformHost::FromUtf8(argv[i]));
    }
    const CommandResult result = RunRemove(arguments);
    WriteConsoleText(false, result.out);
    WriteConsoleText(true, result.err);
    return result.exitCode;
}

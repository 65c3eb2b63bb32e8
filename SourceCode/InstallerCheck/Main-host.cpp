// Linux entry: UTF-8 arguments in, the report out.
#include <string>
#include <vector>

#include "CheckCommand.h"
#include "CheckConsole.h"
#include "TracePlatformHost.h"

int main(int argc, char** argv) {
    std::vector<std::u16string> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.push_back(TracePlatformHost::FromUtf8(argv[i]));
    }
    const CheckResult result = RunCheck(arguments);
    WriteConsoleText(false, result.out);
    WriteConsoleText(true, result.err);
    return result.exitCode;
}

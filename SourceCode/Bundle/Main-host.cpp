// Linux entry: UTF-8 arguments in.
#include <string>
#include <vector>

#include "DeployLog.h"
#include "TracePlatformHost.h"

int main(int argc, char** argv) {
    std::vector<std::u16string> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.push_back(TracePlatformHost::FromUtf8(argv[i]));
    }
    return RunDeployLog(arguments);
}

// Linux entry: UTF-8 arguments in, the package folder from this program's own path. A file-size
// limit makes a write fail, as a full disk does on Windows, instead of ending the program.
#include <csignal>
#include <string>
#include <vector>

#include "Deploy.h"
#include "DeployPlatform.h"
#include "Utf8.h"

int main(int argc, char** argv) {
    std::signal(SIGXFSZ, SIG_IGN);
    std::vector<std::u16string> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.push_back(Text::Utf8ToUtf16(argv[i]));
    }
    return RunDeploy(PackageHome(DeployPlatform::ProgramPath()), arguments);
}

// Windows console entry: the command line read as a batch file reads %1..%9 (Deploy.cmd passes
// its own on as %*), the package folder from this program's own path.
#include "Deploy.h"
#include "DeployCommandLine.h"
#include "DeployPlatform.h"
#include "DllSearch.h"

int wmain() {
    LimitDllSearchToSystemFolder();
    return RunDeploy(PackageHome(DeployPlatform::ProgramPath()),
                     BatchArguments(DeployPlatform::CommandLineText()));
}

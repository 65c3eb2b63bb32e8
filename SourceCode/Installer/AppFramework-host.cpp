// Host start-up: Linux has no module instance; the command line is the one the process was
// started with. Setting INSTALLER_FRAMEWORK_FAIL (or calling AppFrameworkHostFailNext) makes the
// start-up fail, so that its failure branch can be exercised.
#include <cstdlib>

#include "AppFramework.h"
#include "AppFrameworkHost.h"

namespace {
bool g_failNext = false;
const char16_t kHostCommandLine[] = u"Installer";
} // namespace

void AppFrameworkHostFailNext(bool fail) {
    g_failNext = fail;
}

void AppFrameworkHostReset() {
    theApp = AppObject{};
}

bool AppFrameworkStart() {
    if (g_failNext || std::getenv("INSTALLER_FRAMEWORK_FAIL") != nullptr) {
        g_failNext = false;
        return AppFrameworkInit(nullptr, nullptr, nullptr, 0);
    }
    return AppFrameworkInit(nullptr, nullptr, kHostCommandLine, 0);
}

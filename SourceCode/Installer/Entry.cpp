#include "Entry.h"

#include <string>

#include "AppFramework.h"
#include "Sequence.h"
#include "XTrace.h"

static constexpr char16_t kTraceFile[] = u".\\Entry.cpp";

namespace Installer {

int _tmain(int argc, const char16_t* const* argv) {
    InitTrace();

    // Only the arguments received are read; an absent hardware ID is empty and an absent INF
    // path is traced as "(null)".
    const char16_t* hardwareId = argc > 1 && argv[1] != nullptr ? argv[1] : u"";
    const char16_t* pInfFullName = argc > 2 ? argv[2] : nullptr;
    const std::u16string csHwID = hardwareId;

    XTRACE(1, u"argc =%d", argc);
    XTRACE(1, u"csHwID =%s", csHwID);
    XTRACE(1, u"pInfFullName =%s", pInfFullName);

    if (argc != 3) {
        XTRACE(2, u"_tmain==> Parameter not correct!");
        return 0;
    }
    if (!AppFrameworkStart()) {
        XTRACE(2, u"Fatal Error: MFC initialization failed\n");
        return 0;
    }
    RunInstallation(csHwID, pInfFullName);
    return 0;
}

} // namespace Installer

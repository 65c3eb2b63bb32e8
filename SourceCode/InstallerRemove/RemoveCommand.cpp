#include "RemoveCommand.h"

#include "Removal.h"
#include "RemoveReport.h"
#include "ReportFields.h"

namespace {

constexpr char16_t kUsage[] =
    u"usage: InstallerRemove [--dry-run] [--json] [--force] [--] <hardware ID> <INF full path>\n"
    u"Removes from the driver store every copy the system published for the INF given, with\n"
    u"exactly its bytes, and takes it off the devices that use it, then reads the state again.\n"
    u"--dry-run lists what would be removed and changes nothing. --force removes a copy that a\n"
    u"device uses where the system lacks DiUninstallDriverW, and one that a device outside the\n"
    u"hardware ID uses where DiUninstallDriverW takes it off that device.\n"
    u"exit codes: 0 removed (or nothing to remove), 1 not removed, 2 wrong command line, 3 the\n"
    u"device state could not be read, 4 removed but a restart is needed to finish.\n";

CommandResult Usage(const std::u16string& problem) {
    return {kExitUsage, {}, u"InstallerRemove: " + problem + u"\n" + kUsage};
}

} // namespace

CommandResult RunRemove(const std::vector<std::u16string>& arguments) {
    if (arguments.size() == 1 && (arguments[0] == u"--help" || arguments[0] == u"-h" ||
                                  arguments[0] == u"/?" || arguments[0] == u"help")) {
        return {kExitOk, kUsage, {}};
    }
    RemoveRequest request;
    bool json = false;
    size_t next = 0;
    for (; next < arguments.size() && arguments[next].starts_with(u"--"); ++next) {
        const std::u16string& option = arguments[next];
        if (option == u"--") {
            ++next;
            break;
        }
        bool* flag = option == u"--dry-run" ? &request.dryRun
                     : option == u"--json"  ? &json
                     : option == u"--force" ? &request.force
                                            : nullptr;
        if (flag == nullptr) {
            return Usage(u"unknown option " + JsonString(option));
        }
        if (*flag) {
            return Usage(option + u" is given twice");
        }
        *flag = true;
    }
    if (arguments.size() - next != 2) {
        return Usage(u"expected a hardware ID and an INF full path");
    }
    std::u16string problem;
    switch (ReadPackageRequest(arguments[next], arguments[next + 1], &request, &problem)) {
    case InfRead::Ok:
        break;
    case InfRead::BadArgument:
        return Usage(problem);
    case InfRead::Unreadable:
        return {kExitUnreadable, {}, u"InstallerRemove: " + problem + u"\n"};
    }

    // An empty INF holds nothing that names a package: every empty INF would hold its bytes.
    if (request.infBytes.empty()) {
        return Usage(u"the INF \"" + request.inf + u"\" is empty");
    }

    Removal removal;
    if (!RemovePackage(request, &removal, &problem)) {
        return {kExitUnreadable, {}, u"InstallerRemove: " + problem + u"\n"};
    }
    CommandResult result;
    if (request.dryRun) {
        result.exitCode = removal.refused ? kExitNotVerified : kExitOk;
    } else {
        result.exitCode = !removal.removed          ? kExitNotVerified
                          : removal.restartRequired ? kExitRestart
                                                    : kExitOk;
    }
    result.out = json ? RemovalJson(removal) : RemovalText(removal);
    return result;
}

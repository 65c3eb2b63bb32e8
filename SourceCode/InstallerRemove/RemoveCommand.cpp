#include "RemoveCommand.h"

#include "CommandLine.h"
#include "Removal.h"
#include "RemoveReport.h"

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

constexpr CommandSpec kRemove = {u"InstallerRemove", kUsage};

} // namespace

CommandResult RunRemove(const std::vector<std::u16string>& arguments) {
    if (IsHelpRequest(arguments)) {
        return {kExitOk, kUsage, {}};
    }
    std::vector<std::u16string> options;
    std::vector<std::u16string> operands;
    std::u16string problem;
    if (!ParseOptions(arguments, 0, {{u"--dry-run"}, {u"--json"}, {u"--force"}}, {}, &options,
                      &operands, &problem)) {
        return UsageError(kRemove, problem);
    }
    RemoveRequest request;
    request.dryRun = HasOption(options, u"--dry-run");
    request.force = HasOption(options, u"--force");
    const bool json = HasOption(options, u"--json");
    if (const int code = ReadRequestOperands(operands, &request, &problem); code != kExitOk) {
        return Refusal(kRemove, code, problem);
    }

    // An empty INF holds nothing that names a package: every empty INF would hold its bytes.
    if (request.infBytes.empty()) {
        return UsageError(kRemove, u"the INF \"" + request.inf + u"\" is empty");
    }

    Removal removal;
    if (!RemovePackage(request, &removal, &problem)) {
        return Refusal(kRemove, kExitUnreadable, problem);
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

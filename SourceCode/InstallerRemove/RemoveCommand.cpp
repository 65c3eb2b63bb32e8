#include "RemoveCommand.h"

#include "CommandLine.h"
#include "Removal.h"
#include "RemoveReport.h"

namespace {

constexpr char16_t kUsage[] =
    u"usage: InstallerRemove [--dry-run] [--json] [--force] [--] <hardware ID> <INF full path>\n"
    u"Removes from the driver store every staged copy of the driver package whose INF holds\n"
    u"exactly the bytes of the INF given, and takes it off the devices that use it, then reads\n"
    u"the state again. --dry-run lists what would be removed and changes nothing. --force removes\n"
    u"a copy that a device uses where the system lacks DiUninstallDriverW.\n"
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

    Removal removal;
    if (!RemovePackage(request, &removal, &problem)) {
        return Refusal(kRemove, kExitUnreadable, problem);
    }
    CommandResult result;
    result.exitCode = request.dryRun || (removal.removed && !removal.restartRequired) ? kExitOk
                      : removal.removed                                               ? kExitRestart
                                        : kExitNotVerified;
    result.out = json ? RemovalJson(removal) : RemovalText(removal);
    return result;
}

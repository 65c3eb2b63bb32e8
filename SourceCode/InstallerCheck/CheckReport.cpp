#include "CheckReport.h"

#include "DeviceServices.h"
#include "DeviceStatus.h"
#include "MatchRule.h"
#include "Numbers.h"
#include "PackageState.h"

using Text::Count;
using Text::Decimal;
using Text::Hex;

namespace {

std::u16string Flags(const SurveyedDevice& device) {
    return u"config flags 0x" + Hex(device.configFlags, 8);
}

void JudgePresent(const SurveyedDevice& device, const Report& report, Report* out) {
    bool ok = false;
    std::u16string verdict;
    if (device.driverInf.empty()) {
        verdict = u"has no driver from an INF";
    } else if (CopyNamedBy(device.driverInf, report.stagedCopies) < report.stagedCopies.size() &&
               device.problem != 0 && device.problem != DevSvc::CM_PROB_NEED_RESTART) {
        // Installed, but the node does not run it: it failed to start, say (problem 10).
        verdict = u"driver from " + device.driverInf + u", but its node reports problem code " +
                  Decimal(device.problem);
    } else if (CopyNamedBy(device.driverInf, report.stagedCopies) < report.stagedCopies.size()) {
        ok = true;
        // Installed, but the node runs the new driver only after a restart.
        const bool restart = NeedsRestart(device);
        out->restartRequired = out->restartRequired || restart;
        verdict =
            (restart ? u"restart needed, driver from " : u"ok, driver from ") + device.driverInf;
    } else if (report.stagedCopies.empty()) {
        verdict = u"uses " + device.driverInf + u", and the INF is not staged";
    } else {
        verdict = u"uses " + device.driverInf + u", not " + report.stagedCopies.front();
    }
    out->deviceOk.push_back(ok);
    out->verdicts.push_back(verdict);
}

void JudgeAbsent(const SurveyedDevice& device, Report* out) {
    const bool ok = device.hasFlags && (device.configFlags & DevSvc::CONFIGFLAG_REINSTALL) != 0;
    std::u16string verdict;
    if (ok) {
        verdict = u"ok, " + Flags(device);
    } else if (device.hasFlags) {
        verdict = u"not marked, " + Flags(device);
    } else if (device.flagBytes == 0) {
        verdict = u"not marked: it has no config flags";
    } else {
        verdict = u"not marked: its config flags are " +
                  Count(device.flagBytes, u"byte", u"bytes") + u", not a 32-bit word";
    }
    out->deviceOk.push_back(ok);
    out->verdicts.push_back(verdict);
}

void Verify(Report* report) {
    const bool staged = !report->stagedCopies.empty();
    const std::vector<ForeignCopy>& foreign = report->foreignCopies;
    report->conditions.push_back(
        {u"INF staged", staged,
         staged
             ? report->infFolder + u"\\" + report->stagedCopies.front() + u" holds the INF's bytes"
         : foreign.empty()
             ? u"no INF in " + report->infFolder + u" holds the INF's bytes"
             : report->infFolder + u"\\" + foreign.front().name +
                   u" holds the INF's bytes, but is another package: " + foreign.front().why});
    // With no matching device, only the INF's models can tell that the ID is one it installs:
    // a mistyped ID is not verified because the INF happens to be staged.
    if (report->devices.empty()) {
        const Preflight& package = report->package;
        report->conditions.push_back({u"the INF's models name the hardware ID", package.idNamed,
                                      package.idNamed  ? u"a driver for " + package.platform
                                      : package.opened ? u"no driver for " + package.platform
                                                       : package.reasons.front()});
    }

    size_t present = 0;
    size_t absent = 0;
    size_t presentFailed = 0;
    size_t absentFailed = 0;
    for (const SurveyedDevice& device : report->devices) {
        if (device.present) {
            JudgePresent(device, *report, report);
            ++present;
            presentFailed += report->deviceOk.back() ? 0 : 1;
        } else {
            JudgeAbsent(device, report);
            ++absent;
            absentFailed += report->deviceOk.back() ? 0 : 1;
        }
    }
    auto detail = [](size_t all, size_t failed, const char16_t* how) {
        if (all == 0) {
            return std::u16string(how);
        }
        return failed == 0
                   ? Count(all, u"device", u"devices")
                   : Decimal(failed) + u" of " + Count(all, u"device", u"devices") + u" failing";
    };
    report->conditions.push_back({u"present devices use the INF", presentFailed == 0,
                                  detail(present, presentFailed, u"no present device")});
    report->conditions.push_back({u"absent devices marked for reinstallation", absentFailed == 0,
                                  detail(absent, absentFailed, u"no absent device")});
    report->verified = true;
    for (const Condition& condition : report->conditions) {
        report->verified = report->verified && condition.ok;
    }
}

void Plan(Report* report) {
    const size_t present = PresentDevices(*report).size();
    if (report->presentLookup == DEVICE_EXIST_AND_PLUG && present == 0) {
        report->notes.push_back(
            u"the lookup of present devices finds a match, but no matching device's node exists "
            u"now: Installer will try a driver update rather than stage the INF");
    } else if (report->presentLookup == DEVICE_UNPLUG && present != 0) {
        report->notes.push_back(u"the lookup of present devices finds no match, but " +
                                Count(present, u"matching device has", u"matching devices have") +
                                u" a node now: the INF is staged, not installed");
    }
    for (const SurveyedDevice* device : AbsentDevices(*report)) {
        if (!device->hasFlags) {
            report->notes.push_back(device->instanceId +
                                    u" has no config flag word: marking it fails and stops "
                                    u"the marking there");
        }
    }
}

} // namespace

std::vector<const SurveyedDevice*> PresentDevices(const Report& report) {
    std::vector<const SurveyedDevice*> found;
    for (const SurveyedDevice& device : report.devices) {
        if (device.present) {
            found.push_back(&device);
        }
    }
    return found;
}

std::vector<const SurveyedDevice*> AbsentDevices(const Report& report) {
    std::vector<const SurveyedDevice*> found;
    for (const SurveyedDevice& device : report.devices) {
        if (!device.present) {
            found.push_back(&device);
        }
    }
    return found;
}

bool BuildReport(const CheckRequest& request, Report* report, std::u16string* failure) {
    report->request = request;
    report->rule = MatchRuleName();
    if (request.mode == CheckMode::Plan) {
        report->presentLookup =
            GetDeviceStatus(request.hardwareId, DevSvc::DIGCF_PRESENT | DevSvc::DIGCF_ALLCLASSES);
        if (report->presentLookup != DEVICE_EXIST_AND_PLUG &&
            report->presentLookup != DEVICE_UNPLUG) {
            *failure = u"no device information set of present devices could be built (error 0x" +
                       Hex(DevSvc::LastError()) + u")";
            return false;
        }
    }
    // The pre-flight's driver search runs on each matching device's element in the walk's set.
    PreflightRun preflight(request.inf);
    const DeviceInspector inspect =
        [&preflight](DevSvc::DevInfoSet set, DevSvc::DevInfoData* element,
                     const SurveyedDevice& device) { preflight.Inspect(set, element, device); };
    PackageState state;
    const bool read =
        SurveyDevices(request.hardwareId, &state.devices, failure, inspect) &&
        (request.mode == CheckMode::Plan || ReadStagedCopies(request, &state, failure));
    if (!read) {
        return false;
    }
    report->package = preflight.Finish(request.hardwareId, state.devices);
    report->devices = std::move(state.devices);
    report->infFolder = std::move(state.infFolder);
    report->stagedCopies = std::move(state.copies);
    report->foreignCopies = std::move(state.foreign);
    if (DevSvc::RunningUnderWow64()) {
        report->notes.push_back(
            request.mode == CheckMode::Plan
                ? u"this 32-bit program runs on 64-bit Windows, where the 32-bit Installer cannot "
                  u"install or stage drivers (ERROR_IN_WOW64): use the x86-64 programs"
                : u"this 32-bit program runs on 64-bit Windows, where only the x86-64 Installer "
                  u"can install drivers; the state is checked all the same");
    }
    if (request.mode == CheckMode::Plan) {
        Plan(report);
    } else {
        Verify(report);
    }
    return true;
}

#include "Removal.h"

#include "DeviceChanges.h"
#include "DeviceServices.h"
#include "MatchRule.h"
#include "Numbers.h"
#include "PackageState.h"

using namespace DevSvc;
using Text::Count;

namespace {

// The copy among `copies` that `driverInf` names, or copies.size().
size_t CopyNamed(const std::u16string& driverInf, const std::vector<CopyRemoval>& copies) {
    size_t index = 0;
    while (index < copies.size() && !NamesCopy(driverInf, copies[index].name)) {
        ++index;
    }
    return index;
}

bool IsStaged(const std::u16string& name, const std::vector<std::u16string>& staged) {
    for (const std::u16string& copy : staged) {
        if (SameName(copy, name)) {
            return true;
        }
    }
    return false;
}

// Removes each copy. DiUninstallDriverW first; once it proves missing (a function that cannot be
// loaded stays missing), SetupUninstallOEMInfW for the rest, which without --force removes
// nothing while a present device uses any of them.
void RemoveCopies(const Removal& removal, std::vector<CopyRemoval>* copies) {
    bool fallback = false;
    bool held = false;
    for (CopyRemoval& copy : *copies) {
        if (!fallback) {
            const std::u16string path = removal.infFolder + u"\\" + copy.name;
            bool reboot = false;
            const bool done = UninstallDriver(path.c_str(), 0, &reboot);
            const uint32_t error = done ? 0 : LastError();
            if (error != ERROR_MOD_NOT_FOUND_CODE && error != ERROR_PROC_NOT_FOUND_CODE) {
                copy.call = RemovalCall::UninstallDriver;
                copy.error = error;
                copy.restart = done && reboot;
                continue;
            }
            fallback = true;
            for (const DeviceRemoval& device : removal.devices) {
                held = held || (device.present && !removal.request.force);
            }
        }
        if (held) {
            copy.held = true;
            continue;
        }
        copy.call = RemovalCall::UninstallInf;
        if (!UninstallOEMInf(copy.name.c_str(), removal.request.force ? SUOI_FORCEDELETE : 0)) {
            copy.error = LastError();
        }
    }
}

// Fills in what the devices and copies look like after the removal.
void Judge(const PackageState& after, Removal* removal) {
    for (CopyRemoval& copy : removal->copies) {
        copy.staged = IsStaged(copy.name, after.copies);
    }
    // A copy with the INF's bytes that was not there before: reported all the same.
    for (const std::u16string& name : after.copies) {
        if (CopyNamed(name, removal->copies) == removal->copies.size()) {
            removal->copies.push_back({name});
        }
    }
    for (DeviceRemoval& device : removal->devices) {
        device.found = false;
    }
    for (const SurveyedDevice& now : after.devices) {
        DeviceRemoval* device = nullptr;
        for (DeviceRemoval& before : removal->devices) {
            device = before.instanceId == now.instanceId ? &before : device;
        }
        const size_t named = CopyNamed(now.driverInf, removal->copies);
        if (device == nullptr) {
            if (named == removal->copies.size()) {
                continue;
            }
            DeviceRemoval added;
            added.instanceId = now.instanceId;
            added.copy = named;
            removal->devices.push_back(added);
            device = &removal->devices.back();
        }
        device->found = true;
        device->present = now.present;
        device->driverAfter = now.driverInf;
        device->restart = NeedsRestart(now);
        device->ok =
            !now.present || named == removal->copies.size() || !removal->copies[named].staged;
        if (now.present && named != removal->copies.size() && !removal->copies[named].staged &&
            removal->copies[named].call == RemovalCall::UninstallInf) {
            removal->notes.push_back(now.instanceId + u" still names " + now.driverInf +
                                     u", deleted under it: it keeps its driver until another is "
                                     u"installed on it");
        }
    }
    removal->removed = after.copies.empty();
    for (const CopyRemoval& copy : removal->copies) {
        removal->restartRequired = removal->restartRequired || copy.restart;
    }
    for (const DeviceRemoval& device : removal->devices) {
        removal->restartRequired = removal->restartRequired || device.restart;
    }
}

} // namespace

const char16_t* CallName(RemovalCall call) {
    switch (call) {
    case RemovalCall::UninstallDriver:
        return u"DiUninstallDriverW";
    case RemovalCall::UninstallInf:
        return u"SetupUninstallOEMInfW";
    case RemovalCall::None:
        break;
    }
    return u"";
}

bool RemovePackage(const RemoveRequest& request, Removal* removal, std::u16string* failure) {
    removal->request = request;
    removal->rule = MatchRuleName();
    PackageState before;
    if (!ReadPackageState(request, &before, failure)) {
        *failure = u"cannot read the device state: " + *failure;
        return false;
    }
    removal->infFolder = before.infFolder;
    if (RunningUnderWow64()) {
        removal->notes.push_back(u"this 32-bit program runs on 64-bit Windows, where only an "
                                 u"x86-64 program can remove drivers (ERROR_IN_WOW64): use the "
                                 u"x86-64 InstallerRemove");
    }
    for (const std::u16string& name : before.copies) {
        removal->copies.push_back({name});
    }
    for (const SurveyedDevice& device : before.devices) {
        const size_t named = CopyNamed(device.driverInf, removal->copies);
        if (named != removal->copies.size()) {
            DeviceRemoval used;
            used.instanceId = device.instanceId;
            used.copy = named;
            used.present = device.present;
            used.driverBefore = device.driverInf;
            used.driverAfter = device.driverInf;
            removal->devices.push_back(used);
        }
    }
    if (request.dryRun) {
        return true;
    }
    RemoveCopies(*removal, &removal->copies);
    PackageState after;
    if (!ReadPackageState(request, &after, failure)) {
        size_t calls = 0;
        for (const CopyRemoval& copy : removal->copies) {
            calls += copy.call != RemovalCall::None ? 1 : 0;
        }
        *failure = u"cannot read the device state after " +
                   Count(calls, u"removal call", u"removal calls") + u": " + *failure;
        return false;
    }
    Judge(after, removal);
    return true;
}

#include "Removal.h"

#include "DeviceChanges.h"
#include "DeviceServices.h"
#include "DeviceSurvey.h"
#include "InfStore.h"
#include "MatchRule.h"
#include "Numbers.h"
#include "PackageState.h"

using namespace DevSvc;
using Text::Count;
using Text::Hex;

namespace {

// What the machine holds now: the matching devices, every other device, and the copies published
// for the INF with its bytes.
struct State {
    std::vector<SurveyedDevice> devices;
    std::vector<SurveyedDevice> others;
    std::vector<std::u16string> copies;
    std::vector<ForeignCopy> foreign;
};

bool ReadState(const PackageRequest& request, std::u16string* folder, State* state,
               std::u16string* failure) {
    PackageState package;
    std::vector<SurveyedDevice> every;
    if (!ReadPackageState(request, &package, failure) || !SurveyEveryDevice(&every, failure)) {
        return false;
    }
    *folder = std::move(package.infFolder);
    state->devices = std::move(package.devices);
    state->copies = std::move(package.copies);
    state->foreign = std::move(package.foreign);
    for (SurveyedDevice& device : every) {
        bool matching = false;
        for (const SurveyedDevice& match : state->devices) {
            matching = matching || match.instanceId == device.instanceId;
        }
        if (!matching) {
            state->others.push_back(std::move(device));
        }
    }
    return true;
}

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

// Each copy's call and what it answered, for a failure to read the state afterwards.
std::u16string CallsMade(const std::vector<CopyRemoval>& copies) {
    std::u16string text;
    for (const CopyRemoval& copy : copies) {
        text += u"\n  " + copy.name + u": ";
        if (copy.call == RemovalCall::None) {
            text += u"not tried";
        } else {
            text += std::u16string(CallName(copy.call)) +
                    (copy.error == 0 ? u" reported success"
                                     : u" failed (error 0x" + Hex(copy.error) + u")");
        }
    }
    return text;
}

// With --force, a note for each device outside the requested ID that used a copy, saying what
// became of the package under it.
void NoteOutsideDevices(Removal* removal) {
    for (const DeviceRemoval& device : removal->devices) {
        const CopyRemoval& copy = removal->copies[device.copy];
        if (!device.outside || !copy.usedOutside) {
            continue;
        }
        const std::u16string who = device.instanceId + u", outside the requested ID, ";
        if (removal->request.dryRun) {
            removal->notes.push_back(who + u"uses " + copy.name +
                                     u": DiUninstallDriverW would take the package off it too; "
                                     u"without DiUninstallDriverW the copy is kept");
        } else if (copy.held == Held::OutsideWithoutUninstallDriver) {
            removal->notes.push_back(who + u"uses " + copy.name +
                                     u": kept, since without DiUninstallDriverW it would be "
                                     u"deleted under that device");
        } else if (!copy.staged && copy.call == RemovalCall::UninstallDriver) {
            removal->notes.push_back(who + u"used " + copy.name +
                                     u": DiUninstallDriverW took the package off it too");
        } else {
            removal->notes.push_back(who + u"uses " + copy.name + u", which is still staged");
        }
    }
}

// Removes each copy not already refused. DiUninstallDriverW first; once it proves missing (a
// function that cannot be loaded stays missing), SetupUninstallOEMInfW for the rest, which without
// --force removes nothing while a present matching device uses any of them, and which never
// deletes a copy that a device outside the requested ID uses. Only a failure to load
// DiUninstallDriverW leads there: an error of the call itself, 126 or 127 included, is its answer.
void RemoveCopies(const Removal& removal, std::vector<CopyRemoval>* copies) {
    bool fallback = false;
    bool held = false;
    for (CopyRemoval& copy : *copies) {
        if (copy.held != Held::No) {
            continue;
        }
        if (!fallback && BindUninstallDriver()) {
            const std::u16string path = removal.infFolder + u"\\" + copy.name;
            bool reboot = false;
            const bool done = UninstallDriver(path.c_str(), 0, &reboot);
            copy.call = RemovalCall::UninstallDriver;
            copy.error = done ? 0 : LastError();
            copy.restart = done && reboot;
            continue;
        }
        if (!fallback) {
            fallback = true;
            for (const DeviceRemoval& device : removal.devices) {
                held = held || (device.present && !device.outside && !removal.request.force);
            }
        }
        if (copy.usedOutside) {
            copy.held = Held::OutsideWithoutUninstallDriver;
            continue;
        }
        if (held) {
            copy.held = Held::PresentDevice;
            continue;
        }
        copy.call = RemovalCall::UninstallInf;
        if (!BindUninstallOEMInf()) {
            copy.error = LastError();
            copy.unbound = true;
            continue;
        }
        if (!UninstallOEMInf(copy.name.c_str(), removal.request.force ? SUOI_FORCEDELETE : 0)) {
            copy.error = LastError();
        }
    }
}

// Fills in what the devices and copies look like after the removal.
void Judge(const State& after, Removal* removal) {
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
    std::vector<std::pair<const SurveyedDevice*, bool>> seen;
    for (const SurveyedDevice& now : after.devices) {
        seen.emplace_back(&now, false);
    }
    for (const SurveyedDevice& now : after.others) {
        seen.emplace_back(&now, true);
    }
    for (const auto& [now, outside] : seen) {
        DeviceRemoval* device = nullptr;
        for (DeviceRemoval& before : removal->devices) {
            device = before.instanceId == now->instanceId ? &before : device;
        }
        const size_t named = CopyNamed(now->driverInf, removal->copies);
        if (device == nullptr) {
            if (named == removal->copies.size()) {
                continue;
            }
            DeviceRemoval added;
            added.instanceId = now->instanceId;
            added.outside = outside;
            added.copy = named;
            removal->devices.push_back(added);
            device = &removal->devices.back();
        }
        device->found = true;
        device->present = now->present;
        device->driverAfter = now->driverInf;
        device->restart = NeedsRestart(*now);
        device->ok =
            !now->present || named == removal->copies.size() || !removal->copies[named].staged;
        if (now->present && named != removal->copies.size() && !removal->copies[named].staged &&
            removal->copies[named].call == RemovalCall::UninstallInf) {
            removal->notes.push_back(now->instanceId + u" still names " + now->driverInf +
                                     u", deleted under it: it keeps its driver until another is "
                                     u"installed on it");
        }
    }
    removal->foreign = after.foreign;
    removal->removed = after.copies.empty() && after.foreign.empty();
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
    State before;
    if (!ReadState(request, &removal->infFolder, &before, failure)) {
        *failure = u"cannot read the device state: " + *failure;
        return false;
    }
    if (RunningUnderWow64()) {
        removal->notes.push_back(u"this 32-bit program runs on 64-bit Windows, where only an "
                                 u"x86-64 program can remove drivers (ERROR_IN_WOW64): use the "
                                 u"x86-64 InstallerRemove");
    }
    for (const std::u16string& name : before.copies) {
        removal->copies.push_back({name});
    }
    removal->foreign = before.foreign;
    for (const auto& [devices, outside] :
         {std::pair{&before.devices, false}, std::pair{&before.others, true}}) {
        for (const SurveyedDevice& device : *devices) {
            const size_t named = CopyNamed(device.driverInf, removal->copies);
            if (named == removal->copies.size()) {
                continue;
            }
            DeviceRemoval used;
            used.instanceId = device.instanceId;
            used.outside = outside;
            used.copy = named;
            used.present = device.present;
            used.driverBefore = device.driverInf;
            used.driverAfter = device.driverInf;
            removal->devices.push_back(used);
            removal->copies[named].usedOutside = removal->copies[named].usedOutside || outside;
        }
    }
    // Without --force a copy that a device outside the requested ID uses is refused.
    for (CopyRemoval& copy : removal->copies) {
        copy.held = copy.usedOutside && !request.force ? Held::OutsideDevice : Held::No;
    }
    if (!request.dryRun) {
        RemoveCopies(*removal, &removal->copies);
        State after;
        std::u16string folder;
        if (!ReadState(request, &folder, &after, failure)) {
            size_t calls = 0;
            for (const CopyRemoval& copy : removal->copies) {
                calls += copy.call != RemovalCall::None ? 1 : 0;
            }
            *failure = u"cannot read the device state after " +
                       Count(calls, u"removal call", u"removal calls") + u": " + *failure +
                       CallsMade(removal->copies);
            return false;
        }
        Judge(after, removal);
    }
    if (request.force) {
        NoteOutsideDevices(removal);
    }
    removal->refused = !removal->foreign.empty();
    for (const CopyRemoval& copy : removal->copies) {
        removal->refused = removal->refused || copy.held != Held::No;
    }
    return true;
}

#include "RemoveReport.h"

#include "DeviceChanges.h"
#include "DeviceServices.h"
#include "InfStore.h"
#include "Json.h"
#include "Numbers.h"

using Text::Hex;

namespace {

constexpr char16_t kOutside[] =
    u"a device outside the requested ID uses it, and only --force takes it off such a device";

std::u16string WhyStaged(const CopyRemoval& copy) {
    const std::u16string call = CallName(copy.call);
    const std::u16string error = u" (error 0x" + Hex(copy.error) + u")";
    switch (copy.held) {
    case Held::PresentDevice:
        return u"not tried: a present device uses the package, and without DiUninstallDriverW "
               u"only --force removes a copy in use";
    case Held::OutsideDevice:
        return std::u16string(u"not tried: ") + kOutside;
    case Held::OutsideWithoutUninstallDriver:
        return u"not tried: a device outside the requested ID uses it, and without "
               u"DiUninstallDriverW it would be deleted under that device";
    case Held::No:
        break;
    }
    if (copy.call == RemovalCall::None) {
        return u"staged during the removal";
    }
    if (copy.error == 0) {
        return call + u" reported success but left it in place";
    }
    if (copy.unbound) {
        return call + u" could not be loaded from the system folder" + error;
    }
    if (copy.error == DevSvc::ERROR_INF_IN_USE_BY_DEVICES_CODE) {
        return call + u" refused: a device uses it" + error;
    }
    return call + u" failed" + error;
}

std::u16string CopyDetail(const Removal& removal, const CopyRemoval& copy) {
    if (removal.request.dryRun) {
        return copy.held == Held::OutsideDevice
                   ? std::u16string(u"FAILED, would stay staged: ") + kOutside
                   : u"would be removed";
    }
    if (copy.staged) {
        return u"FAILED, still staged: " + WhyStaged(copy);
    }
    if (copy.call == RemovalCall::None) {
        return u"no longer staged";
    }
    return std::u16string(u"removed by ") + CallName(copy.call) +
           (copy.restart ? u", which asks for a restart" : u"");
}

std::u16string DeviceDetail(const Removal& removal, const DeviceRemoval& device) {
    std::u16string text = device.present ? u"present" : u"absent";
    if (device.outside) {
        text += u", outside the requested ID";
    }
    const CopyRemoval& copy = removal.copies[device.copy];
    if (removal.request.dryRun) {
        return text + u", uses it";
    }
    if (!device.found) {
        return u"used it, no longer found";
    }
    if (!NamesCopy(device.driverBefore, copy.name)) {
        text += u", uses it now";
    } else if (SameName(device.driverAfter, device.driverBefore)) {
        text += copy.staged ? u", still uses it" : u", still names it, though it is gone";
    } else if (device.driverAfter.empty()) {
        text += u", used it, now has no driver from an INF";
    } else {
        text += u", used it, driver now from " + device.driverAfter;
    }
    return text + (device.restart ? u", restart needed" : u"");
}

std::u16string JsonDevice(const Removal& removal, const DeviceRemoval& device) {
    return JsonObject()
        .String(u"instanceId", device.instanceId)
        .Bool(u"outside", device.outside)
        .Bool(u"present", device.present)
        .StringOrNull(u"driverBefore", device.driverBefore)
        .StringOrNull(u"driverAfter", device.driverAfter)
        .Bool(u"restartRequired", device.restart)
        .Bool(u"ok", device.ok)
        .String(u"detail", DeviceDetail(removal, device))
        .Close();
}

// A copy with the INF's bytes that is another package's: never removed.
std::u16string ForeignDetail(const ForeignCopy& copy) {
    return u"FAILED, still staged: another package with the INF's bytes, not removed: " + copy.why;
}

std::u16string JsonCopy(const Removal& removal, size_t index) {
    const CopyRemoval& copy = removal.copies[index];
    std::vector<std::u16string> devices;
    for (const DeviceRemoval& device : removal.devices) {
        if (device.copy == index) {
            devices.push_back(JsonDevice(removal, device));
        }
    }
    return JsonObject()
        .String(u"name", copy.name)
        .StringOrNull(u"call", CallName(copy.call))
        .Number(u"error", copy.error)
        .Bool(u"staged", copy.staged)
        .String(u"detail", CopyDetail(removal, copy))
        .Value(u"devices", JsonArray(devices))
        .Close();
}

} // namespace

std::u16string RemovalResult(const Removal& removal) {
    if (removal.request.dryRun) {
        return u"dry run, nothing changed";
    }
    if (!removal.removed) {
        return u"not removed";
    }
    if (removal.copies.empty()) {
        return u"nothing to remove";
    }
    return removal.restartRequired ? u"removed, restart needed" : u"removed";
}

std::u16string RemovalText(const Removal& removal) {
    std::u16string text = RequestLine(removal.request.dryRun ? u"dry run of remove" : u"remove",
                                      removal.request, removal.rule);
    if (removal.copies.empty() && removal.foreign.empty()) {
        text += u"no copy in " + removal.infFolder + u" holds the INF's bytes\n";
    }
    for (size_t c = 0; c < removal.copies.size(); ++c) {
        const CopyRemoval& copy = removal.copies[c];
        text += u"copy " + removal.infFolder + u"\\" + copy.name + u": " +
                CopyDetail(removal, copy) + u"\n";
        for (const DeviceRemoval& device : removal.devices) {
            if (device.copy == c) {
                text += u"  " + device.instanceId + u": " + DeviceDetail(removal, device) + u"\n";
            }
        }
    }
    for (const ForeignCopy& copy : removal.foreign) {
        text +=
            u"copy " + removal.infFolder + u"\\" + copy.name + u": " + ForeignDetail(copy) + u"\n";
    }
    for (const std::u16string& note : removal.notes) {
        text += u"note: " + note + u"\n";
    }
    return text + u"result: " + RemovalResult(removal) + u"\n";
}

std::u16string RemovalJson(const Removal& removal) {
    const RemoveRequest& request = removal.request;
    std::vector<std::u16string> copies;
    for (size_t c = 0; c < removal.copies.size(); ++c) {
        copies.push_back(JsonCopy(removal, c));
    }
    std::vector<std::u16string> others;
    for (const ForeignCopy& copy : removal.foreign) {
        others.push_back(
            JsonObject().String(u"name", copy.name).String(u"detail", ForeignDetail(copy)).Close());
    }
    return JsonObject()
               .String(u"command", u"remove")
               .Bool(u"dryRun", request.dryRun)
               .Bool(u"force", request.force)
               .String(u"hardwareId", request.hardwareId)
               .String(u"requestedId", request.requestedId)
               .String(u"rule", removal.rule)
               .String(u"inf", request.inf)
               .String(u"infFolder", removal.infFolder)
               .Value(u"copies", JsonArray(copies))
               .Value(u"otherPackages", JsonArray(others))
               .Value(u"notes", JsonStrings(removal.notes))
               .Bool(u"restartRequired", removal.restartRequired)
               .String(u"result", RemovalResult(removal))
               .Close() +
           u"\n";
}

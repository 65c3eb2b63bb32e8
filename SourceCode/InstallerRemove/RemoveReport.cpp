#include "RemoveReport.h"

#include "DeviceChanges.h"
#include "DeviceServices.h"
#include "InfStore.h"
#include "ReportFields.h"

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
    if (copy.error == DevSvc::ERROR_MOD_NOT_FOUND_CODE ||
        copy.error == DevSvc::ERROR_PROC_NOT_FOUND_CODE) {
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

std::u16string JsonText(const std::u16string& text) {
    return text.empty() ? u"null" : JsonString(text);
}

std::u16string JsonDevice(const Removal& removal, const DeviceRemoval& device) {
    return u"{\"instanceId\":" + JsonString(device.instanceId) + u",\"outside\":" +
           JsonBool(device.outside) + u",\"present\":" + JsonBool(device.present) +
           u",\"driverBefore\":" + JsonText(device.driverBefore) + u",\"driverAfter\":" +
           JsonText(device.driverAfter) + u",\"restartRequired\":" + JsonBool(device.restart) +
           u",\"ok\":" + JsonBool(device.ok) + u",\"detail\":" +
           JsonString(DeviceDetail(removal, device)) + u"}";
}

std::u16string JsonCopy(const Removal& removal, size_t index) {
    const CopyRemoval& copy = removal.copies[index];
    std::u16string json = u"{\"name\":" + JsonString(copy.name) + u",\"call\":" +
                          JsonText(CallName(copy.call)) + u",\"error\":" + Decimal(copy.error) +
                          u",\"staged\":" + JsonBool(copy.staged) + u",\"detail\":" +
                          JsonString(CopyDetail(removal, copy)) + u",\"devices\":[";
    bool first = true;
    for (const DeviceRemoval& device : removal.devices) {
        if (device.copy == index) {
            json += first ? u"" : u",";
            json += JsonDevice(removal, device);
            first = false;
        }
    }
    return json + u"]}";
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
    if (removal.copies.empty()) {
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
    for (const std::u16string& note : removal.notes) {
        text += u"note: " + note + u"\n";
    }
    return text + u"result: " + RemovalResult(removal) + u"\n";
}

std::u16string RemovalJson(const Removal& removal) {
    const RemoveRequest& request = removal.request;
    std::u16string json = u"{\"command\":\"remove\",\"dryRun\":" + JsonBool(request.dryRun) +
                          u",\"force\":" + JsonBool(request.force) + u",\"hardwareId\":" +
                          JsonString(request.csHwID) + u",\"requestedId\":" +
                          JsonString(request.requestedId) + u",\"rule\":" +
                          JsonString(removal.rule) + u",\"inf\":" + JsonString(request.inf) +
                          u",\"infFolder\":" + JsonString(removal.infFolder) + u",\"copies\":[";
    for (size_t c = 0; c < removal.copies.size(); ++c) {
        json += c == 0 ? u"" : u",";
        json += JsonCopy(removal, c);
    }
    json += u"],\"notes\":[";
    for (size_t n = 0; n < removal.notes.size(); ++n) {
        json += n == 0 ? u"" : u",";
        json += JsonString(removal.notes[n]);
    }
    return json + u"],\"restart_required\":" + JsonBool(removal.restartRequired) + u",\"result\":" +
           JsonString(RemovalResult(removal)) + u"}\n";
}

#include "ReportFormat.h"

#include "DeviceStatus.h"

namespace {

// "1 present device", "2 absent devices".
std::u16string Devices(size_t n, const char16_t* kind) {
    return Decimal(n) + u" " + kind + (n == 1 ? u" device" : u" devices");
}

std::u16string DriverText(const Preflight& package, const DevSvc::DriverChoice& choice) {
    if (!package.opened) {
        return u"not searched";
    }
    if (!choice.found) {
        return u"no driver for this device on " + package.platform;
    }
    return u"driver \"" + choice.description + u"\", install section " + choice.installSection +
           u", matched " + choice.hardwareId;
}

// The pre-flight's verdict, the catalog, each device's driver and the reasons.
std::u16string PackageText(const Preflight& package) {
    std::u16string text =
        u"package for " + package.platform + u": " +
        (package.reasons.empty() ? u"will install here\n" : u"will not install here\n");
    if (package.opened) {
        text += package.catalog.empty() ? std::u16string(u"  catalog: none\n")
                                        : u"  catalog: " + package.catalog + u" (" +
                                              package.catalogKey + u"), signature: not checked\n";
    }
    for (const DeviceDriver& driver : package.drivers) {
        if (package.opened) {
            text += u"  " + driver.instanceId + u": " + DriverText(package, driver.choice) + u"\n";
        }
    }
    for (const std::u16string& reason : package.reasons) {
        text += u"  reason: " + reason + u"\n";
    }
    return text;
}

std::u16string PlanText(const Report& report) {
    std::u16string text = PackageText(report.package);
    const std::vector<const SurveyedDevice*> present = PresentDevices(report);
    if (report.presentLookup == DEVICE_EXIST_AND_PLUG) {
        text += u"1. install the driver on " + Devices(present.size(), u"present") +
                (present.empty() ? u"\n" : u":\n");
        for (const SurveyedDevice* device : present) {
            text += u"     " + device->instanceId + u"\n";
        }
    } else {
        text += u"1. stage the INF (no present device matches)\n";
    }
    const std::vector<const SurveyedDevice*> absent = AbsentDevices(report);
    if (absent.empty()) {
        text += u"2. nothing to mark\n";
    } else {
        text += u"2. mark " + Devices(absent.size(), u"absent") + u" for reinstallation:\n";
        for (const SurveyedDevice* device : absent) {
            text += u"     " + device->instanceId;
            text += device->hasFlags ? u"  config flags now 0x" + Hex(device->configFlags, 8)
                                     : std::u16string(u"  no config flags");
            text += u"\n";
        }
    }
    return text;
}

std::u16string VerifyText(const Report& report) {
    std::u16string text;
    for (size_t c = 0; c < report.conditions.size(); ++c) {
        const Condition& condition = report.conditions[c];
        text += condition.name + u": " + (condition.ok ? u"ok, " : u"FAILED, ") + condition.detail +
                u"\n";
        // Condition 1 and 2 list the present devices, condition 3 the absent ones.
        if (c == 0) {
            continue;
        }
        for (size_t d = 0; d < report.devices.size(); ++d) {
            if (report.devices[d].present == (c == 1)) {
                text += u"  " + report.devices[d].instanceId + u": " + report.verdicts[d] + u"\n";
            }
        }
    }
    if (!report.verified) {
        for (const std::u16string& reason : report.package.reasons) {
            text += u"package: " + reason + u"\n";
        }
    }
    return text + u"result: " +
           (!report.verified         ? u"not verified"
            : report.restartRequired ? u"verified, restart needed"
                                     : u"verified") +
           u"\n";
}

std::u16string JsonDevice(const Report& report, size_t index) {
    const SurveyedDevice& device = report.devices[index];
    std::u16string json = u"{\"instanceId\":" + JsonString(device.instanceId) + u",\"present\":" +
                          JsonBool(device.present) + u",\"configFlags\":" +
                          (device.hasFlags ? Decimal(device.configFlags) : u"null") +
                          u",\"driverInf\":" +
                          (device.driverInf.empty() ? u"null" : JsonString(device.driverInf));
    if (index < report.package.drivers.size() && report.package.drivers[index].choice.found) {
        const DevSvc::DriverChoice& choice = report.package.drivers[index].choice;
        json += u",\"driver\":{\"description\":" + JsonString(choice.description) +
                u",\"installSection\":" + JsonString(choice.installSection) + u",\"matchedId\":" +
                JsonString(choice.hardwareId) + u"}";
    } else {
        json += u",\"driver\":null";
    }
    if (index < report.verdicts.size()) {
        json += u",\"ok\":" + JsonBool(report.deviceOk[index]) + u",\"detail\":" +
                JsonString(report.verdicts[index]);
    }
    return json + u"}";
}

template <typename Item>
std::u16string JsonList(const std::vector<Item>& items,
                        std::u16string (*one)(const Report&, const Item&), const Report& report) {
    std::u16string json = u"[";
    for (size_t i = 0; i < items.size(); ++i) {
        if (i != 0) {
            json += u',';
        }
        json += one(report, items[i]);
    }
    return json + u"]";
}

std::u16string IdOf(const Report&, const SurveyedDevice* const& device) {
    return JsonString(device->instanceId);
}

std::u16string Text(const Report&, const std::u16string& text) {
    return JsonString(text);
}

std::u16string JsonCondition(const Report&, const Condition& condition) {
    return u"{\"name\":" + JsonString(condition.name) + u",\"ok\":" + JsonBool(condition.ok) +
           u",\"detail\":" + JsonString(condition.detail) + u"}";
}

} // namespace

std::u16string ReportText(const Report& report) {
    std::u16string text = RequestLine(report.request.mode == CheckMode::Plan ? u"plan" : u"verify",
                                      report.request, report.rule);
    text += report.request.mode == CheckMode::Plan ? PlanText(report) : VerifyText(report);
    for (const std::u16string& note : report.notes) {
        text += u"note: " + note + u"\n";
    }
    return text;
}

std::u16string ReportJson(const Report& report) {
    const bool plan = report.request.mode == CheckMode::Plan;
    std::u16string json = u"{\"command\":" + JsonString(plan ? u"plan" : u"verify") +
                          u",\"hardwareId\":" + JsonString(report.request.csHwID) +
                          u",\"requestedId\":" + JsonString(report.request.requestedId) +
                          u",\"rule\":" + JsonString(report.rule) + u",\"inf\":" +
                          JsonString(report.request.inf) + u",\"devices\":[";
    for (size_t i = 0; i < report.devices.size(); ++i) {
        if (i != 0) {
            json += u',';
        }
        json += JsonDevice(report, i);
    }
    json += u"]";
    if (plan) {
        const bool install = report.presentLookup == DEVICE_EXIST_AND_PLUG;
        json += u",\"action\":" + JsonString(install ? u"install" : u"stage");
        json += u",\"install\":" +
                JsonList(install ? PresentDevices(report) : std::vector<const SurveyedDevice*>{},
                         IdOf, report);
        json += u",\"mark\":" + JsonList(AbsentDevices(report), IdOf, report);
    } else {
        json += u",\"infFolder\":" + JsonString(report.infFolder);
        json += u",\"stagedCopies\":" + JsonList(report.stagedCopies, Text, report);
        json += u",\"conditions\":" + JsonList(report.conditions, JsonCondition, report);
        json += u",\"restart_required\":" + JsonBool(report.restartRequired);
    }
    const Preflight& package = report.package;
    json += u",\"package\":{\"platform\":" + JsonString(package.platform) + u",\"willInstall\":" +
            JsonBool(package.reasons.empty()) + u",\"catalog\":" +
            (package.catalog.empty() ? u"null" : JsonString(package.catalog)) +
            u",\"signature\":\"not checked\",\"reasons\":" +
            JsonList(package.reasons, Text, report) + u"}";
    json += u",\"notes\":" + JsonList(report.notes, Text, report);
    json += u",\"result\":" + JsonString(plan && !package.reasons.empty() ? u"will not install"
                                         : plan                           ? u"planned"
                                         : report.verified                ? u"verified"
                                                                          : u"not verified");
    return json + u"}\n";
}

std::u16string DetectLine(const Report& report) {
    return u"verified: " + report.request.csHwID + u" with " +
           (report.stagedCopies.empty() ? std::u16string(u"the INF")
                                        : report.stagedCopies.front()) +
           (report.restartRequired ? u", restart needed\n" : u"\n");
}

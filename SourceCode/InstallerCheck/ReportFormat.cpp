#include "ReportFormat.h"

#include "DeviceStatus.h"
#include "Json.h"
#include "Numbers.h"

using Text::Decimal;
using Text::Hex;

namespace {

// "1 present device", "2 absent devices".
std::u16string Devices(size_t n, const char16_t* kind) {
    return Decimal(n) + u" " + kind + (n == 1 ? u" device" : u" devices");
}

std::u16string PlanText(const Report& report) {
    std::u16string text;
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
    return text + u"result: " +
           (!report.verified         ? u"not verified"
            : report.restartRequired ? u"verified, restart needed"
                                     : u"verified") +
           u"\n";
}

std::u16string JsonDevice(const Report& report, size_t index) {
    const SurveyedDevice& device = report.devices[index];
    JsonObject json;
    json.String(u"instanceId", device.instanceId)
        .Bool(u"present", device.present)
        .Value(u"configFlags", device.hasFlags ? Decimal(device.configFlags) : u"null")
        .StringOrNull(u"driverInf", device.driverInf);
    if (index < report.verdicts.size()) {
        json.Bool(u"ok", report.deviceOk[index]).String(u"detail", report.verdicts[index]);
    }
    return json.Close();
}

std::u16string InstanceIds(const std::vector<const SurveyedDevice*>& devices) {
    std::vector<std::u16string> ids;
    for (const SurveyedDevice* device : devices) {
        ids.push_back(device->instanceId);
    }
    return JsonStrings(ids);
}

std::u16string JsonConditions(const std::vector<Condition>& conditions) {
    std::vector<std::u16string> items;
    for (const Condition& condition : conditions) {
        items.push_back(JsonObject()
                            .String(u"name", condition.name)
                            .Bool(u"ok", condition.ok)
                            .String(u"detail", condition.detail)
                            .Close());
    }
    return JsonArray(items);
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
    std::vector<std::u16string> devices;
    for (size_t i = 0; i < report.devices.size(); ++i) {
        devices.push_back(JsonDevice(report, i));
    }
    JsonObject json;
    json.String(u"command", plan ? u"plan" : u"verify")
        .String(u"hardwareId", report.request.csHwID)
        .String(u"requestedId", report.request.requestedId)
        .String(u"rule", report.rule)
        .String(u"inf", report.request.inf)
        .Value(u"devices", JsonArray(devices));
    if (plan) {
        const bool install = report.presentLookup == DEVICE_EXIST_AND_PLUG;
        json.String(u"action", install ? u"install" : u"stage")
            .Value(u"install", InstanceIds(install ? PresentDevices(report)
                                                   : std::vector<const SurveyedDevice*>{}))
            .Value(u"mark", InstanceIds(AbsentDevices(report)));
    } else {
        json.String(u"infFolder", report.infFolder)
            .Value(u"stagedCopies", JsonStrings(report.stagedCopies))
            .Value(u"conditions", JsonConditions(report.conditions))
            .Bool(u"restartRequired", report.restartRequired);
    }
    json.Value(u"notes", JsonStrings(report.notes))
        .String(u"result", plan              ? u"planned"
                           : report.verified ? u"verified"
                                             : u"not verified");
    return json.Close() + u"\n";
}

std::u16string DetectLine(const Report& report) {
    return u"verified: " + report.request.csHwID + u" with " +
           (report.stagedCopies.empty() ? std::u16string(u"the INF")
                                        : report.stagedCopies.front()) +
           (report.restartRequired ? u", restart needed\n" : u"\n");
}

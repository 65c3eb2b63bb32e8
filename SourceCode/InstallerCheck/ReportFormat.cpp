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

std::u16string DriverText(const Preflight& package, const DriverChoice& choice) {
    if (!package.opened) {
        return u"not searched";
    }
    if (!choice.found) {
        return u"no driver for this device on " + package.platform;
    }
    return u"driver \"" + choice.description + u"\", install section " + choice.installSection +
           u", matched " + choice.matchedId;
}

// "checked (SHA256)" or "not checked".
std::u16string MembersText(const Preflight& package) {
    return package.membersChecked.empty() ? std::u16string(u"not checked")
                                          : u"checked (" + package.membersChecked + u")";
}

// Who signed the catalog and whether Windows trusts them: "not read" when the catalog was not
// read as one, "none" when it has no signer.
std::u16string SignatureText(const Preflight& package) {
    if (!package.signature) {
        return u"not read";
    }
    const Signature::SignatureFacts& facts = *package.signature;
    if (!facts.isSigned) {
        return u"none";
    }
    if (facts.signer.empty()) {
        return u"signer unknown";
    }
    return u"signer \"" + facts.signer + u"\" (SHA-1 " + facts.sha1 + u"), root " +
           (facts.root.empty() ? std::u16string(u"none") : u"\"" + facts.root + u"\"") + u", " +
           (facts.microsoftHardware  ? u"signed by Microsoft for hardware"
            : facts.publisherTrusted ? u"publisher trusted"
                                     : u"publisher not trusted");
}

JsonObject SignatureJson(const Preflight& package) {
    const Signature::SignatureFacts& facts = *package.signature;
    JsonObject json;
    json.String(u"algorithm", package.membersChecked)
        .Bool(u"signed", facts.isSigned)
        .StringOrNull(u"signer", facts.signer)
        .StringOrNull(u"sha1", facts.sha1)
        .StringOrNull(u"sha256", facts.sha256)
        .StringOrNull(u"root", facts.root)
        .Bool(u"signatureValid", facts.signatureHolds)
        .Bool(u"chainTrusted", facts.chainTrusted)
        .Bool(u"publisherTrusted", facts.publisherTrusted)
        .Bool(u"microsoftHardware", facts.microsoftHardware);
    return json;
}

// The pre-flight's verdict, the catalog, each device's driver and the reasons.
std::u16string PackageText(const Preflight& package) {
    std::u16string text =
        u"package for " + package.platform + u": " +
        (package.reasons.empty() ? u"will install here\n" : u"will not install here\n");
    if (package.opened) {
        text += package.catalog.empty()
                    ? std::u16string(u"  catalog: none\n")
                    : u"  catalog: " + package.catalog + u" (" + package.catalogKey +
                          u"), members: " + MembersText(package) + u"\n  signature: " +
                          SignatureText(package) + u"\n";
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
    JsonObject json;
    json.String(u"instanceId", device.instanceId)
        .Bool(u"present", device.present)
        .Value(u"configFlags", device.hasFlags ? Decimal(device.configFlags) : u"null")
        .StringOrNull(u"driverInf", device.driverInf);
    if (index < report.package.drivers.size() && report.package.drivers[index].choice.found) {
        const DriverChoice& choice = report.package.drivers[index].choice;
        json.Value(u"driver", JsonObject()
                                  .String(u"description", choice.description)
                                  .String(u"installSection", choice.installSection)
                                  .String(u"matchedId", choice.matchedId)
                                  .Close());
    } else {
        json.Value(u"driver", u"null");
    }
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
        .String(u"hardwareId", report.request.hardwareId)
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
    const Preflight& package = report.package;
    JsonObject packageJson;
    packageJson.String(u"platform", package.platform)
        .Bool(u"willInstall", package.reasons.empty())
        .StringOrNull(u"catalog", package.catalog)
        .String(u"members", MembersText(package));
    packageJson.Value(u"signature", package.signature ? SignatureJson(package).Close() : u"null");
    json.Value(u"package", packageJson.Value(u"reasons", JsonStrings(package.reasons)).Close())
        .Value(u"notes", JsonStrings(report.notes))
        .String(u"result", plan && !package.reasons.empty() ? u"will not install"
                           : plan                           ? u"planned"
                           : report.verified                ? u"verified"
                                                            : u"not verified");
    return json.Close() + u"\n";
}

std::u16string DetectLine(const Report& report) {
    return u"verified: " + report.request.hardwareId + u" with " +
           (report.stagedCopies.empty() ? std::u16string(u"the INF")
                                        : report.stagedCopies.front()) +
           (report.restartRequired ? u", restart needed\n" : u"\n");
}

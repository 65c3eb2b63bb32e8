// What a run of the installation would do on this machine now (plan), and whether the machine is
// in the state a successful run leaves (verify), worked out from the device state without
// changing it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "DeviceSurvey.h"
#include "PackageRequest.h"
#include "Preflight.h"

enum class CheckMode { Plan, Verify };

struct CheckRequest : PackageRequest {
    CheckMode mode = CheckMode::Plan;
};

struct Condition {
    std::u16string name;
    bool ok = false;
    std::u16string detail;
};

struct Report {
    CheckRequest request;
    std::u16string rule;
    std::vector<SurveyedDevice> devices;
    // One verdict per device, in the same order: "ok..." or why it fails. Verify only.
    std::vector<std::u16string> verdicts;
    std::vector<bool> deviceOk;
    // Plan: the installation's own first lookup among present devices (2, 3 or -1).
    int32_t presentLookup = 0;
    // Verify: the INF folder and the staged copies that hold the INF's bytes.
    std::u16string infFolder;
    std::vector<std::u16string> stagedCopies;
    std::vector<ForeignCopy> foreignCopies; // another package's, with the INF's bytes
    std::vector<Condition> conditions;
    std::vector<std::u16string> notes;
    // The package pre-flight; in verify its reasons are shown when the state is not verified.
    Preflight package;
    bool verified = false;
    // Verify: some present device that uses the staged copy needs a restart to run it.
    bool restartRequired = false;
};

// Fills `report` for `request`. False, with `failure`, when the device state could not be read.
bool BuildReport(const CheckRequest& request, Report* report, std::u16string* failure);

// Present and absent devices of a report, in enumeration order.
std::vector<const SurveyedDevice*> PresentDevices(const Report& report);
std::vector<const SurveyedDevice*> AbsentDevices(const Report& report);

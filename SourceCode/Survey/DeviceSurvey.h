// What the system holds for every device whose hardware-ID list matches the requested ID, by the
// same walk and the same match rule as the installation itself. Only reads.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "DeviceServices.h"

struct SurveyedDevice {
    std::u16string instanceId;
    // The node exists now (CM_Get_DevNode_Status succeeds); false: it answers
    // CR_NO_SUCH_DEVINST, the one answer that makes the installation mark the device.
    bool present = false;
    uint32_t nodeStatus = 0;
    uint32_t problem = 0;
    // SPDRP_CONFIGFLAGS: `flagBytes` is the size the system gave; a word is there only when it
    // gave at least 4 bytes. hasFlags false and flagBytes 0: the device has none.
    bool hasFlags = false;
    uint32_t configFlags = 0;
    uint32_t flagBytes = 0;
    // The "InfPath" value of the device's driver key: the INF its driver came from; empty when
    // the device has no driver key or no such value.
    std::u16string driverInf;
};

// The matching devices in enumeration order. False when the state could not be read: no device
// information set, a failing enumeration, a list or a value that could not be read. `failure`
// then says which and why. `inspect`, when given, sees each matching device on its element in
// the walk's set once it has been read.
using DeviceInspector =
    std::function<void(DevSvc::DevInfoSet, DevSvc::DevInfoData*, const SurveyedDevice&)>;
bool SurveyDevices(const std::u16string& hardwareId, std::vector<SurveyedDevice>* devices,
                   std::u16string* failure, const DeviceInspector& inspect = nullptr);

// Every device of the machine, whatever its hardware IDs, in enumeration order: its instance ID,
// node state and driver INF (no config flags). False, with `failure`, when the state could not be
// read.
bool SurveyEveryDevice(std::vector<SurveyedDevice>* devices, std::u16string* failure);

// The device is present and its node runs its driver only after a restart: DN_NEED_RESTART in
// its status, or problem CM_PROB_NEED_RESTART.
bool NeedsRestart(const SurveyedDevice& device);

#include "DeviceSurvey.h"

#include <cstring>
#include <memory>

#include "DeviceServices.h"
#include "HwIdWalk.h"
#include "Numbers.h"

using namespace DevSvc;
using Text::Hex;

namespace {

// Device instance IDs are at most 200 characters on Windows; a registry string at most 64 KiB.
// A system that asks for more than these is not believed.
constexpr uint32_t kMaxInstanceIdChars = 32768;
constexpr uint32_t kMaxInfPathBytes = 65536;
constexpr uint32_t kFlagBufferBytes = MAX_PATH_CHARS;
constexpr uint32_t kRegExpandSz = 2;

std::u16string Reason(const char16_t* what, const std::u16string& device, uint32_t error) {
    std::u16string text = what;
    if (!device.empty()) {
        text += u" of " + device;
    }
    return text + u" could not be read (error 0x" + Hex(error) + u")";
}

// The instance ID; false with `error` when it cannot be had.
bool ReadInstanceId(DevInfoSet set, DevInfoData* element, std::u16string* id, uint32_t* error) {
    std::vector<char16_t> buffer(201);
    for (int attempt = 0; attempt < 3; ++attempt) {
        uint32_t required = 0;
        if (GetDeviceInstanceId(set, element, buffer.data(), static_cast<uint32_t>(buffer.size()),
                                &required)) {
            buffer.back() = u'\0';
            *id = buffer.data();
            return true;
        }
        *error = LastError();
        if (*error != ERROR_INSUFFICIENT_BUFFER_CODE || required <= buffer.size() ||
            required > kMaxInstanceIdChars) {
            return false;
        }
        buffer.assign(required, u'\0');
    }
    return false;
}

// The driver key's "InfPath"; 0, or the error that kept it from being read. No driver key or no
// such value is not an error: the device has no driver from an INF.
uint32_t ReadDriverInf(DevInfoSet set, DevInfoData* element, std::u16string* inf) {
    std::vector<uint8_t> buffer(2 * MAX_PATH_CHARS);
    for (int attempt = 0; attempt < 3; ++attempt) {
        uint32_t type = 0;
        auto bytes = static_cast<uint32_t>(buffer.size());
        const uint32_t result =
            QueryDriverKeyValue(set, element, u"InfPath", &type, buffer.data(), &bytes);
        if (result == ERROR_KEY_DOES_NOT_EXIST_CODE || result == ERROR_FILE_NOT_FOUND_CODE) {
            inf->clear();
            return 0;
        }
        if (result == ERROR_MORE_DATA_CODE && bytes > buffer.size() && bytes <= kMaxInfPathBytes) {
            buffer.assign(bytes, 0);
            continue;
        }
        if (result != 0) {
            return result;
        }
        if (type != REG_SZ_TYPE && type != kRegExpandSz) {
            return ERROR_INVALID_DATA_CODE;
        }
        // Registry strings need not end in a NUL: the text is what the reported size holds, up
        // to its first NUL.
        const size_t units = std::min<size_t>(bytes, buffer.size()) / 2;
        inf->assign(units, u'\0');
        std::memcpy(inf->data(), buffer.data(), 2 * units);
        inf->resize(std::u16string(inf->c_str()).size());
        return 0;
    }
    return ERROR_MORE_DATA_CODE;
}

// The flag word; 0, or the error that kept it from being read. A device without the property
// has no flags, which is not an error.
uint32_t ReadFlags(DevInfoSet set, DevInfoData* element, SurveyedDevice* device) {
    uint8_t abBuf[kFlagBufferBytes] = {};
    uint32_t byteCount = 0;
    if (!GetDeviceRegistryProperty(set, element, SPDRP_CONFIGFLAGS, abBuf, kFlagBufferBytes,
                                   &byteCount)) {
        const uint32_t error = LastError();
        return error == ERROR_INVALID_DATA_CODE ? 0 : error;
    }
    device->flagBytes = byteCount;
    if (byteCount >= 4 && byteCount <= kFlagBufferBytes) {
        device->hasFlags = true;
        device->configFlags = uint32_t{abBuf[0]} | uint32_t{abBuf[1]} << 8 |
                              uint32_t{abBuf[2]} << 16 | uint32_t{abBuf[3]} << 24;
    }
    return 0;
}

// Reads all there is to know of one matched device. False, with `failure`, when some of it
// could not be read.
bool Describe(DevInfoSet set, DevInfoData* element, SurveyedDevice* device,
              std::u16string* failure) {
    uint32_t error = 0;
    if (!ReadInstanceId(set, element, &device->instanceId, &error)) {
        *failure = Reason(u"the instance ID of a matching device", {}, error);
        return false;
    }
    const uint32_t node =
        GetDevNodeStatus(&device->nodeStatus, &device->problem, element->DevInst, 0);
    if (node != CR_SUCCESS && node != CR_NO_SUCH_DEVINST) {
        *failure = u"the node state of " + device->instanceId +
                   u" could not be read (CONFIGRET 0x" + Hex(node) + u")";
        // The call itself may be what is missing: cfgmgr32 is loaded from the system folder only.
        error = LastError();
        if (node == CR_FAILURE &&
            (error == ERROR_MOD_NOT_FOUND_CODE || error == ERROR_PROC_NOT_FOUND_CODE)) {
            *failure += u": CM_Get_DevNode_Status could not be loaded from the system folder "
                        u"(error 0x" +
                        Hex(error) + u")";
        }
        return false;
    }
    device->present = node == CR_SUCCESS;
    if ((error = ReadFlags(set, element, device)) != 0) {
        *failure = Reason(u"the config flags", device->instanceId, error);
        return false;
    }
    if ((error = ReadDriverInf(set, element, &device->driverInf)) != 0) {
        *failure = Reason(u"the driver key", device->instanceId, error);
        return false;
    }
    return true;
}

} // namespace

bool SurveyEveryDevice(std::vector<SurveyedDevice>* devices, std::u16string* failure) {
    devices->clear();
    DeviceSet set = BuildDeviceSet(DIGCF_ALLCLASSES);
    if (!set) {
        *failure = u"no device information set could be built (error 0x" + Hex(LastError()) + u")";
        return false;
    }
    DevInfoData element{};
    element.cbSize = sizeof(DevInfoData);
    uint32_t index = 0;
    for (; EnumDeviceInfo(set.get(), index, &element); ++index) {
        SurveyedDevice device;
        uint32_t error = 0;
        if (!ReadInstanceId(set.get(), &element, &device.instanceId, &error)) {
            *failure = Reason(u"the instance ID of a device", {}, error);
            return false;
        }
        if ((error = ReadDriverInf(set.get(), &element, &device.driverInf)) != 0) {
            *failure = Reason(u"the driver key", device.instanceId, error);
            return false;
        }
        const uint32_t node =
            GetDevNodeStatus(&device.nodeStatus, &device.problem, element.DevInst, 0);
        if (node != CR_SUCCESS && node != CR_NO_SUCH_DEVINST) {
            *failure = u"the node state of " + device.instanceId +
                       u" could not be read (CONFIGRET 0x" + Hex(node) + u")";
            return false;
        }
        device.present = node == CR_SUCCESS;
        devices->push_back(std::move(device));
    }
    const uint32_t error = LastError();
    if (error != ERROR_NO_MORE_ITEMS_CODE) {
        *failure = u"the enumeration of devices failed (error 0x" + Hex(error) + u")";
        return false;
    }
    return true;
}

bool NeedsRestart(const SurveyedDevice& device) {
    return device.present &&
           ((device.nodeStatus & DN_NEED_RESTART) != 0 || device.problem == CM_PROB_NEED_RESTART);
}

bool SurveyDevices(const std::u16string& hardwareId, std::vector<SurveyedDevice>* devices,
                   std::u16string* failure, const DeviceInspector& inspect) {
    devices->clear();
    DeviceWalk walk(DIGCF_ALLCLASSES);
    if (!walk.Built()) {
        *failure = u"no device information set could be built (error 0x" + Hex(LastError()) + u")";
        return false;
    }
    bool readable = true;
    WalkObserver observer;
    // A device without hardware IDs answers ERROR_INVALID_DATA: it can match nothing. Any other
    // failure leaves open whether the device matches.
    observer.unreadable = [&](DevInfoSet walked, DevInfoData* element, uint32_t error) {
        if (error == ERROR_INVALID_DATA_CODE || !readable) {
            return;
        }
        std::u16string id;
        uint32_t idError = 0;
        readable = false;
        *failure = Reason(u"the hardware IDs",
                          ReadInstanceId(walked, element, &id, &idError) ? id : u"a device", error);
    };
    observer.ended = [&](uint32_t error) {
        if (error != ERROR_NO_MORE_ITEMS_CODE && readable) {
            readable = false;
            *failure = u"the enumeration of devices failed (error 0x" + Hex(error) + u")";
        }
    };
    const bool stopped = walk.Run(
        hardwareId, kLookupWalkMessages,
        [&](DevInfoSet walked, DevInfoData* element) {
            SurveyedDevice device;
            if (!Describe(walked, element, &device, failure)) {
                readable = false;
                return AfterMatch::Stop;
            }
            if (inspect) {
                inspect(walked, element, device);
            }
            devices->push_back(std::move(device));
            return AfterMatch::NextDevice;
        },
        &observer);
    return readable && !stopped;
}

// Host device-installation services: the Windows call contracts over the device-manager
// simulator. Every call first loads the default machine if none is in use, counts itself and
// honours an injected fault before looking at its arguments. The BOOL-style calls set
// LastError() to 0 when they succeed; GetDevNodeStatus never touches it.
#include "DeviceServices.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "DeviceSimulator.h"
#include "HostCalls.h"
#include "ThreadError.h"

namespace DevSvc {

using namespace HostCalls;

namespace {

using DevSim::Op;

constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorInvalidFlags = 1004;
constexpr uint32_t kErrorInvalidUserBuffer = 1784;
constexpr uint32_t kErrorInvalidRegProperty = 0xE0000209;
constexpr uint32_t kKnownInstallFlags = 0x7; // FORCE | READONLY | NONINTERACTIVE
constexpr uint32_t kCrInvalidPointer = 3;
constexpr uint32_t kCrInvalidFlag = 4;
constexpr uint32_t kCrInvalidDevNode = 5;

bool EqualIgnoringCase(const std::u16string& a, const std::u16string& b) {
    auto fold = [](char16_t c) { return c >= u'a' && c <= u'z' ? c - (u'a' - u'A') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [&fold](char16_t x, char16_t y) { return fold(x) == fold(y); });
}

bool HasHardwareId(const DevSim::Device& device, const std::u16string& id) {
    if (!device.hardwareIds) {
        return false;
    }
    for (const std::u16string& entry : DevSim::SplitMultiSz(*device.hardwareIds)) {
        if (EqualIgnoringCase(entry, id)) {
            return true;
        }
    }
    return false;
}

std::optional<std::vector<uint8_t>>* PropertyOf(DevSim::Device* device, uint32_t property) {
    switch (property) {
    case SPDRP_HARDWAREID:
        return &device->hardwareIds;
    case SPDRP_CONFIGFLAGS:
        return &device->configFlags;
    default:
        return nullptr;
    }
}

} // namespace

namespace HostCalls {

bool Fail(uint32_t error) {
    HostSupport::ThreadError() = error;
    return false;
}

bool Succeed() {
    HostSupport::ThreadError() = 0;
    return true;
}

void SetLastError(uint32_t error) {
    HostSupport::ThreadError() = error;
}

std::u16string Text(const char16_t* text) {
    return text != nullptr ? text : u"";
}

uint32_t ResolveElement(DevInfoSet set, const DevInfoData* element, DevSim::Device** device) {
    const std::vector<size_t>* members = DevSim::Hooks::FindSet(set);
    if (members == nullptr) {
        return ERROR_INVALID_HANDLE_CODE;
    }
    if (element == nullptr || element->cbSize != sizeof(DevInfoData) || element->DevInst == 0) {
        return ERROR_INVALID_PARAMETER_CODE;
    }
    size_t index = element->DevInst - 1;
    // Members are kept in machine order, so a lookup costs log N, not N, per call.
    if (!std::binary_search(members->begin(), members->end(), index)) {
        return ERROR_INVALID_PARAMETER_CODE;
    }
    std::vector<DevSim::Device>& devices = DevSim::Current().devices;
    if (index >= devices.size()) {
        return ERROR_NO_SUCH_DEVINST_CODE;
    }
    *device = &devices[index];
    return 0;
}

} // namespace HostCalls

DevInfoSet GetClassDevs(uint32_t flags) {
    if (std::optional<DevSim::Fault> fault = DevSim::Hooks::CountCall(Op::GetClassDevs)) {
        Fail(fault->error);
        return kInvalidSet;
    }
    const std::vector<DevSim::Device>& devices = DevSim::Current().devices;
    std::vector<size_t> members;
    for (size_t i = 0; i < devices.size(); ++i) {
        if ((flags & DIGCF_PRESENT) == 0 || devices[i].present) {
            members.push_back(i);
        }
    }
    DevInfoSet set = DevSim::Hooks::OpenSet(std::move(members));
    Succeed();
    return set;
}

bool EnumDeviceInfo(DevInfoSet set, uint32_t index, DevInfoData* element) {
    if (std::optional<DevSim::Fault> fault = DevSim::Hooks::CountCall(Op::Enum)) {
        return Fail(fault->error);
    }
    const std::vector<size_t>* members = DevSim::Hooks::FindSet(set);
    if (members == nullptr) {
        return Fail(ERROR_INVALID_HANDLE_CODE);
    }
    if (element == nullptr || element->cbSize != sizeof(DevInfoData)) {
        return Fail(kErrorInvalidUserBuffer);
    }
    if (index >= members->size()) {
        return Fail(ERROR_NO_MORE_ITEMS_CODE);
    }
    std::fill(std::begin(element->classGuid), std::end(element->classGuid), uint8_t{0});
    element->DevInst = static_cast<uint32_t>((*members)[index] + 1);
    element->reserved = 0;
    return Succeed();
}

bool GetDeviceRegistryProperty(DevInfoSet set, DevInfoData* element, uint32_t property,
                               uint8_t* buffer, uint32_t bufferSize, uint32_t* requiredSize) {
    std::optional<DevSim::Fault> fault = DevSim::Hooks::CountCall(Op::GetProperty);
    // Every offer of an ID buffer is checked against its block, whatever else the call does.
    const bool offerFits = buffer == nullptr || DevSim::Hooks::OfferFits(buffer, bufferSize);
    DevSim::Device* device = nullptr;
    uint32_t error = ResolveElement(set, element, &device);
    std::optional<std::vector<uint8_t>>* data =
        device != nullptr ? PropertyOf(device, property) : nullptr;
    if (fault) {
        if (fault->error == ERROR_INSUFFICIENT_BUFFER_CODE && requiredSize != nullptr) {
            if (fault->requiredSize) {
                *requiredSize = *fault->requiredSize;
            } else if (data != nullptr && data->has_value()) {
                *requiredSize = static_cast<uint32_t>((*data)->size());
            }
        }
        return Fail(fault->error);
    }
    if (error != 0) {
        return Fail(error);
    }
    if (data == nullptr) {
        return Fail(kErrorInvalidRegProperty);
    }
    if (!data->has_value()) {
        return Fail(ERROR_INVALID_DATA_CODE);
    }
    if (buffer == nullptr ? bufferSize != 0 : !offerFits) {
        return Fail(kErrorInvalidUserBuffer);
    }
    const std::vector<uint8_t>& bytes = **data;
    uint32_t size = static_cast<uint32_t>(bytes.size());
    if (requiredSize != nullptr) {
        *requiredSize = size;
    }
    if (size > bufferSize) {
        return Fail(ERROR_INSUFFICIENT_BUFFER_CODE);
    }
    std::copy(bytes.begin(), bytes.end(), buffer);
    return Succeed();
}

bool SetDeviceRegistryProperty(DevInfoSet set, DevInfoData* element, uint32_t property,
                               const uint8_t* buffer, uint32_t size) {
    if (std::optional<DevSim::Fault> fault = DevSim::Hooks::CountCall(Op::SetProperty)) {
        return Fail(fault->error);
    }
    DevSim::Device* device = nullptr;
    if (uint32_t error = ResolveElement(set, element, &device)) {
        return Fail(error);
    }
    if (property != SPDRP_CONFIGFLAGS) {
        return Fail(kErrorInvalidRegProperty);
    }
    if (buffer == nullptr && size != 0) {
        return Fail(kErrorInvalidUserBuffer);
    }
    // A null buffer of size 0 deletes the property, as on Windows.
    if (buffer == nullptr) {
        device->configFlags.reset();
    } else {
        device->configFlags = std::vector<uint8_t>(buffer, buffer + size);
    }
    DevSim::Hooks::StateChanged();
    return Succeed();
}

bool DestroyDeviceInfoList(DevInfoSet set) {
    std::optional<DevSim::Fault> fault = DevSim::Hooks::CountCall(Op::Destroy);
    // Even a failing destroy has taken the handle back: the set is gone either way.
    bool closed = DevSim::Hooks::CloseSet(set);
    if (fault) {
        return Fail(fault->error);
    }
    return closed ? Succeed() : Fail(ERROR_INVALID_HANDLE_CODE);
}

uint32_t GetDevNodeStatus(uint32_t* status, uint32_t* problemNumber, uint32_t devInst,
                          uint32_t flags) {
    if (std::optional<DevSim::Fault> fault = DevSim::Hooks::CountCall(Op::NodeStatus)) {
        return fault->error;
    }
    if (status == nullptr || problemNumber == nullptr) {
        return kCrInvalidPointer;
    }
    if (flags != 0) {
        return kCrInvalidFlag;
    }
    if (devInst == 0) {
        return kCrInvalidDevNode;
    }
    const std::vector<DevSim::Device>& devices = DevSim::Current().devices;
    if (devInst > devices.size() || !devices[devInst - 1].present) {
        return CR_NO_SUCH_DEVINST;
    }
    *status = devices[devInst - 1].nodeStatus;
    *problemNumber = devices[devInst - 1].problem;
    return CR_SUCCESS;
}

bool UpdateDriverForDevices(const char16_t* hardwareId, const char16_t* infPath,
                            uint32_t installFlags, bool* rebootRequired) {
    if (std::optional<DevSim::Fault> fault = DevSim::Hooks::CountCall(Op::Update)) {
        return Fail(fault->error);
    }
    std::u16string id = Text(hardwareId);
    std::u16string inf = Text(infPath);
    if (id.empty() || inf.empty()) {
        return Fail(ERROR_INVALID_PARAMETER_CODE);
    }
    if ((installFlags & ~kKnownInstallFlags) != 0) {
        return Fail(kErrorInvalidFlags);
    }
    if (!DevSim::Hooks::IsRegularFile(DevSim::ToUtf8(inf))) {
        return Fail(ERROR_FILE_NOT_FOUND_CODE);
    }
    std::vector<DevSim::Device>& devices = DevSim::Current().devices;
    std::vector<size_t> matches;
    for (size_t i = 0; i < devices.size(); ++i) {
        if (devices[i].present && HasHardwareId(devices[i], id)) {
            matches.push_back(i);
        }
    }
    if (matches.empty()) {
        return Fail(ERROR_NO_SUCH_DEVINST_CODE);
    }
    std::string stagedPath;
    std::u16string name;
    if (uint32_t error = DevSim::Hooks::StageInf(inf, &stagedPath, &name)) {
        return Fail(error);
    }
    for (size_t i : matches) {
        devices[i].driver = name;
    }
    DevSim::Hooks::StateChanged();
    if (rebootRequired != nullptr) {
        *rebootRequired = false;
    }
    return Succeed();
}

bool CopyOEMInf(const char16_t* infPath, char16_t* destination, uint32_t destinationChars,
                uint32_t* requiredSize) {
    if (std::optional<DevSim::Fault> fault = DevSim::Hooks::CountCall(Op::Copy)) {
        return Fail(fault->error);
    }
    std::string stagedPath;
    std::u16string name;
    if (uint32_t error = DevSim::Hooks::StageInf(Text(infPath), &stagedPath, &name)) {
        return Fail(error);
    }
    std::optional<std::u16string> path = DevSim::FromUtf8(stagedPath);
    if (!path) {
        return Fail(kErrorPathNotFound);
    }
    uint32_t chars = static_cast<uint32_t>(path->size() + 1);
    if (requiredSize != nullptr) {
        *requiredSize = chars;
    }
    if (destination == nullptr || destinationChars < chars) {
        return Fail(ERROR_INSUFFICIENT_BUFFER_CODE);
    }
    std::copy(path->begin(), path->end(), destination);
    destination[path->size()] = u'\0';
    return Succeed();
}

uint32_t LastError() {
    return HostSupport::ThreadError();
}

uint8_t* AllocateBuffer(size_t bytes) {
    if (std::optional<DevSim::Fault> fault = DevSim::Hooks::CountCall(Op::Alloc)) {
        HostSupport::ThreadError() =
            fault->error != 0 ? fault->error : ERROR_NOT_ENOUGH_MEMORY_CODE;
        return nullptr;
    }
    uint8_t* buffer = DevSim::Hooks::NewBuffer(bytes);
    if (buffer == nullptr) {
        HostSupport::ThreadError() = ERROR_NOT_ENOUGH_MEMORY_CODE;
    }
    return buffer;
}

void ReleaseBuffer(uint8_t* buffer) {
    if (buffer != nullptr) {
        DevSim::Hooks::FreeBuffer(buffer);
    }
}

} // namespace DevSvc

// Host device-installation services: the Windows call contracts over the device-manager
// simulator. Every call first loads the default machine if none is in use, counts itself and
// honours an injected fault before looking at its arguments. The BOOL-style calls set
// LastError() to 0 when they succeed; GetDevNodeStatus touches it only when a "bind" fault makes
// it fail. The calls that change the device state are in DeviceChanges-host.cpp.
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
#include "SetupCalls-host.h"
#include "ThreadError.h"

namespace DevSvc {

using namespace HostCalls;

namespace {

using DevSim::Op;

constexpr uint32_t kCrInvalidPointer = 3;
constexpr uint32_t kCrInvalidFlag = 4;
constexpr uint32_t kCrInvalidDevNode = 5;

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

std::optional<uint32_t> BindFault() {
    if (std::optional<DevSim::Fault> fault = DevSim::Hooks::CountCall(Op::Bind)) {
        return fault->error;
    }
    return std::nullopt;
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
    if (std::optional<uint32_t> error = BindFault()) {
        SetLastError(*error);
        return CR_FAILURE;
    }
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

#include "HwIdWalk.h"

#include <cstring>

#include "MatchRule.h"
#include "XTrace.h"

static constexpr char16_t kTraceFile[] = u".\\HwIdWalk.cpp";

using namespace DevSvc;

void DeviceSetDestroy::operator()(void* set) const {
    if (!DestroyDeviceInfoList(set)) {
        XTRACE(2, u"SetupDiDestroyDeviceInfoList failed!");
    }
}

DeviceSet BuildDeviceSet(uint32_t flags) {
    const DevInfoSet handle = GetClassDevs(flags);
    if (handle == kInvalidSet || handle == nullptr) {
        XTRACE(2, u"DeviceInfoSet == INVALID_HANDLE_VALUE");
        return DeviceSet();
    }
    return DeviceSet(handle);
}

namespace {

constexpr uint32_t kFirstOffer = MAX_PATH_CHARS; // bytes offered to the first read
constexpr size_t kSpareBytes = 2;                // never offered; always zero

// Reads the member's hardware-ID list into `buffer`, renewing it while the system asks for
// more. On success `dataBytes` is the size of the list data. False: the device is skipped, and
// `error` says why.
bool ReadHardwareIds(DevInfoSet set, DevInfoData* element, const WalkMessages& messages,
                     IdBuffer& buffer, uint32_t& dataBytes, uint32_t& error) {
    uint32_t offered = kFirstOffer;
    for (int renewals = 0;; ++renewals) {
        uint32_t required = 0;
        if (GetDeviceRegistryProperty(set, element, SPDRP_HARDWAREID, buffer.get(), offered,
                                      &required)) {
            XTRACE(1, u"SetupDiGetDeviceRegistryProperty OK!!!");
            dataBytes = (required != 0 && required <= offered) ? required : offered;
            return true;
        }
        error = LastError();
        // A request that does not grow, or grows past any real list, cannot be met: renewing
        // would loop for ever or leave the buffer short of what the system writes.
        if (error != ERROR_INSUFFICIENT_BUFFER_CODE || required <= offered ||
            required > kMaxIdListBytes || renewals >= kMaxBufferRenewals) {
            XTRACE(2, u"SetupDiGetDeviceRegistryProperty fail = %x XXXXXXXXXXXXXXXXXXXX", error);
            return false;
        }
        XTRACE(2, u"ERROR_INSUFFICIENT_BUFFER, renew buffer and "
                  u"SetupDiGetDeviceRegistryProperty again!");
        buffer.reset();
        buffer.reset(AllocateBuffer(size_t{required} + kSpareBytes));
        if (!buffer) {
            error = LastError();
            XTRACE(2, messages.renewBufferFail, LastError());
            XTRACE(2, u"SetupDiGetDeviceRegistryProperty fail = %x XXXXXXXXXXXXXXXXXXXX",
                   LastError());
            return false;
        }
        offered = required;
    }
}

char16_t UnitAt(const uint8_t* data, size_t index) {
    char16_t unit;
    std::memcpy(&unit, data + 2 * index, sizeof(unit));
    return unit;
}

// Compares the entries of one list, which holds `dataBytes` bytes, with `csHwID`. The walk
// never leaves those bytes, whether or not the list ends as it should.
AfterMatch WalkEntries(DevInfoSet set, DevInfoData* element, const std::u16string& csHwID,
                       const uint8_t* data, uint32_t dataBytes, const MatchHandler& onMatch) {
    const size_t units = dataBytes / 2;
    std::u16string entry;
    std::u16string shown;
    for (size_t start = 0; start < units;) {
        size_t end = start;
        while (end < units && UnitAt(data, end) != u'\0') {
            ++end;
        }
        if (end == start) {
            break; // the empty entry ends the list
        }
        entry.resize(end - start);
        std::memcpy(entry.data(), data + 2 * start, 2 * (end - start));
        if (MatchHardwareId(csHwID, entry, shown)) {
            XTRACE(1, u"FOUND!!! HwID = %s", shown);
            return onMatch(set, element);
        }
        shown.push_back(u'\n');
        XTRACE(1, u"Next HwID = %s", shown);
        start = end + 1;
    }
    return AfterMatch::NextDevice;
}

} // namespace

bool WalkHardwareIds(DevInfoSet set, const std::u16string& csHwID, const WalkMessages& messages,
                     IdBuffer& buffer, const MatchHandler& onMatch, const WalkObserver* observer) {
    // One element, its size set once, serves every member.
    DevInfoData element{};
    element.cbSize = sizeof(element);
    for (uint32_t i = 0; i != UINT32_MAX; ++i) {
        if (!EnumDeviceInfo(set, i, &element)) {
            if (observer != nullptr && observer->ended) {
                observer->ended(LastError());
            }
            return false;
        }
        XTRACE(1, u"In Loop find SetupDiEnumDeviceInfo i=%x", i);
        buffer.reset();
        buffer.reset(AllocateBuffer(kFirstOffer + kSpareBytes));
        uint32_t dataBytes = 0;
        uint32_t error = 0;
        bool readable = false;
        if (!buffer) {
            error = LastError();
            XTRACE(2, messages.newBufferFail, LastError());
        } else {
            readable = ReadHardwareIds(set, &element, messages, buffer, dataBytes, error);
        }
        if (!readable) {
            if (observer != nullptr && observer->unreadable) {
                observer->unreadable(set, &element, error);
            }
            continue;
        }
        if (WalkEntries(set, &element, csHwID, buffer.get(), dataBytes, onMatch) ==
            AfterMatch::Stop) {
            return true;
        }
    }
    return false;
}

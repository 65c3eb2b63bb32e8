#include "DeviceStatus.h"

#include "HwIdWalk.h"
#include "XTrace.h"

static constexpr char16_t kTraceFile[] = u".\\DeviceStatus.cpp";

using namespace DevSvc;

DeviceStatus GetDeviceStatus(std::u16string csHwID, uint32_t flags) {
    DeviceSet set = BuildDeviceSet(flags);
    if (!set) {
        return -1;
    }
    IdBuffer buffer;

    static constexpr WalkMessages kMessages = {
        u"new szbuf fail = %x XXXXXXXXXXXXXXXXXXXX",
        u"Renew szbuf fail = %x XXXXXXXXXXXXXXXXXXXX",
    };
    const bool found = WalkHardwareIds(set.get(), csHwID, kMessages, buffer,
                                       [](DevInfoSet, DevInfoData*) { return AfterMatch::Stop; });

    DeviceStatus result;
    if (!found) {
        XTRACE(1, u"DEVICE_UNPLUG");
        result = DEVICE_UNPLUG;
    } else if ((flags & DIGCF_PRESENT) != 0) {
        XTRACE(1, u"DEVICE_EXIST_AND_PLUG");
        result = DEVICE_EXIST_AND_PLUG;
    } else {
        XTRACE(1, u"DEVICE_EXIST");
        result = DEVICE_EXIST;
    }
    set.reset();
    buffer.reset();
    return result;
}

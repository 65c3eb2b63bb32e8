#include "DeviceStatus.h"

#include "HwIdWalk.h"
#include "XTrace.h"

static constexpr char16_t kTraceFile[] = u".\\DeviceStatus.cpp";

using namespace DevSvc;

DeviceStatus GetDeviceStatus(std::u16string csHwID, uint32_t flags) {
    DeviceWalk walk(flags);
    if (!walk.Built()) {
        return -1;
    }
    const bool found = walk.Run(csHwID, kLookupWalkMessages,
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
    return result;
}

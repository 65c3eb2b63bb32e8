#include "Sequence.h"

#include "DeviceServices.h"
#include "DeviceStatus.h"
#include "DriverActions.h"
#include "MatchRule.h"
#include "Reinstall.h"
#include "XTrace.h"

static constexpr char16_t kTraceFile[] = u".\\Sequence.cpp";

using DevSvc::DIGCF_ALLCLASSES;
using DevSvc::DIGCF_PRESENT;

void RunInstallation(std::u16string csHwID, const char16_t* pInfFullName) {
    LowerAsciiInPlace(csHwID);

    const DeviceStatus nDevStatus = GetDeviceStatus(csHwID, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (nDevStatus == DEVICE_EXIST_AND_PLUG) {
        InstallDriver(csHwID, pInfFullName);
    } else if (nDevStatus == DEVICE_UNPLUG) {
        CopyOemInf(pInfFullName);
    } else {
        XTRACE(2, u"Install driver fail! xxxxxxxxxxx");
        XTRACE(2, u"nDevStatus = %x", nDevStatus);
        return;
    }

    if (GetDeviceStatus(csHwID, DIGCF_ALLCLASSES) == DEVICE_EXIST) {
        if (Reinstall(csHwID) != 1) {
            XTRACE(2, u"Reinstall error!");
        }
    }
}

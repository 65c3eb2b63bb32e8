#include "DriverActions.h"

#include "DeviceChanges.h"
#include "XTrace.h"

static constexpr char16_t kTraceFile[] = u".\\DriverActions.cpp";

using namespace DevSvc;

int32_t InstallDriver(const std::u16string& csHwID, const char16_t* pInfFullName) {
    bool rebootRequired = false;
    if (UpdateDriverForDevices(csHwID.c_str(), pInfFullName, INSTALLFLAG_FORCE, &rebootRequired)) {
        XTRACE(1, u"UpdateDriver SUCCEED. ");
        return 1;
    }
    const uint32_t error = LastError();
    XTRACE(2, u"InstallDriver, err = %x. ", error);
    // Error 1 must not come back as the success value.
    return static_cast<int32_t>(error == 1 ? kInstallErrorInvalidFunction : error);
}

int32_t CopyOemInf(const char16_t* pInfFullName) {
    XTRACE(1, u"Copy inf file ===>");
    char16_t destination[MAX_PATH_CHARS] = {};
    uint32_t requiredSize = 0;
    if (CopyOEMInf(pInfFullName, destination, MAX_PATH_CHARS, &requiredSize)) {
        return 1;
    }
    XTRACE(2, u"OemCopylINF Error = %x", LastError());
    return 0;
}

#include "Reinstall.h"

#include <cstdint>

#include "DeviceChanges.h"
#include "HwIdWalk.h"
#include "XTrace.h"

static constexpr char16_t kTraceFile[] = u".\\Reinstall.cpp";

using namespace DevSvc;

namespace {

constexpr uint32_t kFlagBufferBytes = MAX_PATH_CHARS;

// Marks one matched device if its node is absent. False when its flags could not be read or
// written back.
bool MarkIfAbsent(DevInfoSet set, DevInfoData* element) {
    uint32_t uStatus = 0;
    uint32_t nProblemNumber = 0;
    const uint32_t uRet = GetDevNodeStatus(&uStatus, &nProblemNumber, element->DevInst, 0);
    XTRACE(1, u"uStatus = %x", uStatus);
    XTRACE(1, u"nProblemNumber = %x", nProblemNumber);
    XTRACE(1, u"uRet = %x", uRet);
    if (uRet != CR_NO_SUCH_DEVINST) {
        return true;
    }

    uint8_t abBuf[kFlagBufferBytes] = {};
    uint32_t byteCount = 0;
    // A flag word shorter than its four bytes cannot be marked without inventing the rest.
    if (!GetDeviceRegistryProperty(set, element, SPDRP_CONFIGFLAGS, abBuf, kFlagBufferBytes,
                                   &byteCount) ||
        byteCount < 4 || byteCount > kFlagBufferBytes) {
        XTRACE(2, u"SetupDiGetDeviceRegistryProperty XXXXXXXXXX!!");
        return false;
    }
    XTRACE(1, u"abBuf = %x\n", static_cast<uint32_t>(reinterpret_cast<uintptr_t>(abBuf)));
    auto pSetbuf = static_cast<uint16_t>(abBuf[0] | abBuf[1] << 8);
    XTRACE(1, u"pSetbuf = %x\n", pSetbuf);
    pSetbuf |= CONFIGFLAG_REINSTALL;
    abBuf[0] = static_cast<uint8_t>(pSetbuf & 0xFF);
    abBuf[1] = static_cast<uint8_t>(pSetbuf >> 8);
    XTRACE(1, u"*pSetbuf = %x", pSetbuf);
    if (!SetDeviceRegistryProperty(set, element, SPDRP_CONFIGFLAGS, abBuf, byteCount)) {
        XTRACE(2, u"Set Device Registry Property error!!");
        return false;
    }
    return true;
}

} // namespace

int32_t Reinstall(std::u16string csHwID) {
    XTRACE(1, u"===> ENTER Reinstall");
    DeviceWalk walk(DIGCF_ALLCLASSES);
    if (!walk.Built()) {
        return -1;
    }
    const bool stopped =
        walk.Run(csHwID, kReinstallWalkMessages, [](DevInfoSet matchedSet, DevInfoData* matched) {
            return MarkIfAbsent(matchedSet, matched) ? AfterMatch::NextDevice : AfterMatch::Stop;
        });
    return stopped ? -1 : 1;
}

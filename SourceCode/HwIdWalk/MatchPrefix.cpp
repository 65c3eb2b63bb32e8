#include <cstdint>

#include "MatchRule.h"
#include "XTrace.h"

static constexpr char16_t kTraceFile[] = u".\\MatchPrefix.cpp";

bool MatchHardwareId(const std::u16string& csHwID, const std::u16string& entry,
                     std::u16string& shown) {
    std::u16string cs = entry;
    LowerAsciiInPlace(cs);
    XTRACE(1, u"cs = %s", cs);
    const size_t found = cs.find(csHwID);
    const int32_t position =
        found == std::u16string::npos || found > INT32_MAX ? -1 : static_cast<int32_t>(found);
    XTRACE(1, u"cs.Find(%s) = %d", csHwID, position);
    shown = std::move(cs);
    // An empty request (an unset variable in a deployment script) is found at 0 of every entry;
    // it must match nothing, or the run would act on the first device and mark every phantom.
    return position == 0 && !csHwID.empty();
}

const char16_t* MatchRuleName() {
    return u"prefix";
}

#include "MatchRule.h"

bool MatchHardwareId(const std::u16string& csHwID, const std::u16string& entry,
                     std::u16string& shown) {
    shown = entry;
    if (entry.size() != csHwID.size()) {
        return false;
    }
    for (size_t i = 0; i < entry.size(); ++i) {
        if (LowerAscii(entry[i]) != LowerAscii(csHwID[i])) {
            return false;
        }
    }
    return true;
}

const char16_t* MatchRuleName() {
    return u"equality";
}

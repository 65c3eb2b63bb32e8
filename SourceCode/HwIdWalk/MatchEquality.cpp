#include "MatchRule.h"

bool MatchHardwareId(const std::u16string& csHwID, const std::u16string& entry,
                     std::u16string& shown) {
    shown = entry;
    return EqualIgnoringAsciiCase(entry, csHwID);
}

const char16_t* MatchRuleName() {
    return u"equality";
}

// The hardware IDs the host tests share, named kId<What>: a device's full ID, the shorter ID a
// request gives for it, and an ID of another device.
#pragma once

#include <string>

inline const std::u16string kIdFull = u"USB\\VID_1234&PID_5678&REV_0100";
inline const std::u16string kIdShort = u"USB\\VID_1234&PID_5678";
inline const std::u16string kIdOther = u"PCI\\VEN_8086&DEV_1234";

// The installation sequence: install on a present device or stage the INF, then mark the
// known but absent devices for reinstallation.
#pragma once

#include <string>

void RunInstallation(std::u16string csHwID, const char16_t* pInfFullName);

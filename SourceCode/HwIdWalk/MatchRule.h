// The hardware-ID match rule. Each program is built with exactly one of MatchPrefix.cpp
// (32-bit x86: the lower-cased entry begins with the requested ID) and MatchEquality.cpp
// (x86-64: the entry equals the requested ID, ignoring the case of A to Z).
#pragma once

#include <string>

#include "AsciiCase.h"

// Compares one entry of a device's hardware-ID list with `csHwID`, tracing what the rule
// traces. `shown` receives the text that the walk's records show for the entry.
bool MatchHardwareId(const std::u16string& csHwID, const std::u16string& entry,
                     std::u16string& shown);

// "prefix" or "equality": the rule this program was built with, for reports.
const char16_t* MatchRuleName();

// The values of the simulator's state file as StateFileRead.cpp reads them: the layout around a
// value, its words, its numbers and its hex bytes. Host builds only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace DevSim::StateFileValues {

// A space or a tab.
bool IsBlank(char c);
// Without the blanks and carriage returns around it: they are layout, never part of a value (a
// value that kept a trailing CR would not read back the same once written with its line end).
std::string Trim(const std::string& text);
// The words between blanks (spaces, tabs).
std::vector<std::string> SplitBlanks(const std::string& text);
// Decimal, or hexadecimal with a 0x prefix; 32 bits.
bool ParseNumber(const std::string& text, uint32_t* out);
// Two-digit hex bytes separated by blanks.
bool ParseHexBytes(const std::string& text, std::vector<uint8_t>* out);

} // namespace DevSim::StateFileValues

// The simulator's INF parser, standing in on the host for the Setup API's: sections, keys,
// comma-separated fields, quotes, line continuations, comments and %strkey% substitution from
// [Strings], with the Setup API's errors for a file that does not parse as a Windows NT INF.
// Host builds only; on Windows the system parses INFs.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "InfPackage.h"

namespace DevSim {

inline constexpr uint32_t kErrorExpectedSectionName = 0xE0000000;
inline constexpr uint32_t kErrorBadSectionNameLine = 0xE0000001;
inline constexpr uint32_t kErrorSectionNameTooLong = 0xE0000002;
inline constexpr uint32_t kErrorWrongInfStyle = 0xE0000100;

class ParsedInf : public InfRules::InfSource {
  public:
    bool Section(const std::u16string& name, std::vector<InfRules::InfLine>* lines) const override;

    // Section names lower-cased; sections of the same name are merged, in file order.
    std::map<std::u16string, std::vector<InfRules::InfLine>> sections;
};

// Parses an INF's bytes (UTF-16LE with its byte-order mark, otherwise UTF-8, a byte that is
// not UTF-8 taken as Latin-1) as SetupOpenInfFileW with INF_STYLE_WIN4 does: 0, or the error
// and, for a syntax error, the 1-based line in `errorLine` (0 for a file without the
// "$Windows NT$" or "$Chicago$" signature in [Version]).
uint32_t ParseInf(const std::vector<uint8_t>& bytes, ParsedInf* out, uint32_t* errorLine);

} // namespace DevSim

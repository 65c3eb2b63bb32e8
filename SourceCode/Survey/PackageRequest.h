// The two arguments both companions take, a hardware ID and a driver package's INF, checked as
// the installation would take them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "CommandResult.h"
#include "InfStore.h"

struct PackageRequest {
    std::u16string requestedId; // as given
    std::u16string hardwareId;  // lower-cased, as the installation uses it
    std::u16string inf;
    std::vector<uint8_t> infBytes;
};

// Fills `request` from the two arguments, reading the whole INF. Otherwise `problem` says what is
// wrong: BadArgument for a wrong command line (an empty or over-long ID, or one holding a NUL; an
// INF that is not a full path, missing, a folder or too large), Unreadable for an INF that is
// there but cannot be read.
InfRead ReadPackageRequest(const std::u16string& id, const std::u16string& inf,
                           PackageRequest* request, std::u16string* problem);

// The two operands of a companion's command line read into `request`: kExitOk, or kExitUsage for
// a wrong command line and kExitUnreadable for an INF that cannot be read, with `problem`.
int ReadRequestOperands(const std::vector<std::u16string>& operands, PackageRequest* request,
                        std::u16string* problem);

// The report's first line: `<command> for hardware ID "<ID>" (given as "<ID as given>"), <rule>
// rule, INF "<INF>"`, the part in parentheses only when the two differ.
std::u16string RequestLine(const std::u16string& command, const PackageRequest& request,
                           const std::u16string& rule);

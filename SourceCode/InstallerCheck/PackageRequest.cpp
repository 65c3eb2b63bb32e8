#include "PackageRequest.h"

#include "MatchRule.h"

namespace {

// Hardware IDs are at most 200 characters on Windows; anything far longer is a mistake.
constexpr size_t kMaxHardwareIdChars = 1024;

} // namespace

InfRead ReadPackageRequest(const std::u16string& id, const std::u16string& inf,
                           PackageRequest* request, std::u16string* problem) {
    if (id.empty()) {
        *problem = u"the hardware ID is empty";
        return InfRead::BadArgument;
    }
    if (id.size() > kMaxHardwareIdChars || id.find(u'\0') != std::u16string::npos) {
        *problem = u"the hardware ID is not a hardware ID (too long, or holds a NUL)";
        return InfRead::BadArgument;
    }
    request->requestedId = id;
    request->csHwID = id;
    LowerAsciiInPlace(request->csHwID);
    request->inf = inf;
    return ReadRequestedInf(inf, &request->infBytes, problem);
}

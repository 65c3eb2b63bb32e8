#include "PackageRequest.h"

#include "AsciiCase.h"

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
    request->hardwareId = id;
    LowerAsciiInPlace(request->hardwareId);
    request->inf = inf;
    return ReadRequestedInf(inf, &request->infBytes, problem);
}

std::u16string RequestLine(const std::u16string& command, const PackageRequest& request,
                           const std::u16string& rule) {
    std::u16string text = command + u" for hardware ID \"" + request.hardwareId + u"\"";
    if (request.requestedId != request.hardwareId) {
        text += u" (given as \"" + request.requestedId + u"\")";
    }
    return text + u", " + rule + u" rule, INF \"" + request.inf + u"\"\n";
}

int ReadRequestOperands(const std::vector<std::u16string>& operands, PackageRequest* request,
                        std::u16string* problem) {
    if (operands.size() != 2) {
        *problem = u"expected a hardware ID and an INF full path";
        return kExitUsage;
    }
    switch (ReadPackageRequest(operands[0], operands[1], request, problem)) {
    case InfRead::Ok:
        return kExitOk;
    case InfRead::BadArgument:
        return kExitUsage;
    case InfRead::Unreadable:
        break;
    }
    return kExitUnreadable;
}

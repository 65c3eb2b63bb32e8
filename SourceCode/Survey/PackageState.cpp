#include "PackageState.h"

bool ReadPackageState(const PackageRequest& request, PackageState* state, std::u16string* failure) {
    return SurveyDevices(request.csHwID, &state->devices, failure) &&
           FindStagedCopies(request.infBytes, &state->infFolder, &state->copies, failure);
}

size_t CopyNamedBy(const std::u16string& driverInf, const std::vector<std::u16string>& copies) {
    size_t index = 0;
    while (index < copies.size() && !NamesCopy(driverInf, copies[index])) {
        ++index;
    }
    return index;
}

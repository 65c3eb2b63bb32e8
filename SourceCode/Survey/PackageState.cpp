#include "PackageState.h"

bool ReadStagedCopies(const PackageRequest& request, PackageState* state, std::u16string* failure) {
    return FindStagedCopies(request.infBytes, request.inf, &state->infFolder, &state->copies,
                            &state->foreign, failure);
}

bool ReadPackageState(const PackageRequest& request, PackageState* state, std::u16string* failure) {
    return SurveyDevices(request.hardwareId, &state->devices, failure) &&
           ReadStagedCopies(request, state, failure);
}

size_t CopyNamedBy(const std::u16string& driverInf, const std::vector<std::u16string>& copies) {
    size_t index = 0;
    while (index < copies.size() && !NamesCopy(driverInf, copies[index])) {
        ++index;
    }
    return index;
}

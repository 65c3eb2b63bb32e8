// What the machine holds for a package now, as check's verify and the removal both read it: the
// matching devices and the staged copies of the INF, and which copy a device's driver came from.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "DeviceSurvey.h"
#include "PackageRequest.h"

struct PackageState {
    std::vector<SurveyedDevice> devices;
    std::u16string infFolder;
    std::vector<std::u16string> copies; // staged copies of the INF, in the folder's order
    // Copies under published names with the INF's bytes that are another package's.
    std::vector<ForeignCopy> foreign;
};

// The staged copies alone (`infFolder` and `copies`). False, with `failure`, when they could not
// be read.
bool ReadStagedCopies(const PackageRequest& request, PackageState* state, std::u16string* failure);
// Reads both. False, with `failure`, when either could not be read.
bool ReadPackageState(const PackageRequest& request, PackageState* state, std::u16string* failure);

// The index in `copies` of the copy that a driver key's "InfPath" names, or copies.size().
size_t CopyNamedBy(const std::u16string& driverInf, const std::vector<std::u16string>& copies);

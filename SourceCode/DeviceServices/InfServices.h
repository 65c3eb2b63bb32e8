// Read-only services over a driver package's INF (library devsvc): opening it as a Windows NT
// INF, reading its sections, the drivers Windows lists from it for a device, and the
// platform and version it is checked for. InfServices-win32.cpp calls the Setup API;
// InfServices-host.cpp answers from the simulator and its INF parser. None of them changes
// the device state or writes anything.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "DeviceServices.h"
#include "InfPackage.h"

namespace DevSvc {

using InfHandle = void*;

inline constexpr uint32_t ERROR_LINE_NOT_FOUND_CODE = 0xE0000102;
inline constexpr uint32_t ERROR_NO_CATALOG_FOR_OEM_INF_CODE = 0xE000022F;

// SetupOpenInfFileW(path, NULL, INF_STYLE_WIN4, &errorLine): the INF, or nullptr with
// LastError() and the line the parser stopped at (0 when it gave none).
InfHandle OpenInf(const char16_t* path, uint32_t* errorLine);
// SetupCloseInfFile; nullptr is ignored.
void CloseInf(InfHandle inf);

// The lines of `section`: SetupGetLineCountW, then per line SetupGetLineByIndexW,
// SetupGetFieldCount and SetupGetStringFieldW (field 0, the key, and the fields after it).
// False with LastError() ERROR_LINE_NOT_FOUND when the INF has no such section, or with the
// error of a line or field that could not be read.
bool ReadInfSection(InfHandle inf, const char16_t* section, std::vector<InfRules::InfLine>* lines);

// The IDs the system matches drivers with for the device: its hardware IDs then its compatible
// IDs (SetupDiGetDeviceRegistryPropertyW, SPDRP_HARDWAREID and SPDRP_COMPATIBLEIDS); a device
// without a list has none. Only reads. 0, or the error of the read that failed.
uint32_t ReadDeviceIds(DevInfoSet set, DevInfoData* element, std::vector<std::u16string>* ids);

// On the device's element: DI_ENUMSINGLEINF with DriverPath = `infPath` and
// DI_FLAGSEX_ALLOWEXCLUDEDDRVS, SetupDiBuildDriverInfoList(SPDIT_COMPATDRIVER), every driver
// SetupDiEnumDriverInfoW lists with what SetupDiGetDriverInfoDetailW tells of it, then the list
// destroyed and the element's install parameters put back. No driver is selected: selecting one
// changes a registered device's class to the driver's. `deviceIds`: the IDs the search matched
// the lines with (ReadDeviceIds). 0, with `drivers` empty when the INF offers no driver for the
// device, or the error of the call that failed. Under Wine, building the list writes the INF's
// class into the device's Enum key: a program that must change nothing does not call it there.
uint32_t ListDrivers(DevInfoSet set, DevInfoData* element, const char16_t* infPath,
                     std::vector<InfRules::DriverLine>* drivers,
                     std::vector<std::u16string>* deviceIds);

// The machine's native platform: a 32-bit program on 64-bit Windows gets amd64 (or arm64).
InfRules::Platform NativePlatform();
// The running Windows version, as the TargetOS decorations are compared with it.
InfRules::OsVersion RunningOsVersion();

} // namespace DevSvc

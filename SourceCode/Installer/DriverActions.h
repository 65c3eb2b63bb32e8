// The two actions on a driver package: install it on the present devices, or stage its INF in
// the driver store for devices that are not present.
#pragma once

#include <cstdint>
#include <string>

// Installs the package on every present device with `csHwID`, replacing their drivers.
// 1 on success; otherwise the failure's error code (never 1, see DriverActions.cpp).
int32_t InstallDriver(const std::u16string& csHwID, const char16_t* pInfFullName);

// Copies the INF into the driver store. 1 on success, 0 on failure.
int32_t CopyOemInf(const char16_t* pInfFullName);

// What InstallDriver returns for a failure whose error code is 1 (ERROR_INVALID_FUNCTION),
// which would otherwise read as success: the same error as an HRESULT.
inline constexpr uint32_t kInstallErrorInvalidFunction = 0x80070001u;

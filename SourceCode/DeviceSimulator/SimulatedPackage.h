// The simulator's reading of a driver package: what its INF offers a simulated device on the
// machine's platform, and what the driver store's import asks of the package. Host builds only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "DeviceSimulator.h"
#include "InfServices.h"

namespace DevSim {

// The whole file at `path` (either separator), read directly: no call counted, no fault. 0,
// ERROR_FILE_NOT_FOUND when it is not a plain file, or ERROR_ACCESS_DENIED.
uint32_t ReadPackageFile(const std::u16string& path, std::vector<uint8_t>* bytes);

// The machine's platform ("platform =" in the state file; by default the build's own).
InfRules::Platform MachinePlatform();
// The Windows version the simulator runs: 10.0.19045, a workstation.
InfRules::OsVersion SimulatedOsVersion();

// The drivers the INF at `infPath` offers `device` on the machine's platform, as Windows lists
// them: 0 and `drivers` (empty: none), or the parser's error.
uint32_t DriversFor(const Device& device, const std::u16string& infPath,
                    std::vector<InfRules::DriverLine>* drivers);

// What the import of the package into the driver store checks: the INF parses (else its
// error), a catalog entry applies and its file is beside the INF, else
// ERROR_NO_CATALOG_FOR_OEM_INF, and every file the install sections of its models for the
// platform copy is there, else ERROR_FILE_NOT_FOUND. 0 when all hold.
uint32_t CheckPackageImport(const std::u16string& infPath);

// The catalog that the driver store would keep with the package of the INF at `infPath`: its
// name (the catalog entry for the machine's platform; empty when none applies) and its bytes.
// 0, or the parser's error or the read's.
uint32_t PackageCatalog(const std::u16string& infPath, std::u16string* name,
                        std::vector<uint8_t>* bytes);

} // namespace DevSim

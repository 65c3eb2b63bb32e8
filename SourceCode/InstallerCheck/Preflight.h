// The package pre-flight: whether the driver package will install on this machine, asked of
// the system wherever it can answer. The INF is opened as a Windows NT INF; for every matching
// device, present or absent, Windows' own driver matching lists the INF's drivers for it
// (under Wine, whose list writes to the device, the INF's models for the platform stand for
// it), and the device's IDs pick one; with no device, the INF's models for the platform must
// name the ID; the catalog entry that applies must name a file beside the INF; every file the
// chosen install sections copy must be in the package; and the catalog must be a catalog with
// the INF and those files among its members and a signature Windows trusts for an unattended
// install (CatalogCheck.h).
// The platform is the machine's native one. Only reads.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DeviceServices.h"
#include "DeviceSurvey.h"
#include "InfServices.h"
#include "Signature.h"

// The driver Windows would choose from the INF for a device.
struct DriverChoice {
    bool found = false;
    std::u16string description;
    std::u16string installSection;
    std::u16string matchedId; // the ID of the driver's models line that the device matched
};

struct DeviceDriver {
    std::u16string instanceId;
    DriverChoice choice;
    // What the system's driver search listed for the device, and the IDs it matched with.
    std::vector<InfRules::DriverLine> listed;
    std::vector<std::u16string> deviceIds;
    // Under Wine: nothing was listed, and the INF's models for the platform stand for the list.
    bool fromModels = false;
};

struct Preflight {
    std::u16string platform; // "NTamd64"
    bool opened = false;
    std::u16string catalog; // empty: none
    std::u16string catalogKey;
    std::u16string membersChecked; // the members' algorithm ("SHA256"); empty: not checked
    // The catalog's signature, when the catalog was read as one.
    std::optional<Signature::SignatureFacts> signature;
    std::vector<DeviceDriver> drivers; // one per matching device, in the survey's order
    std::vector<std::u16string> reasons;
    // No matching device: whether the INF's models for the platform name the ID.
    bool idNamed = false;
};

// The INF of the pre-flight, open from its construction to the end of the object's life.
class PreflightRun {
  public:
    explicit PreflightRun(const std::u16string& infPath);

    // For the survey's walk: the drivers Windows lists for this matching device.
    void Inspect(DevSvc::DevInfoSet set, DevSvc::DevInfoData* element,
                 const SurveyedDevice& device);
    // The verdict, once the survey is done: `hardwareId` is the requested ID, `devices` the
    // matching devices.
    Preflight Finish(const std::u16string& hardwareId, const std::vector<SurveyedDevice>& devices);

  private:
    std::u16string m_inf;
    struct InfCloser {
        void operator()(DevSvc::InfHandle inf) const { DevSvc::CloseInf(inf); }
    };
    std::unique_ptr<void, InfCloser> m_handle; // closed with the run
    uint32_t m_openError = 0;
    uint32_t m_errorLine = 0;
    InfRules::Platform m_platform;
    bool m_underWine;
    std::vector<DeviceDriver> m_drivers;
    std::vector<std::u16string> m_searchFailures;
};

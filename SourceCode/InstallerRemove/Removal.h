// Takes a driver package off the machine: the staged copies in the INF folder that hold exactly
// the INF's bytes, found by the same rule as InstallerCheck's verify, are removed one by one,
// then the state is read again and judged.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "PackageRequest.h"

struct RemoveRequest : PackageRequest {
    bool dryRun = false; // list what would be removed, change nothing
    bool force = false;  // where only SetupUninstallOEMInfW is there, remove copies in use too
};

enum class RemovalCall { None, UninstallDriver, UninstallInf };

// A staged copy that held the INF's bytes, and what became of it.
struct CopyRemoval {
    std::u16string name;
    RemovalCall call = RemovalCall::None; // the call made on it; None: not tried
    uint32_t error = 0;                   // the call's error, 0 when it reported success
    bool restart = false;                 // the call said a restart is needed to finish
    // Not tried: the system lacks DiUninstallDriverW, a present device uses a copy, and
    // SetupUninstallOEMInfW without --force removes nothing that is in use.
    bool held = false;
    bool staged = true; // still staged after the removal (always, in a dry run)
};

// A matching device that named one of the copies as its INF, before the removal or after it.
struct DeviceRemoval {
    std::u16string instanceId;
    size_t copy = 0;      // the copy it named: before the removal, or else after it
    bool present = false; // after the removal (before it, in a dry run)
    bool found = true;    // still there after the removal
    std::u16string driverBefore;
    std::u16string driverAfter;
    bool restart = false; // present, and its node needs a restart to run its new driver
    bool ok = true;       // does not name a copy that is still staged (absent devices: always)
};

struct Removal {
    RemoveRequest request;
    std::u16string rule;
    std::u16string infFolder;
    std::vector<CopyRemoval> copies; // in the order the INF folder gave them
    std::vector<DeviceRemoval> devices;
    std::vector<std::u16string> notes;
    bool removed = false;         // no copy is staged afterwards (none to begin with included)
    bool restartRequired = false; // a call or a device that used a copy asks for a restart
};

// Removes (or, in a dry run, lists) the package of `request`. False, with `failure` saying why,
// when the device state could not be read, before the removal or after it.
bool RemovePackage(const RemoveRequest& request, Removal* removal, std::u16string* failure);

// "DiUninstallDriverW", "SetupUninstallOEMInfW", or "" for None.
const char16_t* CallName(RemovalCall call);

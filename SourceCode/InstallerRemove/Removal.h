// Takes a driver package off the machine: the copies the system published in the INF folder for
// the INF, with exactly its bytes, found by the same rule as InstallerCheck's verify, are removed
// one by one, then the state is read again and judged. A copy that a device outside the requested
// ID uses is removed only with --force, and only by DiUninstallDriverW.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "PackageRequest.h"

struct RemoveRequest : PackageRequest {
    bool dryRun = false; // list what would be removed, change nothing
    // Remove copies in use too: where only SetupUninstallOEMInfW is there, those of matching
    // devices; with DiUninstallDriverW, those of devices outside the requested ID.
    bool force = false;
};

enum class RemovalCall { None, UninstallDriver, UninstallInf };

// Why a copy was not tried.
enum class Held {
    No,
    // Only SetupUninstallOEMInfW is there, a present matching device uses a copy, and without
    // --force it removes nothing that is in use.
    PresentDevice,
    // A device outside the requested ID uses the copy, and there is no --force (also in a dry run).
    OutsideDevice,
    // --force, a device outside the requested ID uses the copy, and without DiUninstallDriverW the
    // package would be deleted under that device.
    OutsideWithoutUninstallDriver,
};

// A copy the system published for the INF, with its bytes, and what became of it.
struct CopyRemoval {
    std::u16string name;
    RemovalCall call = RemovalCall::None; // the call made on it; None: not tried
    uint32_t error = 0;                   // the call's error, 0 when it reported success
    bool unbound = false;                 // the call could not be loaded from the system folder
    bool restart = false;                 // the call said a restart is needed to finish
    Held held = Held::No;
    bool usedOutside = false; // a device outside the requested ID named it before the removal
    bool staged = true;       // still staged after the removal (always, in a dry run)
};

// A device that named one of the copies as its INF, before the removal or after it: a matching
// device, or one outside the requested ID.
struct DeviceRemoval {
    std::u16string instanceId;
    bool outside = false; // its hardware IDs do not match the requested ID
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
    // Copies under published names with the INF's bytes that are another package's: never
    // removed, and while one is staged the package is not removed.
    std::vector<ForeignCopy> foreign;
    std::vector<DeviceRemoval> devices;
    std::vector<std::u16string> notes;
    bool removed = false; // no copy, nor another package's with the INF's bytes, is staged
                          // afterwards (none to begin with included)
    bool refused = false; // some copy was not tried, in a dry run too, or another package holds
                          // the INF's bytes
    bool restartRequired = false; // a call or a device that used a copy asks for a restart
};

// Removes (or, in a dry run, lists) the package of `request`. False, with `failure` saying why,
// when the device state could not be read, before the removal or after it; after it, `failure`
// also gives each copy's call and its outcome, one indented line each.
bool RemovePackage(const RemoveRequest& request, Removal* removal, std::u16string* failure);

// "DiUninstallDriverW", "SetupUninstallOEMInfW", or "" for None.
const char16_t* CallName(RemovalCall call);

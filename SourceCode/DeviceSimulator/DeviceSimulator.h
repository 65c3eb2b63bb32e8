// The device-manager simulator behind DeviceServices-host.cpp: a machine's device state held
// in memory, loaded from and saved to a human-editable state file, with fault injection and
// resource counters for tests. Host builds only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "HostPath.h"
#include "InfPlatform.h"

namespace DevSim {

// The operations that can be made to fail.
enum class Op {
    GetClassDevs, // "get-class-devs"
    Enum,         // "enum"
    GetProperty,  // "get-property"
    SetProperty,  // "set-property"
    Destroy,      // "destroy"
    NodeStatus,   // "node-status"
    Update,       // "update"
    Copy,         // "copy"
    Alloc,        // "alloc"  (hardware-ID buffer allocation)
    InstanceId,   // "instance-id"
    DriverKey,    // "driver-key" (a value of the device's driver key)
    ListFiles,    // "list-files"
    ReadFile,     // "read-file"
    Bind,         // "bind" (loading a function Windows binds at run time: GetDevNodeStatus,
                  // UpdateDriverForDevices, UninstallDriver, UninstallOEMInf)
    Uninstall,    // "uninstall" (UninstallDriver)
    UninstallInf, // "uninstall-inf" (UninstallOEMInf)
    Count
};

const char* OpName(Op op);
std::optional<Op> OpFromName(const std::string& name);

// Makes calls number firstCall, firstCall+1, ... (counted from 1 per operation) fail with
// `error`; `count` calls in all, 0 meaning every call from firstCall on. For GetProperty with
// error 122, `requiredSize` (when given) is reported instead of the true size, and so it is for
// InstanceId with 122 (in characters) and DriverKey with 234 (in bytes). For NodeStatus the error
// is the CONFIGRET returned. For Uninstall and UninstallInf an error of 0 makes the call report
// success and change nothing, as Wine's SetupUninstallOEMInfW does without SUOI_FORCEDELETE. For
// Bind the call being bound fails as it does when its DLL or function is missing from the system
// folder, with `error` as the reason (126, 127); a missing DLL stays missing, so such a fault
// usually has a count of 0. For GetClassDevs the set is INVALID_HANDLE_VALUE.
struct Fault {
    Op op;
    uint32_t firstCall;
    uint32_t error;
    uint32_t count = 1;
    std::optional<uint32_t> requiredSize = std::nullopt;
};

struct Device {
    std::u16string instanceId;
    // Raw SPDRP_HARDWAREID data (REG_MULTI_SZ, UTF-16LE); nullopt: the device has none.
    std::optional<std::vector<uint8_t>> hardwareIds;
    bool present = true;
    // Raw SPDRP_CONFIGFLAGS data; nullopt: the device has none.
    std::optional<std::vector<uint8_t>> configFlags;
    std::u16string driver;   // name of the INF installed on it, e.g. "oem3.inf"; empty: none
    uint32_t nodeStatus = 0; // status bits CM_Get_DevNode_Status reports for a present device
    uint32_t problem = 0;    // problem number it reports
    // False: the device cannot be stopped now, so a driver change on it takes effect at the next
    // restart: the change sets DN_NEED_RESTART on the node and asks for a restart.
    bool stoppable = true;
};

// A package in the driver store, published in the INF folder as `name` (oem<N>.inf): the store
// keeps the package's catalog with it, under the catalog's own name.
struct StagedPackage {
    std::u16string name;
    std::u16string catalog; // the catalog's file name
    std::vector<uint8_t> catalogBytes;
};

struct Machine {
    std::vector<Device> devices;
    std::string driverStore; // folder of staged INFs; relative paths are taken from the
                             // state file's folder
    std::vector<Fault> faults;
    // The system has DiUninstallDriverW (Windows 10 1703 and later); false stands for older
    // Windows and for Wine, where UninstallDriver fails with ERROR_PROC_NOT_FOUND.
    bool hasUninstallDriver = true;
    // The simulated Windows' platform, as the INF's decorations are read for it; nullopt: the
    // build's own (amd64 on x86-64).
    std::optional<InfRules::Platform> platform;
    // The packages the driver store holds, with their catalogs, in the order they were staged.
    // A published INF without one (a state file from before packages were kept, a file put
    // there by hand) has no package in the store.
    std::vector<StagedPackage> packages;
    // The simulated system is Wine: ntdll exports wine_get_version.
    bool wine = false;
    // [trust]: the certificates the machine's stores hold, each a certificate file (DER or PEM)
    // as the state file names it, relative ones taken from the state file's folder. A machine
    // without the section trusts nothing.
    std::vector<std::string> roots; // "root": LocalMachine Root
    std::vector<std::string>
        trustedPublishers;                   // "trusted-publisher": LocalMachine TrustedPublisher
    std::vector<std::string> microsoftRoots; // "microsoft-root": roots the Microsoft-root
                                             // policy passes (they are in Root too)
};

// Builders for tests.
std::vector<uint8_t> MultiSz(std::initializer_list<std::u16string> ids);
std::vector<uint8_t> FlagBytes(uint32_t flags);
Device MakeDevice(std::u16string instanceId, std::initializer_list<std::u16string> ids,
                  bool present, std::optional<uint32_t> flags = 0u);

// Replaces the simulated machine, clears counters and faults (the machine's own faults are
// installed). With an empty `stateFile` nothing is ever saved.
void UseMachine(Machine machine, std::string stateFile = {});
// Loads the machine from the state file named by INSTALLER_MACHINE (default "Machine.ini"
// beside the executable). Done automatically on the first call into the services.
bool LoadDefaultMachine();
// The current machine, for inspection and direct edits by tests.
Machine& Current();
void AddFault(Fault fault);

// Counters since the last UseMachine.
uint32_t Calls(Op op);
int OpenSets();        // sets built and not yet destroyed
int LiveBuffers();     // ID buffers allocated and not yet released
int PeakLiveBuffers(); // the most ID buffers live at one time

// State file: text, UTF-8. Parse errors name the line.
bool ParseMachine(const std::string& text, Machine* out, std::string* error);
std::string FormatMachine(const Machine& machine);
bool LoadMachineFile(const std::string& path, Machine* out, std::string* error);
// Writes to a temporary file beside `path`, then renames it over `path`.
bool SaveMachineFile(const std::string& path, const Machine& machine);

// Field-by-field equality, for round-trip checks.
bool operator==(const Fault& a, const Fault& b);
bool operator==(const Device& a, const Device& b);
bool operator==(const StagedPackage& a, const StagedPackage& b);
bool operator==(const Machine& a, const Machine& b);

// The state file in use: empty when none (UseMachine without one, or a file that failed to
// load, which is then never written).
const std::string& StateFile();
// The last problem with the state file: why it could not be loaded, or why the last save
// failed. Empty when there was none. The simulator never prints it.
const std::string& StateFileError();
// The driver store folder in use: the machine's driverStore ("DriverStore" when empty) taken
// from the state file's folder, or from the working folder when no state file is in use.
std::string DriverStoreFolder();
// The files of one of the machine's [trust] lists, as paths to open: relative names taken from
// the state file's folder (the working folder when no state file is in use).
std::vector<std::string> TrustFiles(const std::vector<std::string>& names);
// Adds a certificate to TrustedPublisher: writes `der` to `fileName` in the state file's folder
// (replacing any file of that name), lists it as a trusted publisher unless it already is, and
// saves the machine. 0 or a Windows error.
uint32_t AddTrustedPublisher(const std::vector<uint8_t>& der, const std::string& fileName);
// ReleaseBuffer calls with a pointer that is not a live buffer (released twice, or never
// allocated here) since the last UseMachine. Such pointers are not freed.
int StrayReleases();
// Reads offered more bytes of an ID buffer than the block holds less its two spare bytes (a
// renewed buffer a few bytes too small), since the last UseMachine. Such a read fails with
// ERROR_INVALID_USER_BUFFER and writes nothing.
int OverlongOffers();

// UTF-8 <-> UTF-16. FromUtf8 fails on malformed UTF-8, so that the state file never holds a value
// that was silently changed; ToUtf8 is the host stand-ins' one (HostSupport/HostPath.h), which
// writes U+FFFD for an unpaired surrogate.
std::optional<std::u16string> FromUtf8(const std::string& text);
using HostSupport::ToUtf8;
// The entries of REG_MULTI_SZ data, up to its first empty string or its end (a trailing odd
// byte is ignored).
std::vector<std::u16string> SplitMultiSz(const std::vector<uint8_t>& data);

// Hooks for DeviceServices-host.cpp, which keeps the Windows contracts on top of them.
namespace Hooks {
// Loads the default machine unless one is in use already.
void EnsureLoaded();
// Counts one call of `op`; the fault that makes this call fail, if any.
std::optional<Fault> CountCall(Op op);
// Device sets: a handle owning a snapshot of device indices into Current().devices.
void* OpenSet(std::vector<size_t> devices);
const std::vector<size_t>* FindSet(void* handle); // nullptr: not a live set
bool CloseSet(void* handle);                      // false: not a live set
// Zero-filled buffers; nullptr when the memory cannot be had.
uint8_t* NewBuffer(size_t bytes);
void FreeBuffer(uint8_t* buffer);
// False, and counted, when `buffer` is a live block that cannot take `offered` bytes and the
// two spare bytes after them. Other buffers are not checked.
bool OfferFits(const uint8_t* buffer, uint32_t offered);
// Saves the machine to the state file, if one is in use.
void StateChanged();
// The driver store (DriverStore.cpp). Puts the INF into DriverStoreFolder() as SetupCopyOEMInf
// does: an identical staged copy is reused, otherwise the INF becomes oem<N>.inf with the lowest
// free N, and oem<N>.pnf beside it holds the INF's own name (its first line, UTF-8), which
// GetOriginalInfName reports. A staged copy is identical when it has the INF's bytes and its
// package the package's catalog: the store keeps the catalog with the package (Current().packages).
// 0 or a Windows error.
uint32_t StageInf(const std::u16string& infPath, std::string* stagedPath, std::u16string* name);
bool IsRegularFile(const std::string& path);
// The staged file `path` names: 0, with its name, when it is a file right in DriverStoreFolder();
// otherwise ERROR_FILE_NOT_FOUND.
uint32_t FindStaged(const std::string& path, std::u16string* name);
// Deletes the staged file `name` and its .pnf from the driver store, and its package with its
// catalog. 0 or a Windows error.
uint32_t DeleteStaged(const std::u16string& name);
} // namespace Hooks

} // namespace DevSim

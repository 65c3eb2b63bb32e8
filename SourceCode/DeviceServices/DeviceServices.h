// Device-installation services: the only way the installation logic reaches the system's
// device state. This header holds the operations that only read it (library devsvc);
// DeviceChanges.h adds those that change it (library devsvc_changes), so that a program that
// must not change anything does not even contain them. DeviceServices-win32.cpp calls the real
// Setup API and Configuration Manager functions; DeviceServices-host.cpp and
// ReadOnlyCalls-host.cpp answer from a device-manager simulator for Linux.
//
// Every function keeps the contract of the Windows call it stands for: BOOL-style results with
// the reason in LastError(), CONFIGRET-style codes from GetDevNodeStatus.
//
// Functions of DLLs outside the system's KnownDLLs (cfgmgr32, newdev) are not imported: they are
// loaded at their first call from the system folder alone, so that a DLL of that name beside the
// program never runs. When the DLL or the function cannot be had there, the call fails as the
// Windows call would fail, with LastError() ERROR_MOD_NOT_FOUND or ERROR_PROC_NOT_FOUND.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace DevSvc {

// Opaque device information set; kInvalidSet (all bits set) when none could be built.
using DevInfoSet = void*;
inline DevInfoSet const kInvalidSet = reinterpret_cast<DevInfoSet>(~uintptr_t{0});

// Same layout as SP_DEVINFO_DATA: 28 bytes in a 32-bit build, 32 in a 64-bit build.
struct DevInfoData {
    uint32_t cbSize;
    uint8_t classGuid[16];
    uint32_t DevInst;
    uintptr_t reserved;
};

inline constexpr uint32_t DIGCF_PRESENT = 0x2;
inline constexpr uint32_t DIGCF_ALLCLASSES = 0x4;
inline constexpr uint32_t SPDRP_HARDWAREID = 1;
inline constexpr uint32_t SPDRP_CONFIGFLAGS = 10;
inline constexpr uint32_t CONFIGFLAG_REINSTALL = 0x20;
inline constexpr uint32_t INSTALLFLAG_FORCE = 1;
inline constexpr uint32_t SPOST_PATH = 1;
inline constexpr uint32_t MAX_PATH_CHARS = 260;

inline constexpr uint32_t ERROR_SUCCESS_CODE = 0;
inline constexpr uint32_t ERROR_FILE_NOT_FOUND_CODE = 2;
inline constexpr uint32_t ERROR_ACCESS_DENIED_CODE = 5;
inline constexpr uint32_t ERROR_NOT_ENOUGH_MEMORY_CODE = 8;
inline constexpr uint32_t ERROR_INVALID_DATA_CODE = 13;
inline constexpr uint32_t ERROR_INVALID_PARAMETER_CODE = 87;
inline constexpr uint32_t ERROR_INSUFFICIENT_BUFFER_CODE = 122;
inline constexpr uint32_t ERROR_NO_MORE_ITEMS_CODE = 259;
inline constexpr uint32_t ERROR_INVALID_HANDLE_CODE = 6;
inline constexpr uint32_t ERROR_NO_SUCH_DEVINST_CODE = 0xE000020B;
inline constexpr uint32_t ERROR_PATH_NOT_FOUND_CODE = 3;
inline constexpr uint32_t ERROR_BAD_FILE_TYPE_CODE = 222;
inline constexpr uint32_t ERROR_FILE_TOO_LARGE_CODE = 223;
inline constexpr uint32_t ERROR_MORE_DATA_CODE = 234;
inline constexpr uint32_t ERROR_KEY_DOES_NOT_EXIST_CODE = 0xE0000204;
inline constexpr uint32_t ERROR_MOD_NOT_FOUND_CODE = 126;
inline constexpr uint32_t ERROR_PROC_NOT_FOUND_CODE = 127;
inline constexpr uint32_t REG_SZ_TYPE = 1;
inline constexpr uint32_t FILE_ATTRIBUTE_DIRECTORY_BIT = 0x10;
inline constexpr uint32_t INVALID_FILE_ATTRIBUTES_VALUE = 0xFFFFFFFF;

// CM_Get_DevNode_Status's status bit and problem number for a node that runs its new driver
// only after a restart.
inline constexpr uint32_t DN_NEED_RESTART = 0x00000100;
inline constexpr uint32_t CM_PROB_NEED_RESTART = 14;

inline constexpr uint32_t CR_SUCCESS = 0;
inline constexpr uint32_t CR_NO_SUCH_DEVINST = 13;
inline constexpr uint32_t CR_FAILURE = 0x13;

// SetupDiGetClassDevsW(NULL, NULL, NULL, flags).
DevInfoSet GetClassDevs(uint32_t flags);

// SetupDiEnumDeviceInfo: TRUE and a filled element while `index` is inside the set.
bool EnumDeviceInfo(DevInfoSet set, uint32_t index, DevInfoData* element);

// SetupDiGetDeviceRegistryPropertyW with no type out-parameter. On FALSE with LastError() 122
// (ERROR_INSUFFICIENT_BUFFER), `*requiredSize` holds the size needed in bytes.
bool GetDeviceRegistryProperty(DevInfoSet set, DevInfoData* element, uint32_t property,
                               uint8_t* buffer, uint32_t bufferSize, uint32_t* requiredSize);

// SetupDiDestroyDeviceInfoList.
bool DestroyDeviceInfoList(DevInfoSet set);

// CM_Get_DevNode_Status (cfgmgr32, loaded at run time): a CONFIGRET; CR_NO_SUCH_DEVINST when
// the node is not present now. CR_FAILURE, with LastError() ERROR_MOD_NOT_FOUND or
// ERROR_PROC_NOT_FOUND, when the function cannot be loaded; otherwise LastError() is untouched.
uint32_t GetDevNodeStatus(uint32_t* status, uint32_t* problemNumber, uint32_t devInst,
                          uint32_t flags);

// GetLastError: the last error of the calling thread.
uint32_t LastError();

// Heap block for a hardware-ID list: nullptr (with LastError() set) when it cannot be had.
uint8_t* AllocateBuffer(size_t bytes);
void ReleaseBuffer(uint8_t* buffer);

// Further read-only calls, for the companions that check a machine's state.

// SetupDiGetDeviceInstanceIdW. On FALSE with LastError() 122, `*requiredChars` holds the size
// needed in characters, its NUL included.
bool GetDeviceInstanceId(DevInfoSet set, DevInfoData* element, char16_t* buffer,
                         uint32_t bufferChars, uint32_t* requiredChars);

// SetupDiOpenDevRegKey(set, element, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_QUERY_VALUE), then
// RegQueryValueExW(key, name, NULL, type, buffer, dataBytes) and RegCloseKey. Returns the
// Windows error code: 0; ERROR_KEY_DOES_NOT_EXIST (or the open's other error) when the device
// has no driver key; ERROR_FILE_NOT_FOUND when the key has no such value; ERROR_MORE_DATA with
// `*dataBytes` the size needed. `*dataBytes` holds the buffer's size on the way in.
uint32_t QueryDriverKeyValue(DevInfoSet set, DevInfoData* element, const char16_t* name,
                             uint32_t* type, uint8_t* buffer, uint32_t* dataBytes);

// The system's INF folder (GetSystemWindowsDirectoryW followed by "\INF"), where staged
// packages are published as oem<N>.inf. Its length in characters, or 0 with LastError() when
// it cannot be had or does not fit in `bufferChars` (NUL included).
uint32_t GetInfFolder(char16_t* buffer, uint32_t bufferChars);

struct FoundFile {
    std::u16string name; // without the folder
    uint64_t bytes;
};
// FindFirstFileW / FindNextFileW / FindClose over `pattern` (a folder, a backslash, and a name
// with * wildcards): the files it matches, folders left out. False with LastError() when the
// search fails; ERROR_FILE_NOT_FOUND when nothing matches.
bool ListFiles(const char16_t* pattern, std::vector<FoundFile>* files);

// GetFileAttributesW: INVALID_FILE_ATTRIBUTES_VALUE, with LastError(), when `path` names nothing.
uint32_t FileAttributesOf(const char16_t* path);

// CreateFileW for reading (others may read too), GetFileType, GetFileSizeEx, ReadFile,
// CloseHandle: the whole file, when it is a plain disk file of at most `maxBytes`. False with
// LastError(): the system's reason, ERROR_BAD_FILE_TYPE when it is not a disk file (a pipe, a
// device), or ERROR_FILE_TOO_LARGE when it is bigger.
bool ReadWholeFile(const char16_t* path, uint64_t maxBytes, std::vector<uint8_t>* content);

// SetupGetInfInformationW(infPath, INFINFO_INF_NAME_IS_ABSOLUTE) followed by
// SetupQueryInfOriginalFileInformationW: the file name an INF in the INF folder had before the
// system published it there. Windows keeps it in the .pnf beside each oem<N>.inf; Wine answers
// the copy's own name. False with LastError() when the INF's information cannot be had.
bool GetOriginalInfName(const char16_t* infPath, std::u16string* name);

// IsWow64Process for this process: true when a 32-bit program runs on 64-bit Windows.
bool RunningUnderWow64();

// Further read-only calls, for judging whose package a staged copy is.

// The catalog that the driver store keeps for the package published as `publishedInf` (a full
// path in the INF folder): SetupGetInfDriverStoreLocationW (setupapi.dll, bound at run time from
// the system folder) names the package's INF in its driver-store folder, and the file
// `catalogName` in that folder is read as ReadWholeFile reads it, up to `maxBytes`. False with
// LastError(): the call's error (ERROR_PROC_NOT_FOUND when the system lacks it; Wine 8's stub
// always fails) or the read's (ERROR_FILE_NOT_FOUND: no such catalog).
bool ReadStoredCatalog(const char16_t* publishedInf, const char16_t* catalogName, uint64_t maxBytes,
                       std::vector<uint8_t>* content);

// GetSystemDirectoryW followed by "\catroot\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}": where
// Wine's SetupCopyOEMInfW adds a package's catalog under the catalog's own name. Its length in
// characters, or 0 with LastError() when it cannot be had or does not fit (NUL included).
uint32_t GetCatalogRootFolder(char16_t* buffer, uint32_t bufferChars);

// True when the program runs under Wine: ntdll.dll exports wine_get_version.
bool RunningUnderWine();

// CompareStringOrdinal(a, b, TRUE): whether the file system takes the two names as one name
// (case is ignored for every letter, not only A to Z).
bool SameFileName(const std::u16string& a, const std::u16string& b);

// Whether `a` and `b` name one file or folder: opened for no access with backup semantics (a
// folder opens too), GetFileInformationByHandle, then the volume serial numbers and file IDs
// compared. 0 with `*same`, or the error of the open or the query.
uint32_t SameFile(const char16_t* a, const char16_t* b, bool* same);

} // namespace DevSvc

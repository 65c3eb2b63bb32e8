// Test-only cfgmgr32.dll for the end-to-end suite under Wine, where every registered device
// counts as present. Installed in the prefix's system folder and loaded instead of Wine's own
// (WINEDLLOVERRIDES=cfgmgr32=n,b), it makes chosen devices absent: CM_Get_DevNode_Status answers
// CR_NO_SUCH_DEVINST for the device instances listed in INSTALLER_TEST_ABSENT (instance IDs
// separated by ';', compared ignoring case), CR_FAILURE for those listed in
// INSTALLER_TEST_NODE_FAIL (a node state that cannot be read), and passes every other call to
// the system's implementation, which lives in setupapi.dll; for the devices listed in
// INSTALLER_TEST_RESTART it adds DN_NEED_RESTART to the status that call gives, which Wine never
// reports itself.
#include "Win32.h"

#include <cfgmgr32.h>

#include <cwchar>

namespace {

using GetDevNodeStatusFn = CONFIGRET(WINAPI*)(PULONG, PULONG, DEVINST, ULONG);
using GetDeviceIdFn = CONFIGRET(WINAPI*)(DEVINST, PWSTR, ULONG, ULONG);

template <typename Fn> Fn SystemFunction(const char* name) {
    const HMODULE setupapi = LoadLibraryW(L"setupapi.dll");
    if (setupapi == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(setupapi, name)));
}

// True when `instance` is one of the entries of `list`.
bool Listed(const wchar_t* list, const wchar_t* instance) {
    const size_t length = wcslen(instance);
    for (const wchar_t* entry = list; *entry != L'\0';) {
        const wchar_t* end = wcschr(entry, L';');
        const size_t entryLength = end != nullptr ? size_t(end - entry) : wcslen(entry);
        if (entryLength == length && _wcsnicmp(entry, instance, length) == 0) {
            return true;
        }
        if (end == nullptr) {
            break;
        }
        entry = end + 1;
    }
    return false;
}

// True when the node's instance ID is listed in the environment variable `variable`.
bool ListedIn(const wchar_t* variable, DEVINST node) {
    static const GetDeviceIdFn getDeviceId = SystemFunction<GetDeviceIdFn>("CM_Get_Device_IDW");
    wchar_t list[4096];
    const DWORD listLength = GetEnvironmentVariableW(variable, list, 4096);
    wchar_t instance[MAX_DEVICE_ID_LEN + 1] = {};
    if (getDeviceId == nullptr || listLength == 0 || listLength >= 4096 ||
        getDeviceId(node, instance, MAX_DEVICE_ID_LEN + 1, 0) != CR_SUCCESS) {
        return false;
    }
    return Listed(list, instance);
}

} // namespace

// Exported as CM_Get_DevNode_Status (CfgMgrShim.def).
extern "C" CONFIGRET WINAPI ShimGetDevNodeStatus(PULONG status, PULONG problem, DEVINST node,
                                                 ULONG flags) {
    // A failure wins over absence, so that a device can be made unreadable in a list of
    // absent ones.
    if (ListedIn(L"INSTALLER_TEST_NODE_FAIL", node)) {
        return CR_FAILURE;
    }
    if (ListedIn(L"INSTALLER_TEST_ABSENT", node)) {
        return CR_NO_SUCH_DEVINST;
    }
    static const GetDevNodeStatusFn system =
        SystemFunction<GetDevNodeStatusFn>("CM_Get_DevNode_Status");
    if (system == nullptr) {
        return CR_FAILURE;
    }
    const CONFIGRET result = system(status, problem, node, flags);
    if (result == CR_SUCCESS && status != nullptr && ListedIn(L"INSTALLER_TEST_RESTART", node)) {
        *status |= DN_NEED_RESTART;
    }
    return result;
}

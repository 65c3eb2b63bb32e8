// Device fixture for the end-to-end suite under Wine: registers root-enumerated devices with
// chosen hardware-ID lists and configuration flags, reads them back and removes them again.
//
//   WineDeviceHelper add [--flags N] ID [ID ...]   registers a device; prints its instance ID
//   WineDeviceHelper flags INSTANCE                prints its config flags (0x%08X) or "none"
//   WineDeviceHelper list                          one line per device: instance, flags, driver
//                                                  and hardware IDs, separated by tabs
//   WineDeviceHelper remove INSTANCE [...]         removes the devices
//   WineDeviceHelper load DLL                      loads a DLL by its full path (to show that a
//                                                  planted DLL does what the suite looks for)
//   WineDeviceHelper hold FILE SECONDS              holds FILE open for reading with full
//                                                  sharing, as a log viewer does; prints "held"
//
// Output is UTF-8 with LF line ends; failures go to stderr with exit code 1 (2: bad usage).
#include "Win32.h"

#include <cfgmgr32.h>
#include <fcntl.h>
#include <io.h>
#include <setupapi.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// The System setup class: {4d36e97d-e325-11ce-bfc1-08002be10318}.
constexpr GUID kSystemClass = {
    0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
constexpr wchar_t kDeviceName[] = L"INSTALLERSUITE";

std::string Utf8(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

void Print(const std::wstring& line) {
    const std::string bytes = Utf8(line) + "\n";
    fwrite(bytes.data(), 1, bytes.size(), stdout);
}

int Fail(const wchar_t* what) {
    const DWORD error = GetLastError();
    fprintf(stderr, "WineDeviceHelper: %s failed, error 0x%lx\n", Utf8(what).c_str(), error);
    return 1;
}

// Owns a device information set.
class DeviceSet {
  public:
    explicit DeviceSet(HDEVINFO set) : set_(set) {}
    ~DeviceSet() {
        if (valid()) {
            SetupDiDestroyDeviceInfoList(set_);
        }
    }
    DeviceSet(const DeviceSet&) = delete;
    DeviceSet& operator=(const DeviceSet&) = delete;
    bool valid() const { return set_ != INVALID_HANDLE_VALUE; }
    HDEVINFO get() const { return set_; }

  private:
    HDEVINFO set_;
};

bool ReadProperty(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property, std::vector<BYTE>& data) {
    DWORD required = 0;
    data.assign(64, 0);
    if (SetupDiGetDeviceRegistryPropertyW(set, device, property, nullptr, data.data(),
                                          static_cast<DWORD>(data.size()), &required)) {
        data.resize(required);
        return true;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return false;
    }
    data.assign(required, 0);
    if (!SetupDiGetDeviceRegistryPropertyW(set, device, property, nullptr, data.data(), required,
                                           &required)) {
        return false;
    }
    data.resize(required);
    return true;
}

std::wstring FlagsText(HDEVINFO set, SP_DEVINFO_DATA* device) {
    std::vector<BYTE> data;
    if (!ReadProperty(set, device, SPDRP_CONFIGFLAGS, data) || data.size() != sizeof(DWORD)) {
        return L"none";
    }
    DWORD flags = 0;
    memcpy(&flags, data.data(), sizeof(flags));
    wchar_t text[16];
    swprintf(text, 16, L"0x%08lX", flags);
    return text;
}

// The entries of a multi-string property, joined by tabs.
std::wstring IdsText(HDEVINFO set, SP_DEVINFO_DATA* device) {
    std::vector<BYTE> data;
    if (!ReadProperty(set, device, SPDRP_HARDWAREID, data)) {
        return L"";
    }
    std::wstring all(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
    std::wstring joined;
    for (size_t start = 0; start < all.size() && all[start] != L'\0';) {
        const size_t end = all.find(L'\0', start);
        const size_t stop = end == std::wstring::npos ? all.size() : end;
        joined += L'\t';
        joined += all.substr(start, stop - start);
        start = stop + 1;
    }
    return joined;
}

std::wstring DriverText(HDEVINFO set, SP_DEVINFO_DATA* device) {
    std::vector<BYTE> data;
    if (!ReadProperty(set, device, SPDRP_DRIVER, data) || data.size() < sizeof(wchar_t)) {
        return L"-";
    }
    return reinterpret_cast<const wchar_t*>(data.data());
}

std::wstring InstanceId(HDEVINFO set, SP_DEVINFO_DATA* device) {
    wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
    if (!SetupDiGetDeviceInstanceIdW(set, device, id, MAX_DEVICE_ID_LEN + 1, nullptr)) {
        return L"?";
    }
    return id;
}

int Add(int argc, wchar_t** argv) {
    DWORD flags = 0;
    bool withFlags = false;
    int first = 2;
    if (argc > 3 && wcscmp(argv[2], L"--flags") == 0) {
        flags = wcstoul(argv[3], nullptr, 0);
        withFlags = true;
        first = 4;
    }
    if (first >= argc) {
        return 2;
    }
    std::wstring ids;
    for (int i = first; i < argc; ++i) {
        ids += argv[i];
        ids += L'\0';
    }
    ids += L'\0';

    DeviceSet set(SetupDiCreateDeviceInfoList(&kSystemClass, nullptr));
    if (!set.valid()) {
        return Fail(L"SetupDiCreateDeviceInfoList");
    }
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    if (!SetupDiCreateDeviceInfoW(set.get(), kDeviceName, &kSystemClass, nullptr, nullptr,
                                  DICD_GENERATE_ID, &device)) {
        return Fail(L"SetupDiCreateDeviceInfoW");
    }
    if (!SetupDiSetDeviceRegistryPropertyW(set.get(), &device, SPDRP_HARDWAREID,
                                           reinterpret_cast<const BYTE*>(ids.data()),
                                           static_cast<DWORD>(ids.size() * sizeof(wchar_t)))) {
        return Fail(L"SetupDiSetDeviceRegistryPropertyW(SPDRP_HARDWAREID)");
    }
    if (withFlags &&
        !SetupDiSetDeviceRegistryPropertyW(set.get(), &device, SPDRP_CONFIGFLAGS,
                                           reinterpret_cast<const BYTE*>(&flags), sizeof(flags))) {
        return Fail(L"SetupDiSetDeviceRegistryPropertyW(SPDRP_CONFIGFLAGS)");
    }
    if (!SetupDiRegisterDeviceInfo(set.get(), &device, 0, nullptr, nullptr, nullptr)) {
        return Fail(L"SetupDiRegisterDeviceInfo");
    }
    Print(InstanceId(set.get(), &device));
    return 0;
}

int Flags(const wchar_t* instance) {
    DeviceSet set(SetupDiCreateDeviceInfoList(nullptr, nullptr));
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    if (!set.valid() || !SetupDiOpenDeviceInfoW(set.get(), instance, nullptr, 0, &device)) {
        return Fail(L"SetupDiOpenDeviceInfoW");
    }
    Print(FlagsText(set.get(), &device));
    return 0;
}

int List() {
    DeviceSet set(SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES));
    if (!set.valid()) {
        return Fail(L"SetupDiGetClassDevsW");
    }
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set.get(), i, &device); ++i) {
        Print(InstanceId(set.get(), &device) + L'\t' + FlagsText(set.get(), &device) + L'\t' +
              DriverText(set.get(), &device) + IdsText(set.get(), &device));
    }
    return 0;
}

int Remove(int argc, wchar_t** argv) {
    for (int i = 2; i < argc; ++i) {
        DeviceSet set(SetupDiCreateDeviceInfoList(nullptr, nullptr));
        SP_DEVINFO_DATA device = {};
        device.cbSize = sizeof(device);
        if (!set.valid() || !SetupDiOpenDeviceInfoW(set.get(), argv[i], nullptr, 0, &device)) {
            return Fail(L"SetupDiOpenDeviceInfoW");
        }
        if (!SetupDiRemoveDevice(set.get(), &device)) {
            return Fail(L"SetupDiRemoveDevice");
        }
    }
    return 0;
}

// Opens FILE for reading with full sharing, as a log viewer that follows a log does, says "held"
// and keeps it open for SECONDS (or until it is ended).
int Hold(const wchar_t* file, const wchar_t* seconds) {
    const HANDLE held =
        CreateFileW(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) {
        return Fail(L"CreateFileW");
    }
    fputs("held\n", stdout);
    fflush(stdout);
    Sleep(static_cast<DWORD>(_wtoi(seconds)) * 1000);
    CloseHandle(held);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    const std::wstring command = argc > 1 ? argv[1] : L"";
    int result = 2;
    if (command == L"add") {
        result = Add(argc, argv);
    } else if (command == L"flags" && argc == 3) {
        result = Flags(argv[2]);
    } else if (command == L"list" && argc == 2) {
        result = List();
    } else if (command == L"remove") {
        result = Remove(argc, argv);
    } else if (command == L"load" && argc == 3) {
        result = LoadLibraryW(argv[2]) != nullptr ? 0 : Fail(L"LoadLibraryW");
    } else if (command == L"hold" && argc == 4) {
        result = Hold(argv[2], argv[3]);
    }
    if (result == 2) {
        fputs("usage: WineDeviceHelper add [--flags N] ID [ID ...] | flags INSTANCE | list | "
              "remove INSTANCE [...] | load DLL | hold FILE SECONDS\n",
              stderr);
    }
    fflush(stdout);
    return result;
}

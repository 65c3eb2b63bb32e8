// The INF services on Windows: each function is the Setup API call it names. Nothing here
// changes the device state: the driver list is built on the caller's device information set,
// read without selecting a driver (a selection writes the driver's class to a registered
// device) and destroyed again, and the element's install parameters are put back as they were.
#include "InfServices.h"

#include "SetupCalls-win32.h"

#include <algorithm>
#include <cstddef>
#include <cwchar>
#include <vector>

using DevSvc::Win32Calls::Native;
using Win32::FromWide;
using Win32::Wide;

namespace {

// Field `index` of the line. False, with the last error, when it cannot be read.
bool StringField(INFCONTEXT* context, DWORD index, std::u16string* text) {
    text->clear();
    DWORD required = 0;
    if (!SetupGetStringFieldW(context, index, nullptr, 0, &required)) {
        return false;
    }
    if (required <= 1) {
        return true;
    }
    std::vector<wchar_t> buffer(required);
    if (!SetupGetStringFieldW(context, index, buffer.data(), required, &required)) {
        return false;
    }
    buffer.back() = L'\0';
    *text = FromWide(buffer.data());
    return true;
}

// The strings of `chars` characters at `ids`, each ended by a NUL or by the end; empty ones
// are left out.
std::vector<std::u16string> Strings(const wchar_t* ids, size_t chars) {
    std::vector<std::u16string> strings;
    size_t start = 0;
    for (size_t i = 0; i <= chars; ++i) {
        if (i == chars || ids[i] == L'\0') {
            if (i > start) {
                strings.push_back(FromWide(std::wstring(ids + start, i - start).c_str()));
            }
            start = i + 1;
        }
    }
    return strings;
}

// The device's ID list `property` (SPDRP_HARDWAREID or SPDRP_COMPATIBLEIDS), appended to `ids`.
// A device without it has none. 0, or the error.
DWORD ReadIdList(HDEVINFO set, SP_DEVINFO_DATA* element, DWORD property,
                 std::vector<std::u16string>* ids) {
    std::vector<uint8_t> buffer(1024);
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD required = 0;
        if (SetupDiGetDeviceRegistryPropertyW(set, element, property, nullptr, buffer.data(),
                                              static_cast<DWORD>(buffer.size()), &required)) {
            const size_t chars = std::min<size_t>(required, buffer.size()) / sizeof(wchar_t);
            const std::vector<std::u16string> found =
                Strings(reinterpret_cast<const wchar_t*>(buffer.data()), chars);
            ids->insert(ids->end(), found.begin(), found.end());
            return 0;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_INVALID_DATA) {
            return 0;
        }
        if (error != ERROR_INSUFFICIENT_BUFFER || required <= buffer.size() ||
            required > 16 * 1024 * 1024) {
            return error;
        }
        buffer.assign(required, 0);
    }
    return ERROR_INSUFFICIENT_BUFFER;
}

// What SetupDiGetDriverInfoDetailW tells of `driver`: its install section, its line's hardware
// ID and compatible IDs. A buffer too small is renewed to the size the call asks for, and the
// call made again. 0, or the error.
DWORD ReadDriverDetail(HDEVINFO set, SP_DEVINFO_DATA* element, SP_DRVINFO_DATA_W* driver,
                       InfRules::DriverLine* line) {
    std::vector<uint8_t> buffer(sizeof(SP_DRVINFO_DETAIL_DATA_W) + 1024);
    for (int attempt = 0; attempt < 3; ++attempt) {
        auto* detail = reinterpret_cast<SP_DRVINFO_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof(SP_DRVINFO_DETAIL_DATA_W);
        DWORD required = 0;
        if (!SetupDiGetDriverInfoDetailW(set, element, driver, detail,
                                         static_cast<DWORD>(buffer.size()), &required)) {
            const DWORD error = GetLastError();
            if (error != ERROR_INSUFFICIENT_BUFFER || required <= buffer.size() ||
                required > 1024 * 1024) {
                return error;
            }
            buffer.assign(required, 0);
            continue;
        }
        // The IDs fill the buffer from HardwareID on: the line's hardware ID, then at
        // CompatIDsOffset its compatible IDs. Nothing past the buffer is read.
        const size_t chars =
            (buffer.size() - offsetof(SP_DRVINFO_DETAIL_DATA_W, HardwareID)) / sizeof(wchar_t);
        const wchar_t* ids = detail->HardwareID;
        const size_t offset = std::min<size_t>(detail->CompatIDsOffset, chars);
        const size_t length = std::min<size_t>(detail->CompatIDsLength, chars - offset);
        line->description = FromWide(driver->Description);
        detail->SectionName[LINE_LEN - 1] = L'\0';
        line->installSection = FromWide(detail->SectionName);
        // An offset of 0 or 1 means no hardware ID; with no compatible IDs the first string is
        // the hardware ID all the same (empty when there is none).
        if (offset > 1 || length == 0) {
            const wchar_t* end = ids + (offset > 1 ? offset : chars);
            line->hardwareId = FromWide(std::wstring(ids, std::find(ids, end, L'\0')).c_str());
        }
        line->compatibleIds = Strings(ids + offset, length);
        return 0;
    }
    return ERROR_INSUFFICIENT_BUFFER;
}

} // namespace

DevSvc::InfHandle DevSvc::OpenInf(const char16_t* path, uint32_t* errorLine) {
    UINT line = 0;
    const HINF inf = SetupOpenInfFileW(Wide(path), nullptr, INF_STYLE_WIN4, &line);
    *errorLine = line;
    return inf == INVALID_HANDLE_VALUE ? nullptr : inf;
}

void DevSvc::CloseInf(InfHandle inf) {
    if (inf != nullptr) {
        SetupCloseInfFile(inf);
    }
}

bool DevSvc::ReadInfSection(InfHandle inf, const char16_t* section,
                            std::vector<InfRules::InfLine>* lines) {
    lines->clear();
    const LONG count = SetupGetLineCountW(inf, Wide(section));
    if (count < 0) {
        SetLastError(ERROR_LINE_NOT_FOUND);
        return false;
    }
    for (LONG index = 0; index < count; ++index) {
        INFCONTEXT context;
        if (!SetupGetLineByIndexW(inf, Wide(section), static_cast<DWORD>(index), &context)) {
            return false;
        }
        InfRules::InfLine line;
        // A line without a key has no field 0.
        StringField(&context, 0, &line.key);
        const DWORD fields = SetupGetFieldCount(&context);
        for (DWORD field = 1; field <= fields; ++field) {
            std::u16string text;
            if (!StringField(&context, field, &text)) {
                return false;
            }
            line.fields.push_back(text);
        }
        lines->push_back(std::move(line));
    }
    SetLastError(ERROR_SUCCESS);
    return true;
}

uint32_t DevSvc::ReadDeviceIds(DevInfoSet set, DevInfoData* element,
                               std::vector<std::u16string>* ids) {
    ids->clear();
    for (const DWORD property : {SPDRP_HARDWAREID, SPDRP_COMPATIBLEIDS}) {
        if (const DWORD error = ReadIdList(set, Native(element), property, ids)) {
            ids->clear();
            return error;
        }
    }
    return 0;
}

uint32_t DevSvc::ListDrivers(DevInfoSet set, DevInfoData* element, const char16_t* infPath,
                             std::vector<InfRules::DriverLine>* drivers,
                             std::vector<std::u16string>* deviceIds) {
    drivers->clear();
    if (const uint32_t error = ReadDeviceIds(set, element, deviceIds)) {
        return error;
    }
    SP_DEVINSTALL_PARAMS_W saved{};
    saved.cbSize = sizeof(saved);
    if (!SetupDiGetDeviceInstallParamsW(set, Native(element), &saved)) {
        return GetLastError();
    }
    SP_DEVINSTALL_PARAMS_W params = saved;
    const size_t chars = std::wcslen(Wide(infPath));
    if (chars >= MAX_PATH) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    std::wmemcpy(params.DriverPath, Wide(infPath), chars + 1);
    params.Flags |= DI_ENUMSINGLEINF;
    params.FlagsEx |= DI_FLAGSEX_ALLOWEXCLUDEDDRVS;
    if (!SetupDiSetDeviceInstallParamsW(set, Native(element), &params)) {
        return GetLastError();
    }
    DWORD error = ERROR_SUCCESS;
    if (!SetupDiBuildDriverInfoList(set, Native(element), SPDIT_COMPATDRIVER)) {
        error = GetLastError();
    } else {
        for (DWORD index = 0;; ++index) {
            SP_DRVINFO_DATA_W driver{};
            driver.cbSize = sizeof(driver);
            if (!SetupDiEnumDriverInfoW(set, Native(element), SPDIT_COMPATDRIVER, index, &driver)) {
                if (GetLastError() != ERROR_NO_MORE_ITEMS) {
                    error = GetLastError();
                }
                break;
            }
            InfRules::DriverLine line;
            if ((error = ReadDriverDetail(set, Native(element), &driver, &line)) != 0) {
                break;
            }
            drivers->push_back(std::move(line));
        }
        SetupDiDestroyDriverInfoList(set, Native(element), SPDIT_COMPATDRIVER);
    }
    SetupDiSetDeviceInstallParamsW(set, Native(element), &saved);
    if (error != ERROR_SUCCESS) {
        drivers->clear();
    }
    return error;
}

InfRules::Platform DevSvc::NativePlatform() {
    // Windows 10 1709 and later; older systems answer through GetNativeSystemInfo.
    using IsWow64Process2Fn = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
    static const Win32::SystemFunction<IsWow64Process2Fn> isWow64Process2 =
        Win32::BindSystemFunction<IsWow64Process2Fn>(L"kernel32.dll", "IsWow64Process2");
    USHORT machine = 0;
    USHORT native = 0;
    if (isWow64Process2.call != nullptr &&
        isWow64Process2.call(GetCurrentProcess(), &machine, &native)) {
        switch (native) {
        case IMAGE_FILE_MACHINE_I386:
            return InfRules::Platform::X86;
        case IMAGE_FILE_MACHINE_AMD64:
            return InfRules::Platform::Amd64;
        case 0xAA64: // IMAGE_FILE_MACHINE_ARM64
            return InfRules::Platform::Arm64;
        default:
            break;
        }
    }
    SYSTEM_INFO info{};
    GetNativeSystemInfo(&info);
    switch (info.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64:
        return InfRules::Platform::Amd64;
    case 12: // PROCESSOR_ARCHITECTURE_ARM64
        return InfRules::Platform::Arm64;
    default:
        return InfRules::Platform::X86;
    }
}

// RtlGetVersion tells the version as it is, whatever the program's manifest declares.
InfRules::OsVersion DevSvc::RunningOsVersion() {
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);
    static const auto rtlGetVersion =
        Win32::BindSystemFunction<RtlGetVersionFn>(L"ntdll.dll", "RtlGetVersion");
    InfRules::OsVersion os;
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (rtlGetVersion.call != nullptr && rtlGetVersion.call(&info) == 0) {
        os.major = info.dwMajorVersion;
        os.minor = info.dwMinorVersion;
        os.build = info.dwBuildNumber;
        os.productType = info.wProductType;
    }
    return os;
}

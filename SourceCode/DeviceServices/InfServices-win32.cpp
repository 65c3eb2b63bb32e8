// The INF services on Windows: each function is the Setup API call it names. Nothing here
// changes the device state: the driver list is built on the caller's device information set
// and destroyed again, and the element's install parameters are put back as they were.
#include "InfServices.h"

#include "SetupCalls-win32.h"

#include <cwchar>
#include <vector>

using DevSvc::Win32Calls::Native;
using Win32::FromWide;
using Win32::Wide;

namespace {

// Field `index` of the line: empty when it has none.
bool StringField(INFCONTEXT* context, DWORD index, std::u16string* text) {
    DWORD required = 0;
    if (!SetupGetStringFieldW(context, index, nullptr, 0, &required) || required == 0) {
        text->clear();
        return GetLastError() == ERROR_SUCCESS || required == 0;
    }
    std::vector<wchar_t> buffer(required);
    if (!SetupGetStringFieldW(context, index, buffer.data(), required, &required)) {
        return false;
    }
    buffer.back() = L'\0';
    *text = FromWide(buffer.data());
    return true;
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
        StringField(&context, 0, &line.key);
        const DWORD fields = SetupGetFieldCount(&context);
        for (DWORD field = 1; field <= fields; ++field) {
            std::u16string text;
            StringField(&context, field, &text);
            line.fields.push_back(text);
        }
        lines->push_back(std::move(line));
    }
    SetLastError(ERROR_SUCCESS);
    return true;
}

uint32_t DevSvc::ChooseDriver(DevInfoSet set, DevInfoData* element, const char16_t* infPath,
                              DriverChoice* choice) {
    *choice = DriverChoice();
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
        SP_DRVINFO_DATA_W driver{};
        driver.cbSize = sizeof(driver);
        // Windows' own pick among the INF's drivers for the device; where the system cannot
        // pick (Wine), the first it lists.
        const bool picked = SetupDiSelectBestCompatDrv(set, Native(element)) &&
                            SetupDiGetSelectedDriverW(set, Native(element), &driver);
        if (picked ||
            SetupDiEnumDriverInfoW(set, Native(element), SPDIT_COMPATDRIVER, 0, &driver)) {
            std::vector<uint8_t> buffer(8192);
            DWORD required = 0;
            auto* detail = reinterpret_cast<SP_DRVINFO_DETAIL_DATA_W*>(buffer.data());
            detail->cbSize = sizeof(SP_DRVINFO_DETAIL_DATA_W);
            BOOL done = SetupDiGetDriverInfoDetailW(set, Native(element), &driver, detail,
                                                    static_cast<DWORD>(buffer.size()), &required);
            if (!done && GetLastError() == ERROR_INSUFFICIENT_BUFFER && required > buffer.size() &&
                required < 1024 * 1024) {
                buffer.assign(required, 0);
                detail = reinterpret_cast<SP_DRVINFO_DETAIL_DATA_W*>(buffer.data());
                detail->cbSize = sizeof(SP_DRVINFO_DETAIL_DATA_W);
                done = SetupDiGetDriverInfoDetailW(set, Native(element), &driver, detail,
                                                   static_cast<DWORD>(buffer.size()), &required);
            }
            if (done || GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
                choice->found = true;
                choice->description = FromWide(driver.Description);
                choice->installSection = FromWide(detail->SectionName);
                choice->hardwareId = FromWide(detail->HardwareID);
            } else {
                error = GetLastError();
            }
        } else if (GetLastError() != ERROR_NO_MORE_ITEMS) {
            error = GetLastError();
        }
        SetupDiDestroyDriverInfoList(set, Native(element), SPDIT_COMPATDRIVER);
    }
    SetupDiSetDeviceInstallParamsW(set, Native(element), &saved);
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

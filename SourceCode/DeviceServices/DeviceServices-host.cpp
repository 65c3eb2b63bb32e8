// Host device-installation services: the Windows call contracts over the device-manager
// simulator. Every call first loads the default machine if none is in use, counts itself and
// honours an injected fault before looking at its arguments. The BOOL-style calls set
// LastError() to 0 when they succeed; GetDevNodeStatus never touches it.
#include "DeviceServices.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "DeviceSimulator.h"

namespace DevSvc {

namespace {

namespace fs = std::filesystem;
using DevSim::Op;

constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidFlags = 1004;
constexpr uint32_t kErrorInvalidUserBuffer = 1784;
constexpr uint32_t kErrorInvalidRegProperty = 0xE0000209;
constexpr uint32_t kKnownInstallFlags = 0x7; // FORCE | READONLY | NONINTERACTIVE
constexpr uint32_t kCrInvalidPointer = 3;
constexpr uint32_t kCrInvalidFlag = 4;
constexpr uint32_t kCrInvalidDevNode = 5;

uint32_t g_lastError = 0;

bool Fail(uint32_t error) {
    g_lastError = error;
    return false;
}

bool Succeed() {
    g_lastError = 0;
    return true;
}

uint32_t FromErrorCode(const std::error_code& ec) {
    if (ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory) {
        return kErrorPathNotFound;
    }
    return kErrorAccessDenied;
}

std::u16string Text(const char16_t* text) {
    return text != nullptr ? text : u"";
}

bool ReadFile(const std::string& path, std::string* content) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    *content = text.str();
    return !in.bad();
}

bool IsRegularFile(const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

// N of a staged name "oem<N>.inf" (any case); nullopt for other names.
std::optional<uint32_t> OemNumber(const std::string& name) {
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
    if (lower.size() < 8 || lower.compare(0, 3, "oem") != 0 ||
        lower.compare(lower.size() - 4, 4, ".inf") != 0) {
        return std::nullopt;
    }
    std::string digits = lower.substr(3, lower.size() - 7);
    if (digits.size() > 9 || (digits.size() > 1 && digits[0] == '0') ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(std::stoul(digits));
}

// Puts the INF into the driver store as SetupCopyOEMInf does: an identical staged copy is
// reused, otherwise the INF becomes oem<N>.inf with the lowest free N. 0 or a Windows error.
uint32_t StageInf(const std::u16string& infPath, std::string* stagedPath, std::u16string* name) {
    std::string source = DevSim::ToUtf8(infPath);
    std::string content;
    if (infPath.empty() || !IsRegularFile(source)) {
        return ERROR_FILE_NOT_FOUND_CODE;
    }
    if (!ReadFile(source, &content)) {
        return kErrorAccessDenied;
    }
    std::error_code ec;
    fs::path store = fs::absolute(DevSim::DriverStoreFolder(), ec).lexically_normal();
    if (ec || (fs::create_directories(store, ec), ec)) {
        return FromErrorCode(ec);
    }
    std::set<uint32_t> used;
    std::optional<uint32_t> same;
    for (fs::directory_iterator it(store, ec), end; !ec && it != end; it.increment(ec)) {
        std::optional<uint32_t> n = OemNumber(it->path().filename().string());
        if (!n) {
            continue;
        }
        used.insert(*n);
        std::string staged;
        if ((!same || *n < *same) && ReadFile(it->path().string(), &staged) && staged == content) {
            same = *n;
        }
    }
    if (ec) {
        return FromErrorCode(ec);
    }
    uint32_t number = 0;
    if (same) {
        number = *same;
    } else {
        while (used.count(number) != 0) {
            ++number;
        }
    }
    std::string file = "oem" + std::to_string(number) + ".inf";
    fs::path target = store / file;
    if (!same) {
        fs::path temp = store / ("." + file + ".part");
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << content;
        out.close();
        if (!out || (fs::rename(temp, target, ec), ec)) {
            fs::remove(temp, ec);
            return kErrorAccessDenied;
        }
    }
    *stagedPath = target.string();
    *name = std::u16string(file.begin(), file.end());
    return 0;
}

bool EqualIgnoringCase(const std::u16string& a, const std::u16string& b) {
    auto fold = [](char16_t c) { return c >= u'a' && c <= u'z' ? c - (u'a' - u'A') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [&fold](char16_t x, char16_t y) { return fold(x) == fold(y); });
}

bool HasHardwareId(const DevSim::Device& device, const std::u16string& id) {
    if (!device.hardwareIds) {
        return false;
    }
    for (const std::u16string& entry : DevSim::SplitMultiSz(*device.hardwareIds)) {
        if (EqualIgnoringCase(entry, id)) {
            return true;
        }
    }
    return false;
}

// The device an element of `set` stands for. 0, or the error to fail with.
uint32_t ResolveElement(DevInfoSet set, const DevInfoData* element, DevSim::Device** device) {
    const std::vector<size_t>* members = DevSim::Hooks::FindSet(set);
    if (members == nullptr) {
        return ERROR_INVALID_HANDLE_CODE;
    }
    if (element == nullptr || element->cbSize != sizeof(DevInfoData) || element->DevInst == 0) {
        return ERROR_INVALID_PARAMETER_CODE;
    }
    size_t index = element->DevInst - 1;
    // Members are kept in machine order, so a lookup costs log N, not N, per call.
    if (!std::binary_search(members->begin(), members->end(), index)) {
        return ERROR_INVALID_PARAMETER_CODE;
    }
    std::vector<DevSim::Device>& devices = DevSim::Current().devices;
    if (index >= devices.size()) {
        return ERROR_NO_SUCH_DEVINST_CODE;
    }
    *device = &devices[index];
    return 0;
}

std::optional<std::vector<uint8_t>>* PropertyOf(DevSim::Device* device, uint32_t property) {
    switch (property) {
    case SPDRP_HARDWAREID:
        return &device->hardwareIds;
    case SPDRP_CONFIGFLAGS:
        return &device->configFlags;
    default:
        return nullptr;
    }
}

} // namespace

DevInfoSet GetClassDevs(uint32_t flags) {
    if (std::optional<DevSim::Fault> fault = DevSim::Hooks::CountCall(Op::GetClassDevs)) {
        Fail(fault->error);
        return kInvalidSet;
    }
    const std::vector<DevSim::Device>& devices = DevSim::Current().devices;
    std::vector<size_t> members;
    for (size_t i = 0; i < devices.size(); ++i) {
        if ((flags & DIGCF_PRESENT) == 0 || devices[i].present) {
            members.push_back(i);
        }
    }
    DevInfoSet set = DevSim::Hooks::OpenSet(std::move(members));
    Succeed();
    return set;
}

bool EnumDeviceInfo(DevInfoSet set, uint32_t index, DevInfoData* element) {
    if (std::optional<DevSim::Fault> fault = DevSim::Hooks::CountCall(Op::Enum)) {
        return Fail(fault->error);
    }
    const std::vector<size_t>* members = DevSim::Hooks::FindSet(set);
    if (members == nullptr) {
        return Fail(ERROR_INVALID_HANDLE_CODE);
    }
    if (element == nullptr || element->cbSize != sizeof(DevInfoData)) {
        return Fail(kErrorInvalidUserBuffer);
    }
    if (index >= members->size()) {
        return Fail(ERROR_NO_MORE_ITEMS_CODE);
    }
    std::fill(std::begin(element->classGuid), std::end(element->classGuid), uint8_t{0});
    element->DevInst = static_cast<uint32_t>((*members)[index] + 1);
    element->reserved = 0;
    return Succeed();
}

bool GetDeviceRegistryProperty(DevInfoSet set, DevInfoData* element, uint32_t property,
                               uint8_t* buffer, uint32_t bufferSize, uint32_t* requiredSize) {
    std::optional<DevSim::Fault> fault = DevSim::Hooks::CountCall(Op::GetProperty);
    DevSim::Device* device = nullptr;
    uint32_t error = ResolveElement(set, element, &device);
    std::optional<std::vector<uint8_t>>* data =
        device != nullptr ? PropertyOf(device, property) : nullptr;
    if (fault) {
        if (fault->error == ERROR_INSUFFICIENT_BUFFER_CODE && requiredSize != nullptr) {
            if (fault->requiredSize) {
                *requiredSize = *fault->requiredSize;
            } else if (data != nullptr && data->has_value()) {
                *requiredSize = static_cast<uint32_t>((*data)->size());
            }
        }
        return Fail(fault->error);
    }
    if (error != 0) {
        return Fail(error);
    }
    if (data == nullptr) {
        return Fail(kErrorInvalidRegProperty);
    }
    if (!data->has_value()) {
        return Fail(ERROR_INVALID_DATA_CODE);
    }
    if (buffer == nullptr && bufferSize != 0) {
        return Fail(kErrorInvalidUserBuffer);
    }
    const std::vector<uint8_t>& bytes = **data;
    uint32_t size = static_cast<uint32_t>(bytes.size());
    if (requiredSize != nullptr) {
        *requiredSize = size;
    }
    if (size > bufferSize) {
        return Fail(ERROR_INSUFFICIENT_BUFFER_CODE);
    }
    std::copy(bytes.begin(), bytes.end(), buffer);
    return Succeed();
}

bool SetDeviceRegistryProperty(DevInfoSet set, DevInfoData* element, uint32_t property,
                               const uint8_t* buffer, uint32_t size) {
    if (std::optional<DevSim::Fault> fault = DevSim::Hooks::CountCall(Op::SetProperty)) {
        return Fail(fault->error);
    }
    DevSim::Device* device = nullptr;
    if (uint32_t error = ResolveElement(set, element, &device)) {
        return Fail(error);
    }
    if (property != SPDRP_CONFIGFLAGS) {
        return Fail(kErrorInvalidRegProperty);
    }
    if (buffer == nullptr && size != 0) {
        return Fail(kErrorInvalidUserBuffer);
    }
    // A null buffer of size 0 deletes the property, as on Windows.
    if (buffer == nullptr) {
        device->configFlags.reset();
    } else {
        device->configFlags = std::vector<uint8_t>(buffer, buffer + size);
    }
    DevSim::Hooks::StateChanged();
    return Succeed();
}

bool DestroyDeviceInfoList(DevInfoSet set) {
    std::optional<DevSim::Fault> fault = DevSim::Hooks::CountCall(Op::Destroy);
    // Even a failing destroy has taken the handle back: the set is gone either way.
    bool closed = DevSim::Hooks::CloseSet(set);
    if (fault) {
        return Fail(fault->error);
    }
    return closed ? Succeed() : Fail(ERROR_INVALID_HANDLE_CODE);
}

uint32_t GetDevNodeStatus(uint32_t* status, uint32_t* problemNumber, uint32_t devInst,
                          uint32_t flags) {
    if (std::optional<DevSim::Fault> fault = DevSim::Hooks::CountCall(Op::NodeStatus)) {
        return fault->error;
    }
    if (status == nullptr || problemNumber == nullptr) {
        return kCrInvalidPointer;
    }
    if (flags != 0) {
        return kCrInvalidFlag;
    }
    if (devInst == 0) {
        return kCrInvalidDevNode;
    }
    const std::vector<DevSim::Device>& devices = DevSim::Current().devices;
    if (devInst > devices.size() || !devices[devInst - 1].present) {
        return CR_NO_SUCH_DEVINST;
    }
    *status = devices[devInst - 1].nodeStatus;
    *problemNumber = devices[devInst - 1].problem;
    return CR_SUCCESS;
}

bool UpdateDriverForDevices(const char16_t* hardwareId, const char16_t* infPath,
                            uint32_t installFlags, bool* rebootRequired) {
    if (std::optional<DevSim::Fault> fault = DevSim::Hooks::CountCall(Op::Update)) {
        return Fail(fault->error);
    }
    std::u16string id = Text(hardwareId);
    std::u16string inf = Text(infPath);
    if (id.empty() || inf.empty()) {
        return Fail(ERROR_INVALID_PARAMETER_CODE);
    }
    if ((installFlags & ~kKnownInstallFlags) != 0) {
        return Fail(kErrorInvalidFlags);
    }
    if (!IsRegularFile(DevSim::ToUtf8(inf))) {
        return Fail(ERROR_FILE_NOT_FOUND_CODE);
    }
    std::vector<DevSim::Device>& devices = DevSim::Current().devices;
    std::vector<size_t> matches;
    for (size_t i = 0; i < devices.size(); ++i) {
        if (devices[i].present && HasHardwareId(devices[i], id)) {
            matches.push_back(i);
        }
    }
    if (matches.empty()) {
        return Fail(ERROR_NO_SUCH_DEVINST_CODE);
    }
    std::string stagedPath;
    std::u16string name;
    if (uint32_t error = StageInf(inf, &stagedPath, &name)) {
        return Fail(error);
    }
    for (size_t i : matches) {
        devices[i].driver = name;
    }
    DevSim::Hooks::StateChanged();
    if (rebootRequired != nullptr) {
        *rebootRequired = false;
    }
    return Succeed();
}

bool CopyOEMInf(const char16_t* infPath, char16_t* destination, uint32_t destinationChars,
                uint32_t* requiredSize) {
    if (std::optional<DevSim::Fault> fault = DevSim::Hooks::CountCall(Op::Copy)) {
        return Fail(fault->error);
    }
    std::string stagedPath;
    std::u16string name;
    if (uint32_t error = StageInf(Text(infPath), &stagedPath, &name)) {
        return Fail(error);
    }
    std::optional<std::u16string> path = DevSim::FromUtf8(stagedPath);
    if (!path) {
        return Fail(kErrorPathNotFound);
    }
    uint32_t chars = static_cast<uint32_t>(path->size() + 1);
    if (requiredSize != nullptr) {
        *requiredSize = chars;
    }
    if (destination == nullptr || destinationChars < chars) {
        return Fail(ERROR_INSUFFICIENT_BUFFER_CODE);
    }
    std::copy(path->begin(), path->end(), destination);
    destination[path->size()] = u'\0';
    return Succeed();
}

uint32_t LastError() {
    return g_lastError;
}

uint8_t* AllocateBuffer(size_t bytes) {
    if (std::optional<DevSim::Fault> fault = DevSim::Hooks::CountCall(Op::Alloc)) {
        g_lastError = fault->error != 0 ? fault->error : ERROR_NOT_ENOUGH_MEMORY_CODE;
        return nullptr;
    }
    uint8_t* buffer = DevSim::Hooks::NewBuffer(bytes);
    if (buffer == nullptr) {
        g_lastError = ERROR_NOT_ENOUGH_MEMORY_CODE;
    }
    return buffer;
}

void ReleaseBuffer(uint8_t* buffer) {
    if (buffer != nullptr) {
        DevSim::Hooks::FreeBuffer(buffer);
    }
}

} // namespace DevSvc

// Read-only calls. The simulator's driver store stands in for the system's INF folder, and a
// device's `driver` for the "InfPath" value of its driver key (no driver: no driver key).

namespace DevSvc {

namespace {

constexpr uint32_t kErrorNoMoreFiles = 18;

// Copies `text` and its NUL into `buffer` when it fits.
bool CopyOut(const std::u16string& text, char16_t* buffer, uint32_t bufferChars,
             uint32_t* requiredChars) {
    const auto chars = static_cast<uint32_t>(text.size() + 1);
    if (requiredChars != nullptr) {
        *requiredChars = chars;
    }
    if (buffer == nullptr || bufferChars < chars) {
        return Fail(ERROR_INSUFFICIENT_BUFFER_CODE);
    }
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = u'\0';
    return Succeed();
}

// The check composes Windows paths (folder, backslash, name); here either separator will do.
std::string HostPath(const char16_t* path) {
    std::string text = DevSim::ToUtf8(Text(path));
    std::replace(text.begin(), text.end(), '\\', '/');
    return text;
}

bool MatchesPattern(const std::string& name, const std::string& pattern) {
    auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    size_t n = 0;
    size_t p = 0;
    size_t star = std::string::npos;
    size_t resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size() && fold(pattern[p]) == fold(name[n])) {
            ++p;
            ++n;
        } else if (star != std::string::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

} // namespace

bool GetDeviceInstanceId(DevInfoSet set, DevInfoData* element, char16_t* buffer,
                         uint32_t bufferChars, uint32_t* requiredChars) {
    if (std::optional<DevSim::Fault> fault = DevSim::Hooks::CountCall(Op::InstanceId)) {
        return Fail(fault->error);
    }
    DevSim::Device* device = nullptr;
    if (uint32_t error = ResolveElement(set, element, &device)) {
        return Fail(error);
    }
    return CopyOut(device->instanceId, buffer, bufferChars, requiredChars);
}

uint32_t QueryDriverKeyValue(DevInfoSet set, DevInfoData* element, const char16_t* name,
                             uint32_t* type, uint8_t* buffer, uint32_t* dataBytes) {
    if (std::optional<DevSim::Fault> fault = DevSim::Hooks::CountCall(Op::DriverKey)) {
        return fault->error;
    }
    DevSim::Device* device = nullptr;
    if (uint32_t error = ResolveElement(set, element, &device)) {
        return error;
    }
    if (device->driver.empty()) {
        return ERROR_KEY_DOES_NOT_EXIST_CODE;
    }
    if (Text(name) != u"InfPath") {
        return ERROR_FILE_NOT_FOUND_CODE;
    }
    if (type != nullptr) {
        *type = REG_SZ_TYPE;
    }
    const auto bytes = static_cast<uint32_t>(2 * (device->driver.size() + 1));
    if (dataBytes == nullptr) {
        return buffer == nullptr ? 0 : ERROR_INVALID_PARAMETER_CODE;
    }
    const uint32_t offered = *dataBytes;
    *dataBytes = bytes;
    if (buffer == nullptr) {
        return 0;
    }
    if (offered < bytes) {
        return ERROR_MORE_DATA_CODE;
    }
    std::memcpy(buffer, device->driver.c_str(), bytes);
    return 0;
}

uint32_t GetInfFolder(char16_t* buffer, uint32_t bufferChars) {
    std::error_code ec;
    const fs::path store = fs::absolute(DevSim::DriverStoreFolder(), ec).lexically_normal();
    std::optional<std::u16string> folder = DevSim::FromUtf8(store.string());
    if (ec || !folder) {
        g_lastError = kErrorPathNotFound;
        return 0;
    }
    if (!CopyOut(*folder, buffer, bufferChars, nullptr)) {
        return 0;
    }
    return static_cast<uint32_t>(folder->size());
}

bool ListFiles(const char16_t* pattern, std::vector<FoundFile>* files) {
    if (std::optional<DevSim::Fault> fault = DevSim::Hooks::CountCall(Op::ListFiles)) {
        return Fail(fault->error);
    }
    const std::string text = HostPath(pattern);
    const size_t cut = text.find_last_of('/');
    if (cut == std::string::npos || files == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER_CODE);
    }
    std::error_code ec;
    const fs::path folder(text.substr(0, cut));
    if (!fs::is_directory(folder, ec)) {
        return Fail(kErrorPathNotFound);
    }
    std::vector<FoundFile> found;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code sizeError;
        const uintmax_t bytes = fs::file_size(it->path(), sizeError);
        std::optional<std::u16string> wide = DevSim::FromUtf8(name);
        if (it->is_regular_file(sizeError) && !sizeError && wide &&
            MatchesPattern(name, text.substr(cut + 1))) {
            found.push_back({*wide, bytes});
        }
    }
    if (ec) {
        return Fail(FromErrorCode(ec));
    }
    if (found.empty()) {
        return Fail(ERROR_FILE_NOT_FOUND_CODE);
    }
    // A real search gives no order; the simulator's is the folder's, sorted for repeatability.
    std::sort(found.begin(), found.end(),
              [](const FoundFile& a, const FoundFile& b) { return a.name < b.name; });
    files->insert(files->end(), found.begin(), found.end());
    g_lastError = kErrorNoMoreFiles;
    return true;
}

uint32_t FileAttributesOf(const char16_t* path) {
    std::error_code ec;
    const fs::file_status status = fs::status(HostPath(path), ec);
    if (ec || !fs::exists(status)) {
        g_lastError = ERROR_FILE_NOT_FOUND_CODE;
        return INVALID_FILE_ATTRIBUTES_VALUE;
    }
    return fs::is_directory(status) ? FILE_ATTRIBUTE_DIRECTORY_BIT : 0x80; // NORMAL
}

bool ReadWholeFile(const char16_t* path, uint64_t maxBytes, std::vector<uint8_t>* content) {
    if (std::optional<DevSim::Fault> fault = DevSim::Hooks::CountCall(Op::ReadFile)) {
        return Fail(fault->error);
    }
    const std::string file = HostPath(path);
    if (!IsRegularFile(file)) {
        return Fail(ERROR_FILE_NOT_FOUND_CODE);
    }
    std::error_code ec;
    const uintmax_t bytes = fs::file_size(file, ec);
    if (ec) {
        return Fail(FromErrorCode(ec));
    }
    if (bytes > maxBytes) {
        return Fail(ERROR_FILE_TOO_LARGE_CODE);
    }
    std::string text;
    if (!ReadFile(file, &text)) {
        return Fail(kErrorAccessDenied);
    }
    content->assign(text.begin(), text.end());
    return Succeed();
}

// A 32-bit program on 64-bit Windows, for tests of that case: INSTALLER_SIMULATE_WOW64=1.
bool RunningUnderWow64() {
    const char* value = std::getenv("INSTALLER_SIMULATE_WOW64");
    return value != nullptr && std::string(value) == "1";
}

} // namespace DevSvc

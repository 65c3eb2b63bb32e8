// The device services' read-only calls on the host, over the simulator: the simulator's driver
// store stands in for the system's INF folder, and a device's `driver` for the "InfPath" value
// of its driver key (no driver: no driver key).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "AsciiCase.h"
#include "DeviceServices.h"
#include "DeviceSimulator.h"
#include "SetupCalls-host.h"
#include "WinError.h"

namespace DevSvc {

using namespace HostCalls;

namespace {

namespace fs = std::filesystem;
using DevSim::Op;

namespace WinError = HostSupport::WinError;
using HostSupport::CaseBlind;
using WinError::FromErrorCode;

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

bool MatchesPattern(const std::string& name, const std::string& pattern) {
    size_t n = 0;
    size_t p = 0;
    size_t star = std::string::npos;
    size_t resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size() && LowerAscii(pattern[p]) == LowerAscii(name[n])) {
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
        if (fault->error == ERROR_INSUFFICIENT_BUFFER_CODE && fault->requiredSize &&
            requiredChars != nullptr) {
            *requiredChars = *fault->requiredSize;
        }
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
        if (fault->error == ERROR_MORE_DATA_CODE && fault->requiredSize && dataBytes != nullptr) {
            *dataBytes = *fault->requiredSize;
        }
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
        SetLastError(WinError::PATH_NOT_FOUND);
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
        return Fail(WinError::PATH_NOT_FOUND);
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
    SetLastError(WinError::NO_MORE_FILES);
    return true;
}

uint32_t FileAttributesOf(const char16_t* path) {
    std::error_code ec;
    const fs::file_status status = fs::status(CaseBlind(HostPath(path)), ec);
    if (ec || !fs::exists(status)) {
        SetLastError(ERROR_FILE_NOT_FOUND_CODE);
        return INVALID_FILE_ATTRIBUTES_VALUE;
    }
    return fs::is_directory(status) ? FILE_ATTRIBUTE_DIRECTORY_BIT : 0x80; // NORMAL
}

// Opened without blocking and checked through the open descriptor, as the Windows call checks
// the file type of its handle: a FIFO or a device is refused, never waited on.
bool ReadWholeFile(const char16_t* path, uint64_t maxBytes, std::vector<uint8_t>* content) {
    if (std::optional<DevSim::Fault> fault = DevSim::Hooks::CountCall(Op::ReadFile)) {
        return Fail(fault->error);
    }
    const int fd = open(HostPath(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return Fail(errno == ENOENT    ? ERROR_FILE_NOT_FOUND_CODE
                    : errno == ENOTDIR ? WinError::PATH_NOT_FOUND
                                       : WinError::ACCESS_DENIED);
    }
    struct stat info = {};
    uint32_t error = 0;
    if (fstat(fd, &info) != 0) {
        error = WinError::ACCESS_DENIED;
    } else if (!S_ISREG(info.st_mode)) {
        error = ERROR_BAD_FILE_TYPE_CODE;
    } else if (static_cast<uint64_t>(info.st_size) > maxBytes) {
        error = ERROR_FILE_TOO_LARGE_CODE;
    }
    if (error == 0) {
        content->assign(static_cast<size_t>(info.st_size), 0);
        size_t done = 0;
        while (done < content->size()) {
            const ssize_t got = read(fd, content->data() + done, content->size() - done);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                error = WinError::ACCESS_DENIED;
                break;
            }
            done += static_cast<size_t>(got);
        }
    }
    close(fd);
    if (error != 0) {
        content->clear();
        return Fail(error);
    }
    return Succeed();
}

// The simulator's driver store keeps an INF's original name in the .pnf beside it, as Windows
// does; an INF without one answers its own name, as Wine's call does.
bool GetOriginalInfName(const char16_t* infPath, std::u16string* name) {
    const fs::path inf(HostPath(infPath));
    std::error_code ec;
    if (!fs::is_regular_file(inf, ec)) {
        return Fail(ERROR_FILE_NOT_FOUND_CODE);
    }
    fs::path pnf = inf;
    pnf.replace_extension(".pnf");
    std::string original = inf.filename().string();
    if (std::ifstream in(pnf, std::ios::binary); in) {
        std::getline(in, original);
    }
    std::optional<std::u16string> text = DevSim::FromUtf8(original);
    if (!text || text->empty()) {
        return Fail(ERROR_INVALID_DATA_CODE);
    }
    *name = *text;
    return Succeed();
}

// A 32-bit program on 64-bit Windows, for tests of that case: INSTALLER_SIMULATE_WOW64=1.
bool RunningUnderWow64() {
    const char* value = std::getenv("INSTALLER_SIMULATE_WOW64");
    return value != nullptr && std::string(value) == "1";
}

} // namespace DevSvc

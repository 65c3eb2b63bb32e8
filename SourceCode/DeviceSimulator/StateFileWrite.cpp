// The simulator's state file, write side: the text it is saved as, chosen so that it reads
// back to the same machine, and the replace-by-rename save, which also writes a certificate
// added to the simulated TrustedPublisher store.
#include "DeviceSimulator.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "WinError.h"

namespace DevSim {

namespace {

std::string HexBytes(const std::vector<uint8_t>& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t b : bytes) {
        if (!text.empty()) {
            text += ' ';
        }
        text += kDigits[b >> 4];
        text += kDigits[b & 0xF];
    }
    return text;
}

std::string HexWord(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

std::string ErrorText(uint32_t error) {
    return error < 0x10000 ? std::to_string(error) : HexWord(error);
}

// A text value written as `key = value` reads back unchanged: no blanks at its ends, no
// control characters, valid UTF-16.
bool WritableAsText(const std::u16string& text) {
    if (text.empty()) {
        return true;
    }
    if (text.front() == u' ' || text.front() == u'\t' || text.back() == u' ' ||
        text.back() == u'\t') {
        return false;
    }
    for (char16_t c : text) {
        if (c < 0x20 || c == 0x7F) {
            return false;
        }
    }
    std::optional<std::u16string> back = FromUtf8(ToUtf8(text));
    return back && *back == text;
}

// Well-formed REG_MULTI_SZ whose entries can all be written as hardware-id lines.
bool WritableAsIdLines(const std::vector<uint8_t>& data) {
    if (data.size() < 4 || data.size() % 2 != 0) {
        return false;
    }
    std::vector<std::u16string> entries = SplitMultiSz(data);
    size_t chars = 1; // the closing empty string
    for (const std::u16string& entry : entries) {
        if (entry.empty() || !WritableAsText(entry)) {
            return false;
        }
        chars += entry.size() + 1;
    }
    return chars * 2 == data.size() && data[data.size() - 1] == 0 && data[data.size() - 2] == 0;
}

uint32_t LittleEndianWord(const std::vector<uint8_t>& bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// Writes `size` bytes to a new file beside `path`, then renames it over `path`: the name is
// never opened, so a link planted there is replaced, not followed, and a reader sees the old
// file or the whole new one.
bool ReplaceFile(const std::string& path, const char* data, size_t size, mode_t mode) {
    std::filesystem::path target(path);
    std::filesystem::path folder = target.parent_path();
    std::string temporary = ".";
    temporary += target.filename().string();
    temporary += ".XXXXXX";
    std::string pattern = (folder / temporary).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) {
        return false;
    }
    fchmod(fd, mode);
    size_t written = 0;
    bool ok = true;
    while (ok && written < size) {
        ssize_t n = write(fd, data + written, size - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        ok = n > 0;
        if (ok) {
            written += static_cast<size_t>(n);
        }
    }
    ok = ok && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && std::rename(name.data(), path.c_str()) == 0;
    if (!ok) {
        unlink(name.data());
    }
    return ok;
}

} // namespace

std::string FormatMachine(const Machine& machine) {
    std::string text = "# Device-manager simulator state. Rewritten by the simulator after each "
                       "change; comments are not kept.\n[machine]\n";
    if (!machine.driverStore.empty()) {
        text += "driver-store = " + machine.driverStore + "\n";
    }
    if (!machine.hasUninstallDriver) {
        text += "di-uninstall-driver = no\n";
    }
    if (machine.platform) {
        text += "platform = " + ToUtf8(InfRules::ArchitectureName(*machine.platform)) + "\n";
    }
    if (machine.wine) {
        text += "wine = yes\n";
    }
    for (const Device& device : machine.devices) {
        text += "\n[device";
        if (!device.instanceId.empty()) {
            text += ' ';
            text += ToUtf8(device.instanceId);
        }
        text += "]\n";
        if (device.hardwareIds) {
            if (WritableAsIdLines(*device.hardwareIds)) {
                for (const std::u16string& id : SplitMultiSz(*device.hardwareIds)) {
                    text += "hardware-id = " + ToUtf8(id) + "\n";
                }
            } else {
                text += "hardware-id-bytes = " + HexBytes(*device.hardwareIds) + "\n";
            }
        }
        text += device.present ? "present = yes\n" : "present = no\n";
        if (device.configFlags) {
            if (device.configFlags->size() == 4) {
                text += "config-flags = " + HexWord(LittleEndianWord(*device.configFlags)) + "\n";
            } else {
                text += "config-flags-bytes = " + HexBytes(*device.configFlags) + "\n";
            }
        }
        if (!device.driver.empty()) {
            text += "driver = " + ToUtf8(device.driver) + "\n";
        }
        if (device.nodeStatus != 0) {
            text += "node-status = " + HexWord(device.nodeStatus) + "\n";
        }
        if (device.problem != 0) {
            text += "problem = " + std::to_string(device.problem) + "\n";
        }
        if (!device.stoppable) {
            text += "stoppable = no\n";
        }
    }
    for (const StagedPackage& package : machine.packages) {
        text += "\n[package " + ToUtf8(package.name) + "]\ncatalog = " + ToUtf8(package.catalog) +
                "\ncatalog-bytes = " + HexBytes(package.catalogBytes) + "\n";
    }
    if (!machine.roots.empty() || !machine.trustedPublishers.empty() ||
        !machine.microsoftRoots.empty()) {
        text += "\n[trust]\n";
        for (const std::string& file : machine.roots) {
            text += "root = " + file + "\n";
        }
        for (const std::string& file : machine.trustedPublishers) {
            text += "trusted-publisher = " + file + "\n";
        }
        for (const std::string& file : machine.microsoftRoots) {
            text += "microsoft-root = " + file + "\n";
        }
    }
    if (!machine.faults.empty()) {
        text += "\n[fault]\n";
        for (const Fault& fault : machine.faults) {
            text += std::string("fail = ") + OpName(fault.op) + " " +
                    std::to_string(fault.firstCall == 0 ? 1 : fault.firstCall) + " " +
                    ErrorText(fault.error) + " " + std::to_string(fault.count);
            if (fault.requiredSize) {
                text += ' ';
                text += std::to_string(*fault.requiredSize);
            }
            text += "\n";
        }
    }
    return text;
}

bool SaveMachineFile(const std::string& path, const Machine& machine) {
    struct stat existing {};
    const std::string text = FormatMachine(machine);
    return ReplaceFile(path, text.data(), text.size(),
                       stat(path.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : 0644);
}

uint32_t AddTrustedPublisher(const std::vector<uint8_t>& der, const std::string& fileName) {
    namespace WinError = HostSupport::WinError;
    const std::filesystem::path name(fileName);
    if (fileName.empty() || name.has_parent_path() || name.is_absolute() || fileName == "." ||
        fileName == "..") {
        return WinError::INVALID_PARAMETER;
    }
    if (!ReplaceFile(TrustFiles({fileName}).front(), reinterpret_cast<const char*>(der.data()),
                     der.size(), 0644)) {
        return WinError::ACCESS_DENIED;
    }
    std::vector<std::string>& publishers = Current().trustedPublishers;
    if (std::find(publishers.begin(), publishers.end(), fileName) == publishers.end()) {
        publishers.push_back(fileName);
        Hooks::StateChanged();
        if (!StateFileError().empty()) {
            return WinError::ACCESS_DENIED;
        }
    }
    return 0;
}

} // namespace DevSim

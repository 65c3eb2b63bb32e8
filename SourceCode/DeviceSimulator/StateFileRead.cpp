// The simulator's state file, read side: the parser of its text (sections, keys, values) and
// loading it from disk. Parse errors name the line; StateFileWrite.cpp writes what this reads.
#include "DeviceSimulator.h"

#include <fstream>
#include <set>
#include <sstream>
#include <utility>

#include "StateFileValues.h"

namespace DevSim {

namespace {

using namespace StateFileValues;

// --- state file parser ------------------------------------------------------------------------

enum class Section { None, Machine, Device, Fault, Package, Trust };

// Keys that may appear once per device.
enum DeviceKey : unsigned {
    kIdBytes = 1u << 0,
    kIdLines = 1u << 1,
    kPresent = 1u << 2,
    kFlags = 1u << 3,
    kDriver = 1u << 4,
    kNodeStatus = 1u << 5,
    kProblem = 1u << 6,
    kStoppable = 1u << 7,
};

// A yes/no value into `flag`.
bool YesNo(const std::string& key, const std::string& value, bool* flag, std::string* error) {
    if (value != "yes" && value != "no") {
        *error = key + " must be yes or no";
        return false;
    }
    *flag = value == "yes";
    return true;
}

class Parser {
  public:
    explicit Parser(Machine* out) : m_out(out) {}

    bool Line(const std::string& raw, std::string* error) {
        std::string line = Trim(raw);
        if (line.empty() || line[0] == '#' || line[0] == ';') {
            return true;
        }
        if (line[0] == '[') {
            return Header(line, error);
        }
        size_t eq = line.find('=');
        if (eq == std::string::npos) {
            *error = "expected 'key = value' or a [section]";
            return false;
        }
        std::string key = Trim(line.substr(0, eq));
        std::string value = Trim(line.substr(eq + 1));
        switch (m_section) {
        case Section::None:
            *error = "'" + key + "' is outside any section";
            return false;
        case Section::Machine:
            return MachineKey(key, value, error);
        case Section::Device:
            return DeviceKeyValue(key, value, error);
        case Section::Fault:
            return FaultKey(key, value, error);
        case Section::Package:
            return PackageKey(key, value, error);
        case Section::Trust:
            return TrustKey(key, value, error);
        }
        return false;
    }

  private:
    bool Header(const std::string& line, std::string* error) {
        if (line.back() != ']') {
            *error = "section header without closing ']'";
            return false;
        }
        std::string inner = line.substr(1, line.size() - 2);
        if (inner == "machine") {
            if (m_machineSeen) {
                *error = "second [machine] section";
                return false;
            }
            m_machineSeen = true;
            m_section = Section::Machine;
            return true;
        }
        if (inner == "fault" || inner == "trust") {
            m_section = inner == "fault" ? Section::Fault : Section::Trust;
            return true;
        }
        if (inner == "device" || (inner.rfind("device", 0) == 0 && IsBlank(inner[6]))) {
            std::optional<std::u16string> id = FromUtf8(Trim(inner.substr(6)));
            if (!id) {
                *error = "instance ID is not valid UTF-8";
                return false;
            }
            Device device;
            device.instanceId = *id;
            m_out->devices.push_back(std::move(device));
            m_section = Section::Device;
            m_seen = 0;
            return true;
        }
        if (inner.rfind("package", 0) == 0 && inner.size() > 7 && IsBlank(inner[7])) {
            return PackageHeader(Trim(inner.substr(7)), error);
        }
        *error = "unknown section [" + inner + "]";
        return false;
    }

    bool MachineKey(const std::string& key, const std::string& value, std::string* error) {
        if (key != "driver-store" && key != "di-uninstall-driver" && key != "platform" &&
            key != "wine") {
            *error = "unknown key '" + key + "' in [machine]";
            return false;
        }
        if (!m_machineKeys.insert(key).second) {
            *error = key + " given twice";
            return false;
        }
        if (key == "di-uninstall-driver") {
            return YesNo(key, value, &m_out->hasUninstallDriver, error);
        }
        if (key == "wine") {
            return YesNo(key, value, &m_out->wine, error);
        }
        if (key == "platform") {
            m_out->platform =
                InfRules::PlatformFromName(std::u16string(value.begin(), value.end()));
            if (!m_out->platform || value.size() > 8) {
                *error = "platform must be x86, amd64 or arm64";
                return false;
            }
            return true;
        }
        m_out->driverStore = value;
        return true;
    }

    bool Once(unsigned key, const std::string& name, std::string* error) {
        if (m_seen & key) {
            *error = name + " given twice for one device";
            return false;
        }
        m_seen |= key;
        return true;
    }

    bool DeviceKeyValue(const std::string& key, const std::string& value, std::string* error) {
        Device& device = m_out->devices.back();
        if (key == "hardware-id") {
            if (m_seen & kIdBytes) {
                *error = "hardware-id and hardware-id-bytes cannot be mixed";
                return false;
            }
            std::optional<std::u16string> id = FromUtf8(value);
            if (!id || id->empty()) {
                *error = id ? "empty hardware-id" : "hardware-id is not valid UTF-8";
                return false;
            }
            m_seen |= kIdLines;
            std::vector<uint8_t> entry = MultiSz({*id});
            if (!device.hardwareIds) {
                device.hardwareIds = std::move(entry);
            } else {
                // Insert before the closing empty string.
                device.hardwareIds->insert(device.hardwareIds->end() - 2, entry.begin(),
                                           entry.end() - 2);
            }
            return true;
        }
        if (key == "hardware-id-bytes") {
            if (m_seen & kIdLines) {
                *error = "hardware-id and hardware-id-bytes cannot be mixed";
                return false;
            }
            std::vector<uint8_t> bytes;
            if (!Once(kIdBytes, key, error)) {
                return false;
            }
            if (!ParseHexBytes(value, &bytes)) {
                *error = "hardware-id-bytes needs two-digit hex bytes separated by spaces";
                return false;
            }
            device.hardwareIds = std::move(bytes);
            return true;
        }
        if (key == "present" || key == "stoppable") {
            const bool present = key == "present";
            return Once(present ? kPresent : kStoppable, key, error) &&
                   YesNo(key, value, present ? &device.present : &device.stoppable, error);
        }
        if (key == "config-flags" || key == "config-flags-bytes") {
            if (!Once(kFlags, "config-flags", error)) {
                return false;
            }
            std::vector<uint8_t> bytes;
            uint32_t word = 0;
            if (key == "config-flags") {
                if (!ParseNumber(value, &word)) {
                    *error = "config-flags needs a 32-bit number";
                    return false;
                }
                bytes = FlagBytes(word);
            } else if (!ParseHexBytes(value, &bytes)) {
                *error = "config-flags-bytes needs two-digit hex bytes separated by spaces";
                return false;
            }
            device.configFlags = std::move(bytes);
            return true;
        }
        if (key == "driver") {
            std::optional<std::u16string> driver = FromUtf8(value);
            if (!Once(kDriver, key, error)) {
                return false;
            }
            if (!driver) {
                *error = "driver is not valid UTF-8";
                return false;
            }
            device.driver = *driver;
            return true;
        }
        if (key == "node-status" || key == "problem") {
            bool status = key == "node-status";
            if (!Once(status ? kNodeStatus : kProblem, key, error)) {
                return false;
            }
            if (!ParseNumber(value, status ? &device.nodeStatus : &device.problem)) {
                *error = key + " needs a 32-bit number";
                return false;
            }
            return true;
        }
        *error = "unknown key '" + key + "' in [device]";
        return false;
    }

    bool FaultKey(const std::string& key, const std::string& value, std::string* error) {
        if (key != "fail") {
            *error = "unknown key '" + key + "' in [fault]";
            return false;
        }
        std::vector<std::string> words = SplitBlanks(value);
        if (words.size() < 3 || words.size() > 5) {
            *error = "fail needs: operation call error [count [required-size]]";
            return false;
        }
        std::optional<Op> op = OpFromName(words[0]);
        if (!op) {
            *error = "unknown operation '" + words[0] + "'";
            return false;
        }
        Fault fault{*op, 0, 0, 1, std::nullopt};
        uint32_t requiredSize = 0;
        if (!ParseNumber(words[1], &fault.firstCall) || fault.firstCall == 0 ||
            !ParseNumber(words[2], &fault.error) ||
            (words.size() > 3 && !ParseNumber(words[3], &fault.count)) ||
            (words.size() > 4 && !ParseNumber(words[4], &requiredSize))) {
            *error = "fail: call (from 1), error, count and required-size are numbers";
            return false;
        }
        if (words.size() > 4) {
            fault.requiredSize = requiredSize;
        }
        m_out->faults.push_back(fault);
        return true;
    }

    // [package oem<N>.inf]: a package in the driver store. A state file without any is read as a
    // store that holds no package for its published INFs.
    bool PackageHeader(const std::string& name, std::string* error) {
        std::optional<std::u16string> text = FromUtf8(name);
        if (!text || text->empty()) {
            *error = "[package] needs the published INF's name in valid UTF-8";
            return false;
        }
        m_out->packages.push_back({*text, {}, {}});
        m_section = Section::Package;
        m_packageSeen = 0;
        return true;
    }

    bool PackageKey(const std::string& key, const std::string& value, std::string* error) {
        const unsigned bit = key == "catalog" ? 1u : key == "catalog-bytes" ? 2u : 0u;
        if (bit == 0) {
            *error = "unknown key '" + key + "' in [package]";
            return false;
        }
        if ((m_packageSeen & bit) != 0) {
            *error = key + " given twice for one package";
            return false;
        }
        m_packageSeen |= bit;
        StagedPackage& package = m_out->packages.back();
        if (bit == 2u) {
            if (!ParseHexBytes(value, &package.catalogBytes)) {
                *error = "catalog-bytes needs two-digit hex bytes separated by spaces";
                return false;
            }
            return true;
        }
        std::optional<std::u16string> text = FromUtf8(value);
        if (!text) {
            *error = "catalog is not valid UTF-8";
            return false;
        }
        package.catalog = *text;
        return true;
    }

    // [trust]: repeatable keys, each naming a certificate file, kept as written.
    bool TrustKey(const std::string& key, const std::string& value, std::string* error) {
        std::vector<std::string>* list = key == "root"                ? &m_out->roots
                                         : key == "trusted-publisher" ? &m_out->trustedPublishers
                                         : key == "microsoft-root"    ? &m_out->microsoftRoots
                                                                      : nullptr;
        if (list == nullptr || value.empty()) {
            *error = list == nullptr ? "unknown key '" + key + "' in [trust]"
                                     : key + " needs a certificate file's name";
            return false;
        }
        list->push_back(value);
        return true;
    }

    Machine* m_out;
    Section m_section = Section::None;
    unsigned m_packageSeen = 0;
    bool m_machineSeen = false;
    std::set<std::string> m_machineKeys; // the [machine] keys given so far
    unsigned m_seen = 0;
};

} // namespace

// --- state file -------------------------------------------------------------------------------

bool ParseMachine(const std::string& text, Machine* out, std::string* error) {
    Machine machine;
    Parser parser(&machine);
    std::string message;
    size_t lineNumber = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        ++lineNumber;
        if (!parser.Line(line, &message)) {
            if (error) {
                *error = "line " + std::to_string(lineNumber) + ": " + message;
            }
            return false;
        }
        pos = end + 1;
    }
    *out = std::move(machine);
    return true;
}

bool LoadMachineFile(const std::string& path, Machine* out, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error) {
            *error = path + ": cannot be opened";
        }
        return false;
    }
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) {
        if (error) {
            *error = path + ": cannot be read";
        }
        return false;
    }
    std::string message;
    if (!ParseMachine(content.str(), out, &message)) {
        if (error) {
            *error = path + ": " + message;
        }
        return false;
    }
    return true;
}

} // namespace DevSim

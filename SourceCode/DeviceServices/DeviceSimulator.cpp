// The device-manager simulator: machine state, the state file, fault injection and counters.
// DeviceServices-host.cpp builds the Windows call contracts on top of the hooks at the end.
#include "DeviceSimulator.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <utility>

namespace DevSim {

namespace {

constexpr std::array<const char*, static_cast<size_t>(Op::Count)> kOpNames = {
    "get-class-devs", "enum",       "get-property", "set-property", "destroy",
    "node-status",    "update",     "copy",         "alloc",        "instance-id",
    "driver-key",     "list-files", "read-file"};

struct DeviceSet {
    std::vector<size_t> devices;
};

struct Buffer {
    std::unique_ptr<uint8_t[]> block;
    uint64_t generation;
};

struct State {
    bool loaded = false;
    Machine machine;
    std::string stateFile;      // saved to after each change; empty: never saved
    std::string storeBase;      // folder a relative driver store is taken from; empty: cwd
    std::string stateFileError; // last load or save problem
    std::array<uint32_t, static_cast<size_t>(Op::Count)> calls{};
    std::unordered_map<void*, std::unique_ptr<DeviceSet>> sets;
    std::unordered_map<uint8_t*, Buffer> buffers;
    uint64_t generation = 0; // bumped by UseMachine: older buffers stop counting as live
    int strayReleases = 0;
};

State& S() {
    static State state;
    return state;
}

std::string ParentFolder(const std::string& file) {
    return std::filesystem::path(file).parent_path().string();
}

// --- text helpers -----------------------------------------------------------------------------

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Blanks and carriage returns around a value are layout, never part of it: a value that kept
// a trailing CR would not read back the same once written with its line end.
bool IsLayout(char c) {
    return IsBlank(c) || c == '\r';
}

std::string Trim(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsLayout(text[begin])) {
        ++begin;
    }
    while (end > begin && IsLayout(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

std::vector<std::string> SplitBlanks(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    for (char c : text) {
        if (IsBlank(c)) {
            if (!word.empty()) {
                words.push_back(word);
                word.clear();
            }
        } else {
            word += c;
        }
    }
    if (!word.empty()) {
        words.push_back(word);
    }
    return words;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Decimal, or hexadecimal with a 0x prefix; 32 bits.
bool ParseNumber(const std::string& text, uint32_t* out) {
    uint64_t value = 0;
    size_t pos = 0;
    uint32_t base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        pos = 2;
    }
    if (pos >= text.size()) {
        return false;
    }
    for (; pos < text.size(); ++pos) {
        int digit = HexDigit(text[pos]);
        if (digit < 0 || static_cast<uint32_t>(digit) >= base) {
            return false;
        }
        value = value * base + static_cast<uint32_t>(digit);
        if (value > 0xFFFFFFFFu) {
            return false;
        }
    }
    *out = static_cast<uint32_t>(value);
    return true;
}

bool ParseHexBytes(const std::string& text, std::vector<uint8_t>* out) {
    out->clear();
    for (const std::string& word : SplitBlanks(text)) {
        if (word.size() != 2 || HexDigit(word[0]) < 0 || HexDigit(word[1]) < 0) {
            return false;
        }
        out->push_back(static_cast<uint8_t>(HexDigit(word[0]) * 16 + HexDigit(word[1])));
    }
    return true;
}

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

// --- state file parser ------------------------------------------------------------------------

enum class Section { None, Machine, Device, Fault };

// Keys that may appear once per device.
enum DeviceKey : unsigned {
    kIdBytes = 1u << 0,
    kIdLines = 1u << 1,
    kPresent = 1u << 2,
    kFlags = 1u << 3,
    kDriver = 1u << 4,
    kNodeStatus = 1u << 5,
    kProblem = 1u << 6,
};

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
        if (inner == "fault") {
            m_section = Section::Fault;
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
        *error = "unknown section [" + inner + "]";
        return false;
    }

    bool MachineKey(const std::string& key, const std::string& value, std::string* error) {
        if (key != "driver-store") {
            *error = "unknown key '" + key + "' in [machine]";
            return false;
        }
        if (m_storeSeen) {
            *error = "driver-store given twice";
            return false;
        }
        m_storeSeen = true;
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
        if (key == "present") {
            if (!Once(kPresent, key, error)) {
                return false;
            }
            if (value != "yes" && value != "no") {
                *error = "present must be yes or no";
                return false;
            }
            device.present = value == "yes";
            return true;
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

    Machine* m_out;
    Section m_section = Section::None;
    bool m_machineSeen = false;
    bool m_storeSeen = false;
    unsigned m_seen = 0;
};

bool FaultApplies(const Fault& fault, uint32_t call) {
    uint64_t first = fault.firstCall == 0 ? 1 : fault.firstCall;
    return call >= first && (fault.count == 0 || call - first < fault.count);
}

} // namespace

// --- names, builders, equality ---------------------------------------------------------------

const char* OpName(Op op) {
    size_t index = static_cast<size_t>(op);
    return index < kOpNames.size() ? kOpNames[index] : "?";
}

std::optional<Op> OpFromName(const std::string& name) {
    for (size_t i = 0; i < kOpNames.size(); ++i) {
        if (name == kOpNames[i]) {
            return static_cast<Op>(i);
        }
    }
    return std::nullopt;
}

std::vector<uint8_t> MultiSz(std::initializer_list<std::u16string> ids) {
    std::vector<uint8_t> data;
    auto put = [&data](char16_t c) {
        data.push_back(static_cast<uint8_t>(c & 0xFF));
        data.push_back(static_cast<uint8_t>(c >> 8));
    };
    for (const std::u16string& id : ids) {
        for (char16_t c : id) {
            put(c);
        }
        put(0);
    }
    put(0);
    return data;
}

std::vector<uint8_t> FlagBytes(uint32_t flags) {
    return {static_cast<uint8_t>(flags), static_cast<uint8_t>(flags >> 8),
            static_cast<uint8_t>(flags >> 16), static_cast<uint8_t>(flags >> 24)};
}

Device MakeDevice(std::u16string instanceId, std::initializer_list<std::u16string> ids,
                  bool present, std::optional<uint32_t> flags) {
    Device device;
    device.instanceId = std::move(instanceId);
    device.hardwareIds = MultiSz(ids);
    device.present = present;
    if (flags) {
        device.configFlags = FlagBytes(*flags);
    }
    return device;
}

bool operator==(const Fault& a, const Fault& b) {
    return a.op == b.op && a.firstCall == b.firstCall && a.error == b.error && a.count == b.count &&
           a.requiredSize == b.requiredSize;
}

bool operator==(const Device& a, const Device& b) {
    return a.instanceId == b.instanceId && a.hardwareIds == b.hardwareIds &&
           a.present == b.present && a.configFlags == b.configFlags && a.driver == b.driver &&
           a.nodeStatus == b.nodeStatus && a.problem == b.problem;
}

bool operator==(const Machine& a, const Machine& b) {
    return a.devices == b.devices && a.driverStore == b.driverStore && a.faults == b.faults;
}

// --- UTF-8 / UTF-16 ---------------------------------------------------------------------------

std::optional<std::u16string> FromUtf8(const std::string& text) {
    std::u16string out;
    size_t i = 0;
    while (i < text.size()) {
        uint8_t lead = static_cast<uint8_t>(text[i]);
        uint32_t code = 0;
        size_t extra = 0;
        uint32_t least = 0;
        if (lead < 0x80) {
            code = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            code = lead & 0x1F;
            extra = 1;
            least = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            code = lead & 0x0F;
            extra = 2;
            least = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            code = lead & 0x07;
            extra = 3;
            least = 0x10000;
        } else {
            return std::nullopt;
        }
        if (i + extra >= text.size()) {
            return std::nullopt;
        }
        for (size_t k = 1; k <= extra; ++k) {
            uint8_t next = static_cast<uint8_t>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return std::nullopt;
            }
            code = code << 6 | (next & 0x3F);
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return std::nullopt;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (code >> 10));
            out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        } else {
            out += static_cast<char16_t>(code);
        }
        i += extra + 1;
    }
    return out;
}

std::string ToUtf8(const std::u16string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t code = text[i];
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = 0xFFFD;
        }
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | code >> 6);
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | code >> 12);
            out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | code >> 18);
            out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

std::vector<std::u16string> SplitMultiSz(const std::vector<uint8_t>& data) {
    std::vector<std::u16string> entries;
    std::u16string entry;
    for (size_t i = 0; i + 1 < data.size(); i += 2) {
        char16_t c = static_cast<char16_t>(data[i] | data[i + 1] << 8);
        if (c != 0) {
            entry += c;
        } else if (entry.empty()) {
            return entries;
        } else {
            entries.push_back(std::move(entry));
            entry.clear();
        }
    }
    if (!entry.empty()) {
        entries.push_back(std::move(entry));
    }
    return entries;
}

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

std::string FormatMachine(const Machine& machine) {
    std::string text = "# Device-manager simulator state. Rewritten by the simulator after each "
                       "change; comments are not kept.\n[machine]\n";
    if (!machine.driverStore.empty()) {
        text += "driver-store = " + machine.driverStore + "\n";
    }
    for (const Device& device : machine.devices) {
        text += "\n[device";
        if (!device.instanceId.empty()) {
            text += " " + ToUtf8(device.instanceId);
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
    }
    if (!machine.faults.empty()) {
        text += "\n[fault]\n";
        for (const Fault& fault : machine.faults) {
            text += std::string("fail = ") + OpName(fault.op) + " " +
                    std::to_string(fault.firstCall == 0 ? 1 : fault.firstCall) + " " +
                    ErrorText(fault.error) + " " + std::to_string(fault.count);
            if (fault.requiredSize) {
                text += " " + std::to_string(*fault.requiredSize);
            }
            text += "\n";
        }
    }
    return text;
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

bool SaveMachineFile(const std::string& path, const Machine& machine) {
    std::filesystem::path target(path);
    std::filesystem::path folder = target.parent_path();
    std::string pattern = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) {
        return false;
    }
    struct stat existing {};
    fchmod(fd, stat(path.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : 0644);
    std::string text = FormatMachine(machine);
    size_t written = 0;
    bool ok = true;
    while (ok && written < text.size()) {
        ssize_t n = write(fd, text.data() + written, text.size() - written);
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

// --- the simulated machine --------------------------------------------------------------------

void UseMachine(Machine machine, std::string stateFile) {
    State& s = S();
    s.loaded = true;
    s.machine = std::move(machine);
    s.storeBase = ParentFolder(stateFile);
    s.stateFile = std::move(stateFile);
    s.stateFileError.clear();
    s.calls.fill(0);
    s.sets.clear();
    ++s.generation;
    s.strayReleases = 0;
}

bool LoadDefaultMachine() {
    std::string path;
    const char* env = std::getenv("INSTALLER_MACHINE");
    if (env != nullptr && *env != '\0') {
        path = env;
    } else {
        std::array<char, 4096> exe{};
        ssize_t n = readlink("/proc/self/exe", exe.data(), exe.size() - 1);
        std::string exePath = n > 0 ? std::string(exe.data(), static_cast<size_t>(n)) : "";
        std::string folder = ParentFolder(exePath);
        path = folder.empty() ? "Machine.ini" : folder + "/Machine.ini";
    }
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 && errno == ENOENT) {
        UseMachine(Machine{}, path);
        return true;
    }
    Machine machine;
    std::string error;
    if (!LoadMachineFile(path, &machine, &error)) {
        // Keep the broken file as it is: work on an empty machine that is never saved.
        UseMachine(Machine{});
        S().storeBase = ParentFolder(path);
        S().stateFileError = error;
        return false;
    }
    UseMachine(std::move(machine), path);
    return true;
}

Machine& Current() {
    Hooks::EnsureLoaded();
    return S().machine;
}

void AddFault(Fault fault) {
    Current().faults.push_back(fault);
}

uint32_t Calls(Op op) {
    Hooks::EnsureLoaded();
    size_t index = static_cast<size_t>(op);
    return index < S().calls.size() ? S().calls[index] : 0;
}

int OpenSets() {
    Hooks::EnsureLoaded();
    return static_cast<int>(S().sets.size());
}

int LiveBuffers() {
    Hooks::EnsureLoaded();
    int live = 0;
    for (const auto& entry : S().buffers) {
        live += entry.second.generation == S().generation ? 1 : 0;
    }
    return live;
}

int StrayReleases() {
    Hooks::EnsureLoaded();
    return S().strayReleases;
}

const std::string& StateFile() {
    return S().stateFile;
}

const std::string& StateFileError() {
    return S().stateFileError;
}

std::string DriverStoreFolder() {
    Hooks::EnsureLoaded();
    const State& s = S();
    std::filesystem::path store(s.machine.driverStore.empty() ? "DriverStore"
                                                              : s.machine.driverStore);
    if (store.is_absolute() || s.storeBase.empty()) {
        return store.string();
    }
    return (std::filesystem::path(s.storeBase) / store).string();
}

namespace Hooks {

void EnsureLoaded() {
    if (!S().loaded) {
        LoadDefaultMachine();
    }
}

std::optional<Fault> CountCall(Op op) {
    EnsureLoaded();
    State& s = S();
    size_t index = static_cast<size_t>(op);
    if (index >= s.calls.size()) {
        return std::nullopt;
    }
    uint32_t call = ++s.calls[index];
    for (const Fault& fault : s.machine.faults) {
        if (fault.op == op && FaultApplies(fault, call)) {
            return fault;
        }
    }
    return std::nullopt;
}

void* OpenSet(std::vector<size_t> devices) {
    auto set = std::make_unique<DeviceSet>();
    set->devices = std::move(devices);
    void* handle = set.get();
    S().sets.emplace(handle, std::move(set));
    return handle;
}

const std::vector<size_t>* FindSet(void* handle) {
    auto found = S().sets.find(handle);
    return found == S().sets.end() ? nullptr : &found->second->devices;
}

bool CloseSet(void* handle) {
    return S().sets.erase(handle) == 1;
}

uint8_t* NewBuffer(size_t bytes) {
    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[bytes]());
    if (!block) {
        return nullptr;
    }
    uint8_t* pointer = block.get();
    S().buffers.emplace(pointer, Buffer{std::move(block), S().generation});
    return pointer;
}

void FreeBuffer(uint8_t* buffer) {
    if (S().buffers.erase(buffer) == 0) {
        ++S().strayReleases;
    }
}

void StateChanged() {
    State& s = S();
    if (s.stateFile.empty()) {
        return;
    }
    if (SaveMachineFile(s.stateFile, s.machine)) {
        s.stateFileError.clear();
    } else {
        s.stateFileError = s.stateFile + ": could not be saved (" + std::strerror(errno) + ")";
    }
}

} // namespace Hooks

} // namespace DevSim

// The device-manager simulator: machine state, fault injection and counters, and the hooks at
// the end that DeviceServices-host.cpp builds the Windows call contracts on. The state file is
// read in StateFileRead.cpp and written in StateFileWrite.cpp.
#include "DeviceSimulator.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <utility>

#include "Utf8.h"

namespace DevSim {

namespace {

constexpr std::array<const char*, static_cast<size_t>(Op::Count)> kOpNames = {
    "get-class-devs", "enum", "get-property", "set-property", "destroy",    "node-status",
    "update",         "copy", "alloc",        "instance-id",  "driver-key", "list-files",
    "read-file",      "bind", "uninstall",    "uninstall-inf"};

struct DeviceSet {
    std::vector<size_t> devices;
};

struct Buffer {
    std::unique_ptr<uint8_t[]> block;
    size_t size;
    uint64_t generation;
};

// The zero bytes a caller keeps after what it offers, so that a list the system wrote whole
// is always followed by a UTF-16 terminator.
constexpr size_t kSpareBytes = 2;

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
    int overlongOffers = 0;
    int liveBuffers = 0; // of this generation
    int peakLiveBuffers = 0;
};

State& S() {
    static State state;
    return state;
}

std::string ParentFolder(const std::string& file) {
    return std::filesystem::path(file).parent_path().string();
}

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
           a.nodeStatus == b.nodeStatus && a.problem == b.problem && a.stoppable == b.stoppable;
}

bool operator==(const StagedPackage& a, const StagedPackage& b) {
    return a.name == b.name && a.catalog == b.catalog && a.catalogBytes == b.catalogBytes;
}

bool operator==(const Machine& a, const Machine& b) {
    return a.devices == b.devices && a.driverStore == b.driverStore && a.faults == b.faults &&
           a.hasUninstallDriver == b.hasUninstallDriver && a.platform == b.platform &&
           a.packages == b.packages && a.wine == b.wine && a.roots == b.roots &&
           a.trustedPublishers == b.trustedPublishers && a.microsoftRoots == b.microsoftRoots;
}

// --- UTF-8 / UTF-16 ---------------------------------------------------------------------------

std::optional<std::u16string> FromUtf8(const std::string& text) {
    bool malformed = false;
    std::u16string out = Text::Utf8ToUtf16(text, &malformed);
    if (malformed) {
        return std::nullopt;
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
    s.overlongOffers = 0;
    s.liveBuffers = 0;
    s.peakLiveBuffers = 0;
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

int PeakLiveBuffers() {
    Hooks::EnsureLoaded();
    return S().peakLiveBuffers;
}

int OverlongOffers() {
    Hooks::EnsureLoaded();
    return S().overlongOffers;
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

std::vector<std::string> TrustFiles(const std::vector<std::string>& names) {
    Hooks::EnsureLoaded();
    const std::string& base = S().storeBase;
    std::vector<std::string> paths;
    for (const std::string& name : names) {
        const std::filesystem::path file(name);
        paths.push_back(file.is_absolute() || base.empty()
                            ? name
                            : (std::filesystem::path(base) / file).string());
    }
    return paths;
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
    S().buffers.emplace(pointer, Buffer{std::move(block), bytes, S().generation});
    S().peakLiveBuffers = std::max(S().peakLiveBuffers, ++S().liveBuffers);
    return pointer;
}

bool OfferFits(const uint8_t* buffer, uint32_t offered) {
    auto found = S().buffers.find(const_cast<uint8_t*>(buffer));
    if (found == S().buffers.end()) {
        return true; // not one of ours: its size is the caller's business
    }
    if (found->second.size < kSpareBytes || offered > found->second.size - kSpareBytes) {
        ++S().overlongOffers;
        return false;
    }
    return true;
}

void FreeBuffer(uint8_t* buffer) {
    auto found = S().buffers.find(buffer);
    if (found == S().buffers.end()) {
        ++S().strayReleases;
        return;
    }
    S().liveBuffers -= found->second.generation == S().generation ? 1 : 0;
    S().buffers.erase(found);
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

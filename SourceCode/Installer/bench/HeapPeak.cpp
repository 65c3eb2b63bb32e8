// Peak heap of whole installation runs against the number of devices, counted by this
// program's own operator new. Only the run itself is measured: the machine is built and
// installed first, and the figures are what the run allocates on top of it.
//
// Columns: the machine's own storage (grows with the devices: it is the simulated system);
// the run's peak; the peak of the hardware-ID buffers alone (DevSvc::AllocateBuffer, which the
// simulator serves with nothrow new[]); and the peak of building and destroying one set of all
// devices, the simulator's stand-in for the system's device information set (8 bytes per
// member), which a run holds while it walks. Run peak minus set peak is what the installation
// logic holds besides.
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <new>

#include "BenchMachine.h"
#include "DeviceServices.h"
#include "DeviceSimulator.h"
#include "Sequence.h"
#include "XTrace.h"

namespace {

struct Counters {
    long long live = 0;
    long long peak = 0;
    long long allocations = 0;
    long long idLive = 0; // hardware-ID buffers
    long long idPeak = 0;
};
Counters g;

// The live ID buffers (a run holds one, a renewal briefly none): their sizes by pointer.
constexpr int kIdSlots = 16;
void* g_idBlocks[kIdSlots];
long long g_idSizes[kIdSlots];

void* Take(size_t bytes) {
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    if (block != nullptr) {
        g.live += static_cast<long long>(malloc_usable_size(block));
        g.peak = g.live > g.peak ? g.live : g.peak;
        ++g.allocations;
    }
    return block;
}

void Give(void* block) {
    if (block == nullptr) {
        return;
    }
    for (int i = 0; i < kIdSlots; ++i) {
        if (g_idBlocks[i] == block) {
            g.idLive -= g_idSizes[i];
            g_idBlocks[i] = nullptr;
        }
    }
    g.live -= static_cast<long long>(malloc_usable_size(block));
    std::free(block);
}

void* TakeIdBuffer(size_t bytes) {
    void* block = Take(bytes);
    for (int i = 0; block != nullptr && i < kIdSlots; ++i) {
        if (g_idBlocks[i] == nullptr) {
            g_idBlocks[i] = block;
            g_idSizes[i] = static_cast<long long>(bytes);
            g.idLive += g_idSizes[i];
            g.idPeak = g.idLive > g.idPeak ? g.idLive : g.idPeak;
            break;
        }
    }
    return block;
}

void StartPeak() {
    g.peak = g.live;
    g.idPeak = g.idLive;
    g.allocations = 0;
}

struct Row {
    size_t devices;
    long long machine;
    long long runPeak;
    long long runAllocations;
    long long idPeak;
    long long setPeak;
};

Row Measure(size_t devices, TraceSettingsData trace, const BenchFolder& folder) {
    Row row{};
    row.devices = devices;
    DevSim::UseMachine(DevSim::Machine{});
    const long long empty = g.live;
    DevSim::UseMachine(MakeBenchMachine(devices, folder.Store()));
    row.machine = g.live - empty;

    TraceSettings = trace;
    // A first run stages the INF; the measured one finds it staged, as the benchmarks' runs do.
    RunInstallation(kBenchHardwareId, folder.Inf().c_str());
    long long before = g.live;
    StartPeak();
    RunInstallation(kBenchHardwareId, folder.Inf().c_str());
    row.runPeak = g.peak - before;
    row.runAllocations = g.allocations;
    row.idPeak = g.idPeak;
    TraceSettings = {0, 0, 3};

    before = g.live;
    StartPeak();
    DevSvc::DestroyDeviceInfoList(DevSvc::GetClassDevs(DevSvc::DIGCF_ALLCLASSES));
    row.setPeak = g.peak - before;
    return row;
}

} // namespace

void* operator new(size_t bytes) {
    if (void* block = Take(bytes)) {
        return block;
    }
    throw std::bad_alloc();
}
void* operator new[](size_t bytes) {
    return operator new(bytes);
}
void* operator new(size_t bytes, const std::nothrow_t&) noexcept {
    return Take(bytes);
}
void* operator new[](size_t bytes, const std::nothrow_t&) noexcept {
    return TakeIdBuffer(bytes);
}
void operator delete(void* block) noexcept {
    Give(block);
}
void operator delete[](void* block) noexcept {
    Give(block);
}
void operator delete(void* block, size_t) noexcept {
    Give(block);
}
void operator delete[](void* block, size_t) noexcept {
    Give(block);
}

int main() {
    unsetenv("XTRACE_DEBUG_CHANNEL");
    const BenchFolder folder;
    std::printf("%-8s %-7s %14s %14s %12s %12s %14s %16s\n", "devices", "trace", "machine B",
                "run peak B", "allocations", "ID buf B", "device set B", "run - set B");
    for (const TraceSettingsData trace : {TraceSettingsData{0, 0, 3}, TraceSettingsData{0, 1, 1}}) {
        for (size_t devices : {1000, 10000, 100000}) {
            const Row r = Measure(devices, trace, folder);
            std::printf("%-8zu %-7s %14lld %14lld %12lld %12lld %14lld %16lld\n", r.devices,
                        trace.VIEW != 0 ? "on" : "off", r.machine, r.runPeak, r.runAllocations,
                        r.idPeak, r.setPeak, r.runPeak - r.setPeak);
        }
    }
    if (DevSim::OpenSets() != 0 || DevSim::LiveBuffers() != 0) {
        std::fprintf(stderr, "installer_heap: a set or an ID buffer was left open\n");
        return 1;
    }
    return 0;
}

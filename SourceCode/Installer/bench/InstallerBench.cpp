// Whole installation runs (RunInstallation) on in-memory simulated machines of 1,000 to
// 100,000 devices, with the trace off and with it on. Figures only: nothing here asserts a time.
//
// The machine is installed once per size, without a state file, so no run reads or writes one;
// the INF is staged into the benchmark's own driver store on the first run and found there
// again on the others. Repeated runs do the same work: the driver is reinstalled on the present
// device and the absent ones are marked again.
//
// With the trace on (VIEW=1, LEVEL=1) every record is formatted in full and handed to the
// debugger channel, which drops it: scripts/bench.sh leaves XTRACE_DEBUG_CHANNEL unset.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "BenchMachine.h"
#include "DeviceSimulator.h"
#include "Sequence.h"
#include "XTrace.h"

namespace {

void Installation(benchmark::State& state, TraceSettingsData trace) {
    const BenchFolder folder;
    const auto devices = static_cast<size_t>(state.range(0));
    DevSim::UseMachine(MakeBenchMachine(devices, folder.Store()));
    TraceSettings = trace;
    for (auto _ : state) {
        RunInstallation(kBenchHardwareId, folder.Inf().c_str());
    }
    TraceSettings = {0, 0, 3};
    if (DevSim::OpenSets() != 0 || DevSim::LiveBuffers() != 0) {
        state.SkipWithError("a set or an ID buffer was left open");
    }
    state.SetComplexityN(state.range(0));
    state.counters["per_device"] = benchmark::Counter(
        static_cast<double>(devices),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void TraceOff(benchmark::State& state) {
    Installation(state, {0, 0, 3});
}

void TraceOn(benchmark::State& state) {
    Installation(state, {0, 1, 1});
}

BENCHMARK(TraceOff)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);
BENCHMARK(TraceOn)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

} // namespace

int main(int argc, char** argv) {
    // Records must not reach a file or the console: that would measure the output, not the trace.
    unsetenv("XTRACE_DEBUG_CHANNEL");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// The simulator's state-file parser on arbitrary text. A machine that parses must come back
// equal from its canonical form (FormatMachine), and that form must be stable; a text that
// does not parse must name one of its lines and leave the output alone.
#include <algorithm>
#include <cstdio>

#include "DeviceSimulator.h"
#include "FuzzSupport.h"

namespace {

void Report(const std::string& text, const std::string& written, const std::string& error) {
    std::fprintf(stderr, "--- input\n%s\n--- written\n%s\n--- error\n%s\n", text.c_str(),
                 written.c_str(), error.c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    DevSim::Machine machine;
    machine.driverStore = "untouched";
    std::string error;
    if (!DevSim::ParseMachine(text, &machine, &error)) {
        FUZZ_CHECK(machine.driverStore == "untouched" && machine.devices.empty());
        unsigned long line = 0;
        FUZZ_CHECK(std::sscanf(error.c_str(), "line %lu: ", &line) == 1);
        const size_t lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
        FUZZ_CHECK(line >= 1 && line <= lines);
        return 0;
    }

    const std::string written = DevSim::FormatMachine(machine);
    DevSim::Machine back;
    if (!DevSim::ParseMachine(written, &back, &error) || !(back == machine)) {
        Report(text, written, error);
        FuzzFailure("the canonical form does not read back as the same machine");
    }
    FUZZ_CHECK(DevSim::FormatMachine(back) == written);
    return 0;
}

// Makes `count` trace records that are dropped because the trace is off, for counting
// instructions under callgrind (scripts/bench.sh):
//
//   dropped_record COUNT record   each of COUNT calls of a site makes one record
//   dropped_record COUNT empty    the same calls of a site without the record
//
// The trace is started as the program starts it and must come out off, else nothing runs.
// (Ir(record, N) - Ir(record, 0)) / N is what one record costs its call site, the site's call
// included; (Ir(record, N) - Ir(empty, N)) / N is the record alone.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "XTrace.h"

static constexpr char16_t kTraceFile[] = u".\\DroppedRecord.cpp";

namespace {

// A site as the walk has it: one progress record with an integer.
__attribute__((noinline)) void RecordSite(uint32_t i) {
    XTRACE(1, u"In Loop find SetupDiEnumDeviceInfo i=%x", i);
}

__attribute__((noinline)) void EmptySite(uint32_t i) {
    asm volatile("" : : "r"(i));
}

} // namespace

int main(int argc, char** argv) {
    const bool record = argc == 3 && std::strcmp(argv[2], "record") == 0;
    if (argc != 3 || (!record && std::strcmp(argv[2], "empty") != 0)) {
        std::fprintf(stderr, "usage: dropped_record COUNT record|empty\n");
        return 2;
    }
    const unsigned long count = std::strtoul(argv[1], nullptr, 10);
    InitTrace();
    if (TraceWanted(1) || TraceWanted(2)) {
        std::fprintf(stderr, "dropped_record: the trace is on (settings file or user.reg)\n");
        return 1;
    }
    void (*volatile site)(uint32_t) = record ? RecordSite : EmptySite;
    for (unsigned long i = 0; i < count; ++i) {
        site(static_cast<uint32_t>(i));
    }
    return 0;
}

// Diagnostic trace: settings, record formatting and the two outputs (debugger channel and the
// scrambled log file). Off unless switched on by "TqDbgCfg.ini" or the per-user "XTrace" key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "WideFormat.h"

// Where a record comes from. Call sites pass the relative path of their own source file
// (".\\Name.cpp"), their line and a level: 1 for progress, 2 for errors.
struct TraceSite {
    const char16_t* sourcePath;
    int32_t line;
    int32_t level;
};

struct TraceSettingsData {
    int32_t LOGFILE; // non-zero: write records to the log file
    int32_t VIEW;    // non-zero: send records to the debugger channel
    int32_t LEVEL;   // lowest level emitted, compared signed
};

// Process-wide, written only by InitTrace.
extern TraceSettingsData TraceSettings;
extern std::u16string LogFileName;

inline constexpr size_t kTraceBufferChars = 4096; // 4095 characters and a terminator
inline constexpr size_t kTracePathChars = 260;    // 259 characters and a terminator

// Reads the settings file beside the executable, then the per-user overrides, and fixes the
// log-file name when logging is on. Call once, before any record.
void InitTrace();

// The log file's name for `time` (seconds since 1970 UTC) as local time, "%m%d%H%M.log";
// empty when the time cannot be converted.
std::u16string MakeLogFileName(int64_t time);

// Shifts a zero-terminated line in place: every character before the first line feed or the
// terminator, except a space, goes up by 0x40 (mod 0x10000).
void ScrambleLine(char16_t* line);

// The inverse shift, for reading a log back: every character before the first line feed or
// the terminator, except a space, goes down by 0x40 (mod 0x10000).
void UnscrambleLine(char16_t* line);

// When set, sees each record that passed the filter as its finished line, before any output
// does. Nothing in the programs sets it; tests use it to check every record's site and level.
using TraceObserverFn = void (*)(const TraceSite& site, const char16_t* format,
                                 const char16_t* line);
extern TraceObserverFn TraceObserver;

// The out-of-line part of TraceOut: formats and writes a record that passed the filter.
void TraceEmit(const TraceSite& site, const char16_t* format, const FormatArg* args,
               size_t argCount);

// True when some output wants a record of `level`: the only work done for a dropped record.
inline bool TraceWanted(int32_t level) {
    return (TraceSettings.LOGFILE != 0 || TraceSettings.VIEW != 0) && level >= TraceSettings.LEVEL;
}

// Formats and writes a record that the filter has already let through.
template <typename... Args>
inline void TraceRecord(const TraceSite& site, const char16_t* format, const Args&... args) {
    if constexpr (sizeof...(Args) == 0) {
        TraceEmit(site, format, nullptr, 0);
    } else {
        const FormatArg packed[] = {FormatArg(args)...};
        TraceEmit(site, format, packed, sizeof...(Args));
    }
}

// The trace call: a site, a printf-style wide format and its arguments.
template <typename... Args>
inline void TraceOut(const TraceSite& site, const char16_t* format, const Args&... args) {
    if (TraceWanted(site.level)) {
        TraceRecord(site, format, args...);
    }
}

// Each source file that traces defines `kTraceFile` as its own relative path, e.g.
//   static constexpr char16_t kTraceFile[] = u".\\Reinstall.cpp";
// A dropped record costs the filter's integer tests and nothing else: not even its site.
#define XTRACE(level, ...)                                                                         \
    do {                                                                                           \
        if (TraceWanted(level)) {                                                                  \
            TraceRecord(TraceSite{kTraceFile, __LINE__, (level)}, __VA_ARGS__);                    \
        }                                                                                          \
    } while (false)

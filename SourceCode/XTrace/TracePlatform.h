// What the trace needs from the platform: the executable's path, the settings file, the
// per-user overrides, the debugger channel, the clock and appending to a file.
// One implementation per platform: TracePlatform-win32.cpp calls the real Windows functions,
// TracePlatform-host.cpp provides stand-ins for Linux.
#pragma once

#include <cstddef>
#include <cstdint>

namespace TracePlatform {

// Full path of the running executable, with backslashes as separators, into `buffer` of
// `capacity` characters. Returns the number of characters written without the terminator;
// 0 on failure; `capacity` when the path did not fit (the buffer's contents are then unusable).
uint32_t ExecutablePath(char16_t* buffer, uint32_t capacity);

// Integer value of `key` in `section` of the INI file `path`; `defaultValue` when the file, the
// section or the key is missing.
int32_t ProfileInt(const char16_t* section, const char16_t* key, int32_t defaultValue,
                   const char16_t* path);

// The per-user override key "XTrace". Results are Windows error codes: 0 is success.
using KeyHandle = void*;
int32_t OpenOverrideKey(KeyHandle* key);
// Reads value `name` into `data` of `*size` bytes. On 0, `*size` holds the data's byte count.
// On 234 (ERROR_MORE_DATA) the data was larger and `data` holds undefined bytes.
// 2 (ERROR_FILE_NOT_FOUND): no such value.
int32_t QueryOverride(KeyHandle key, const char16_t* name, uint8_t* data, uint32_t* size);
void CloseOverrideKey(KeyHandle key);

// The debugger output channel; one call per record.
void DebugChannelWrite(const char16_t* text);

// Current time in seconds since 1970-01-01 00:00:00 UTC.
int64_t CurrentTime();

struct LocalTime {
    int month;  // 1..12
    int day;    // 1..31
    int hour;   // 0..23
    int minute; // 0..59
};
// Converts `time` to local time. False on failure.
bool ToLocalTime(int64_t time, LocalTime* out);

// The calling thread's last error (GetLastError and SetLastError). The calls above may change
// it, as the system functions behind them do; a record reads it before its first call and puts
// it back after its last, so that a caller tracing between a failed call and its own read of
// the error still gets that call's error.
uint32_t ThreadLastError();
void SetThreadLastError(uint32_t error);

// Opens `path` for appending ("a+": created if missing, not shared while open), writes `count`
// bytes as they are and closes it. False when the file could not be opened; a failed write is
// ignored. The name is never followed: when it is taken by a symbolic link, junction or other
// reparse point, by a file with more than one hard link, or by anything but a plain disk file,
// nothing is written and the call fails, leaving the name and what it leads to as they were. A
// program running elevated writes its log in a folder that others may be able to write to.
bool AppendToFile(const char16_t* path, const char* bytes, size_t count);

} // namespace TracePlatform

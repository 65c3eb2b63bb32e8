// What the trace needs from the platform: the executable's path, the settings file, the
// per-user overrides, the debugger channel and the thread's last error. The clock and the
// log file's append are the neutral layers' (LocalClock.h, SafeFile.h), which the deploy
// program shares.
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

// The calling thread's last error (GetLastError and SetLastError). The calls above may change
// it, as the system functions behind them do; a record reads it before its first call and puts
// it back after its last, so that a caller tracing between a failed call and its own read of
// the error still gets that call's error.
uint32_t ThreadLastError();
void SetThreadLastError(uint32_t error);

} // namespace TracePlatform

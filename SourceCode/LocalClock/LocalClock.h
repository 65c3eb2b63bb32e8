// The clock as the programs use it beside their core: the time now, broken down as local time and
// as UTC, the local time's distance from UTC, and a pause for bounded retries.
// LocalClock-win32.cpp calls the C runtime's and Windows' functions; LocalClock-host.cpp stands in
// on Linux.
#pragma once

#include <cstdint>

namespace LocalClock {

struct CivilTime {
    int year, month, day, hour, minute, second;
};
struct LocalTime {
    CivilTime local;
    int utcOffsetMinutes; // local time less UTC
};
// Seconds since 1970-01-01 00:00:00 UTC, now.
int64_t CurrentTime();
// `time` (seconds since 1970 UTC) broken down as local time and as UTC; either may be null. False
// when it cannot be converted (the C runtime accepts 1970 to 3000).
bool BreakDown(int64_t time, CivilTime* local, CivilTime* utc);
// The local time now, with its distance from UTC.
LocalTime LocalNow();
// Local less UTC in minutes, for the same instant broken down both ways (LocalClock.cpp); the
// two are less than a day apart.
int UtcOffsetMinutes(const CivilTime& local, const CivilTime& utc);

// Waits this long; for bounded retries.
void Pause(uint32_t milliseconds);

} // namespace LocalClock

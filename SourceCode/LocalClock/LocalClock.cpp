// The portable part of LocalClock: the local time now and the UTC offset.
#include "LocalClock.h"

namespace {

// -1, 0 or 1 as the date of `a` comes before, with or after that of `b`.
int CompareDates(const LocalClock::CivilTime& a, const LocalClock::CivilTime& b) {
    if (a.year != b.year) {
        return a.year < b.year ? -1 : 1;
    }
    if (a.month != b.month) {
        return a.month < b.month ? -1 : 1;
    }
    return a.day == b.day ? 0 : (a.day < b.day ? -1 : 1);
}

} // namespace

namespace LocalClock {

LocalTime LocalNow() {
    LocalTime now{};
    CivilTime utc{};
    if (!BreakDown(CurrentTime(), &now.local, &utc)) {
        return now;
    }
    now.utcOffsetMinutes = UtcOffsetMinutes(now.local, utc);
    return now;
}

// Every zone is less than a day from UTC, so the two dates are at most one day apart. Seconds
// are left out: offsets are whole minutes, and both sides share the instant's.
int UtcOffsetMinutes(const CivilTime& local, const CivilTime& utc) {
    return CompareDates(local, utc) * 1440 + (local.hour - utc.hour) * 60 +
           (local.minute - utc.minute);
}

} // namespace LocalClock

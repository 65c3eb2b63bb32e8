// The portable part of FileClock: the one-shot append, the local time now and the UTC offset.
#include "FileClock.h"

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's days_from_civil).
int64_t DaysFromCivil(int year, int month, int day) {
    const int64_t y = year - (month <= 2 ? 1 : 0);
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yearOfEra = y - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

int64_t MinutesOf(const FileClock::CivilTime& time) {
    return DaysFromCivil(time.year, time.month, time.day) * 1440 + time.hour * 60 + time.minute;
}

} // namespace

namespace FileClock {

FileResult AppendToFile(const std::u16string& path, const char* bytes, size_t count) {
    AppendFile file;
    const FileResult opened = file.Open(path);
    return opened == FileResult::Done ? file.Append(bytes, count) : opened;
}

LocalTime LocalNow() {
    LocalTime now{};
    CivilTime utc{};
    if (!BreakDown(CurrentTime(), &now.local, &utc)) {
        return now;
    }
    now.utcOffsetMinutes = UtcOffsetMinutes(now.local, utc);
    return now;
}

int UtcOffsetMinutes(const CivilTime& local, const CivilTime& utc) {
    // Seconds are left out: offsets are whole minutes, and both sides share the instant's.
    return static_cast<int>(MinutesOf(local) - MinutesOf(utc));
}

} // namespace FileClock

// LocalClock on Windows: each function is the C runtime's or Windows' call it names.
#include "LocalClock.h"

#include <time.h>

#include "Win32.h"

namespace {

LocalClock::CivilTime Civil(const tm& t) {
    return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
}

} // namespace

// One instant, broken down as UTC and as local time; the offset is their difference.
int64_t LocalClock::CurrentTime() {
    return _time64(nullptr);
}

bool LocalClock::BreakDown(int64_t time, CivilTime* local, CivilTime* utc) {
    const __time64_t seconds = time;
    tm parts{};
    if (local != nullptr) {
        if (_localtime64_s(&parts, &seconds) != 0) {
            return false;
        }
        *local = Civil(parts);
    }
    if (utc != nullptr) {
        if (_gmtime64_s(&parts, &seconds) != 0) {
            return false;
        }
        *utc = Civil(parts);
    }
    return true;
}

void LocalClock::Pause(uint32_t milliseconds) {
    Sleep(milliseconds);
}

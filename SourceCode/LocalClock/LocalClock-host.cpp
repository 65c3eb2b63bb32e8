// Linux stand-ins for LocalClock: the same terms over the C library's time calls, with a clock a
// test may set (LocalClockHost.h).
#include <atomic>
#include <cerrno>
#include <ctime>
#include <optional>

#include "LocalClock.h"
#include "LocalClockHost.h"

namespace {

std::optional<int64_t> fixedClock;
std::atomic<uint32_t> calls{0};

LocalClock::CivilTime Civil(const tm& t) {
    return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
}

} // namespace

namespace LocalClockHost {

void SetClock(std::optional<int64_t> now) {
    fixedClock = now;
}

uint32_t Calls() {
    return calls.load();
}

} // namespace LocalClockHost

namespace LocalClock {

int64_t CurrentTime() {
    ++calls;
    return fixedClock ? *fixedClock : static_cast<int64_t>(time(nullptr));
}

// As _localtime64_s and _gmtime64_s: 1970-01-01 00:00:00 to 3000-12-31 23:59:59 UTC.
bool BreakDown(int64_t time, CivilTime* local, CivilTime* utc) {
    ++calls;
    constexpr int64_t kLatest = 32535215999;
    const auto seconds = static_cast<time_t>(time);
    if (time < 0 || time > kLatest || static_cast<int64_t>(seconds) != time) {
        return false;
    }
    tzset(); // picks up a TZ changed since the last call
    tm parts{};
    if (local != nullptr) {
        if (localtime_r(&seconds, &parts) == nullptr) {
            return false;
        }
        *local = Civil(parts);
    }
    if (utc != nullptr) {
        if (gmtime_r(&seconds, &parts) == nullptr) {
            return false;
        }
        *utc = Civil(parts);
    }
    return true;
}

void Pause(uint32_t milliseconds) {
    timespec wait{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

} // namespace LocalClock

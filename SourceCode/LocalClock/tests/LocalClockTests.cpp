// LocalClock's Linux stand-ins must keep the contract of the C runtime's calls they replace: the
// trace's file names and the deployment log's times are tested against it.
#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "LocalClock.h"
#include "LocalClockHost.h"

namespace {

// Puts the system clock and the time zone back as they were, whatever the test left.
class LocalClockTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* previous = std::getenv("TZ");
        saved_ = previous ? std::optional<std::string>(previous) : std::nullopt;
    }
    void TearDown() override {
        LocalClockHost::SetClock(std::nullopt);
        saved_ ? setenv("TZ", saved_->c_str(), 1) : unsetenv("TZ");
    }
    std::optional<std::string> saved_;
};

TEST_F(LocalClockTest, ClockAndBreakDown) {
    LocalClockHost::SetClock(1709257500); // 2024-03-01 01:45:00 UTC
    EXPECT_EQ(LocalClock::CurrentTime(), 1709257500);
    setenv("TZ", "XYZ-2", 1); // two hours east of UTC
    LocalClock::CivilTime local{};
    LocalClock::CivilTime utc{};
    ASSERT_TRUE(LocalClock::BreakDown(1709257500, &local, &utc));
    EXPECT_EQ((std::vector<int>{local.year, local.month, local.day, local.hour, local.minute,
                                local.second, utc.hour}),
              (std::vector<int>{2024, 3, 1, 3, 45, 0, 1}));
    const LocalClock::LocalTime now = LocalClock::LocalNow();
    EXPECT_EQ(now.local.hour, 3);
    EXPECT_EQ(now.utcOffsetMinutes, 120);
    EXPECT_FALSE(LocalClock::BreakDown(-1, &local, nullptr));
    EXPECT_FALSE(LocalClock::BreakDown(int64_t{1} << 60, &local, nullptr));
}

// The offset from UTC across a day, a month and a year, both ways.
TEST(LocalClockTime, TheOffsetIsLocalLessUtcAcrossDates) {
    using LocalClock::CivilTime;
    const std::vector<std::tuple<CivilTime, CivilTime, int>> cases = {
        {{2026, 12, 9, 7, 12, 3}, {2026, 12, 9, 6, 12, 3}, 60},
        {{2026, 12, 10, 1, 0, 0}, {2026, 12, 9, 23, 0, 0}, 120},
        {{2026, 12, 9, 20, 0, 0}, {2026, 12, 10, 1, 0, 0}, -300},
        {{2027, 1, 1, 0, 30, 0}, {2026, 12, 31, 23, 30, 0}, 60},
        {{2026, 2, 28, 19, 15, 0}, {2026, 3, 1, 0, 45, 0}, -330},
        {{2026, 3, 1, 13, 45, 0}, {2026, 2, 28, 23, 0, 0}, 885},
        {{2026, 6, 30, 14, 0, 0}, {2026, 7, 1, 0, 0, 0}, -600},
    };
    for (const auto& [local, utc, offset] : cases) {
        EXPECT_EQ(LocalClock::UtcOffsetMinutes(local, utc), offset) << offset;
    }
}

} // namespace

// Host-only controls of LocalClock's stand-ins, for tests. Host builds only.
#pragma once

#include <cstdint>
#include <optional>

namespace LocalClockHost {

// CurrentTime returns `now` instead of the system clock; nullopt returns to the system clock.
void SetClock(std::optional<int64_t> now);

// The calls LocalClock's stand-ins have answered so far, every one counted: a test of a record
// that is dropped sees, with SafeFileHost::Calls, that no clock or file call was made for it.
uint32_t Calls();

} // namespace LocalClockHost

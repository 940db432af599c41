// The UI's frame clock: milliseconds on the monotonic clock, so that timers
// and frame pacing ignore changes of the wall clock.
#pragma once

#include <cstdint>

namespace zuv::tui {

int64_t now_ms();

}  // namespace zuv::tui

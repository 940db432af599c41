// The UI's frame clock: milliseconds on the monotonic clock, so that timers
// and frame pacing ignore changes of the wall clock.
#pragma once

#include <cstdint>

namespace zuv::tui {

int64_t now_ms();

// A frame's start, and the milliseconds since a start.
int64_t frame_start();
int64_t frame_elapsed(int64_t start);

}  // namespace zuv::tui

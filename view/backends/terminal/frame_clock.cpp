#include "view/backends/terminal/frame_clock.h"

#include <chrono>

namespace zuv::tui {

int64_t now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t frame_start() { return now_ms(); }

int64_t frame_elapsed(int64_t start) { return now_ms() - start; }

}  // namespace zuv::tui

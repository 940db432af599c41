#include "view/backends/terminal/frame_clock.h"

#include <chrono>

namespace zuv::tui {

int64_t now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace zuv::tui

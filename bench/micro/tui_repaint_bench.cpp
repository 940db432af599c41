// Full repaints of a 200x60 cell screen written to a pseudo-terminal, every
// cell recoloured each frame (foreground and background 256-colour indices
// that shift by one per frame). A thread drains the terminal so that writes
// never block. bench/tui_repaint.py runs this beside Python's curses.
#include <benchmark/benchmark.h>

#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "view/backends/terminal/colour.h"
#include "view/backends/terminal/console_mode.h"
#include "view/backends/terminal/output.h"

using namespace zuv::tui;

namespace {

constexpr int WIDTH = 200, HEIGHT = 60;

void BM_TuiRepaint(benchmark::State& state) {
    struct winsize ws {};
    ws.ws_col = WIDTH;
    ws.ws_row = HEIGHT;
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, &ws) != 0 || !activate(slave, slave)) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    std::atomic<bool> done{false};
    std::atomic<uint64_t> drained{0};
    std::thread drain([&] {
        char buf[65536];
        while (!done) {
            struct pollfd pfd {
                master, POLLIN, 0
            };
            if (poll(&pfd, 1, 20) <= 0) continue;
            ssize_t n = read(master, buf, sizeof buf);
            if (n > 0) drained += static_cast<uint64_t>(n);
        }
    });
    screen_t& s = screen();
    s.fullscreen = true;
    int frame = 0;
    for (auto _ : state) {
        s.size_to(WIDTH, HEIGHT);
        for (int y = 0; y < HEIGHT; ++y)
            for (int x = 0; x < WIDTH; ++x) {
                tui_cell_t* c = s.at(x, y);
                c->code = 'a' + (x + frame) % 26;
                c->fg = colour_word(colour_kind::INDEXED, 16 + (x + y + frame) % 216);
                c->bg = colour_word(colour_kind::INDEXED, 16 + (x + 2 * y + frame) % 216);
            }
        flush_screen();
        ++frame;
    }
    usleep(100000);
    done = true;
    drain.join();
    deactivate();
    close(master);
    close(slave);
    state.counters["bytes_per_repaint"] =
        benchmark::Counter(static_cast<double>(drained) / static_cast<double>(frame));
}

}  // namespace

BENCHMARK(BM_TuiRepaint)->Unit(benchmark::kMillisecond);

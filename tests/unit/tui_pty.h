// What the terminal UI wrote to a pseudo-terminal, for tests that run it on
// one.
#pragma once

#include <poll.h>
#include <unistd.h>

#include <string>

namespace zuv::tui::test {

// Everything the master side can read, each chunk awaited up to wait_ms.
inline std::string received(int master, int wait_ms) {
    std::string out;
    char chunk[4096];
    struct pollfd p {
        master, POLLIN, 0
    };
    while (poll(&p, 1, wait_ms) > 0) {
        ssize_t n = read(master, chunk, sizeof chunk);
        if (n <= 0) break;
        out.append(chunk, static_cast<size_t>(n));
    }
    return out;
}

}  // namespace zuv::tui::test

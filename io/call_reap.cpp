// Reaping the children that nobody waits for.
#include "io/call_reap.h"

#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <cerrno>
#include <vector>

namespace zuv::call {

namespace {

// Far more children than a script keeps running at once; any beyond go to
// the overflow list, which only the runtime thread touches.
constexpr int SLOTS = 1024;

std::atomic<pid_t> slots[SLOTS];
static_assert(std::atomic<pid_t>::is_always_lock_free, "the handler needs lock-free slots");

std::vector<pid_t> overflow;

struct sigaction previous {};
bool installed = false;

// Whether the recorded child is gone: reaped now, or already (ECHILD).
bool reaped_q(pid_t pid) {
    pid_t r;
    do {
        r = waitpid(pid, nullptr, WNOHANG);
    } while (r < 0 && errno == EINTR);
    return r == pid || (r < 0 && errno == ECHILD);
}

// Async-signal-safe: waitpid and atomics only.
void sweep_slots() {
    for (std::atomic<pid_t>& slot : slots) {
        pid_t pid = slot.load(std::memory_order_acquire);
        if (pid > 0 && reaped_q(pid)) slot.compare_exchange_strong(pid, 0);
    }
}

void on_child(int sig, siginfo_t* info, void* context) {
    int saved = errno;
    sweep_slots();
    // Whoever listened before still hears of its children.
    if (previous.sa_flags & SA_SIGINFO) {
        if (previous.sa_sigaction != nullptr) previous.sa_sigaction(sig, info, context);
    } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
        previous.sa_handler(sig);
    }
    errno = saved;
}

void install() {
    if (installed) return;
    // The handler may run as soon as it is in place: what it calls on must
    // be complete before.
    if (sigaction(SIGCHLD, nullptr, &previous) != 0) return;
    struct sigaction sa {};
    sa.sa_sigaction = on_child;
    sigemptyset(&sa.sa_mask);
    // SA_RESTART: the blocking reads and writes of other code go on rather
    // than fail with EINTR because some child ended.
    sa.sa_flags = SA_SIGINFO | SA_RESTART | SA_NOCLDSTOP;
    installed = sigaction(SIGCHLD, &sa, nullptr) == 0;
}

}  // namespace

void unignore_child_signal() {
    struct sigaction current {};
    if (sigaction(SIGCHLD, nullptr, &current) != 0) return;
    bool ignored = !(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_IGN;
    if (!ignored && !(current.sa_flags & SA_NOCLDWAIT)) return;
    if (ignored) current.sa_handler = SIG_DFL;
    current.sa_flags &= ~SA_NOCLDWAIT;
    sigaction(SIGCHLD, &current, nullptr);
}

void adopt(pid_t pid) {
    install();
    bool recorded = false;
    for (std::atomic<pid_t>& slot : slots) {
        pid_t empty = 0;
        if (slot.compare_exchange_strong(empty, pid)) {
            recorded = true;
            break;
        }
    }
    if (!recorded) overflow.push_back(pid);
    reap_ended();
}

void reap_ended() {
    sweep_slots();
    std::erase_if(overflow, reaped_q);
}

int32_t adopted_count() {
    int32_t n = static_cast<int32_t>(overflow.size());
    for (const std::atomic<pid_t>& slot : slots)
        if (slot.load(std::memory_order_acquire) > 0) n++;
    return n;
}

}  // namespace zuv::call

// The operating-system layer.
//
// The runtime's core needs few services from the system: memory in large
// blocks, the current folder, sleeping, the environment, the time of day and
// the date with the local zone, and raw writes to the standard streams. Each
// wrapper here makes at most one decision of its own (a rounding, a minimum,
// a packing) so that callers can rely on a stated result.
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <string>

namespace zuv::platform {

void init();

// Memory for the memory manager's frames: committed, read-write (and
// executable when asked). nullptr when the system refuses.
void* virtual_alloc(size_t size, bool executable);
// false when the system refuses to take the block back.
bool virtual_free(void* address, size_t size);
// The process's limit on address space (ulimit -v) in bytes; 0 when none.
// Reservations sized for a whole 64-bit address space scale down to it.
uint64_t address_space_limit();

// The current folder as UTF-8 text; empty on failure.
std::string get_current_dir();
bool set_current_dir(const char* path);

// Sleeps for the given seconds, never less than 1 ms. With stop, a signal
// handler that sets *stop and calls wake_wait ends it early, whichever
// thread the signal reached.
void wait(double seconds, const volatile sig_atomic_t* stop = nullptr);
// Async-signal-safe.
void wake_wait();
// The whole milliseconds that wait() sleeps for a request.
int64_t wait_ms(double seconds);

// Setting or removing TZ makes the clock read the zone again.
bool set_env(const char* name, const char* value);
bool unset_env(const char* name);
// nullptr when the variable is absent.
const char* get_env(const char* name);

// Seconds since midnight UTC; whole seconds unless precise, when the
// fraction carries the nanoseconds.
double get_time(bool precise);

// The date packed in one word: year in bits 17-31, month 12-16, day 7-11,
// zone 0-6 (bit 6 west of UTC, bits 2-5 whole hours, 0-1 quarter hours).
uint32_t get_date(bool utc);
// The zone field for an offset in minutes east of UTC.
uint32_t pack_zone(int offset_minutes);

// Writes all bytes to a standard stream. A failed write to standard output
// ends the process (output_failed); one to standard error is dropped, but a
// closed pipe there too ends the process with 141.
void write_all(int fd, const char* bytes, size_t count);

// The status after output that could not be written (EX_IOERR).
constexpr int OUTPUT_LOST_STATUS = 74;
// Ends the process after a write to standard output failed with the given
// errno: a closed pipe quietly with status 141, as a shell reports a broken
// pipe; anything else (a full disk, a closed or read-only stream) with the
// line "*** Write Error: standard output: " and the system's reason on
// standard error, the exit hooks run, and status 74.
[[noreturn]] void output_failed(int error);

// Fills the buffer with random bytes from the kernel's secure source; false
// when neither the system call nor the device gives them.
bool random_bytes(void* buffer, size_t length);

// The fallback source: reads the whole length from a device file; false when
// it cannot be opened or read to the end.
bool read_random_device(const char* path, void* buffer, size_t length);

}  // namespace zuv::platform

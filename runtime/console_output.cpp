#include "runtime/console_output.h"

#include <cstdio>
#include <string>

#include "datatypes/string.h"
#include "runtime/lowrt.h"
#include "runtime/platform/platform.h"
#include "runtime/print_hooks.h"
#include "runtime/unicode.h"

namespace zuv::platform {
namespace {

constexpr int STDOUT = 1;

std::string pending;
bool ready = false;

void write_pending() {
    if (pending.empty()) return;
    // Cleared first: write_all may end the process, and an exit hook must not
    // write the same text again.
    std::string out;
    out.swap(pending);
    write_all(STDOUT, out.data(), out.size());
}

// Formats a number and writes it like prin_cstring.
template <typename T> void prin_format(const char* format, T value) {
    char text[64];
    int n = std::snprintf(text, sizeof text, format, value);
    if (n < 0) return;
    pending.append(text, static_cast<size_t>(n));
    write_pending();
    print_hooks::call_raw(text, n, 0);
}

}  // namespace

void init_console_output() {
    if (ready) return;
    ready = true;
    pending.reserve(1024);
    lowrt::add_exit_hook(flush_console_output);
}

void flush_console_output() { write_pending(); }

void write_text(const uint8_t* text, size_t bytes, uint32_t unit, bool newline) {
    const uint8_t* end = text + bytes;
    if (unit == 1) {
        // ASCII runs go over as they are; 128-255 take two bytes each.
        while (text < end) {
            const uint8_t* run = text;
            while (text < end && *text < 0x80) text++;
            pending.append(reinterpret_cast<const char*>(run), static_cast<size_t>(text - run));
            if (text < end) {
                uint8_t b = *text++;
                pending.push_back(static_cast<char>(0xC0 | b >> 6));
                pending.push_back(static_cast<char>(0x80 | (b & 0x3F)));
            }
        }
    } else {
        uint8_t utf8[4];
        for (; text < end; text += unit) {
            int n = unicode::cp_to_utf8(string::get_char(text, unit), utf8);
            pending.append(reinterpret_cast<const char*>(utf8), static_cast<size_t>(n));
        }
    }
    if (newline) pending.push_back('\n');
    write_pending();
}

void prin_cstring(const char* text) {
    size_t n = std::char_traits<char>::length(text);
    pending.append(text, n);
    write_pending();
    print_hooks::call_raw(text, static_cast<int32_t>(n), 0);
}

void prin_int(int64_t value) { prin_format("%lld", static_cast<long long>(value)); }
void prin_2hex(uint32_t value) { prin_format("%02X", value); }
void prin_hex(uint32_t value) { prin_format("%08X", value); }
void prin_float(double value) { prin_format("%.16g", value); }
void prin_float32(float value) { prin_format("%.7g", static_cast<double>(value)); }

}  // namespace zuv::platform

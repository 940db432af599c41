// Piped standard input (see stdin.h).
#include "console/stdin.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "datatypes/string.h"
#include "runtime/unicode.h"

namespace zuv::terminal {

bool stdin_ended = false;

namespace {

// One chunk at a time: a byte per system call would cost a call per
// character of every piped line.
constexpr int64_t CHUNK = 65536;
uint8_t chunk[CHUNK];
int64_t chunk_pos = 0;
int64_t chunk_len = 0;
bool at_end = false;
int console_state = -1;  // -1 not asked yet, else 0 or 1

bool fill() {
    if (at_end) return false;
    ssize_t n;
    do {
        n = ::read(STDIN_FILENO, chunk, CHUNK);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
        at_end = true;
        return false;
    }
    chunk_pos = 0;
    chunk_len = n;
    return true;
}

// Validates one multi-byte character whose lead byte was taken already and
// stores its bytes in out; -1 at the end of input.
int32_t take_sequence(uint8_t lead, std::string* out) {
    uint8_t bytes[4] = {lead, 0, 0, 0};
    int64_t size = lead >= 0xF0 && lead < 0xF8 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (lead >= 0xF8) size = 1;  // not a lead byte: the decoder refuses it
    for (int64_t i = 1; i < size; i++) {
        int32_t b = read_byte();
        if (b < 0) return -1;
        bytes[i] = static_cast<uint8_t>(b);
    }
    int64_t count = size;
    int32_t cp = unicode::decode_utf8_char(bytes, &count);  // raises invalid-utf8 when malformed
    if (out) out->append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(size));
    return cp;
}

}  // namespace

int32_t read_byte() {
    if (chunk_pos >= chunk_len && !fill()) return -1;
    return chunk[chunk_pos++];
}

int32_t read_utf8_char() {
    int32_t b = read_byte();
    if (b < 0x80) return b;
    return take_sequence(static_cast<uint8_t>(b), nullptr);
}

bool stdin_readline(cell_t* line) {
    if (chunk_pos >= chunk_len && !fill()) {
        stdin_ended = true;
        return false;
    }
    std::string text;
    for (;;) {
        if (chunk_pos >= chunk_len && !fill()) break;
        // The ASCII run up to the line feed goes over in one piece.
        const uint8_t* start = chunk + chunk_pos;
        const uint8_t* end = chunk + chunk_len;
        const uint8_t* p = start;
        while (p < end && *p != '\n' && *p < 0x80) p++;
        text.append(reinterpret_cast<const char*>(start), static_cast<size_t>(p - start));
        chunk_pos += p - start;
        if (p == end) continue;
        if (*p == '\n') {
            chunk_pos++;
            if (!text.empty() && text.back() == '\r') text.pop_back();
            break;
        }
        chunk_pos++;
        if (take_sequence(*p, &text) < 0) break;
    }
    if (!text.empty()) string::append_utf8(line, text.data(), static_cast<int64_t>(text.size()));
    return true;
}

int64_t take_buffered(uint8_t* out, int64_t count) {
    int64_t n = chunk_len - chunk_pos;
    if (n > count) n = count;
    if (n <= 0) return 0;
    std::memcpy(out, chunk + chunk_pos, static_cast<size_t>(n));
    chunk_pos += n;
    return n;
}

bool stdin_console_q() {
    if (console_state < 0) console_state = isatty(STDIN_FILENO) ? 1 : 0;
    return console_state == 1;
}

void reset_stdin() {
    chunk_pos = chunk_len = 0;
    at_end = false;
    stdin_ended = false;
    console_state = -1;
}

}  // namespace zuv::terminal

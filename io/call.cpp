// call: the values of the call native made into the worker's records, and
// the captured output made back into values.
#include "io/call.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "datatypes/binary.h"
#include "datatypes/file.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "io/call_reap.h"
#include "runtime/alloc.h"
#include "runtime/fire.h"
#include "runtime/unicode.h"

namespace zuv::call {

namespace {

using series::change_word;

bool absent_q(const cell_t* value) { return value == nullptr || type_of(value) == TYPE_none; }

[[noreturn]] void fire_invalid(const cell_t* value) {
    cell_t v = *value;
    fire(err::invalid_arg, &v);
}

// input_text keeps a string!'s UTF-8 for as long as the record points at it.
void prepare_input(const cell_t* in, redirect_t& r, std::string& input_text) {
    if (absent_q(in)) return;
    switch (type_of(in)) {
    case TYPE_string:
        input_text = unicode::to_utf8(in);
        r.kind = redirect_t::DATA;
        r.data = reinterpret_cast<const uint8_t*>(input_text.data());
        r.length = static_cast<int64_t>(input_text.size());
        break;
    case TYPE_binary:
        r.kind = redirect_t::DATA;
        r.data = binary::rs_head(in);
        r.length = binary::rs_length_q(in);
        break;
    case TYPE_file:
        r.kind = redirect_t::FILE;
        if (!file::to_os_path(in, &r.path)) fire_invalid(in);
        break;
    default: fire_invalid(in);
    }
}

void prepare_output(const cell_t* target, redirect_t& r) {
    if (absent_q(target)) return;
    switch (type_of(target)) {
    case TYPE_string:
    case TYPE_binary: r.kind = redirect_t::CAPTURE; break;
    case TYPE_file:
        r.kind = redirect_t::FILE;
        if (!file::to_os_path(target, &r.path)) fire_invalid(target);
        break;
    default: fire_invalid(target);
    }
}

// Bytes moved from a capture to its target between two releases of the
// capture's pages.
constexpr int64_t SLICE = 1 << 20;

// Raises invalid-utf8 for the first sequence in [p, end) that is not
// UTF-8: the strict decoder raises with its bytes, and a character cut by
// the end is raised here with what there is of it.
[[noreturn]] void fire_not_utf8(const uint8_t* p, const uint8_t* end) {
    while (p < end) {
        int32_t cp = *p;
        const uint8_t* next = *p < 0x80 ? p + 1 : unicode::fast_decode_utf8_char(p, end, &cp);
        if (cp < 0 || cp == 0xFFFE) break;
        p = next;
    }
    int64_t available = end - p;
    unicode::decode_utf8_char(p, &available);
    fire(err::invalid_utf8, binary::load(p, end - p));
}

bool captured_q(const cell_t* target) {
    return !absent_q(target) && (type_of(target) == TYPE_string || type_of(target) == TYPE_binary);
}

// The target's length in characters or bytes, where its changes start.
int32_t tail_index(const cell_t* target) {
    series_buffer_t* s = alloc::buffer(target->data2);
    return s->used() / static_cast<int32_t>(s->unit());
}

}  // namespace

std::string command_text(const cell_t* cmd) {
    // A command line goes to the system as a name does (a NUL, which would
    // have the shell run the command cut short, is refused there too).
    std::string text;
    switch (type_of(cmd)) {
    case TYPE_string:
        if (!unicode::to_os_text(cmd, &text)) fire_invalid(cmd);
        break;
    case TYPE_file: {
        std::string path;
        if (!file::to_os_path(cmd, &path)) fire_invalid(cmd);
        if (path.empty()) break;
        text.push_back('\'');
        for (char c : path) {
            if (c == '\'') text.append("'\\''");
            else text.push_back(c);
        }
        text.push_back('\'');
        break;
    }
    default: fire_invalid(cmd);
    }
    return text;
}

void init() { unignore_child_signal(); }

int32_t run(const cell_t* cmd, bool wait, bool show, bool console, bool shell, const cell_t* in,
            cell_t* out, cell_t* err) {
    reap_ended();
    std::string command = command_text(cmd);
    // An owner hears of the change before anything runs: its handler may
    // change any series, so the records are made after it.
    bool out_told = captured_q(out),
         err_told = captured_q(err) && !(out_told && err->data2 == out->data2);
    int32_t out_from = out_told ? tail_index(out) : 0;
    int32_t err_from = err_told ? tail_index(err) : 0;
    if (out_told) series::signal_owner(out, change_word::append, nullptr, out_from, 0);
    if (err_told) series::signal_owner(err, change_word::append, nullptr, err_from, 0);
    redirect_t rin, rout, rerr;
    std::string input_text;
    prepare_input(in, rin, input_text);
    prepare_output(out, rout);
    prepare_output(err, rerr);
    // Nothing allocates in series memory from here until the worker
    // returns: a binary!'s bytes stay where rin points.
    int32_t result = spawn(command, flags_t{wait, show, console, shell}, rin, rout, rerr);
    if (result == -1 && errno == E2BIG) fire(err::too_long);
    if (rout.overflow || rerr.overflow) fire(err::no_memory);
    if (rout.kind == redirect_t::CAPTURE) decode_output(out, rout);
    if (rerr.kind == redirect_t::CAPTURE) decode_output(err, rerr);
    if (out_told) {
        int32_t added = tail_index(out) - out_from;
        if (added > 0) series::signal_owner(out, change_word::appended, nullptr, out_from, added);
    }
    if (err_told) {
        int32_t added = tail_index(err) - err_from;
        if (added > 0) series::signal_owner(err, change_word::appended, nullptr, err_from, added);
    }
    return result;
}

void decode_output(cell_t* target, redirect_t& capture) {
    if (capture.length == 0) return;
    const uint8_t* start = capture.buffer;
    const uint8_t* p = start;
    const uint8_t* end = p + capture.length;
    bool text = type_of(target) == TYPE_string;
    if (text) {
        if (capture.length >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) p += 3;
        // Checked whole before a character is appended: text that is not
        // UTF-8 is reported, not shortened.
        if (!unicode::valid_utf8_q(p, end)) fire_not_utf8(p, end);
    }
    // Room for all of it at once, so the target is not copied as it grows:
    // pages of it not written yet cost nothing.
    series_buffer_t* s = alloc::buffer(target->data2);
    int64_t need = s->tail + (end - p) * s->unit();
    if (need > static_cast<int64_t>(alloc::SERIES_LIMIT)) fire(err::no_memory);
    if (need > s->size) alloc::expand_series_copy(s, need);
    while (p < end) {
        const uint8_t* stop = end - p > SLICE ? p + SLICE : end;
        // A slice of text ends between characters.
        while (text && stop < end && (*stop & 0xC0) == 0x80) stop--;
        if (text) {
            // ASCII onto one-byte characters is copied as it is (the room is
            // there); the rest is decoded a character at a time.
            const uint8_t* ascii = p;
            series_buffer_t* t = alloc::buffer(target->data2);
            if (t->unit() == 1) {
                ascii = unicode::skip_ascii(p, stop);
                std::memcpy(t->tail_ptr(), p, static_cast<size_t>(ascii - p));
                t->tail += static_cast<int32_t>(ascii - p);
            }
            string::append_utf8(target, reinterpret_cast<const char*>(ascii), stop - ascii);
        } else {
            binary::rs_append(target, p, static_cast<int32_t>(stop - p));
        }
        p = stop;
        capture.release_below(p - start);
    }
}

}  // namespace zuv::call

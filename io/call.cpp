// call: the values of the call native made into the worker's records, and
// the captured output made back into values.
#include "io/call.h"

#include <cerrno>
#include <string>

#include "datatypes/binary.h"
#include "datatypes/file.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "io/call_reap.h"
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
        r.data = text_source::at(reinterpret_cast<const uint8_t*>(input_text.data()));
        r.length = static_cast<int64_t>(input_text.size());
        break;
    case TYPE_binary: {
        series_buffer_t* s = binary::buffer_of(in);
        r.kind = redirect_t::DATA;
        r.data = text_source::in(in->data2, static_cast<int32_t>(binary::rs_head(in) - s->data()));
        r.length = binary::rs_length_q(in);
        break;
    }
    case TYPE_file:
        r.kind = redirect_t::FILE;
        r.path = file::to_os_path(in);
        break;
    default: fire_invalid(in);
    }
}

// Text captures gather in the record's buffer; a binary! takes the bytes
// itself, unless it is the output's target too: then the error is gathered
// apart and follows the output, as with text.
void prepare_output(cell_t* target, redirect_t& r, const cell_t* other) {
    if (absent_q(target)) return;
    switch (type_of(target)) {
    case TYPE_string: r.kind = redirect_t::CAPTURE; break;
    case TYPE_binary:
        r.kind = redirect_t::CAPTURE;
        if (other == nullptr || type_of(other) != TYPE_binary || other->data2 != target->data2)
            r.target = target;
        break;
    case TYPE_file:
        r.kind = redirect_t::FILE;
        r.path = file::to_os_path(target);
        break;
    default: fire_invalid(target);
    }
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
    std::string text;
    switch (type_of(cmd)) {
    case TYPE_string: text = unicode::to_utf8(cmd); break;
    case TYPE_file: {
        std::string path = file::to_os_path(cmd);
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
    // The shell would run the command cut short at the NUL.
    if (text.find('\0') != std::string::npos) fire_invalid(cmd);
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
    prepare_output(out, rout, nullptr);
    prepare_output(err, rerr, out);
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

void decode_output(cell_t* target, const redirect_t& capture) {
    if (capture.length == 0 || capture.target != nullptr) return;
    if (type_of(target) == TYPE_binary) {
        binary::rs_append(target, capture.buffer, static_cast<int32_t>(capture.length));
        return;
    }
    const uint8_t* p = capture.buffer;
    const uint8_t* end = p + capture.length;
    if (capture.length >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) p += 3;
    // Checked whole before a character is appended: text that is not UTF-8
    // is reported, not shortened.
    if (!unicode::valid_utf8_q(p, end)) {
        const uint8_t* q = p;
        while (q < end) {
            int32_t cp;
            const uint8_t* next = *q < 0x80 ? q + 1 : unicode::fast_decode_utf8_char(q, end, &cp);
            if (*q >= 0x80 && (cp < 0 || cp == 0xFFFE)) break;
            q = next;
        }
        // The strict decoder raises with the offending bytes; a character
        // cut by the end is raised here with what there is of it.
        int64_t available = end - q;
        unicode::decode_utf8_char(q, &available);
        fire(err::invalid_utf8, binary::load(q, end - q));
    }
    string::append_utf8(target, reinterpret_cast<const char*>(p), end - p);
}

}  // namespace zuv::call

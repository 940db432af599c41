// call: the values of the call native made into the worker's records, and
// the captured output made back into values.
#include "io/call.h"

#include <string>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/file.h"
#include "datatypes/string.h"
#include "io/call_reap.h"
#include "runtime/alloc.h"
#include "runtime/fire.h"
#include "runtime/unicode.h"

namespace zuv::call {

namespace {

// The scratch string's cell: a slot of the root block, which never moves.
cell_t* scratch = nullptr;

bool absent_q(const cell_t* value) { return value == nullptr || type_of(value) == TYPE_none; }

[[noreturn]] void fire_invalid(const cell_t* value) {
    cell_t v = *value;
    fire(err::invalid_arg, &v);
}

std::string command_text(const cell_t* cmd) {
    std::string text;
    switch (type_of(cmd)) {
    case TYPE_string: text = unicode::to_utf8(cmd); break;
    case TYPE_file: text = file::to_os_path(cmd); break;
    default: fire_invalid(cmd);
    }
    // The shell would run the command cut short at the NUL.
    if (text.find('\0') != std::string::npos) fire_invalid(cmd);
    return text;
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
        r.path = file::to_os_path(in);
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
        r.path = file::to_os_path(target);
        break;
    default: fire_invalid(target);
    }
}

}  // namespace

void init() {
    unignore_child_signal();
    scratch = alloc::alloc_tail_value(&block::root);
    string::make_at(scratch, SCRATCH_UNITS);
}

int32_t run(const cell_t* cmd, bool wait, bool show, bool console, bool shell, const cell_t* in,
            cell_t* out, cell_t* err) {
    reap_ended();
    std::string command = command_text(cmd);
    redirect_t rin, rout, rerr;
    std::string input_text;
    prepare_input(in, rin, input_text);
    prepare_output(out, rout);
    prepare_output(err, rerr);
    // Nothing allocates in series memory from here until the worker
    // returns: a binary!'s bytes stay where rin points.
    int32_t result = spawn(command, flags_t{wait, show, console, shell}, rin, rout, rerr);
    if (rout.overflow || rerr.overflow) fire(err::no_memory);
    if (rout.kind == redirect_t::CAPTURE) decode_output(out, rout);
    if (rerr.kind == redirect_t::CAPTURE) decode_output(err, rerr);
    return result;
}

void decode_output(cell_t* target, const redirect_t& capture) {
    if (capture.length == 0) return;
    if (type_of(target) == TYPE_binary) {
        binary::rs_append(target, capture.buffer, static_cast<int32_t>(capture.length));
        return;
    }
    string::rs_reset(scratch);
    int64_t cut = 0;
    unicode::load_utf8(text_source::at(capture.buffer), capture.length, scratch->data2, &cut,
                       false);
    // Output that stops inside a character is reported, not shortened.
    if (cut > 0) fire(err::invalid_utf8, binary::load(capture.buffer + capture.length - cut, cut));
    string::concatenate(target, scratch, -1, 0, true, string::MODE_APPEND);
    // A large capture leaves the scratch large: its buffer goes back.
    if (string::buffer_of(scratch)->size > SCRATCH_UNITS * 4)
        string::make_at(scratch, SCRATCH_UNITS);
}

}  // namespace zuv::call

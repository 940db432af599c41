// file!: mold, the local path conversions and the file actions.
#include "datatypes/file.h"

#include <algorithm>
#include <cstring>

#include "datatypes/logic.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"
#include "datatypes/url.h"
#include "runtime/fire.h"
#include "runtime/platform/platform.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace zuv::file {

bool safe_q(uint32_t c) { return c < 128 && url::keeps_q(url::MODE_SAFE, static_cast<uint8_t>(c)); }

// --- local paths ----------------------------------------------------------------------

cell_t* get_current_dir() {
    std::string dir = platform::get_current_dir();
    if (dir.empty() || dir.back() != '/') dir.push_back('/');
    return string::load(reinterpret_cast<const uint8_t*>(dir.data()),
                        static_cast<int64_t>(dir.size()), string::ENCODING_OS);
}

void to_local_path(const cell_t* file, cell_t* target, bool full) {
    cell_t* f = stack::push(file);
    bool absolute =
        string::rs_length_q(f) > 0 && string::rs_abs_at(f, series::head_index(f)) == '/';
    if (full && !absolute) {
        cell_t* dir = get_current_dir();
        string::concatenate(target, dir, -1, 0, false, string::MODE_APPEND);
        stack::pop(1);
    }
    string::concatenate(target, f, -1, 0, false, string::MODE_APPEND);
    stack::pop(1);
}

bool to_os_path(const cell_t* file, std::string* out) { return unicode::to_os_text(file, out); }

// --- mold ------------------------------------------------------------------------------

namespace {

// Whether c may stand in a file! without quotes: the safe set, but for the
// characters that end the token there.
bool bare_q(uint32_t c) { return safe_q(c) && c != '(' && c != ')' && c != ':' && c != '@'; }

// Whether the quoted form holds c as it is: it ends at a quote or a line
// end, reads caret escapes, and no source text holds a NUL.
bool quotable_q(uint32_t c) { return c >= 32 && c != '"' && c != '^' && c != 127; }

}  // namespace

// Plain when every character may stand bare, quoted when one may not; a
// name holding a character that the quoted form cannot hold (a quote, a
// control character such as a line feed, a caret) is written bare with
// every ASCII character outside the bare set percent-escaped, which the
// lexer decodes: Linux names may hold any of them. A name holding a
// surrogate is quoted, with caret escapes.
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    cell_t* self = stack::push(value);
    int32_t length = string::rs_length_q(self);
    int32_t head = series::head_index(self);
    string::append_char(buffer, '%');
    if (length == 0) {
        string::concatenate_literal(buffer, "\"\"");
        stack::pop(1);
        return how.limit - 1;
    }
    int32_t count = length;
    if (how.part) count = std::clamp(how.limit, 0, length);
    // A surrogate (a byte of a name that is not UTF-8) has no form in text
    // and percent escapes decode as UTF-8, so such a name is quoted and every
    // character the quoted form cannot hold is written as its caret escape.
    bool quoted = false, escaped = false, surrogates = false;
    for (int32_t i = 0; i < count; i++) {
        uint32_t c = string::rs_abs_at(self, head + i);
        quoted = quoted || (c < 128 && !bare_q(c));
        escaped = escaped || !quotable_q(c);
        surrogates = surrogates || unicode::surrogate_q(c);
    }
    int32_t written = 1 + count;
    if (surrogates) {
        string::append_char(buffer, '"');
        for (int32_t i = 0; i < count; i++) {
            uint32_t c = string::rs_abs_at(self, head + i);
            if (quotable_q(c) && !unicode::surrogate_q(c)) {
                string::append_char(buffer, c);
                continue;
            }
            string::caret_text e = string::caret_escape(c, false);
            string::concatenate_literal(buffer, e.text);
            written += static_cast<int32_t>(std::strlen(e.text)) - 1;
        }
        string::append_char(buffer, '"');
    } else if (escaped) {
        for (int32_t i = 0; i < count; i++) {
            uint32_t c = string::rs_abs_at(self, head + i);
            if (c < 128 && !bare_q(c)) {
                url::encoded_byte e =
                    url::encode_byte(url::MODE_UNRESERVED, static_cast<uint8_t>(c));
                for (int k = 0; k < e.length; k++) string::append_char(buffer, e.text[k]);
                written += e.length - 1;
            } else {
                string::append_char(buffer, c);
            }
        }
    } else {
        if (quoted) string::append_char(buffer, '"');
        string::concatenate(buffer, self, count, 0, false, string::MODE_APPEND);
        if (quoted) string::append_char(buffer, '"');
    }
    stack::pop(1);
    return how.limit - written;
}

services_t services{};

// --- file actions ------------------------------------------------------------------------
// Each goes through the file services the I/O layer installs.

cell_t* delete_(cell_t* file) {
    bool ok = services.delete_(file);
    logic::make_at(stack::arguments, ok);
    return stack::arguments;
}

cell_t* query(cell_t* file) {
    cell_t* result = services.query(file);
    stack::set_last(result);
    return stack::arguments;
}

cell_t* rename(cell_t* from, cell_t* to) {
    bool ok = services.rename(from, to);
    logic::make_at(stack::arguments, ok);
    return stack::arguments;
}

cell_t* read(cell_t* source, cell_t* part, cell_t* seek, bool binary, bool lines, bool,
             cell_t* as) {
    if (as != nullptr) fire(err::not_done);
    cell_t* result = services.read(source, part, seek, binary, lines);
    stack::set_last(result);
    return stack::arguments;
}

cell_t* write(cell_t* destination, cell_t* data, bool binary, bool lines, bool, bool append_,
              cell_t* part, cell_t* seek, cell_t* allow, cell_t* as) {
    if (allow != nullptr || as != nullptr) fire(err::not_done);
    services.write(destination, data, part, seek, binary, append_, lines);
    stack::set_last(&unset_value);
    return stack::arguments;
}

// --- registration ---------------------------------------------------------------------------

void init() {
    datatype::record_t r(TYPE_file, TYPE_url, "file!");
    r.own<ACT_mold>(mold);
    r.own<ACT_delete_>(delete_);
    r.own<ACT_query>(query);
    r.own<ACT_read>(read);
    r.own<ACT_rename>(rename);
    r.own<ACT_write>(write);
    r.inherit({1, 4, 5, 7, 9, 55});
    r.inherit_range(25, 40);
    r.inherit_range(42, 44);
    r.inherit_range(46, 50);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::file

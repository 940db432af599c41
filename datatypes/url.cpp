// url!: make and to from blocks, mold with percent encoding, path joins,
// and the percent coding shared with enhex, dehex and the lexer.
#include "datatypes/url.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/port.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/fire.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace zuv::url {
namespace {

// One bit per ASCII code: kept as it is under the mode.
struct keep_table {
    bool keep[128];
};

constexpr keep_table make_table(const char* extra) {
    keep_table t{};
    for (int c = '0'; c <= '9'; c++) t.keep[c] = true;
    for (int c = 'A'; c <= 'Z'; c++) t.keep[c] = true;
    for (int c = 'a'; c <= 'z'; c++) t.keep[c] = true;
    for (const char* p = extra; *p; p++) t.keep[static_cast<unsigned char>(*p)] = true;
    return t;
}

constexpr keep_table unreserved = make_table("-._~");
constexpr keep_table safe = make_table("-._~!#$&'()*+,/:=?@");

constexpr char hex_upper[] = "0123456789ABCDEF";

inline void append_text(cell_t* target, const char* text, int length) {
    string::append_bytes(target, text, length);
}

}  // namespace

bool keeps_q(int mode, uint8_t c) {
    if (c >= 128) return false;
    return (mode == MODE_UNRESERVED ? unreserved : safe).keep[c];
}

uint8_t hex_digit(uint32_t c) {
    if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
    return 255;
}

bool hex_byte_q(const uint8_t* p, const uint8_t* end, uint8_t* out) {
    if (end - p < 3 || p[0] != '%') return false;
    uint8_t hi = hex_digit(p[1]), lo = hex_digit(p[2]);
    if (hi > 15 || lo > 15) return false;
    *out = static_cast<uint8_t>(hi * 16 + lo);
    return true;
}

encoded_byte encode_byte(int mode, uint8_t byte) {
    encoded_byte e{};
    if (keeps_q(mode, byte)) {
        e.text[0] = static_cast<char>(byte);
        e.length = 1;
    } else {
        e.text[0] = '%';
        e.text[1] = hex_upper[byte >> 4];
        e.text[2] = hex_upper[byte & 15];
        e.length = 3;
    }
    return e;
}

void encode(const cell_t* string, cell_t* target, int mode) {
    std::string bytes = unicode::to_utf8(string);
    for (unsigned char b : bytes) {
        encoded_byte e = encode_byte(mode, b);
        append_text(target, e.text, e.length);
    }
}

void decode_bytes(const uint8_t* p, const uint8_t* end, cell_t* target) {
    while (p < end) {
        uint8_t c;
        if (hex_byte_q(p, end, &c)) {
            int k = unicode::utf8_char_size(c);
            if (k == 0) {
                string::append_char(target, c);
                p += 3;
                continue;
            }
            uint8_t sequence[4] = {c, 0, 0, 0};
            bool complete = true;
            for (int j = 1; j < k && complete; j++)
                complete = hex_byte_q(p + 3 * j, end, &sequence[j]);
            if (complete) {
                int64_t count = k;
                int32_t cp = unicode::decode_utf8_char(sequence, &count);
                if (cp < 0) fire(err::invalid_utf8);
                string::append_char(target, static_cast<uint32_t>(cp));
                p += 3 * k;
                continue;
            }
        }
        // No escape here, or an escaped sequence that is not complete: one
        // character is taken from the raw bytes.
        if (*p < 0x80) {
            string::append_char(target, *p++);
            continue;
        }
        int64_t count = end - p;
        int32_t cp = unicode::decode_utf8_char(p, &count);
        if (cp < 0) {
            string::append_char(target, *p++);
            continue;
        }
        string::append_char(target, static_cast<uint32_t>(cp));
        p += count;
    }
}

void decode(const cell_t* string, cell_t* target) {
    std::string bytes = unicode::to_utf8(string);
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    decode_bytes(p, p + bytes.size(), target);
}

// --- make and to ---------------------------------------------------------------------

namespace {

inline bool block_like_q(uint8_t t) { return t == TYPE_block || t == TYPE_paren || t == TYPE_hash; }

inline int32_t block_length(const cell_t* v) { return alloc::buffer(v->data2)->used() / 16; }

// A value's form appended to out. The value is copied first: forming
// allocates, which may move the block it came from.
void form_into(cell_t* out, const cell_t* block, int32_t i) {
    cell_t v = alloc::buffer(block->data2)->head_cell()[i];
    actions::form(&v, out, false, -1);
}

cell_t* from_block(cell_t* spec_in) {
    cell_t* spec = stack::push(spec_in);
    int32_t head = std::max(0, series::head_index(spec));
    int32_t end = block_length(spec);
    if (head >= end) {
        cell_t type{TYPE_datatype, TYPE_url, 0, 0};
        fire(err::bad_to_arg, &type, spec);
    }
    cell_t* out = stack::push_slot();
    string::make_at(out, 16);
    cell::set_type(out, TYPE_url);
    form_into(out, spec, head);
    string::concatenate_literal(out, "://");
    int32_t i = head + 1;
    if (i < end) form_into(out, spec, i++);
    if (i < end && type_of(alloc::buffer(spec->data2)->head_cell() + i) == TYPE_integer) {
        string::concatenate_literal(out, ":");
        form_into(out, spec, i++);
    }
    if (i < end) {
        string::concatenate_literal(out, "/");
        for (; i < end; i++) {
            form_into(out, spec, i);
            if (i + 1 < block_length(spec)) {
                bool issue = type_of(alloc::buffer(spec->data2)->head_cell() + i + 1) == TYPE_issue;
                string::concatenate_literal(out, issue ? "#" : "/");
            }
            end = block_length(spec);
        }
    }
    *spec = *out;
    stack::pop(1);
    return spec;
}

}  // namespace

cell_t* make(cell_t* proto, cell_t* spec, int32_t type) {
    if (type == TYPE_url && block_like_q(type_of(spec))) return from_block(spec);
    return string::make(proto, spec, type);
}

cell_t* to(cell_t* proto, cell_t* spec, int32_t type) {
    if (type == TYPE_url && block_like_q(type_of(spec))) return from_block(spec);
    return string::to(proto, spec, type);
}

// --- mold --------------------------------------------------------------------------------

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    std::string bytes = unicode::to_utf8(value);
    int32_t written = 0;
    for (unsigned char b : bytes) {
        if (how.part && written >= how.limit) break;
        // Parens are safe in a URL but end the token: escaped, they load.
        encoded_byte e = encode_byte(b == '(' || b == ')' ? MODE_UNRESERVED : MODE_SAFE, b);
        append_text(buffer, e.text, e.length);
        written += e.length;
    }
    return how.limit - written;
}

// --- path access ----------------------------------------------------------------------

cell_t* eval_path(cell_t* parent, cell_t* element, cell_t* value, cell_t* path, cell_t*, cell_t*,
                  int32_t, bool, bool, bool, bool) {
    if (value != nullptr) fire(err::bad_path_set, path, element);
    cell_t* p = stack::push(parent);
    cell_t* e = stack::push(element);
    uint32_t unit = string::buffer_of(p)->unit();
    int32_t plen = string::rs_length_q(p);
    // The element's form.
    cell_t* formed = stack::push_slot();
    string::make_at_unit(formed, plen + 16, static_cast<int32_t>(unit));
    actions::form(e, formed, false, -1);
    // The joined text: the parent's, one slash at the joint, the element's.
    cell_t* out = stack::push_slot();
    string::make_at_unit(out, plen + string::rs_length_q(formed) + 2, static_cast<int32_t>(unit));
    bool parent_slash = plen > 0 && string::rs_abs_at(p, series::head_index(p) + plen - 1) == '/';
    int32_t flen = string::rs_length_q(formed);
    bool element_slash = flen > 0 && string::rs_abs_at(formed, 0) == '/';
    string::concatenate(out, p, parent_slash && element_slash ? plen - 1 : plen, 0, false,
                        string::MODE_APPEND);
    if (!parent_slash && !element_slash) string::append_char(out, '/');
    string::concatenate(out, formed, -1, 0, false, string::MODE_APPEND);
    cell::set_type(out, type_of(parent));
    *stack::arguments = *out;
    stack::pop(4);
    return stack::arguments;
}

// --- ports and I/O ------------------------------------------------------------------------

namespace {

inline bool http_q(cell_t* u) { return string::starts_with_q(u, "http"); }

cell_t method_word(const char* name) { return word::make_global(symbol::make(name)); }

// A port of the URL's scheme, pushed; nullptr when an exit is pending.
cell_t* port_of(cell_t* u) {
    cell_t* p = port::make_from(u);
    return p;
}

}  // namespace

cell_t* open(cell_t* source, bool, bool read_, bool write_, bool, cell_t*) {
    cell_t* p = port_of(source);
    if (p == nullptr) return stack::arguments;
    return port::open(p, read_ || !write_, write_);
}

cell_t* read(cell_t* source, cell_t* part, cell_t* seek, bool binary, bool lines, bool info,
             cell_t* as) {
    if (http_q(source)) {
        if (part || seek || as) fire(err::not_done);
        cell_t get = method_word("get");
        cell_t* r = request_http(&get, source, nullptr, nullptr, binary, lines, info);
        *stack::arguments = *r;
        return stack::arguments;
    }
    cell_t* p = port_of(source);
    if (p == nullptr) return stack::arguments;
    return port::read(p, part, seek);
}

cell_t* write(cell_t* destination, cell_t* data, bool binary, bool lines, bool info, bool, cell_t*,
              cell_t* seek, cell_t* allow, cell_t* as) {
    if (!http_q(destination)) {
        cell_t* p = port_of(destination);
        if (p == nullptr) return stack::arguments;
        return port::write(p, data, seek);
    }
    if (seek || allow || as) fire(err::not_done);
    uint8_t t = type_of(data);
    if (t != TYPE_none && t != TYPE_block && t != TYPE_string && t != TYPE_binary)
        fire(err::invalid_arg, data);
    // A block: the method word (get when empty), an optional header block,
    // an optional body. Anything else is posted as the body.
    cell_t method = method_word("post");
    cell_t* headers = nullptr;
    cell_t* body = data;
    if (t == TYPE_block) {
        cell_t spec = *data;
        int32_t at = block::head_index(&spec), end = block::abs_length(&spec);
        body = nullptr;
        if (at >= end) {
            method = method_word("get");
        } else {
            cell_t first = *block::rs_abs_at(&spec, at);
            if (!word::any_word_q(type_of(&first))) fire(err::invalid_arg, data);
            method = first;
            at++;
            if (at < end && type_of(block::rs_abs_at(&spec, at)) == TYPE_block)
                headers = stack::push(block::rs_abs_at(&spec, at++));
            if (at < end) body = stack::push(block::rs_abs_at(&spec, at));
        }
    }
    cell_t* r = request_http(&method, destination, headers, body, binary, lines, info);
    *stack::arguments = *r;
    return stack::arguments;
}

request_http_t request_http = nullptr;

// --- registration ------------------------------------------------------------------------

void init() {
    datatype::record_t r(TYPE_url, TYPE_string, "url!");
    r.own<ACT_make>(make);
    r.own<ACT_to>(to);
    r.own<ACT_mold>(mold);
    r.own<ACT_eval_path>(eval_path);
    r.own<ACT_open>(open);
    r.own<ACT_read>(read);
    r.own<ACT_write>(write);
    r.inherit({5, 9, 55});
    r.inherit_range(25, 40);
    r.inherit_range(42, 44);
    r.inherit_range(46, 50);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::url

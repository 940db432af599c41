#include "codecs/json.h"

#include "datatypes/string.h"
#include "runtime/fire.h"
#include "runtime/stack.h"

namespace zuv::json {

namespace {

// The value of one hexadecimal digit, -1 for anything else.
int hex_digit(uint32_t c) {
    if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
    return -1;
}

}  // namespace

void unescape(cell_t* str) {
    series_buffer_t* s = string::buffer_of(str);
    int32_t length = string::rs_abs_length_q(str);
    int32_t read = static_cast<int32_t>(str->data1);
    if (read >= length) return;

    auto at = [&](int32_t i) {
        return string::get_char(s->head_ptr() + static_cast<size_t>(i) * s->unit(), s->unit());
    };
    // Four hexadecimal digits from i on.
    auto code_at = [&](int32_t i) -> uint32_t {
        if (i + 4 > length) fire(err::invalid_data, str);
        uint32_t code = 0;
        for (int32_t k = 0; k < 4; k++) {
            int d = hex_digit(at(i + k));
            if (d < 0) fire(err::invalid_data, str);
            code = code << 4 | static_cast<uint32_t>(d);
        }
        return code;
    };

    // Nothing moves before the first escape.
    while (read < length && at(read) != '\\') read++;
    int32_t write = read;

    while (read < length) {
        uint32_t c = at(read++);
        if (c == '\\') {
            if (read >= length) fire(err::invalid_data, str);
            uint32_t e = at(read++);
            switch (e) {
            case '"':
            case '\\':
            case '/': c = e; break;
            case 'b': c = 0x08; break;
            case 'f': c = 0x0C; break;
            case 'n': c = 0x0A; break;
            case 'r': c = 0x0D; break;
            case 't': c = 0x09; break;
            case 'u':
                c = code_at(read);
                read += 4;
                // A high half and an escaped low one make one character; a
                // half alone stays a character of its own, as to-json
                // writes it (and as mold writes it back).
                if (c >= 0xD800 && c <= 0xDBFF && read + 6 <= length && at(read) == '\\' &&
                    at(read + 1) == 'u') {
                    uint32_t low = code_at(read + 2);
                    if (low >= 0xDC00 && low <= 0xDFFF) {
                        read += 6;
                        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                    }
                }
                break;
            default: fire(err::invalid_data, str);
            }
        }
        // Widening keeps character indexes, so read and write stay valid.
        // write never passes read: a character the unit holds goes in place.
        uint32_t unit = s->unit();
        if (unit == 4 || c <= (unit == 1 ? 0xFFu : 0xFFFFu))
            string::put_char(s->head_ptr() + static_cast<size_t>(write) * unit, unit, c);
        else s = string::overwrite_char(s, write, c);
        write++;
    }
    string::truncate_to(s, write);
}

namespace routines {

void unescape() {
    cell_t* str = stack::arguments;
    json::unescape(str);
    stack::set_last(str);
}

}  // namespace routines

}  // namespace zuv::json

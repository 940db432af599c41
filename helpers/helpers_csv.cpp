// to-csv for its common shape, a block of lines that are all blocks of the
// same length, with a one-character delimiter and quote that are no
// letters: encode-blocks and to-csv-line in one pass. Each value is formed
// (a float or percent molded, as escape-value writes it);
// text holding a space, a line end, the quote or the delimiter is quoted,
// its quotes doubled. Every other shape (maps, records, /skip, lines of
// other kinds or lengths, a line of one empty field or none, a letter as
// delimiter or quote, whose search would fold case) runs the library's
// to-csv.
#include <cstdint>
#include <limits>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "helpers/helpers.h"
#include "helpers/helpers_frame.h"
#include "runtime/stack.h"

namespace zuv::helpers {

namespace {

constexpr int32_t NO_LIMIT = std::numeric_limits<int32_t>::max();

// A delimiter or quote that takes this way: no letter, no control, ASCII.
bool plain_mark_q(uint32_t c) {
    bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    return c >= 32 && c < 127 && !letter;
}

// The character a delimiter argument stands for; 0 when it takes the
// library's way.
uint32_t mark_of(const cell_t* v) {
    uint32_t c = 0;
    if (type_of(v) == TYPE_char_) {
        c = v->data2;
    } else if (type_of(v) == TYPE_string && string::rs_length_q(v) == 1) {
        c = string::rs_abs_at(v, series::head_index(v));
    }
    return plain_mark_q(c) ? c : 0;
}

// Whether every line is a block of the first one's length, none of one
// empty field or none.
bool plain_lines_q(const cell_t* data) {
    int32_t head = series::head_index(data);
    int32_t tail = block::abs_length(data);
    if (head >= tail) return false;
    int32_t size = -1;
    for (int32_t i = head; i < tail; i++) {
        const cell_t* line = block::rs_abs_at(data, i);
        if (type_of(line) != TYPE_block) return false;
        int32_t n = block::abs_length(line) - series::head_index(line);
        if (n < 1) return false;
        if (size < 0) size = n;
        if (n != size) return false;
    }
    return true;
}

}  // namespace

// data /with delimiter /skip size /quote qt-char /local same-type? first-value value
void to_csv() {
    cell_t* a = stack::arguments;
    uint32_t delimiter = logic::truthy(a + 1) ? mark_of(a + 2) : ',';
    uint32_t quote = logic::truthy(a + 5) ? mark_of(a + 6) : '"';
    if (type_of(a) != TYPE_block || logic::truthy(a + 3) || delimiter == 0 || quote == 0 ||
        !plain_lines_q(a))
        return run_body();
    cell_t* out = a + 8;
    string::make_at(out, 1000);
    cell_t* text = a + 9;
    string::make_at(text, 64);
    cell_t* item = a + 10;
    int32_t head = series::head_index(a);
    for (int32_t i = head; i < block::abs_length(a); i++) {
        const cell_t* line = block::rs_abs_at(a, i);
        int32_t from = series::head_index(line);
        int32_t n = block::abs_length(line);
        for (int32_t j = from; j < n; j++) {
            *item = *block::rs_abs_at(block::rs_abs_at(a, i), j);
            string::truncate_to(string::buffer_of(text), 0);
            if (type_of(item) == TYPE_float_ || type_of(item) == TYPE_percent) {
                static const cell_t word = action_word("mold");
                scratch s(word);
                actions::mold(s.push(item), text, {.limit = NO_LIMIT});
            } else {
                static const cell_t word = action_word("form");
                scratch s(word);
                actions::form(s.push(item), text, false, NO_LIMIT);
            }
            int32_t length = string::rs_length_q(text);
            bool quoted = false;
            for (int32_t k = 0; k < length && !quoted; k++) {
                uint32_t c = string::rs_abs_at(text, k);
                quoted = c == ' ' || c == '\n' || c == '\r' || c == quote || c == delimiter;
            }
            // A field of one empty text reads back as no field: the
            // library's way decides how it is written.
            if (length == 0 && n - from == 1) return run_body();
            if (!quoted) {
                string::concatenate(out, text, -1, 0, true, string::MODE_APPEND);
            } else {
                string::append_char(out, quote);
                for (int32_t k = 0; k < length; k++) {
                    uint32_t c = string::rs_abs_at(text, k);
                    string::append_char(out, c);
                    if (c == quote) string::append_char(out, quote);
                }
                string::append_char(out, quote);
            }
            if (j + 1 < n) string::append_char(out, delimiter);
        }
        string::append_char(out, '\n');
    }
    *a = *out;
    stack::keep();
}

}  // namespace zuv::helpers

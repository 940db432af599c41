// load-csv for its common shapes: lines as blocks (or one flat block, a map
// of columns, or a map per line, named from a header line or A, B, ...),
// with the comma or
// a delimiter of plain characters and the double quote. The grammar is the
// library's rules read in one pass: a field is quoted (its doubled quotes
// made single, and only where a delimiter, a line end or the end follows
// the closing quote) or else plain text up to a line end or a whole
// delimiter; lines end with CR LF, LF or CR. What this does not take on runs
// the library's load-csv: /trim, /quote, refinements that clash, a
// delimiter holding a letter, a control, a quote or a line end, data too
// small for its header, and lines out of step (the body gives each case its
// error).
#include <cstdint>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "helpers/helpers.h"
#include "runtime/stack.h"

namespace zuv::helpers {

namespace {

// A delimiter character the grammar reads as itself: ASCII, no letter (a
// charset of one would hold it in either case), no control but the tab.
bool plain_delimiter_char_q(uint32_t c) {
    bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    return (c == '\t' || (c >= 32 && c < 127)) && !letter && c != '"';
}

// The delimiter's characters; empty when it takes the library's way.
std::vector<uint32_t> delimiter_of(const cell_t* v) {
    std::vector<uint32_t> d;
    if (type_of(v) == TYPE_char_) {
        d.push_back(v->data2);
    } else if (type_of(v) == TYPE_string) {
        int32_t head = series::head_index(v);
        int32_t n = string::rs_length_q(v);
        for (int32_t i = 0; i < n; i++) d.push_back(string::rs_abs_at(v, head + i));
    }
    for (uint32_t c : d)
        if (!plain_delimiter_char_q(c)) return {};
    return d;
}

class reader {
public:
    reader(const cell_t* input, std::vector<uint32_t> delimiter)
        : input_(input), delimiter_(std::move(delimiter)) {
        tail_ = series::rs_abs_length_q(input);
        pos_ = series::head_index(input);
        if (pos_ > tail_) pos_ = tail_;
    }

    bool end_q() const { return pos_ >= tail_; }

    // One line's fields appended to line (a block), the line end left
    // unread; answers the number of fields.
    int32_t line(cell_t* line, cell_t* value) {
        int32_t fields = 0;
        for (;;) {
            field(value);
            block::rs_append(line, value);
            fields++;
            if (!delimiter_at(pos_)) break;
            pos_ += static_cast<int32_t>(delimiter_.size());
        }
        return fields;
    }

    // Past a line end; false at the end of the text.
    bool line_end() {
        int32_t n = line_end_at(pos_);
        pos_ += n;
        return n > 0;
    }

private:
    const cell_t* input_;
    std::vector<uint32_t> delimiter_;
    int32_t pos_;
    int32_t tail_;

    uint32_t at(int32_t i) const { return string::rs_abs_at(input_, i); }

    bool delimiter_at(int32_t p) const {
        if (p + static_cast<int32_t>(delimiter_.size()) > tail_) return false;
        for (uint32_t c : delimiter_)
            if (at(p++) != c) return false;
        return true;
    }

    int32_t line_end_at(int32_t p) const {
        if (p >= tail_) return 0;
        uint32_t c = at(p);
        if (c == '\r') return p + 1 < tail_ && at(p + 1) == '\n' ? 2 : 1;
        return c == '\n' ? 1 : 0;
    }

    void append_span(cell_t* value, int32_t start, int32_t length) {
        if (length <= 0) return;
        cell_t from = *input_;
        series::set_head_index(&from, start);
        string::concatenate(value, &from, length, 0, true, string::MODE_APPEND);
    }

    // A quoted field into value, pos_ left past it; false, nothing read,
    // when the quotes do not close before a delimiter, a line end or the end.
    bool quoted(cell_t* value) {
        int32_t p = pos_ + 1;
        bool doubled = false;
        for (;;) {
            if (p < tail_ && at(p) != '"') {
                p++;
            } else if (p + 1 < tail_ && at(p) == '"' && at(p + 1) == '"') {
                doubled = true;
                p += 2;
            } else {
                break;
            }
        }
        if (p >= tail_) return false;
        int32_t close = p++;
        if (!(p == tail_ || delimiter_at(p) || line_end_at(p) > 0)) return false;
        int32_t start = pos_ + 1;
        string::make_at(value, close - start);
        if (!doubled) {
            append_span(value, start, close - start);
        } else {
            int32_t run = start;
            for (int32_t i = start; i < close; i++) {
                if (at(i) != '"') continue;
                append_span(value, run, i - run + 1);
                run = ++i + 1;
            }
            append_span(value, run, close - run);
        }
        pos_ = p;
        return true;
    }

    void field(cell_t* value) {
        if (pos_ < tail_ && at(pos_) == '"' && quoted(value)) return;
        int32_t start = pos_;
        bool single = delimiter_.size() == 1;
        uint32_t d = delimiter_[0];
        while (pos_ < tail_) {
            uint32_t c = at(pos_);
            if (c == '\n' || c == '\r') break;
            if (single ? c == d : delimiter_at(pos_)) break;
            pos_++;
        }
        string::make_at(value, pos_ - start);
        append_span(value, start, pos_ - start);
    }
};

// The next column name, as the library makes it: "A" to "B", "Z" to "AA",
// "AZ" to "BA"; the last character not a Z moves on by one. False when it
// would move past the last code point (the library's error).
bool next_column_name(std::vector<uint32_t>* name) {
    size_t i = name->size();
    while (i > 0) {
        uint32_t& c = (*name)[i - 1];
        if (c != 'Z') {
            if (c >= 0x10FFFF) return false;
            c++;
            return true;
        }
        c = 'A';
        if (--i == 0) name->insert(name->begin(), 'A');
    }
    return true;
}

void make_name(cell_t* out, const std::vector<uint32_t>& name) {
    string::make_at(out, static_cast<int64_t>(name.size()));
    for (uint32_t c : name) string::append_char(out, c);
}

std::vector<uint32_t> text_of(const cell_t* s) {
    std::vector<uint32_t> t;
    int32_t head = series::head_index(s);
    int32_t n = string::rs_length_q(s);
    for (int32_t i = 0; i < n; i++) t.push_back(string::rs_abs_at(s, head + i));
    return t;
}

}  // namespace

// data /with delimiter /header /as-columns /as-records /flat /trim /quote qt-char /local ...
void load_csv() {
    cell_t* a = stack::arguments;
    bool header = logic::truthy(a + 3);
    bool columns = logic::truthy(a + 4);
    bool records = logic::truthy(a + 5);
    bool flat = logic::truthy(a + 6);
    bool clash = (columns && records) || (flat && (columns || records || header));
    if (type_of(a) != TYPE_string || clash || logic::truthy(a + 7) || logic::truthy(a + 8))
        return run_body();
    if (header && !records) columns = true;
    std::vector<uint32_t> delimiter;
    if (logic::truthy(a + 1)) delimiter = delimiter_of(a + 2);
    else delimiter.push_back(',');
    if (delimiter.empty()) return run_body();

    cell_t* base = stack::top_slot;
    cell_t* output = stack::push_slot();
    cell_t* line = stack::push_slot();
    cell_t* value = stack::push_slot();
    cell_t* names = stack::push_slot();
    cell_t* key = stack::push_slot();
    // The collector reads these before each is filled.
    for (cell_t* c = output; c <= key; c++) none::make_at(c);
    block::make_at(output, 1000);
    block::make_at(names, 16);
    reader r(a, delimiter);
    if (header) {
        r.line(names, value);
        if (!r.line_end() || r.end_q()) {
            stack::top_slot = base;
            return run_body();
        }
    } else {
        make_name(value, {'A'});
        block::rs_append(names, value);
    }
    int32_t size = -1;
    while (!r.end_q()) {
        block::make_at(line, size < 0 ? 16 : size);
        int32_t n = r.line(line, value);
        if (size < 0) {
            size = n;
            // Records name each field: the names run on from the last one.
            if (records) {
                std::vector<uint32_t> name =
                    text_of(block::rs_abs_at(names, -1 + block::abs_length(names)));
                while (block::abs_length(names) < size) {
                    if (!next_column_name(&name)) {
                        stack::top_slot = base;
                        return run_body();
                    }
                    make_name(value, name);
                    block::rs_append(names, value);
                }
            }
        }
        // A line out of step: the library's reading gives the error.
        if (n != size) {
            stack::top_slot = base;
            return run_body();
        }
        if (records) {
            map::make_at(value, nullptr, 2 * n);
            for (int32_t k = 0; k < n; k++) {
                *key = *block::rs_abs_at(names, k);
                map::put_value(value, key, block::rs_abs_at(line, k), true);
            }
            block::rs_append(output, value);
        } else if (flat) {
            block::append_block(output, line);
        } else {
            block::rs_append(output, line);
        }
        r.line_end();
    }
    if (columns) {
        int32_t longest = size < 0 ? 0 : size;
        if (longest > block::abs_length(names)) {
            block::make_at(names, longest);
            std::vector<uint32_t> name{'A'};
            for (int32_t i = 0; i < longest; i++) {
                make_name(value, name);
                block::rs_append(names, value);
                next_column_name(&name);
            }
        }
        int32_t count = block::abs_length(names);
        int32_t lines = block::abs_length(output);
        map::make_at(line, nullptr, 2 * count);
        for (int32_t k = 0; k < count; k++) {
            block::make_at(value, lines);
            for (int32_t i = 0; i < lines; i++) {
                const cell_t* row = block::rs_abs_at(output, i);
                if (k < block::abs_length(row)) {
                    block::rs_append(value, block::rs_abs_at(row, k));
                } else {
                    cell_t none_value;
                    none::make_at(&none_value);
                    block::rs_append(value, &none_value);
                }
            }
            *key = *block::rs_abs_at(names, k);
            map::put_value(line, key, value, true);
        }
        *output = *line;
    }
    *a = *output;
    stack::top_slot = base;
    stack::keep();
}

}  // namespace zuv::helpers

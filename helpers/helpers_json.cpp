// to-json: the encoder's emit functions in one pass over the value, writing
// straight into the result. A float is written with mold's shortest text
// that reads back. A value the encoder cannot take (unset, or a nest deeper
// than DEPTH, such as a block holding itself) runs the library's encoder
// instead, which gives that case's error.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "helpers/helpers.h"
#include "helpers/helpers_frame.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace zuv::helpers {

namespace {

constexpr int32_t DEPTH = 256;
constexpr int32_t NO_LIMIT = std::numeric_limits<int32_t>::max();
// The most characters one copy takes, so that a run's bytes fit an int32_t.
constexpr int32_t RUN = 1 << 20;

class encoder {
public:
    // out: the result string (a frame cell); indent: the indent text, or
    // nullptr without /pretty.
    encoder(cell_t* out, const cell_t* indent, bool ascii)
        : out_(out), indent_(indent), ascii_(ascii) {}

    // false: a value the encoder hands to the library's.
    bool value(const cell_t* v) {
        switch (type_of(v)) {
        case TYPE_none: text("null"); return true;
        case TYPE_logic: text(logic::truthy(v) ? "true" : "false"); return true;
        case TYPE_integer: {
            integer::number_text n = integer::form_signed(integer::get(v));
            string::append_bytes(out_, n.text, n.length);
            return true;
        }
        case TYPE_float_: {
            double d = float_::get(v);
            if (std::isnan(d - d)) text("null");
            else mold(v);
            return true;
        }
        case TYPE_percent: {
            // `to float!` keeps the stored value; written as that float is.
            cell_t f = *v;
            cell::set_type(&f, TYPE_float_);
            return value(&f);
        }
        case TYPE_string: string_text(v); return true;
        case TYPE_block: return block(v);
        case TYPE_map:
        case TYPE_object: return object(v);
        case TYPE_unset: return false;
        default: break;
        }
        uint8_t t = type_of(v);
        if (series::block_kind_q(t)) {
            cell_t* b = to_block(v);
            bool done = block(b);
            stack::pop(1);
            return done;
        }
        cell_t* s = string::any_string_q(t) ? formed(v) : molded(v);
        string_text(s);
        stack::pop(1);
        return true;
    }

private:
    cell_t* out_;
    const cell_t* indent_;
    bool ascii_;
    int32_t level_ = 0;

    void text(const char* s) { string::concatenate_literal(out_, s); }
    void put(uint32_t c) { string::append_char(out_, c); }

    void form_into(const cell_t* v, cell_t* target) {
        static const cell_t word = action_word("form");
        scratch s(word);
        actions::form(s.push(v), target, false, NO_LIMIT);
    }
    void mold_into(const cell_t* v, cell_t* target) {
        static const cell_t word = action_word("mold");
        scratch s(word);
        actions::mold(s.push(v), target, {.limit = NO_LIMIT});
    }
    void form(const cell_t* v) { form_into(v, out_); }
    void mold(const cell_t* v) { mold_into(v, out_); }
    // A new string pushed on the stack: `form value`, `mold :value`.
    static cell_t* new_text() {
        cell_t* r = stack::push_slot();
        r->header = TYPE_unset;
        string::make_at(r, 16);
        return r;
    }
    cell_t* formed(const cell_t* v) {
        cell_t* r = new_text();
        form_into(v, r);
        return r;
    }
    cell_t* molded(const cell_t* v) {
        cell_t* r = new_text();
        mold_into(v, r);
        return r;
    }
    // `to block! value`, pushed.
    cell_t* to_block(const cell_t* v) {
        cell_t* r = stack::push_slot();
        r->header = TYPE_unset;
        static const cell_t word = action_word("to");
        scratch s(word);
        cell_t* type = stack::push_slot();
        datatype::make_at(type, TYPE_block);
        *r = *actions::to(type, s.push(v));
        return r;
    }

    void hex4(uint32_t code) {
        static constexpr char DIGITS[] = "0123456789ABCDEF";
        char t[7] = {'\\',
                     'u',
                     DIGITS[(code >> 12) & 15],
                     DIGITS[(code >> 8) & 15],
                     DIGITS[(code >> 4) & 15],
                     DIGITS[code & 15],
                     0};
        text(t);
    }

    // A surrogate alone is escaped: text has no form for it, JSON does.
    bool normal(uint32_t c) const {
        if (c < 32 || c == '"' || c == '\\' || unicode::surrogate_q(c)) return false;
        return !ascii_ || c <= 127;
    }

    // A run of characters that need no escape goes in with one copy; only
    // the escapes take the character-at-a-time path.
    void string_text(const cell_t* s) {
        put('"');
        int32_t tail = series::rs_abs_length_q(s);
        int32_t i = series::head_index(s);
        while (i < tail) {
            series_buffer_t* b = string::buffer_of(s);
            uint32_t unit = b->unit();
            const uint8_t* p = b->head_ptr();
            int32_t end = i;
            uint32_t widest = 0;
            for (; end < tail && end - i < RUN; end++) {
                uint32_t c = string::get_char(p + static_cast<size_t>(end) * unit, unit);
                if (!normal(c)) break;
                widest |= c;
            }
            if (end > i) {
                copy_run(s, i, end, widest);
                i = end;
                continue;
            }
            escape(string::get_char(p + static_cast<size_t>(i) * unit, unit));
            i++;
        }
        put('"');
    }

    // Characters from..to of s onto the result, widening it as append_char
    // would for the widest of them (the OR of all, which has the same bound).
    void copy_run(const cell_t* s, int32_t from, int32_t to, uint32_t widest) {
        series_buffer_t* o = string::buffer_of(out_);
        uint32_t need = widest > 0xFFFF ? 4 : (widest >= 0x80 ? 2 : 1);
        if (need > o->unit()) o = string::widen_to(o, need);
        uint32_t ounit = o->unit();
        int32_t n = to - from;
        uint8_t* at = alloc::alloc_tail_unit(o, n * static_cast<int32_t>(ounit));
        // Growing the result may have moved the source.
        series_buffer_t* b = string::buffer_of(s);
        uint32_t unit = b->unit();
        const uint8_t* p = b->head_ptr() + static_cast<size_t>(from) * unit;
        if (unit == ounit) {
            std::memcpy(at, p, static_cast<size_t>(n) * unit);
            return;
        }
        for (int32_t k = 0; k < n; k++, p += unit, at += ounit)
            string::put_char(at, ounit, string::get_char(p, unit));
    }

    void escape(uint32_t c) {
        switch (c) {
        case '"': text("\\\""); break;
        case '\\': text("\\\\"); break;
        case 8: text("\\b"); break;
        case 12: text("\\f"); break;
        case 10: text("\\n"); break;
        case 13: text("\\r"); break;
        case 9: text("\\t"); break;
        default:
            if (c > 0xFFFF) {
                hex4(0xD800 + ((c - 0x10000) >> 10));
                hex4(0xDC00 + ((c - 0x10000) & 1023));
            } else {
                hex4(c);
            }
        }
    }

    void new_line() {
        if (indent_ == nullptr) return;
        put('\n');
        int32_t tail = series::rs_abs_length_q(indent_);
        for (int32_t i = 0; i < level_; i++)
            for (int32_t j = series::head_index(indent_); j < tail; j++)
                put(string::rs_abs_at(indent_, j));
    }

    bool nest_in() {
        if (++level_ > DEPTH) return false;
        new_line();
        return true;
    }
    void nest_out(char close) {
        level_--;
        new_line();
        put(close);
    }

    bool block(const cell_t* b) {
        int32_t head = series::head_index(b);
        if (head >= block::abs_length(b)) {
            text("[]");
            return true;
        }
        put('[');
        if (!nest_in()) return false;
        for (int32_t i = head; i < block::abs_length(b); i++) {
            if (i > head) {
                put(',');
                new_line();
            }
            cell_t v = *block::rs_abs_at(b, i);
            if (!value(stack::push(&v))) return false;
            stack::pop(1);
        }
        nest_out(']');
        return true;
    }

    bool object(const cell_t* o) {
        if (type_of(o) == TYPE_map) return map_object(o);
        static const int32_t BODY = symbol::resolve(symbol::make("body"));
        cell_t* body = stack::push_slot();
        body->header = TYPE_unset;
        {
            static const cell_t word = action_word("reflect");
            scratch s(word);
            *body = *actions::reflect(s.push(o), BODY);
        }
        int32_t head = series::head_index(body);
        int32_t tail = block::abs_length(body);
        if (head >= tail) {
            text("{}");
            stack::pop(1);
            return true;
        }
        put('{');
        level_++;
        if (level_ > DEPTH) return false;
        for (int32_t i = head; i < tail; i += 2) {
            cell_t v = i + 1 < tail ? *block::rs_abs_at(body, i + 1) : cell_t{TYPE_none, 0, 0, 0};
            if (!member(*block::rs_abs_at(body, i), v, i == head)) return false;
        }
        nest_out('}');
        stack::pop(1);
        return true;
    }

    // A map's live entries read in place: the same members, in the same
    // order, as its body block gives, without making that block.
    bool map_object(const cell_t* m) {
        if (map::table_word(m) == 0) {
            text("{}");
            return true;
        }
        put('{');
        level_++;
        if (level_ > DEPTH) return false;
        node_t entries = map::block_of(m);
        bool first = true;
        // The entries' buffer is re-read for each one: writing a member
        // allocates, and allocating may move it.
        for (int32_t p = 0; p + 1 < (alloc::buffer(entries)->used() >> 4); p += 2) {
            const cell_t* e = alloc::buffer(entries)->head_cell() + p;
            if (e[1].header == 0) continue;
            cell_t v = e[1];
            cell::clear_new_line(&v);
            if (!member(e[0], v, first)) return false;
            first = false;
        }
        nest_out('}');
        return true;
    }

    // One name and value of an object, after a comma unless first.
    bool member(cell_t k, cell_t v, bool first) {
        if (!first) put(',');
        new_line();
        cell_t* key = stack::push(&k);
        uint8_t t = type_of(key);
        if (t == TYPE_set_word) {
            cell::set_type(key, TYPE_word);
            t = TYPE_word;
        }
        if (t == TYPE_word) {
            if (!plain_name(word::symbol_of(key))) {
                string_text(formed(key));
                stack::pop(1);
            }
        } else if (t == TYPE_string) {
            string_text(key);
        } else {
            string_text(molded(key));
            stack::pop(1);
        }
        stack::pop(1);
        if (indent_ != nullptr) text(": ");
        else put(':');
        if (!value(stack::push(&v))) return false;
        stack::pop(1);
        return true;
    }

    // A word's spelling written quoted when it is short ASCII that needs no
    // escape (the common name); false, having written nothing, otherwise.
    bool plain_name(int32_t id) {
        char name[64];
        int32_t n = symbol::utf8_length(id);
        if (n + 2 > static_cast<int32_t>(sizeof name)) return false;
        // Copied out first: appending may move the symbol's buffer.
        const char* spelling = symbol::get_utf8(id);
        name[0] = '"';
        for (int32_t i = 0; i < n; i++) {
            auto c = static_cast<uint8_t>(spelling[i]);
            if (c >= 0x80 || !normal(c)) return false;
            name[i + 1] = static_cast<char>(c);
        }
        name[n + 1] = '"';
        string::append_bytes(out_, name, n + 2);
        return true;
    }
};

}  // namespace

// data /pretty indent /ascii /local out
void to_json() {
    cell_t* a = stack::arguments;
    cell_t* out = a + 5;
    string::make_at(out, 4000);
    cell_t* base = stack::top_slot;
    encoder e(out, logic::truthy(a + 1) ? a + 2 : nullptr, logic::truthy(a + 3));
    if (!e.value(a)) {
        stack::top_slot = base;
        return run_body();
    }
    stack::top_slot = base;
    *a = *out;
    stack::keep();
}

}  // namespace zuv::helpers

// load-json: the decoder's grammar read in one pass, building the values as
// its actions do (a string copied, or unescaped when it has escapes; a
// number read by the lexer as transcode/one reads it; an object made into
// a map from its block of names and values; a name made a word when all of
// it reads as one). Text that does not read, or nests deeper than DEPTH,
// runs the library's decoder instead: its error value (and the line, index
// and column it reports) are the library's.
#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_map>

#include "codecs/json.h"
#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "helpers/helpers.h"
#include "helpers/helpers_frame.h"
#include "lexer/lexer.h"
#include "runtime/dtoa.h"
#include "runtime/exits.h"
#include "runtime/fire.h"
#include "runtime/stack.h"

namespace zuv::helpers {

namespace {

constexpr int32_t DEPTH = 100;

inline bool blank_q(uint32_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
inline bool digit_q(uint32_t c) { return c >= '0' && c <= '9'; }
inline bool hex_q(uint32_t c) {
    return digit_q(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}
// Characters that never appear in a word.
inline bool not_word_q(uint32_t c) {
    switch (c) {
    case '/':
    case '\\':
    case '^':
    case ',':
    case '[':
    case ']':
    case '(':
    case ')':
    case '{':
    case '}':
    case '"':
    case '#':
    case '%':
    case '$':
    case '@':
    case ':':
    case ';':
    case '\n':
    case 0xA0:
    case ' ':
    case '\t':
    case '\r':
    case '<':
    case '>': return true;
    default: return false;
    }
}

class decoder {
public:
    explicit decoder(const cell_t* input) : input_(input) {
        tail_ = series::rs_abs_length_q(input);
        pos_ = series::head_index(input);
        if (pos_ > tail_) pos_ = tail_;
    }

    // The value read into out (a stack cell); false when the text does not
    // read (or nests too deep).
    bool document(cell_t* out) {
        skip_blank();
        if (!value(out)) return false;
        return pos_ == tail_;
    }

private:
    const cell_t* input_;
    int32_t pos_;
    int32_t tail_;
    int32_t depth_ = 0;
    // What each name became: a word, or none for a string key.
    std::unordered_map<std::u32string, cell_t> names_;
    std::u32string key_;  // known_word's scratch

    uint32_t at(int32_t i) const { return string::rs_abs_at(input_, i); }
    uint32_t peek() const { return pos_ < tail_ ? at(pos_) : 0xFFFFFFFFu; }

    // The input's characters where they are now: valid until the next
    // allocation, which may move the buffer.
    struct chars_t {
        const uint8_t* p;
        uint32_t unit;
        uint32_t operator[](int32_t i) const {
            return string::get_char(p + static_cast<size_t>(i) * unit, unit);
        }
    };
    chars_t chars() const {
        series_buffer_t* s = string::buffer_of(input_);
        return {s->head_ptr(), s->unit()};
    }

    void skip_blank() {
        chars_t c = chars();
        while (pos_ < tail_ && blank_q(c[pos_])) pos_++;
    }

    // A comma between items, and the blank after it.
    bool comma() {
        if (peek() != ',') return false;
        pos_++;
        skip_blank();
        return true;
    }

    bool literal(const char* word) {
        int32_t p = pos_;
        for (const char* w = word; *w; w++, p++)
            if (p >= tail_ || at(p) != static_cast<uint8_t>(*w)) return false;
        pos_ = p;
        return true;
    }

    // A string's text after its opening quote, up to the closing one (left
    // past it): its start, its length and whether it has escapes.
    bool string_span(int32_t* start, int32_t* length, bool* escaped) {
        *start = pos_;
        *escaped = false;
        chars_t s = chars();
        while (pos_ < tail_) {
            if (s.unit == 1) {
                // Most of a string is plain characters: pass them in a tight loop.
                while (pos_ < tail_) {
                    uint8_t b = s.p[pos_];
                    if (b == '"' || b == '\\' || b < 32) break;
                    pos_++;
                }
                if (pos_ >= tail_) break;
            }
            uint32_t c = s[pos_];
            if (c == '"') {
                *length = pos_ - *start;
                pos_++;
                return true;
            }
            if (c < 32) return false;
            if (c == '\\') {
                *escaped = true;
                if (pos_ + 1 >= tail_) return false;
                uint32_t e = s[pos_ + 1];
                if (e == 'u') {
                    if (pos_ + 6 > tail_) return false;
                    for (int32_t k = 2; k < 6; k++)
                        if (!hex_q(s[pos_ + k])) return false;
                    pos_ += 6;
                    continue;
                }
                if (e != '"' && e != 't' && e != '\\' && e != '/' && e != 'n' && e != 'r' &&
                    e != 'b' && e != 'f')
                    return false;
                pos_ += 2;
                continue;
            }
            pos_++;
        }
        return false;
    }

    // The text from start, length characters, as a new string in out; its
    // escapes read when escaped (a bad surrogate raises unescape's error).
    void text_at(cell_t* out, int32_t start, int32_t length, bool escaped) {
        // The input's unit, as appending the span to a new string gives.
        string::make_at_unit(out, length, static_cast<int32_t>(string::buffer_of(input_)->unit()));
        if (length > 0) {
            series_buffer_t* to = string::buffer_of(out);
            chars_t from = chars();
            size_t bytes = static_cast<size_t>(length) * from.unit;
            std::memcpy(to->tail_ptr(), from.p + static_cast<size_t>(start) * from.unit, bytes);
            to->tail += static_cast<int32_t>(bytes);
        }
        if (escaped) {
            // Its error names unescape, as the library's call does.
            static const cell_t word = action_word("unescape");
            scratch s(word);
            json::unescape(out);
        }
    }

    bool number(cell_t* out) {
        int32_t start = pos_;
        if (peek() == '-') pos_++;
        if (peek() == '0') {
            pos_++;
        } else if (digit_q(peek())) {
            while (digit_q(peek())) pos_++;
        } else {
            return false;
        }
        bool plain = true;
        if (peek() == '.' && pos_ + 1 < tail_ && digit_q(at(pos_ + 1))) {
            plain = false;
            pos_++;
            while (digit_q(peek())) pos_++;
        }
        if (peek() == 'e' || peek() == 'E') {
            int32_t p = pos_ + 1;
            if (p < tail_ && (at(p) == '+' || at(p) == '-')) p++;
            if (p < tail_ && digit_q(at(p))) {
                plain = false;
                pos_ = p;
                while (digit_q(peek())) pos_++;
            }
        }
        char text[64];
        int32_t n = pos_ - start;
        if (plain && n <= 10 - (at(start) == '-' ? 0 : 1)) {
            int32_t v = 0;
            int32_t i = at(start) == '-' ? start + 1 : start;
            for (; i < pos_; i++) v = v * 10 + static_cast<int32_t>(at(i) - '0');
            integer::make_at(out, at(start) == '-' ? -v : v);
            return true;
        }
        if (n >= static_cast<int32_t>(sizeof text)) return long_number(out, start, n);
        for (int32_t i = 0; i < n; i++) text[i] = static_cast<char>(at(start + i));
        out->header = TYPE_none;
        lexer::scan(out, reinterpret_cast<const uint8_t*>(text), n, {.one_value = true}, nullptr,
                    nullptr, nullptr, nullptr);
        return true;
    }

    // A long number: a float read by the lexer's own conversion, which
    // takes any length (the lexer refuses a text of more than 312
    // characters, and JSON puts no bound on a number's digits). Past the
    // doubles' range it is an infinity, as 1e400 is; every integer there
    // is past 32 bits, where the lexer too gives a float.
    bool long_number(cell_t* out, int32_t start, int32_t n) {
        std::string text(static_cast<size_t>(n), '\0');
        for (int32_t i = 0; i < n; i++)
            text[static_cast<size_t>(i)] = static_cast<char>(at(start + i));
        out->header = TYPE_none;
        float_::make_at(out, dtoa::strtod(text.data(), text.data() + n, 0));
        return true;
    }

    // A member's name (in text, a new string): a word when all of it reads
    // as one, else the string itself.
    void name_key(cell_t* text) {
        std::u32string key;
        int32_t n = string::rs_length_q(text);
        key.reserve(static_cast<size_t>(n));
        for (int32_t i = 0; i < n; i++) key.push_back(string::rs_abs_at(text, i));
        auto found = names_.find(key);
        if (found == names_.end()) {
            cell_t made{TYPE_none, 0, 0, 0};
            if (word_syntax_q(key)) to_word(text, &made);
            found = names_.emplace(std::move(key), made).first;
        }
        if (type_of(&found->second) != TYPE_none) *text = found->second;
    }

    // A name already seen that became a word, read into out straight from
    // the input (no string made); false when it is new or stays a string.
    bool known_word(cell_t* out, int32_t start, int32_t length) {
        chars_t c = chars();
        key_.clear();
        for (int32_t i = start; i < start + length; i++) key_.push_back(c[i]);
        auto found = names_.find(key_);
        if (found == names_.end() || type_of(&found->second) == TYPE_none) return false;
        *out = found->second;
        return true;
    }

    static bool word_syntax_q(const std::u32string& s) {
        if (s.empty()) return false;
        uint32_t first = s[0];
        if (not_word_q(first) || digit_q(first) || first == '\'') return false;
        for (uint32_t c : s)
            if (not_word_q(c)) return false;
        return true;
    }

    // `attempt [to word! text]` into made (left none when that fails).
    static void to_word(const cell_t* text, cell_t* made) {
        static const cell_t word = action_word("to");
        stack::tops_t saved = stack::tops();
        stack::mark_try(&word);
        try {
            cell_t* type = stack::push_slot();
            datatype::make_at(type, TYPE_word);
            cell_t* s = stack::push(text);
            cell_t r = *actions::to(type, s);
            stack::restore_tops(saved);
            *made = r;
        } catch (const raised_error&) {
            exits::pending = 0;
            stack::restore_tops(saved);
        }
    }

    bool value(cell_t* out) {
        uint32_t c = peek();
        bool ok;
        switch (c) {
        case '"': {
            pos_++;
            int32_t start, length;
            bool escaped;
            if (!string_span(&start, &length, &escaped)) return false;
            text_at(out, start, length, escaped);
            ok = true;
            break;
        }
        case '{': ok = object(out); break;
        case '[': ok = array(out); break;
        case 't':
            ok = literal("true");
            logic::make_at(out, true);
            break;
        case 'f':
            ok = literal("false");
            logic::make_at(out, false);
            break;
        case 'n':
            ok = literal("null");
            none::make_at(out);
            break;
        default: ok = number(out); break;
        }
        if (ok) skip_blank();
        return ok;
    }

    // Reads a value into item (a rooted stack cell) and appends it to into.
    bool append_value(cell_t* item, cell_t* into) {
        item->header = TYPE_none;
        if (!value(item)) return false;
        block::rs_append(into, item);
        return true;
    }

    bool array(cell_t* out) {
        if (++depth_ > DEPTH) return false;
        pos_++;
        skip_blank();
        block::make_at(out, 8);
        if (peek() != ']') {
            cell_t* item = stack::push_slot();
            for (;;) {
                if (!append_value(item, out)) return false;
                if (!comma()) break;
            }
            stack::pop(1);
        }
        if (peek() != ']') return false;
        pos_++;
        depth_--;
        return true;
    }

    bool object(cell_t* out) {
        if (++depth_ > DEPTH) return false;
        pos_++;
        skip_blank();
        cell_t* members = stack::push_slot();
        block::make_at(members, 8);
        if (peek() == '"') {
            cell_t* item = stack::push_slot();
            for (;;) {
                if (peek() != '"') return false;
                pos_++;
                int32_t start, length;
                bool escaped;
                if (!string_span(&start, &length, &escaped)) return false;
                item->header = TYPE_none;
                if (escaped || !known_word(item, start, length)) {
                    text_at(item, start, length, escaped);
                    name_key(item);
                }
                block::rs_append(members, item);
                skip_blank();
                if (peek() != ':') return false;
                pos_++;
                skip_blank();
                if (!append_value(item, members)) return false;
                if (!comma()) break;
            }
            stack::pop(1);
        }
        if (peek() != '}') return false;
        pos_++;
        {
            static const cell_t word = action_word("make");
            scratch s(word);
            cell_t* type = stack::push_slot();
            datatype::make_at(type, TYPE_map);
            *out = *actions::make(type, s.push(members));
        }
        stack::pop(1);
        depth_--;
        return true;
    }
};

}  // namespace

// input /local result
void load_json() {
    cell_t* a = stack::arguments;
    cell_t* base = stack::top_slot;
    cell_t* out = stack::push_slot();
    out->header = TYPE_none;
    bool done;
    {
        decoder d(a);
        done = d.document(out);
    }
    if (!done) {
        stack::top_slot = base;
        return run_body();
    }
    *a = *out;
    stack::keep();
}

}  // namespace zuv::helpers

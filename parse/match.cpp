// Literal rules of the parse dialect (see parse/match.h).
//
// A text rule is first turned into a pattern of code points in C++ memory
// (folded to lower case unless matching by case), so the comparisons below
// read the input's units directly and never call anything that allocates.
// Only the rare literal that is neither a character, a text, a bitset nor a
// binary is formed into a text first (that allocates; the engine keeps no
// address across these calls).
#include "parse/match.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "runtime/alloc.h"
#include "runtime/case_folding.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace zuv::parser::match {

namespace {

// Lower case of the first 256 code points (all map inside that range), for
// the one-byte-per-character paths.
uint8_t fold8[256];
// Whether some byte besides a lower-case character and its upper case folds
// to it (then two memchr calls cannot find every occurrence).
bool shared_fold[256];
// Upper case of a folded byte (itself when it has none below 256).
uint8_t upper8[256];
bool fold8_made = false;

const uint8_t* fold_table() {
    if (!fold8_made) {
        for (uint32_t c = 0; c < 256; c++) {
            uint32_t l = case_folding::to_lower(c);
            fold8[c] = static_cast<uint8_t>(l < 256 ? l : c);
        }
        for (uint32_t l = 0; l < 256; l++) {
            uint32_t u = case_folding::to_upper(l);
            upper8[l] = static_cast<uint8_t>(u < 256 ? u : l);
            shared_fold[l] = false;
            for (uint32_t c = 0; c < 256; c++)
                if (fold8[c] == l && c != l && c != u) shared_fold[l] = true;
        }
        fold8_made = true;
    }
    return fold8;
}

inline uint32_t fold(uint32_t c) { return c < 256 ? fold_table()[c] : case_folding::to_lower(c); }

// The raw view of an input or rule series: its first unit and unit size.
struct view_t {
    const uint8_t* base;
    uint32_t unit;
    int32_t length;  // units in the whole buffer
};

inline view_t view_of(const cell_t* series) {
    series_buffer_t* s = alloc::buffer(series->data2);
    uint32_t unit = s->unit();
    return {s->head_ptr(), unit, s->used() >> series::shift_of(unit)};
}

inline uint32_t unit_at(const view_t& v, int32_t i) {
    switch (v.unit) {
    case 1: return v.base[i];
    case 2:
        return static_cast<uint32_t>(v.base[2 * i]) | static_cast<uint32_t>(v.base[2 * i + 1]) << 8;
    default: {
        uint32_t c;
        std::memcpy(&c, v.base + 4 * static_cast<size_t>(i), 4);
        return c;
    }
    }
}

// A bitset read without lookups: valid while nothing allocates.
struct bits_t {
    const uint8_t* bytes;
    uint32_t used;
    bool inverted;
    explicit bits_t(const cell_t* b) {
        series_buffer_t* s = bitset::buffer_of(b);
        bytes = s->head_ptr();
        used = static_cast<uint32_t>(s->used());
        inverted = (s->flags & bitset::FLAG_INVERTED) != 0;
    }
    inline bool has(uint32_t c) const {
        return (c >> 3) < used ? (bytes[c >> 3] & (0x80u >> (c & 7))) != 0 : inverted;
    }
};

// A text rule as the units compared. The common rule, a text of one byte
// per character (or a binary) matched against a text or binary of one byte
// per unit, is read in place from its own buffer: nothing is copied or
// allocated per match, and a rule series changed between matches is seen at
// once. Other rules (tags, wide texts, text against binary, formed values)
// are built as code points, in the inline room unless they are long. A
// pattern read in place is valid while nothing allocates.
struct pattern_t {
    static constexpr int32_t ROOM = 32;
    const uint8_t* bytes = nullptr;  // in place, when set
    uint32_t* cp = room;  // built, when bytes is null
    int32_t n = 0;
    bool fold = false;  // in-place bytes are folded when compared
    bool bytes_only = true;  // every element below 256
    uint32_t room[ROOM];
    std::unique_ptr<uint32_t[]> heap;  // past ROOM units
    int32_t capacity = ROOM;

    pattern_t() = default;
    pattern_t(const pattern_t&) = delete;
    pattern_t& operator=(const pattern_t&) = delete;

    inline uint32_t at(int32_t k) const;
    void push(uint32_t c) {
        if (n == capacity) {
            std::unique_ptr<uint32_t[]> more(new uint32_t[static_cast<size_t>(capacity) * 2]);
            std::memcpy(more.get(), cp, static_cast<size_t>(n) * sizeof(uint32_t));
            heap = std::move(more);
            cp = heap.get();
            capacity *= 2;
        }
        cp[n++] = c;
    }
};

inline uint32_t pattern_t::at(int32_t k) const {
    if (bytes) return fold ? fold_table()[bytes[k]] : bytes[k];
    return cp[k];
}

void add_utf8(pattern_t& out, uint32_t c) {
    uint8_t bytes[4];
    int n = unicode::cp_to_utf8(c, bytes);
    for (int i = 0; i < n; i++) out.push(bytes[i]);
}

// The characters of a text value from its head; tags come with "<" and ">".
void text_units(const cell_t* text, pattern_t& out, bool utf8) {
    view_t v = view_of(text);
    int32_t head = static_cast<int32_t>(text->data1);
    if (head < 0) head = 0;
    bool tag = type_of(text) == TYPE_tag;
    auto put = [&](uint32_t c) {
        if (utf8) add_utf8(out, c);
        else out.push(c);
    };
    if (tag) put('<');
    for (int32_t i = head; i < v.length; i++) put(unit_at(v, i));
    if (tag) put('>');
}

// Whether the units [head, length) of a one-byte series are all ASCII (the
// same bytes in UTF-8).
bool ascii_q(const view_t& v, int32_t head) {
    for (int32_t i = head; i < v.length; i++)
        if (v.base[i] >= 0x80) return false;
    return true;
}

// Builds the pattern of a literal rule for a text or binary input; false
// when the rule is not a text-like literal (bitsets and other values).
bool make_pattern(const cell_t* rule, input_kind k, bool case_, pattern_t& p) {
    uint8_t t = type_of(rule);
    if (t == TYPE_char_) {
        uint32_t c = char_::get(rule);
        if (k == K_BINARY) {
            if (c > 255) return false;  // never matches a byte
            p.push(c);
        } else {
            p.push(case_ ? c : fold(c));
        }
    } else if (string::any_string_q(t)) {
        view_t v = view_of(rule);
        int32_t head = static_cast<int32_t>(rule->data1);
        if (head < 0) head = 0;
        if (v.unit == 1 && t != TYPE_tag && (k == K_STRING || ascii_q(v, head))) {
            p.bytes = v.base + std::min(head, v.length);
            p.n = std::max(0, v.length - head);
            p.fold = k == K_STRING && !case_;
            return true;
        }
        text_units(rule, p, k == K_BINARY);
        if (k == K_STRING && !case_)
            for (int32_t i = 0; i < p.n; i++) p.cp[i] = fold(p.cp[i]);
    } else if (t == TYPE_binary) {
        view_t v = view_of(rule);
        int32_t head = static_cast<int32_t>(rule->data1);
        if (head < 0) head = 0;
        p.bytes = v.base + std::min(head, v.length);
        p.n = std::max(0, v.length - head);
        return true;
    } else if (t == TYPE_integer && k == K_BINARY) {
        int32_t n = integer::get(rule);
        if (n < 0 || n > 255) return false;
        p.push(static_cast<uint32_t>(n));
    } else {
        return false;
    }
    for (int32_t i = 0; i < p.n; i++)
        if (p.cp[i] > 255) p.bytes_only = false;
    return true;
}

// The formed text of any other literal, for text inputs.
void formed_pattern(const cell_t* rule, bool case_, pattern_t& p) {
    cell_t* buffer = stack::push_slot();
    string::make_at(buffer, 16);
    cell_t copy = *rule;
    actions::form(&copy, buffer, false, 0x7FFFFFFF);
    text_units(buffer, p, false);
    stack::pop(1);
    if (!case_)
        for (int32_t i = 0; i < p.n; i++) p.cp[i] = fold(p.cp[i]);
    for (int32_t i = 0; i < p.n; i++)
        if (p.cp[i] > 255) p.bytes_only = false;
}

inline bool pattern_at(const view_t& in, int32_t i, int32_t end, const pattern_t& p,
                       bool fold_input) {
    int32_t n = p.n;
    if (end - i < n) return false;
    if (in.unit == 1) {
        const uint8_t* s = in.base + i;
        if (p.bytes && !p.fold) {
            if (!fold_input) return std::memcmp(s, p.bytes, static_cast<size_t>(n)) == 0;
        } else if (p.bytes) {
            const uint8_t* f = fold_table();
            for (int32_t k = 0; k < n; k++)
                if (f[s[k]] != f[p.bytes[k]]) return false;
            return true;
        }
        if (fold_input) {
            const uint8_t* f = fold_table();
            for (int32_t k = 0; k < n; k++)
                if (f[s[k]] != p.at(k)) return false;
        } else {
            for (int32_t k = 0; k < n; k++)
                if (s[k] != p.at(k)) return false;
        }
        return true;
    }
    for (int32_t k = 0; k < n; k++) {
        uint32_t c = unit_at(in, i + k);
        if ((fold_input ? fold(c) : c) != p.at(k)) return false;
    }
    return true;
}

// First occurrence of needle (n > 1 bytes) in base[i, end). memchr on the
// first byte and a compare of the rest is cheapest per call when matches
// are near; an input that keeps offering false starts goes to memmem, whose
// time stays linear.
int32_t find_bytes(const uint8_t* base, int32_t i, int32_t end, const uint8_t* needle, int32_t n) {
    int32_t last = end - n;
    size_t rest = static_cast<size_t>(n - 1);
    for (int misses = 0; i <= last && misses < 16; misses++) {
        const void* hit = std::memchr(base + i, needle[0], static_cast<size_t>(last + 1 - i));
        if (hit == nullptr) return -1;
        int32_t pos = static_cast<int32_t>(static_cast<const uint8_t*>(hit) - base);
        if (std::memcmp(base + pos + 1, needle + 1, rest) == 0) return pos;
        i = pos + 1;
    }
    if (i > last) return -1;
    const void* hit =
        memmem(base + i, static_cast<size_t>(end - i), needle, static_cast<size_t>(n));
    return hit ? static_cast<int32_t>(static_cast<const uint8_t*>(hit) - base) : -1;
}

// First place in base[i, end) where the input, folded, holds the n > 0
// folded units unit(0..n-1) (each below 256). The first unit's two cases
// are found with memchr, in a window that doubles while it holds neither,
// so a case that never occurs costs no more than the distance to the next
// match. Any other byte folding to the same character (rare outside ASCII)
// rules out the two-memchr scan.
template <typename unit_fn>
int32_t find_folded(const uint8_t* base, int32_t i, int32_t end, int32_t n, unit_fn unit) {
    const uint8_t* f = fold_table();
    int32_t last = end - n;  // the last possible start
    uint8_t first = static_cast<uint8_t>(unit(0));
    auto matches_at = [&](int32_t pos) {
        for (int32_t k = 0; k < n; k++)
            if (f[base[pos + k]] != unit(k)) return false;
        return true;
    };
    if (shared_fold[first]) {
        for (int32_t at = i; at <= last; at++)
            if (f[base[at]] == first && matches_at(at)) return at;
        return -1;
    }
    uint8_t alt = upper8[first];
    int32_t at = i;
    size_t window = 64;
    while (at <= last) {
        size_t room = std::min(window, static_cast<size_t>(last + 1 - at));
        const uint8_t* a = static_cast<const uint8_t*>(std::memchr(base + at, first, room));
        const uint8_t* b =
            alt != first ? static_cast<const uint8_t*>(std::memchr(
                               base + at, alt, a ? static_cast<size_t>(a - (base + at)) : room))
                         : nullptr;
        const uint8_t* hit = b ? b : a;
        if (hit == nullptr) {
            at += static_cast<int32_t>(room);
            if (window < 65536) window *= 2;
            continue;
        }
        int32_t pos = static_cast<int32_t>(hit - base);
        if (matches_at(pos)) return pos;
        at = pos + 1;
    }
    return -1;
}

// The commonest search written out: a text rule of one byte per character
// in a text of one byte per character, read straight from both buffers.
// -2 when the rule or the input is not of that kind.
int32_t find_text_in_text(const cell_t* input, int32_t i, int32_t end, const cell_t* rule,
                          bool case_, int32_t* length) {
    uint8_t t = type_of(rule);
    if (t == TYPE_tag || !string::any_string_q(t)) return -2;
    series_buffer_t* rs = alloc::buffer(rule->data2);
    series_buffer_t* in = alloc::buffer(input->data2);
    if (rs->unit() != 1 || in->unit() != 1) return -2;
    int32_t used = rs->used();
    int32_t head = std::clamp(static_cast<int32_t>(rule->data1), 0, used);
    const uint8_t* needle = rs->head_ptr() + head;
    int32_t n = used - head;
    *length = n;
    if (n == 0) return i <= end ? i : -1;
    if (end - i < n) return -1;
    const uint8_t* base = in->head_ptr();
    if (!case_) {
        const uint8_t* f = fold_table();
        return find_folded(base, i, end, n, [f, needle](int32_t k) { return f[needle[k]]; });
    }
    if (n > 1) return find_bytes(base, i, end, needle, n);
    const void* hit = std::memchr(base + i, needle[0], static_cast<size_t>(end - i));
    return hit ? static_cast<int32_t>(static_cast<const uint8_t*>(hit) - base) : -1;
}

// First match of a pattern in [i, end): memchr on the first byte (both of its
// cases when folding), memcmp/verify for the rest.
int32_t find_pattern(const view_t& in, int32_t i, int32_t end, const pattern_t& p,
                     bool fold_input) {
    int32_t n = p.n;
    if (n == 0) return i <= end ? i : -1;
    if (end - i < n) return -1;
    if (in.unit == 1) {
        if (!p.bytes_only) return -1;
        const uint8_t* base = in.base;
        uint8_t first = static_cast<uint8_t>(p.at(0));
        if (!fold_input) {
            if (n == 1) {
                const void* hit = std::memchr(base + i, first, static_cast<size_t>(end - i));
                return hit ? static_cast<int32_t>(static_cast<const uint8_t*>(hit) - base) : -1;
            }
            if (p.bytes) return find_bytes(base, i, end, p.bytes, n);
            uint8_t small[64] = {};
            std::vector<uint8_t> big;
            uint8_t* built = small;
            if (n > 64) {
                big.resize(static_cast<size_t>(n));
                built = big.data();
            }
            for (int32_t k = 0; k < n; k++) built[k] = static_cast<uint8_t>(p.cp[k]);
            return find_bytes(base, i, end, built, n);
        }
        return find_folded(base, i, end, n, [&p](int32_t k) { return p.at(k); });
    }
    for (int32_t at = i; at <= end - n; at++)
        if (pattern_at(in, at, end, p, fold_input)) return at;
    return -1;
}

inline bool block_value_match(const cell_t* element, const cell_t* rule, bool case_) {
    uint8_t rt = type_of(rule);
    if (rt == TYPE_lit_word) {
        uint8_t et = type_of(element);
        if (et != TYPE_word && et != TYPE_lit_word) return false;
        int32_t a = word::symbol_of(element), b = word::symbol_of(rule);
        return case_ ? a == b : symbol::resolve(a) == symbol::resolve(b);
    }
    if (rt == TYPE_datatype || rt == TYPE_typeset) {
        int32_t et = type_of(element);
        return rt == TYPE_datatype ? static_cast<int32_t>(rule->data1) == et
                                   : typeset::has_q(rule, et);
    }
    cell_t a = *element, b = *rule;
    return actions::compare(&a, &b, case_ ? actions::cmp::STRICT_EQUAL : actions::cmp::FIND);
}

}  // namespace

input_kind kind_of(uint8_t input_type) {
    if (series::block_kind_q(input_type)) return K_BLOCK;
    if (input_type == TYPE_binary) return K_BINARY;
    return K_STRING;
}

bool literal_q(const cell_t* rule, input_kind k) {
    uint8_t t = type_of(rule);
    if (k == K_BLOCK) {
        switch (t) {
        case TYPE_block:
        case TYPE_paren:
        case TYPE_word:
        case TYPE_set_word:
        case TYPE_get_word:
        case TYPE_path:
        case TYPE_set_path:
        case TYPE_get_path:
        case TYPE_integer:
        case TYPE_unset: return false;
        default: return true;
        }
    }
    if (t == TYPE_char_ || t == TYPE_bitset || t == TYPE_binary || string::any_string_q(t))
        return true;
    return false;
}

bool type_match_q(const cell_t* input, int32_t i, const cell_t* types) {
    series_buffer_t* s = alloc::buffer(input->data2);
    const cell_t* e = s->head_cell() + i;
    int32_t et = type_of(e);
    return type_of(types) == TYPE_datatype ? static_cast<int32_t>(types->data1) == et
                                           : typeset::has_q(types, et);
}

int32_t match_at(const cell_t* input, int32_t i, int32_t end, const cell_t* rule, bool case_) {
    input_kind k = kind_of(type_of(input));
    if (k == K_BLOCK) {
        if (i >= end) return -1;
        cell_t e = alloc::buffer(input->data2)->head_cell()[i];
        return block_value_match(&e, rule, case_) ? 1 : -1;
    }
    if (type_of(rule) == TYPE_bitset) {
        if (i >= end) return -1;
        view_t in = view_of(input);
        return bits_t(rule).has(unit_at(in, i)) ? 1 : -1;
    }
    // One character against a text, the commonest literal: compared as the
    // pattern below would compare it, without building one.
    if (type_of(rule) == TYPE_char_ && k == K_STRING) {
        if (i >= end) return -1;
        uint32_t c = char_::get(rule);
        uint32_t u = unit_at(view_of(input), i);
        return (case_ ? u == c : fold(u) == fold(c)) ? 1 : -1;
    }
    pattern_t p;
    if (!make_pattern(rule, k, case_, p)) {
        // Other values match a text by their formed text, a binary never.
        if (k == K_BINARY) return -1;
        formed_pattern(rule, case_, p);
    }
    view_t in = view_of(input);
    bool fold_input = k == K_STRING && !case_;
    return pattern_at(in, i, end, p, fold_input) ? p.n : -1;
}

int32_t find(const cell_t* input, int32_t i, int32_t end, const cell_t* rule, bool case_,
             int32_t* length) {
    input_kind k = kind_of(type_of(input));
    *length = 1;
    if (k == K_BLOCK) {
        for (int32_t at = i; at < end; at++) {
            // Comparisons allocate nothing, but read the cell afresh anyway.
            cell_t e = alloc::buffer(input->data2)->head_cell()[at];
            if (block_value_match(&e, rule, case_)) return at;
        }
        return -1;
    }
    if (type_of(rule) == TYPE_bitset) {
        view_t in = view_of(input);
        bits_t bits(rule);
        if (in.unit == 1) {
            const uint8_t* b = in.base;
            for (int32_t at = i; at < end; at++)
                if (bits.has(b[at])) return at;
            return -1;
        }
        for (int32_t at = i; at < end; at++)
            if (bits.has(unit_at(in, at))) return at;
        return -1;
    }
    if (k == K_STRING) {
        int32_t at = find_text_in_text(input, i, end, rule, case_, length);
        if (at != -2) return at;
    }
    pattern_t p;
    if (!make_pattern(rule, k, case_, p)) {
        if (k == K_BINARY) return -1;
        formed_pattern(rule, case_, p);
    }
    *length = p.n;
    view_t in = view_of(input);
    return find_pattern(in, i, end, p, k == K_STRING && !case_);
}

int32_t count(const cell_t* input, int32_t i, int32_t end, const cell_t* rule, bool case_,
              int32_t max, int32_t* count) {
    input_kind k = kind_of(type_of(input));
    int32_t n = 0;
    uint32_t limit = max < 0 ? 0xFFFFFFFFu : static_cast<uint32_t>(max);
    if (k == K_BLOCK) {
        while (i < end && static_cast<uint32_t>(n) < limit) {
            cell_t e = alloc::buffer(input->data2)->head_cell()[i];
            if (!block_value_match(&e, rule, case_)) break;
            i++;
            n++;
        }
        *count = n;
        return i;
    }
    view_t in = view_of(input);
    if (type_of(rule) == TYPE_bitset) {
        bits_t bits(rule);
        int32_t stop = (max >= 0 && static_cast<int64_t>(i) + max < end) ? i + max : end;
        int32_t at = i;
        if (in.unit == 1) {
            const uint8_t* b = in.base;
            while (at < stop && bits.has(b[at])) at++;
        } else {
            while (at < stop && bits.has(unit_at(in, at))) at++;
        }
        *count = at - i;
        return at;
    }
    pattern_t p;
    if (!make_pattern(rule, k, case_, p)) {
        if (k == K_BINARY) {
            *count = 0;
            return i;
        }
        formed_pattern(rule, case_, p);
        in = view_of(input);
    }
    bool fold_input = k == K_STRING && !case_;
    int32_t len = p.n;
    if (len == 0) {
        *count = max == 0 ? 0 : 1;
        return i;
    }
    if (len == 1 && in.unit == 1) {
        int32_t stop = (max >= 0 && static_cast<int64_t>(i) + max < end) ? i + max : end;
        const uint8_t* b = in.base;
        uint32_t c = p.at(0);
        int32_t at = i;
        if (fold_input) {
            const uint8_t* f = fold_table();
            while (at < stop && f[b[at]] == c) at++;
        } else {
            while (at < stop && b[at] == c) at++;
        }
        *count = at - i;
        return at;
    }
    while (static_cast<uint32_t>(n) < limit && pattern_at(in, i, end, p, fold_input)) {
        i += len;
        n++;
    }
    *count = n;
    return i;
}

void copy_part(cell_t* out, const cell_t* input, int32_t from, int32_t to) {
    uint8_t t = type_of(input);
    node_t source = input->data2;
    int32_t n = to > from ? to - from : 0;
    if (series::block_kind_q(t)) {
        node_t node = alloc::alloc_cells(n < 1 ? 1 : n);
        series_buffer_t* d = alloc::buffer(node);
        if (n > 0)
            std::memcpy(d->head_ptr(), alloc::buffer(source)->head_cell() + from,
                        static_cast<size_t>(n) * 16);
        d->tail = d->head + n * 16;
        // A path kind copies as a path; a hash! as a block (its table is not copied).
        block::init_value(out, t == TYPE_hash ? static_cast<uint32_t>(TYPE_block) : t, node);
        return;
    }
    node_t node = alloc::copy_string_part(source, from, n);
    cell::begin(out);
    out->data1 = 0;
    out->data2 = node;
    out->data3 = 0;
    out->header = t;
}

void element(cell_t* out, const cell_t* input, int32_t i) {
    uint8_t t = type_of(input);
    series_buffer_t* s = alloc::buffer(input->data2);
    if (series::block_kind_q(t)) {
        *out = s->head_cell()[i];
        return;
    }
    view_t v = view_of(input);
    uint32_t c = unit_at(v, i);
    cell::begin(out);
    if (t == TYPE_binary) integer::make_at(out, static_cast<int32_t>(c));
    else char_::make_at(out, c);
}

}  // namespace zuv::parser::match

#include "runtime/case_folding.h"

#include "datatypes/string.h"
#include "runtime/fire.h"
#include "runtime/lowrt.h"
#include "runtime/ownership.h"
#include "runtime/words.h"

#include <cstring>

namespace zuv {

namespace case_folding {
namespace {
#include "runtime/case_folding_tables.inc"

template <size_t N> constexpr pair_list_t list_of(const pair_t (&pairs)[N]) {
    return pair_list_t{pairs, static_cast<int32_t>(N)};
}
}  // namespace

const pair_list_t bmp_upper = list_of(bmp_upper_pairs);
const pair_list_t bmp_lower = list_of(bmp_lower_pairs);
const pair_list_t supp_upper = list_of(supp_upper_pairs);
const pair_list_t supp_lower = list_of(supp_lower_pairs);

uint32_t* upper_table = nullptr;
uint32_t* lower_table = nullptr;

namespace {

uint32_t* build(const pair_list_t& list) {
    constexpr size_t bytes = 65536 * sizeof(uint32_t);
    auto* table = static_cast<uint32_t*>(lowrt::allocate(bytes));
    std::memset(table, 0, bytes);
    for (int32_t i = 0; i < list.count; i++) table[list.pairs[i].from] = list.pairs[i].to;
    return table;
}

// Text of 1-byte units (code points up to 255) is changed a byte at a time
// from these, without the 65,536-entry tables: [0] lower case, [1] upper.
// WIDENS marks the two whose upper case lies beyond 255 (micro sign, y with
// diaeresis): the text needs wider units from there on.
constexpr int16_t WIDENS = -1;
int16_t latin[2][256];

void build_latin() {
    for (int c = 0; c < 256; c++) {
        for (int upper = 0; upper < 2; upper++) {
            uint32_t m = (upper ? upper_table : lower_table)[c];
            if (m == 0) m = static_cast<uint32_t>(c);
            latin[upper][c] = m > 0xFF ? WIDENS : static_cast<int16_t>(m);
        }
    }
}

// Eight ASCII letters at once: bit 7 of each byte of `in_range` is set for
// the bytes from `first` to `last`, whose case bit (0x20) then flips. Only
// valid when no byte of w has bit 7 set, so that no sum carries across.
inline uint64_t flip_ascii(uint64_t w, uint8_t first, uint8_t last) {
    constexpr uint64_t ONES = 0x0101010101010101u;
    uint64_t at_least_first = w + ONES * (0x80 - first);
    uint64_t above_last = w + ONES * (0x80 - last - 1);
    uint64_t in_range = (at_least_first ^ above_last) & (ONES * 0x80);
    return w ^ (in_range >> 2);
}

// Changes count bytes in place; returns how many were changed before the
// first that needs a wider unit (count when none does).
int32_t change_bytes(uint8_t* p, int32_t count, bool upper) {
    constexpr uint64_t HIGH = 0x8080808080808080u;
    const int16_t* table = latin[upper ? 1 : 0];
    uint8_t first = upper ? 'a' : 'A', last = upper ? 'z' : 'Z';
    int32_t i = 0;
    while (i < count) {
        if (count - i >= 8) {
            uint64_t w;
            std::memcpy(&w, p + i, 8);
            if ((w & HIGH) == 0) {
                w = flip_ascii(w, first, last);
                std::memcpy(p + i, &w, 8);
                i += 8;
                continue;
            }
        }
        // A chunk with a byte beyond ASCII, or the last few bytes.
        int32_t end = count - i >= 8 ? i + 8 : count;
        for (; i < end; i++) {
            int16_t m = table[p[i]];
            if (m == WIDENS) return i;
            p[i] = static_cast<uint8_t>(m);
        }
    }
    return count;
}

}  // namespace

void init() {
    if (upper_table) return;  // the tables never change once built
    upper_table = build(bmp_upper);
    lower_table = build(bmp_lower);
    build_latin();
}

uint32_t change_supplementary(uint32_t cp, bool upper) {
    const pair_list_t& list = upper ? supp_upper : supp_lower;
    if (cp < list.pairs[0].from || cp > list.pairs[list.count - 1].from) return cp;
    for (int32_t i = 0; i < list.count; i++) {
        if (list.pairs[i].from > cp) return cp;
        if (list.pairs[i].from == cp) return list.pairs[i].to;
    }
    return cp;
}

uint32_t swap_case(uint32_t cp) {
    uint32_t up = change(cp, true);
    return up == cp ? change(cp, false) : up;
}

cell_t* change_string(cell_t* value, const cell_t* part, bool upper) {
    if (type_of(value) == TYPE_char_) {
        value->data2 = change(value->data2, upper);
        return value;
    }
    string::rs_head(value);  // a head beyond the tail comes back to the tail
    int32_t count = string::rs_length_q(value);
    if (part) {
        int32_t n;
        if (type_of(part) == TYPE_integer) n = static_cast<int32_t>(part->data2);
        else if (type_of(part) == type_of(value) && part->data2 == value->data2)
            n = static_cast<int32_t>(part->data1) - static_cast<int32_t>(value->data1);
        else {
            cell_t word = words::word(words::id::part);
            fire(err::invalid_refine_arg, &word, part);
        }
        if (n < 0) n = 0;
        if (n < count) count = n;
    }
    series_buffer_t* s = string::buffer_of(value);
    int32_t index = static_cast<int32_t>(value->data1);
    int32_t done = s->unit() == 1 ? change_bytes(s->head_ptr() + index, count, upper) : 0;
    for (int32_t i = index + done; i < index + count; i++) {
        uint32_t unit = s->unit();
        uint8_t* p = s->head_ptr() + static_cast<size_t>(i) * unit;
        uint32_t c = string::get_char(p, unit);
        uint32_t m = change(c, upper);
        // set_char widens the buffer when the mapping needs a wider unit;
        // the position is recomputed from the index on the next turn.
        if (m != c) s = string::set_char(s, p, m);
    }
    // An owner object hears of the change (its handler may run user code).
    ownership::check(value, upper ? words::id::uppercase : words::id::lowercase, nullptr, index,
                     count);
    return value;
}

}  // namespace case_folding

namespace terminal {

using case_folding::range_list_t;

namespace {
template <size_t N> constexpr range_list_t ranges_of(const case_folding::range_t (&ranges)[N]) {
    return range_list_t{ranges, static_cast<int32_t>(N)};
}
}  // namespace

const range_list_t zero_width_ranges = ranges_of(case_folding::zero_width_data);
const range_list_t wide_ranges = ranges_of(case_folding::wide_data);
const range_list_t ambiguous_ranges = ranges_of(case_folding::ambiguous_data);

bool in_ranges_q(uint32_t cp, const range_list_t& table) {
    // The pre-check makes ASCII and Latin text one comparison.
    if (cp < table.ranges[0].low || cp > table.ranges[table.count - 1].high) return false;
    for (int32_t i = 0; i < table.count; i++)
        if (cp >= table.ranges[i].low && cp <= table.ranges[i].high) return true;
    return false;
}

int char_width(uint32_t cp) {
    if (cp == 0) return 0;
    if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) return 1;
    if (in_ranges_q(cp, zero_width_ranges)) return 0;
    if (in_ranges_q(cp, wide_ranges)) return 2;
    return 1;
}

int char_width_cjk(uint32_t cp) { return in_ranges_q(cp, ambiguous_ranges) ? 2 : char_width(cp); }

}  // namespace terminal

}  // namespace zuv

// Action dispatch.
//
// An action runs the implementation that the first argument's datatype keeps
// in its row of the type-action table (datatypes/registry.h). Lookup is one
// indexed load; an empty entry raises expect-arg. The typed wrappers below
// (actions::form, actions::mold, actions::copy, ...) are what datatype and
// native code call when they need an action on a value: each looks the entry
// up and calls it with its action's signature (datatypes/action_types.h).
//
// make and to dispatch on the type a datatype! argument names (an example
// value dispatches on its own type); every other action on its first
// argument's type. A port! whose actor is a native table routes actions
// 25-62 there instead.
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "datatypes/registry.h"
#include "runtime/cell.h"

namespace zuv::actions {

// The cold paths of the lookup: the error of an empty entry, and the port
// actor routing.
[[noreturn]] void missing_action(int32_t type, const cell_t* value, int32_t action);
action_entry_t port_action(const cell_t* value, int32_t action);
// expect-arg for an argument of the current call (0 the first) whose type the
// implementation does not accept.
[[noreturn]] void fire_expect_arg(const cell_t* value, int32_t argument);

inline action_entry_t get_action(int32_t type, const cell_t* value, int32_t action) {
    if (type == TYPE_port && action > 24) [[unlikely]]
        return port_action(value, action);
    action_entry_t entry = type_action_table[(type << 8) + action - 1];
    if (entry == nullptr) [[unlikely]]
        missing_action(type, value, action);
    return entry;
}
inline action_entry_t get_action_ptr(const cell_t* value, int32_t action) {
    return get_action(type_of(value), value, action);
}
// The entry for the first argument of the current call frame.
action_entry_t get_action_by_frame(int32_t action);

template <int N> inline typename action_signature<N>::fn typed(const cell_t* value) {
    return reinterpret_cast<typename action_signature<N>::fn>(get_action_ptr(value, N));
}
template <int N> inline void frame_call() {
    reinterpret_cast<action_fn::frame_t>(get_action_by_frame(N))();
}

// The type make and to dispatch on.
inline int32_t dispatch_type(const cell_t* proto) {
    return type_of(proto) == TYPE_datatype ? static_cast<int32_t>(proto->data1) : type_of(proto);
}

// --- comparison --------------------------------------------------------------

// Comparison codes of the compare entry.
namespace cmp {
constexpr int32_t EQUAL = 0, NOT_EQUAL = 1, STRICT_EQUAL = 2, LESSER = 3, LESSER_EQUAL = 4,
                  GREATER = 5, GREATER_EQUAL = 6, SORT = 7, SORT_CASE = 8, SAME = 9, FIND_LIT = 10,
                  FIND_LIT_NOCASE = 11, FIND = 12;
// The answer of a quiet compare (quiet_compare_table) where the compare
// entry would raise or allocate: the comparison native's call decides.
constexpr int32_t ASK_CALL = -3;
}  // namespace cmp

// The truth of a comparison code from the compare entry's answer r (-2,
// not comparable, apart): the orderings by its sign, the others by zero.
constexpr bool truth_of(int32_t r, int32_t op) {
    switch (op) {
    case cmp::NOT_EQUAL: return r != 0;
    case cmp::LESSER: return r < 0;
    case cmp::LESSER_EQUAL: return r <= 0;
    case cmp::GREATER: return r > 0;
    case cmp::GREATER_EQUAL: return r >= 0;
    default: return r == 0;
    }
}

// The truth of value1 <op> value2; incomparable values are unequal, and an
// ordering of them raises invalid-compare.
bool compare(cell_t* value1, cell_t* value2, int32_t op);
// Three-way result for sorting and sets (-1, 0, 1; -2 when incomparable).
int32_t compare_value(cell_t* value1, cell_t* value2, int32_t op);
// compare on the current frame's first two arguments; a logic! result.
void compare_args(int32_t op);

// --- typed wrappers, in action order -------------------------------------------

inline cell_t* make(cell_t* proto, cell_t* spec) {
    int32_t type = dispatch_type(proto);
    auto fn = reinterpret_cast<action_fn::make_t>(get_action(type, proto, ACT_make));
    return fn(proto, spec, type);
}
inline cell_t* random(cell_t* value, bool seed, bool secure, bool only) {
    return typed<ACT_random>(value)(value, seed, secure, only);
}
inline cell_t* reflect(cell_t* value, int32_t field) {
    return typed<ACT_reflect>(value)(value, field);
}
inline cell_t* to(cell_t* proto, cell_t* spec) {
    int32_t type = dispatch_type(proto);
    auto fn = reinterpret_cast<action_fn::to_t>(get_action(type, proto, ACT_to));
    return fn(proto, spec, type);
}
inline int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit) {
    return typed<ACT_form>(value)(value, buffer, part, limit);
}
inline int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    return typed<ACT_mold>(value)(value, buffer, how);
}
inline cell_t* eval_path(cell_t* parent, cell_t* element, cell_t* value, cell_t* path,
                         cell_t* gparent, cell_t* p_item, int32_t index, bool case_, bool get,
                         bool tail, bool evt) {
    return typed<ACT_eval_path>(parent)(parent, element, value, path, gparent, p_item, index, case_,
                                        get, tail, evt);
}
inline void absolute() { frame_call<ACT_absolute>(); }
inline void add() { frame_call<ACT_add>(); }
inline void divide() { frame_call<ACT_divide>(); }
inline void multiply() { frame_call<ACT_multiply>(); }
inline cell_t* negate(cell_t* number) { return typed<ACT_negate>(number)(number); }
inline void power() { frame_call<ACT_power>(); }
inline void remainder() { frame_call<ACT_remainder>(); }
inline cell_t* round(cell_t* value, cell_t* scale, round_options_t how) {
    return typed<ACT_round>(value)(value, scale, how);
}
inline void subtract() { frame_call<ACT_subtract>(); }
inline bool even_q(cell_t* number) { return typed<ACT_even_q>(number)(number); }
inline bool odd_q(cell_t* number) { return typed<ACT_odd_q>(number)(number); }
inline void and_t() { frame_call<ACT_and_t>(); }
inline cell_t* complement(cell_t* value) { return typed<ACT_complement>(value)(value); }
inline void or_t() { frame_call<ACT_or_t>(); }
inline void xor_t() { frame_call<ACT_xor_t>(); }
inline cell_t* append(cell_t* series, cell_t* value, int32_t part, bool only, int32_t dup) {
    return typed<ACT_append>(series)(series, value, part, only, dup, true);
}
inline void at() { frame_call<ACT_at>(); }
inline void back() { frame_call<ACT_back>(); }
inline cell_t* change(cell_t* series, cell_t* value, int32_t part, bool only, int32_t dup) {
    return typed<ACT_change>(series)(series, value, part, only, dup);
}
inline cell_t* clear(cell_t* series) { return typed<ACT_clear>(series)(series); }
inline cell_t* copy(cell_t* value, cell_t* result, cell_t* part, bool deep, cell_t* types) {
    return typed<ACT_copy>(value)(value, result, part, deep, types);
}
inline cell_t* find(cell_t* series, cell_t* value, const find_options_t& how) {
    return typed<ACT_find>(series)(series, value, how);
}
inline void head() { frame_call<ACT_head>(); }
inline void head_q() { frame_call<ACT_head_q>(); }
inline void index_q() { frame_call<ACT_index_q>(); }
inline cell_t* insert(cell_t* series, cell_t* value, int32_t part, bool only, int32_t dup) {
    return typed<ACT_insert>(series)(series, value, part, only, dup, false);
}
inline int32_t length_q(cell_t* series) { return typed<ACT_length_q>(series)(series); }
inline cell_t* move(cell_t* origin, cell_t* target, cell_t* part) {
    return typed<ACT_move>(origin)(origin, target, part);
}
inline void next() { frame_call<ACT_next>(); }
// The index argument reduced to an integer: integer! and char! their value,
// true 1, false 2, anything else 0.
inline int32_t pick_index(const cell_t* index) {
    switch (type_of(index)) {
    case TYPE_integer:
    case TYPE_char_: return static_cast<int32_t>(index->data2);  // the integer! layout
    case TYPE_logic: return index->data1 == 1 ? 1 : 2;
    default: return 0;
    }
}
inline cell_t* pick(cell_t* series, cell_t* index) {
    return typed<ACT_pick>(series)(series, pick_index(index), index);
}
inline cell_t* poke(cell_t* series, cell_t* index, cell_t* value) {
    return typed<ACT_poke>(series)(series, pick_index(index), index, value);
}
inline cell_t* put(cell_t* series, cell_t* key, cell_t* value, bool case_) {
    return typed<ACT_put>(series)(series, key, value, case_);
}
inline cell_t* remove(cell_t* series, cell_t* part, cell_t* key) {
    return typed<ACT_remove>(series)(series, part, key);
}
inline cell_t* reverse(cell_t* series, cell_t* part, cell_t* skip) {
    return typed<ACT_reverse>(series)(series, part, skip);
}
inline cell_t* select(cell_t* series, cell_t* value, const select_options_t& how) {
    return typed<ACT_select>(series)(series, value, how);
}
inline cell_t* sort(cell_t* series, bool case_, cell_t* skip, cell_t* comparator, cell_t* part,
                    bool all, bool reverse, bool stable) {
    return typed<ACT_sort>(series)(series, case_, skip, comparator, part, all, reverse, stable);
}
inline void skip() { frame_call<ACT_skip>(); }
inline cell_t* swap(cell_t* series1, cell_t* series2) {
    return typed<ACT_swap>(series1)(series1, series2);
}
inline void tail() { frame_call<ACT_tail>(); }
inline void tail_q() { frame_call<ACT_tail_q>(); }
inline cell_t* take(cell_t* series, cell_t* part, bool deep, bool last) {
    return typed<ACT_take>(series)(series, part, deep, last);
}
inline cell_t* trim(cell_t* series, bool head, bool tail, bool auto_, bool lines, bool all,
                    cell_t* with) {
    return typed<ACT_trim>(series)(series, head, tail, auto_, lines, all, with);
}
inline cell_t* create(cell_t* port) { return typed<ACT_create>(port)(port); }
inline cell_t* close(cell_t* port) { return typed<ACT_close>(port)(port); }
inline cell_t* delete_(cell_t* file) { return typed<ACT_delete_>(file)(file); }
inline cell_t* modify(cell_t* target, cell_t* field, cell_t* value, bool case_) {
    return typed<ACT_modify>(target)(target, field, value, case_);
}
inline cell_t* open(cell_t* port, bool new_, bool read, bool write, bool seek, cell_t* allow) {
    return typed<ACT_open>(port)(port, new_, read, write, seek, allow);
}
inline cell_t* open_q(cell_t* port) { return typed<ACT_open_q>(port)(port); }
inline cell_t* query(cell_t* target) { return typed<ACT_query>(target)(target); }
inline cell_t* read(cell_t* source, cell_t* part, cell_t* seek, bool binary, bool lines, bool info,
                    cell_t* as) {
    return typed<ACT_read>(source)(source, part, seek, binary, lines, info, as);
}
inline cell_t* rename(cell_t* from, cell_t* to) { return typed<ACT_rename>(from)(from, to); }
inline cell_t* update(cell_t* port) { return typed<ACT_update>(port)(port); }
inline cell_t* write(cell_t* destination, cell_t* data, bool binary, bool lines, bool info,
                     bool append_, cell_t* part, cell_t* seek, cell_t* allow, cell_t* as) {
    return typed<ACT_write>(destination)(destination, data, binary, lines, info, append_, part,
                                         seek, allow, as);
}

// Step "actions": the table of the 62 entry points (filled by the evaluator
// once the entries exist).
void init();

}  // namespace zuv::actions

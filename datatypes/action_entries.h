// The entry points of the 62 actions.
//
// An action value (action!, or an op! wrapping one) holds the index of its
// entry in `table` (action number - 1). Whoever calls an action, the
// interpreter after gathering the arguments or C++ code after pushing them,
// follows one protocol: mark a native frame, push the arguments in spec order
// (the mandatory ones, then the arguments of each used refinement), call the
// entry with one position per refinement of the action in spec order (-1 when
// unused, else the index in cells from stack::arguments of its first
// argument; any other value for a refinement without argument), then unwind.
// The result is in the frame's result slot.
//
// Two families. The frame entries (add, at, next, ...) hand the frame itself
// to the first argument's implementation. The typed entries turn the frame
// into explicit arguments (value cells, a flag per refinement, the cell of
// each refinement argument or nullptr), call the typed dispatch wrapper of
// datatypes/actions.h and copy what it returns into the result slot; a few
// normalise their refinements first (form/mold /part, append/insert/change
// /part and /dup, copy /types, pick/poke index, length? none, even?/odd?).
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zuv::actions {

using stack_entry_t = void (*)(const int32_t* refinements);

// Entry per action, index action number - 1.
extern const stack_entry_t table[ACTION_COUNT];

// Calls action `number` on the arguments of the current frame.
inline void call(int32_t number, const int32_t* refinements) { table[number - 1](refinements); }

// The entries, named after their action's word.
void make_star(const int32_t* refs);
void random_star(const int32_t* refs);
void reflect_star(const int32_t* refs);
void to_star(const int32_t* refs);
void form_star(const int32_t* refs);
void mold_star(const int32_t* refs);
void eval_path_star(const int32_t* refs);
void absolute_star(const int32_t* refs);
void add_star(const int32_t* refs);
void divide_star(const int32_t* refs);
void multiply_star(const int32_t* refs);
void negate_star(const int32_t* refs);
void power_star(const int32_t* refs);
void remainder_star(const int32_t* refs);
void round_star(const int32_t* refs);
void subtract_star(const int32_t* refs);
void even_q_star(const int32_t* refs);
void odd_q_star(const int32_t* refs);
void and_t_star(const int32_t* refs);
void complement_star(const int32_t* refs);
void or_t_star(const int32_t* refs);
void xor_t_star(const int32_t* refs);
void append_star(const int32_t* refs);
void at_star(const int32_t* refs);
void back_star(const int32_t* refs);
void change_star(const int32_t* refs);
void clear_star(const int32_t* refs);
void copy_star(const int32_t* refs);
void find_star(const int32_t* refs);
void head_star(const int32_t* refs);
void head_q_star(const int32_t* refs);
void index_q_star(const int32_t* refs);
void insert_star(const int32_t* refs);
void length_q_star(const int32_t* refs);
void move_star(const int32_t* refs);
void next_star(const int32_t* refs);
void pick_star(const int32_t* refs);
void poke_star(const int32_t* refs);
void put_star(const int32_t* refs);
void remove_star(const int32_t* refs);
void reverse_star(const int32_t* refs);
void select_star(const int32_t* refs);
void sort_star(const int32_t* refs);
void skip_star(const int32_t* refs);
void swap_star(const int32_t* refs);
void tail_star(const int32_t* refs);
void tail_q_star(const int32_t* refs);
void take_star(const int32_t* refs);
void trim_star(const int32_t* refs);
void create_star(const int32_t* refs);
void close_star(const int32_t* refs);
void delete_star(const int32_t* refs);
void modify_star(const int32_t* refs);
void open_star(const int32_t* refs);
void open_q_star(const int32_t* refs);
void query_star(const int32_t* refs);
void read_star(const int32_t* refs);
void rename_star(const int32_t* refs);
void update_star(const int32_t* refs);
void write_star(const int32_t* refs);

}  // namespace zuv::actions

// The function makers: func, function, does and has. All four end in the
// making of a function! value from a spec and a body; the last three only
// prepare the spec first.
#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/function.h"
#include "datatypes/word.h"
#include "natives/natives.h"
#include "runtime/stack.h"
#include "runtime/words.h"

namespace zuv::natives {

namespace {

// A head index beyond the tail means an empty block, never a read past it.
inline void clamp_head(cell_t* b) {
    int32_t n = block::abs_length(b);
    if (block::head_index(b) > n) block::set_head_index(b, n);
    if (block::head_index(b) < 0) block::set_head_index(b, 0);
}

// Makes the function in the current frame's result slot. spec and body are
// stable cells (argument slots or pushed copies).
void make_function(cell_t* spec, cell_t* body) {
    clamp_head(spec);
    clamp_head(body);
    uint32_t flags = function::validate_spec(spec);
    function::push(spec, body, 0, 0, 0, flags);
    cell_t made = *stack::top();
    stack::set_last_keep(&made);
}

}  // namespace

void func(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::func, refinements);
    make_function(stack::arguments, stack::arguments + 1);
}

void function(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::function, refinements);
    cell_t* spec = stack::arguments;
    clamp_head(spec);
    // The words are collected into a copy: the caller's spec stays as it was.
    cell_t* copy = block::clone(spec, false, false);
    function::collect_words(copy, stack::arguments + 1);
    make_function(copy, stack::arguments + 1);
}

void does(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::does, refinements);
    cell_t* body = stack::arguments;
    cell_t* b = stack::push(body);
    cell_t* spec = stack::push_slot();
    spec->header = TYPE_unset;
    block::make_at(spec, 1);
    make_function(spec, b);
}

void has(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::has, refinements);
    cell_t* vars = stack::arguments;
    clamp_head(vars);
    cell_t* spec = block::clone(vars, false, false);
    cell_t local;
    word::make_raw(&local, TYPE_refinement, 0,
                   static_cast<int32_t>(words::symbol_of(words::id::local)), -1);
    block::insert_value(spec, &local, true, false);
    make_function(spec, stack::arguments + 1);
}

}  // namespace zuv::natives

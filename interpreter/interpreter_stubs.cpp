// TEMPORARY stand-ins for the evaluator's entry points, until the evaluator
// lands and replaces this file. Both are weak, so a real definition wins.
//
// eval has nothing to evaluate with and raises not-done. call_function can
// already run a function or routine whose body is compiled code (a C++
// entry of the routine table): that is the whole call for the library's
// functions, and what C++ callers of handlers need meanwhile; an
// interpreted body raises not-done.
#include "datatypes/function.h"
#include "datatypes/routine.h"
#include "interpreter/interpreter.h"
#include "runtime/fire.h"
#include "runtime/stack.h"

namespace zuv::interpreter {

__attribute__((weak)) void eval(cell_t*, int32_t) { fire(err::not_done); }

__attribute__((weak)) void call_function(cell_t* fn, node_t ctx, const cell_t*, uint32_t) {
    routine::entry_t entry = routine::entry_at(function::code_of(fn));
    if (entry == nullptr) fire(err::not_done);
    // The function's words read its arguments where the caller pushed them;
    // the caller's frame (stack::mark_func) restores the context on unwind.
    if (ctx != 0 && type_of(fn) == TYPE_function) *stack::values_word(ctx) = stack::index_of(stack::arguments);
    entry();
}

}  // namespace zuv::interpreter

// Trace runs: the user tracer that `do/trace` installs and the events the
// interpreter, the call machinery, `fire`, `throw` and `catch` report to it.
//
// The tracer is called with six arguments: the event word, the code (a
// block, paren or path, or none), the offset of the position in it (-1 when
// there is none), the value, the reference (a word or path, for set, prolog,
// epilog, return and call) and a pair of the argument stack's depths (base,
// top). Its call runs in a frame named <interp-callback> with tracing off;
// its result is dropped. An error it raises travels as any other; a break,
// continue or throw it leaves pending travels on at once as exits::escape.
// Either way tracing stays off for the rest of the run.
//
// Library code is silent: it runs with `tracing` off, and the user blocks
// it evaluates get the state back (`library_caller_tracing` keeps it while
// the library runs). error, throw and catch fire from library code too.
#pragma once

#include <cstdint>

#include "interpreter/interpreter.h"
#include "runtime/cell.h"
#include "runtime/stack.h"

namespace zuv::interpreter {

// Set while a do/trace run has a tracer installed.
extern bool tracer_installed;
// Set while the tracer runs: no event reaches it then, not even from a
// function made with the trace attribute.
extern bool tracer_running;
// What `tracing` was in the user code that called the library code running
// now; user code that the library evaluates runs with it.
extern bool library_caller_tracing;

// `trace true` and `trace false` from library code: the tracing state that
// the user code which called it gets back when the call returns, and keeps
// past the returns of the functions around it until the trace ends or
// another request comes (-1: none asked). Library code cannot set `tracing`
// itself, which its guards put back on the way out.
extern int8_t caller_tracing_request;
// Asks for tracing in the calling user code: on only while a tracer is
// installed; without one there is nothing to switch.
inline void request_caller_tracing(bool on) {
    caller_tracing_request = tracer_installed ? (on ? 1 : 0) : -1;
}

// The mask a tracer asks for: the event words of the block its body begins
// with, else every event.
uint32_t trace_mask_from_block(const cell_t* fn);

// The hook that every event site reaches (through fire_event) while tracing.
void fire_traced(uint32_t ev, const cell_t* code, int32_t pos, const cell_t* reference,
                 const cell_t* value);

// Whether error, throw and catch events go out now: while tracing, and in
// library code called from traced user code.
inline bool tracing_anywhere() {
    return tracing || (library_caller_tracing && stack::interpreted_mark == 0);
}

inline void fire_init() {
    if (tracing) fire_event(event::INIT, nullptr, -1, nullptr, nullptr);
}
inline void fire_end() {
    if (tracing) fire_event(event::END, nullptr, -1, nullptr, nullptr);
}
// throw and catch report the current result slot.
inline void fire_throw() {
    if (tracing_anywhere()) fire_event(event::THROW, nullptr, -1, nullptr, stack::arguments);
}
inline void fire_catch() {
    if (tracing_anywhere()) fire_event(event::CATCH, nullptr, -1, nullptr, stack::arguments);
}
// A function called through call_function by C++ code.
inline void fire_call(const cell_t* word, const cell_t* fn) {
    if (tracing) fire_event(event::CALL, nullptr, -1, word, fn);
}
inline void fire_return(const cell_t* word, const cell_t* result) {
    if (tracing) fire_event(event::RETURN, nullptr, -1, word, result);
}

// do/trace: installs fn as the tracer unless one is installed already (then
// false: the evaluation runs under the installed one), switches tracing on
// and fires init.
bool start_trace(const cell_t* fn);
// Fires end with the pending exit kept across it, then removes the tracer.
void end_trace();
// Removes the tracer without an event (an error leaving the run).
void drop_trace();

// Whether callbacks of this kind (callback::) are traced now, from
// system/state/callbacks/bits.
bool callback_traced_q(uint32_t kind);

}  // namespace zuv::interpreter

// The C++ signature of each action's typed implementation.
//
// A datatype's row in the action matrix holds, per action number, the entry
// that implements the action for that type; the matrix stores them all as
// action_entry_t and the dispatcher (datatypes/actions.h) casts an entry
// back to the signature of its action, below. A datatype's implementation
// must have exactly its action's signature.
//
// Conventions shared by every signature:
// - Value arguments are cells, normally on the argument stack.
// - A refinement that takes no argument is a bool; a refinement that takes
//   one is the argument's cell, nullptr when the refinement is absent.
// - Implementations that return a cell return the result (usually
//   stack::arguments, the current call's result slot); the entry copies it
//   into the result slot when it is elsewhere.
// - The "frame" actions read their arguments from the current call frame
//   (stack::arguments and the cells after it) and write the result slot.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zuv {

using action_entry_t = void (*)();

// How mold writes a value. only: a block's values without its brackets; all:
// construction syntax for the values that have no literal form; flat: no new
// lines or indentation; part: stop once limit runs out; limit: what is left
// to write; indent: the depth a new line starts at. Twelve bytes, so the
// options travel in two registers like the scalars they replace.
struct mold_options_t {
    bool only = false;
    bool all = false;
    bool flat = false;
    bool part = false;
    int32_t limit = 0;
    int32_t indent = 0;

    // The options of a value molded inside this one: the same, never only.
    mold_options_t inner() const {
        mold_options_t in = *this;
        in.only = false;
        return in;
    }
    // The same one level deeper: new lines indent once more.
    mold_options_t deeper() const {
        mold_options_t in = *this;
        in.indent++;
        return in;
    }
};

// The refinements of round, one bool each; with none of them set round goes
// half away from zero.
struct round_options_t {
    bool even = false;
    bool down = false;
    bool half_down = false;
    bool floor = false;
    bool ceiling = false;
    bool half_ceiling = false;
};

// The refinements of find and select. A refinement that takes an argument is
// its cell, nullptr when absent; the cells come first so that the bools pack
// into one word after them. select has no /tail or /match and ignores them.
struct find_options_t {
    cell_t* part = nullptr;
    cell_t* with = nullptr;
    cell_t* skip = nullptr;
    bool only = false;
    bool case_ = false;
    bool same = false;
    bool any = false;
    bool last = false;
    bool reverse = false;
    bool tail = false;  // the position after the match
    bool match = false;  // a match only at the current position
};
using select_options_t = find_options_t;

namespace action_fn {

// make and to: proto is the datatype or example value, type the id
// dispatched on (a datatype! argument's own id, else proto's type).
using make_t = cell_t* (*)(cell_t* proto, cell_t* spec, int32_t type);
using to_t = make_t;
using random_t = cell_t* (*)(cell_t* value, bool seed, bool secure, bool only);
// field: the symbol id of the reflected word (spec, body, words, ...).
using reflect_t = cell_t* (*)(cell_t* value, int32_t field);
// form and mold append to buffer (a string cell) and return the limit less
// what they wrote; negative means the caller cuts the text back.
using form_t = int32_t (*)(cell_t* value, cell_t* buffer, bool part, int32_t limit);
using mold_t = int32_t (*)(cell_t* value, cell_t* buffer, mold_options_t how);
// Path access: value is the value to set, nullptr for a read; index counts
// the path's head as 0; case_ asks for case-sensitive keys, get for get-path
// semantics, tail for the path's last step, evt whether owners are told.
using eval_path_t = cell_t* (*)(cell_t* parent, cell_t* element, cell_t* value, cell_t* path,
                                cell_t* gparent, cell_t* p_item, int32_t index, bool case_,
                                bool get, bool tail, bool evt);
// Three-way result: -1, 0, 1, or -2 when the values cannot be compared
// under the comparison code op (0-12).
using compare_t = int32_t (*)(cell_t* value1, cell_t* value2, int32_t op);
using frame_t = void (*)();
using unary_t = cell_t* (*)(cell_t* value);  // negate, clear, complement, create, close, delete,
                                             // open?, query, update
using predicate_t = bool (*)(cell_t* number);  // even?, odd?
using round_t = cell_t* (*)(cell_t* value, cell_t* scale, round_options_t how);
// append and insert share one implementation. The action layer has already
// turned /part into a count (-1: the whole value) and /dup into a count
// (1 without /dup); append_ says append mode.
using insert_t = cell_t* (*)(cell_t* series, cell_t* value, int32_t part, bool only, int32_t dup,
                             bool append_);
using change_t = cell_t* (*)(cell_t* series, cell_t* value, int32_t part, bool only, int32_t dup);
// copy into result (a cell the caller provides; may be value itself).
using copy_t = cell_t* (*)(cell_t* value, cell_t* result, cell_t* part, bool deep, cell_t* types);
using find_t = cell_t* (*)(cell_t* series, cell_t* value, const find_options_t& how);
using select_t = cell_t* (*)(cell_t* series, cell_t* value, const select_options_t& how);
// -1 stands for none.
using length_t = int32_t (*)(cell_t* series);
using move_t = cell_t* (*)(cell_t* origin, cell_t* target, cell_t* part);
// index: the index argument reduced to an integer (integer! and char! give
// their value, true 1, false 2, anything else 0); index_cell as given.
using pick_t = cell_t* (*)(cell_t* series, int32_t index, cell_t* index_cell);
using poke_t = cell_t* (*)(cell_t* series, int32_t index, cell_t* index_cell, cell_t* value);
using put_t = cell_t* (*)(cell_t* series, cell_t* key, cell_t* value, bool case_);
using remove_t = cell_t* (*)(cell_t* series, cell_t* part, cell_t* key);
using reverse_t = cell_t* (*)(cell_t* series, cell_t* part, cell_t* skip);
using sort_t = cell_t* (*)(cell_t* series, bool case_, cell_t* skip, cell_t* comparator,
                           cell_t* part, bool all, bool reverse, bool stable);
using swap_t = cell_t* (*)(cell_t* series1, cell_t* series2);
using take_t = cell_t* (*)(cell_t* series, cell_t* part, bool deep, bool last);
using trim_t = cell_t* (*)(cell_t* series, bool head, bool tail, bool auto_, bool lines, bool all,
                           cell_t* with);
using modify_t = cell_t* (*)(cell_t* target, cell_t* field, cell_t* value, bool case_);
using open_t = cell_t* (*)(cell_t* port, bool new_, bool read, bool write, bool seek,
                           cell_t* allow);
using read_t = cell_t* (*)(cell_t* source, cell_t* part, cell_t* seek, bool binary, bool lines,
                           bool info, cell_t* as);
using rename_t = cell_t* (*)(cell_t* from, cell_t* to);
using write_t = cell_t* (*)(cell_t* destination, cell_t* data, bool binary, bool lines, bool info,
                            bool append_, cell_t* part, cell_t* seek, cell_t* allow, cell_t* as);

}  // namespace action_fn

// The signature of action number N, for code that dispatches generically.
template <int N> struct action_signature;
#define ZUV_SIGNATURE(n, type)                                                                     \
    template <> struct action_signature<n> { using fn = action_fn::type; };
ZUV_SIGNATURE(1, make_t)
ZUV_SIGNATURE(2, random_t)
ZUV_SIGNATURE(3, reflect_t)
ZUV_SIGNATURE(4, to_t)
ZUV_SIGNATURE(5, form_t)
ZUV_SIGNATURE(6, mold_t)
ZUV_SIGNATURE(7, eval_path_t)
ZUV_SIGNATURE(9, compare_t)
ZUV_SIGNATURE(10, frame_t)
ZUV_SIGNATURE(11, frame_t)
ZUV_SIGNATURE(12, frame_t)
ZUV_SIGNATURE(13, frame_t)
ZUV_SIGNATURE(14, unary_t)
ZUV_SIGNATURE(15, frame_t)
ZUV_SIGNATURE(16, frame_t)
ZUV_SIGNATURE(17, round_t)
ZUV_SIGNATURE(18, frame_t)
ZUV_SIGNATURE(19, predicate_t)
ZUV_SIGNATURE(20, predicate_t)
ZUV_SIGNATURE(21, frame_t)
ZUV_SIGNATURE(22, unary_t)
ZUV_SIGNATURE(23, frame_t)
ZUV_SIGNATURE(24, frame_t)
ZUV_SIGNATURE(25, insert_t)
ZUV_SIGNATURE(26, frame_t)
ZUV_SIGNATURE(27, frame_t)
ZUV_SIGNATURE(28, change_t)
ZUV_SIGNATURE(29, unary_t)
ZUV_SIGNATURE(30, copy_t)
ZUV_SIGNATURE(31, find_t)
ZUV_SIGNATURE(32, frame_t)
ZUV_SIGNATURE(33, frame_t)
ZUV_SIGNATURE(34, frame_t)
ZUV_SIGNATURE(35, insert_t)
ZUV_SIGNATURE(36, length_t)
ZUV_SIGNATURE(37, move_t)
ZUV_SIGNATURE(38, frame_t)
ZUV_SIGNATURE(39, pick_t)
ZUV_SIGNATURE(40, poke_t)
ZUV_SIGNATURE(41, put_t)
ZUV_SIGNATURE(42, remove_t)
ZUV_SIGNATURE(43, reverse_t)
ZUV_SIGNATURE(44, select_t)
ZUV_SIGNATURE(45, sort_t)
ZUV_SIGNATURE(46, frame_t)
ZUV_SIGNATURE(47, swap_t)
ZUV_SIGNATURE(48, frame_t)
ZUV_SIGNATURE(49, frame_t)
ZUV_SIGNATURE(50, take_t)
ZUV_SIGNATURE(51, trim_t)
ZUV_SIGNATURE(52, unary_t)
ZUV_SIGNATURE(53, unary_t)
ZUV_SIGNATURE(54, unary_t)
ZUV_SIGNATURE(55, modify_t)
ZUV_SIGNATURE(56, open_t)
ZUV_SIGNATURE(57, unary_t)
ZUV_SIGNATURE(58, unary_t)
ZUV_SIGNATURE(59, read_t)
ZUV_SIGNATURE(60, rename_t)
ZUV_SIGNATURE(61, unary_t)
ZUV_SIGNATURE(62, write_t)
#undef ZUV_SIGNATURE

// Stores an implementation in a registration record, checking at compile
// time that it has its action's signature.
template <int N> inline action_entry_t own(typename action_signature<N>::fn implementation) {
    return reinterpret_cast<action_entry_t>(implementation);
}

}  // namespace zuv

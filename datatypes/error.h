// error!: every failure inside the language.
//
// An error is an object (the object! cell layout: word 1 the context node,
// word 2 the class id, word 3 the change record, 0 here) whose context is a
// copy of the standard error prototype, with ten fields that the runtime
// reads by position (FIELD_*): code, type, id, three arguments, near, where,
// stack and files.
//
// The catalog names every error: an object whose ten words are the
// categories (throw note syntax script math access reserved1 reserved2 user
// internal), each category an object whose words are code, type (the
// category's title) and then its ids, each id's value its message template:
// a string, or a block whose strings print as they stand and whose words and
// get-words stand for the error's fields. An error's code is category index
// x 100 + the id's position among the category's ids; runtime/errors.def
// lists the ids in that order, so err ids and codes agree with the catalog.
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "runtime/cell.h"
#include "runtime/fire.h"

namespace zuv::error {

enum field_index : int32_t {
    FIELD_CODE,
    FIELD_TYPE,
    FIELD_ID,
    FIELD_ARG1,
    FIELD_ARG2,
    FIELD_ARG3,
    FIELD_NEAR,
    FIELD_WHERE,
    FIELD_STACK,
    FIELD_FILES,
    FIELD_COUNT
};
constexpr int32_t CATEGORY_COUNT = 10;
// /part limits of the text form: arguments, and the Near and Files lines.
constexpr int32_t ARG_LIMIT = 80;
constexpr int32_t NEAR_LIMIT = 40;

// Start-up: the catalog and the standard error prototype, in the root block.
// Needs the predefined words.
void init_catalog();
// Registers error! (parent object!).
void init();
// Start-up, once the stacks exist: makes the no-memory error that a raise
// uses when there is no room to make one, and keeps it in the root block.
void reserve();
// That error pushed on the argument stack, its arguments, near, where and
// stack fields cleared (near set as make sets it); nullptr before reserve.
// Every raise with no room shares the one value.
cell_t* reserved_no_memory();
// Forgets the catalog and prototype, as a memory manager started again from
// nothing (tests of single modules do) no longer holds them.
void forget();

// The catalog object, a category object (nullptr before init_catalog), and
// the prototype.
cell_t* catalog();
cell_t* category(int32_t index);
cell_t* prototype();

// The cell that make copies into near: the interpreter points it at its
// current-position cell; nullptr leaves near none.
extern const cell_t* position;
// Binds-and-evaluates a set-word spec: the evaluator plugs itself in here.
// Until then a set-word spec is read as set-words each followed by a literal
// value (a lit-word standing for its word).
extern void (*evaluate)(cell_t* block);
// The trace level of text forms and captured traces: system/state/stack-trace
// when that is a positive integer, else 0 (no Stack line). Read at each use,
// since a script may change it at any time.
int32_t stack_trace_level();

// A field of an error (or of any object with those fields).
cell_t* field(const cell_t* error, int32_t index);
inline int32_t stack_field() { return FIELD_STACK; }

// A new error on the argument stack (the category and id of a catalog id;
// absent arguments leave the fields none).
cell_t* create(err id, const cell_t* arg1 = nullptr, const cell_t* arg2 = nullptr,
               const cell_t* arg3 = nullptr);

// The err id named by an error's code; err::invalid_error when the code
// names no catalog id.
err id_of(const cell_t* error);
// Stores value in where while where is none.
void set_where(cell_t* error, const cell_t* value);
// The n-th word-like entry of the spec of the current call's function, as a
// word; <anon> when there is none.
cell_t get_call_argument(int32_t n);
// Turns an in-flight error's integer stack field into its call trace.
void capture_stack(cell_t* value);
// Prints the text form and a newline on standard output.
void print(cell_t* error);

// Actions.
cell_t* make(cell_t* proto, cell_t* spec, int32_t type);
int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
cell_t* eval_path(cell_t* parent, cell_t* element, cell_t* value, cell_t* path, cell_t* gparent,
                  cell_t* p_item, int32_t index, bool case_, bool get, bool tail, bool evt);
int32_t compare(cell_t* value1, cell_t* value2, int32_t op);

}  // namespace zuv::error

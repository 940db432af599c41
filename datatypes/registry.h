// The datatype registry and the action matrix.
//
// Every datatype id owns one row of the type-action table: one entry per
// action number, the typed implementation of that action for that type, or
// nullptr when the type does not support it. Types inherit entries from one
// parent; inheritance is resolved once, when a type registers (the parent's
// row is copied slot by slot where the record says INHERIT), so dispatch is
// one indexed load and one indirect call and never walks a parent chain.
//
// Rows are written only by registration, parent first: at start-up in the
// one order of datatype::registration_order (registry.cpp), and event! late,
// by the library's top level (register_late); afterwards they are read-only.
//
// How a datatype module registers (in its init(), plugged into its slot of
// the order table in registry.cpp):
//
//     void integer::init() {
//         datatype::record_t r(TYPE_integer, 0, "integer!");
//         r.own<ACT_make>(make);
//         r.own<ACT_random>(random);
//         ...
//         r.inherit({ACT_add, ACT_subtract});  // the parent's entries
//         datatype::register_type(datatype::RECORD_COUNT, r);
//     }
//
// An entry left nullptr is unsupported; one marked INHERIT (inherit,
// inherit_range) takes the parent's.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "datatypes/action_types.h"
#include "runtime/cell.h"

namespace zuv {

// One row of 256 entries per id (0..TYPE_SLOTS - 1); only the first
// ACTION_COUNT entries of a row are used. Index: (type << 8) + action - 1.
constexpr int ACTION_ROW = 256;
extern action_entry_t type_action_table[TYPE_SLOTS * ACTION_ROW];

// Per id, the compare the operators may call with no frame of their own
// (nullptr: every comparison of the type is the comparison native's call).
// Such an entry answers as the type's compare entry does for the seven
// operator codes and any second value, except that it never raises, never
// allocates and runs no code: where the compare entry would, it answers
// cmp::ASK_CALL and the native's call answers instead, with its frame.
// A type whose compare entry is inherited inherits this one too.
extern action_fn::compare_t quiet_compare_table[TYPE_SLOTS];

namespace datatype {

// Words in a registration record: id, parent, name and the ACTION_COUNT entries.
constexpr int32_t RECORD_COUNT = 3 + ACTION_COUNT;

// The "take the parent's entry" mark (all bits set).
inline const action_entry_t INHERIT = reinterpret_cast<action_entry_t>(~uintptr_t{0});

struct record_t {
    int32_t id;
    int32_t parent;  // 0: none
    const char* name;  // with the final "!"
    action_entry_t entries[ACTION_COUNT];  // index action - 1
    action_fn::compare_t quiet_compare = nullptr;  // see quiet_compare_table

    record_t(int32_t id_, int32_t parent_, const char* name_)
        : id(id_), parent(parent_), name(name_), entries{} {}

    template <int N> void own(typename action_signature<N>::fn implementation) {
        entries[N - 1] = zuv::own<N>(implementation);
    }
    void inherit(std::initializer_list<int> actions) {
        for (int a : actions) entries[a - 1] = INHERIT;
    }
    // Inclusive range of action numbers, as the registration table writes them (e.g. 25-44).
    void inherit_range(int first, int last) {
        for (int a = first; a <= last; a++) entries[a - 1] = INHERIT;
    }
};

struct name_entry_t {
    const char* name;  // "integer!"
    int32_t length;  // without the "!": 7
    cell_t word;  // the word! of the full name in the global context; header 0 until symbols exist
};

extern name_entry_t name_table[TYPE_SLOTS];
extern int32_t top_id;

// Registers one type. A count other than RECORD_COUNT prints the datatype
// error and ends the process (status 0); the name has already been stored.
void register_type(int32_t count, const record_t& record);

// Step "datatype tables": empties the name table and the matrix.
void init_tables();
// Step "datatype registrations": every type of the registration order whose
// module has landed, parents first; an id without module gets its name and
// an empty row.
void register_all();
// The types registered after start-up (event!), by the library's top level.
void register_late();
// Makes the word of every registered id (once the global context exists).
void make_words();

// The registration order, for tests and tools: count entries of {id, parent, init}.
struct order_entry_t {
    uint8_t id;
    uint8_t parent;
    void (*init)();  // nullptr: the type's module has not landed
};
const order_entry_t* registration_order(int* count);

inline const char* name_of(int32_t id) { return name_table[id].name; }
inline int32_t name_length(int32_t id) { return name_table[id].length; }

}  // namespace datatype
}  // namespace zuv

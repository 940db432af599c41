// Word datatypes: word!, set-word!, lit-word!, get-word!, refinement!.
//
// The five kinds share one cell and one implementation and differ only in
// their mold (a, a:, 'a, :a, /a) and in what the evaluator does with them.
// The cell: word 1 the node of the context the word is bound to (0:
// unbound), word 2 the symbol id (the spelling the word was written with),
// word 3 the slot index in that context, -1 when not known yet (or for
// `self`). issue! (datatypes/issue.h) uses the same cell.
//
// Equality under the ordinary comparison codes is by canonical symbol id:
// one integer comparison, whatever the case of the spelling.
#pragma once

#include <cstdint>
#include <string>

#include "datatypes/action_types.h"
#include "datatypes/context.h"
#include "runtime/cell.h"

namespace zuv::word {

inline bool any_word_q(int32_t type) { return type >= TYPE_word && type <= TYPE_issue; }
inline int32_t symbol_of(const cell_t* word) { return static_cast<int32_t>(word->data2); }
inline int32_t index_of(const cell_t* word) { return static_cast<int32_t>(word->data3); }

// Writes a word in place (bound to ctx at index; ctx 0 for unbound), with the
// given kind as type.
inline cell_t* make_raw(cell_t* cell, uint8_t type, node_t ctx, int32_t symbol, int32_t index) {
    cell::begin(cell);
    cell->data1 = ctx;
    cell->data2 = static_cast<uint32_t>(symbol);
    cell->data3 = static_cast<uint32_t>(index);
    cell::set_type(cell, type);
    return cell;
}

// --- making words --------------------------------------------------------------
// A word bound in the global context; while booting a copy is also kept in
// the root block, so that start-up words survive collections.
// Whether the word of the symbol, as a word of the kind, molds as text that
// the lexer reads back as that word (=: does not load, '= does).
bool molds_loadably_q(int32_t symbol, uint8_t type);
cell_t load(const char* text);
cell_t make_global(int32_t symbol);
cell_t* make_at(int32_t symbol, cell_t* cell);
cell_t* make_in(int32_t symbol, cell_t* block);
cell_t* load_in(const char* text, cell_t* block);
cell_t* push_symbol(int32_t symbol);
// The UTF-8 spelling of a string!'s text from its head or of a char!.
// Raises invalid-chars for a surrogate: text has no form for it, and its
// stand-in would spell another word.
std::string spelling_of(const cell_t* text);
cell_t* push(const cell_t* word);
cell_t* at(node_t ctx, int32_t index);
// The context's word for the symbol (case-sensitive), else the global
// context's word for it (added when absent).
cell_t in_context_or_global(node_t ctx, int32_t symbol);

// --- reading and writing values ------------------------------------------------
cell_t* get(const cell_t* word);  // pushes; unset raises no-value
cell_t* get_any(const cell_t* word);  // pushes, no check
inline cell_t* push_value(const cell_t* word) { return get_any(word); }
void set_star();  // word at the arguments base, value after it
cell_t* get_local(node_t ctx, int32_t index);

// --- actions -------------------------------------------------------------------
cell_t* make(cell_t* proto, cell_t* spec, int32_t type);
int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
int32_t compare(cell_t* value1, cell_t* value2, int32_t op);
// compare as a quiet compare (datatypes/registry.h).
int32_t compare_quiet(cell_t* value1, cell_t* value2, int32_t op);
void index_q();

// The per-kind services: the word services with the kind's type set after.
cell_t load_kind(const char* text, uint8_t type);
cell_t* load_in_kind(const char* text, cell_t* block, uint8_t type);
cell_t* push_kind(const cell_t* word, uint8_t type);
// set stores the second argument of the current call and makes it the result;
// get makes the word's value the result.
void set_kind();
void get_kind();

void init();  // registers word!

}  // namespace zuv::word

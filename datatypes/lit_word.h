// lit-word! values: the word cell (datatypes/word.h) with its own mold ('a).
#pragma once

#include "datatypes/action_types.h"
#include "datatypes/word.h"

namespace zuv::lit_word {

inline cell_t load(const char* text) { return word::load_kind(text, TYPE_lit_word); }
inline cell_t* load_in(const char* text, cell_t* block) {
    return word::load_in_kind(text, block, TYPE_lit_word);
}
inline cell_t* push(const cell_t* w) { return word::push_kind(w, TYPE_lit_word); }
inline void set() { word::set_kind(); }
inline void get() { word::get_kind(); }

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);

void init();

}  // namespace zuv::lit_word

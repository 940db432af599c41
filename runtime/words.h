// The runtime's predefined words.
//
// Runtime code never looks a word up by its text while it runs. Every word
// it compares against (dialect keywords, accessor names, event names, the
// change-notification words, the error categories) is made into a symbol once
// at start-up, in the order of runtime/words.def, and kept in one table of
// symbol ids indexed by words::id. Comparing a word met at run time with a
// predefined name is then one integer comparison (of canonical ids where case
// variants must match).
//
// Words listed as GLOBAL are also added to the global context (unset when
// new), so that a word cell bound there can be made for them at any time.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zuv::words {

enum class id : uint16_t {
#define ZUV_WORD(ident, text, kind) ident,
#include "runtime/words.def"
#undef ZUV_WORD
};

enum class kind : uint8_t { SYMBOL, GLOBAL, REFINEMENT, ISSUE };

constexpr int32_t COUNT = 0
#define ZUV_WORD(ident, text, kind) +1
#include "runtime/words.def"
#undef ZUV_WORD
    ;

// Symbol id per predefined word; 0 until init has run.
extern uint32_t symbols[COUNT];

inline uint32_t symbol_of(id w) { return symbols[static_cast<uint16_t>(w)]; }
const char* text_of(id w);
kind kind_of(id w);

// Makes every symbol (and the global words), in list order. Needs the
// symbol table and the global context.
void init();

// A word! cell for a predefined word, bound in the global context when the
// word is GLOBAL, unbound otherwise.
cell_t word(id w);

}  // namespace zuv::words

#include "view/backends/terminal/event_types.h"

#include "datatypes/none.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/fire.h"

namespace zuv::tui {

namespace {

constexpr const char* texts[EVENT_TYPE_COUNT + 1] = {
    nullptr,
#define ZUV_EVENT_TYPE(code, ident, text) text,
#include "view/backends/terminal/event_types.def"
#undef ZUV_EVENT_TYPE
};

constexpr bool numbered_in_order() {
    int32_t expected = 1;
#define ZUV_EVENT_TYPE(code, ident, text)                                                          \
    if (code != expected++) return false;
#include "view/backends/terminal/event_types.def"
#undef ZUV_EVENT_TYPE
    return true;
}
static_assert(numbered_in_order(), "event type codes run from 1 without gaps");

}  // namespace

const char* event_type_text(int32_t code) {
    return code >= 1 && code <= EVENT_TYPE_COUNT ? texts[code] : nullptr;
}

cell_t* push_event_type_word(int32_t code) {
    const char* text = event_type_text(code);
    if (!text) return none::push();
    return word::push_symbol(symbol::make(text));
}

int32_t event_type_code(const cell_t* word) {
    // Making a symbol may move the buffer the word lies in.
    cell_t w = *word;
    if (word::any_word_q(type_of(&w))) {
        int32_t sym = symbol::resolve(word::symbol_of(&w));
        // Types are few and looked up only when an event is made or its type
        // set, so the symbols are made here rather than kept per start-up.
        for (int32_t code = 1; code <= EVENT_TYPE_COUNT; code++)
            if (symbol::resolve(symbol::make(texts[code])) == sym) return code;
    }
    // The error names the word plainly, whatever kind of word was given.
    if (word::any_word_q(type_of(&w))) cell::set_type(&w, TYPE_word);
    fire(err::not_event_type, &w);
}

}  // namespace zuv::tui

#include "runtime/words.h"

#include "datatypes/context.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"

namespace zuv::words {

uint32_t symbols[COUNT];

namespace {

struct entry_t {
    const char* text;
    kind k;
};

constexpr entry_t table[] = {
#define ZUV_WORD(ident, text, kind_) {text, kind::kind_},
#include "runtime/words.def"
#undef ZUV_WORD
};

}  // namespace

const char* text_of(id w) { return table[static_cast<uint16_t>(w)].text; }
kind kind_of(id w) { return table[static_cast<uint16_t>(w)].k; }

void init() {
    for (int32_t i = 0; i < COUNT; i++) {
        int32_t s = symbol::make(table[i].text);
        symbols[i] = static_cast<uint32_t>(s);
        if (table[i].k == kind::GLOBAL) {
            cell_t w;
            _context::add_global(s, false, false, &w);
        }
    }
}

cell_t word(id w) {
    int32_t s = static_cast<int32_t>(symbol_of(w));
    cell_t c;
    if (kind_of(w) == kind::GLOBAL && _context::global_node != 0) {
        _context::add_global(s, false, false, &c);
        return c;
    }
    word::make_raw(&c, TYPE_word, 0, s, -1);
    return c;
}

}  // namespace zuv::words

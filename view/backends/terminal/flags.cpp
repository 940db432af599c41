#include "view/backends/terminal/flags.h"

#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/stack.h"

namespace zuv::tui {

namespace {
inline int32_t canonical(const cell_t* word) { return symbol::resolve(word::symbol_of(word)); }
}  // namespace

bool find_flag_q(const cell_t* flags, const cell_t* flag) {
    if (!word::any_word_q(type_of(flag))) return false;
    int32_t sym = canonical(flag);
    if (type_of(flags) == TYPE_word) return canonical(flags) == sym;
    if (type_of(flags) != TYPE_block) return false;
    cell_t b = *flags;
    const cell_t* at = block::rs_head(&b);
    const cell_t* end = block::rs_tail(&b);
    for (; at < end; at++) {
        uint8_t t = type_of(at);
        if ((t == TYPE_word || t == TYPE_lit_word) && canonical(at) == sym) return true;
    }
    return false;
}

namespace routines {
void find_flag_q() {
    cell_t* a = stack::arguments;
    bool yes = tui::find_flag_q(a, a + 1);
    logic::make_at(a, yes);
}
}  // namespace routines

}  // namespace zuv::tui

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

namespace {
struct face_flag_word_t {
    const char* text;
    uint32_t bit;
};
constexpr face_flag_word_t face_flag_words[] = {
    {"all-over", face_flag::ALL_OVER},     {"focusable", face_flag::FOCUSABLE},
    {"tri-state", face_flag::TRI_STATE},   {"scrollable", face_flag::SCROLLABLE},
    {"password", face_flag::PASSWORD},     {"no-sync", face_flag::NO_SYNC},
    {"fullscreen", face_flag::FULLSCREEN}, {"popup", face_flag::POPUP},
    {"modal", face_flag::MODAL},           {"resize", face_flag::RESIZE},
    {"no-buttons", face_flag::NO_BUTTONS}, {"no-max", face_flag::NO_MAX},
    {"no-min", face_flag::NO_MIN},         {"no-title", face_flag::NO_TITLE},
    {"no-border", face_flag::NO_BORDER},
};

uint32_t word_bit(const cell_t* word) {
    int32_t sym = canonical(word);
    for (const auto& f : face_flag_words)
        if (symbol::resolve(symbol::make(f.text)) == sym) return f.bit;
    return 0;
}
}  // namespace

uint32_t face_flag_bits(const cell_t* flags) {
    if (type_of(flags) == TYPE_word || type_of(flags) == TYPE_lit_word) return word_bit(flags);
    if (type_of(flags) != TYPE_block) return 0;
    cell_t b = *flags;
    uint32_t bits = 0;
    for (const cell_t *at = block::rs_head(&b), *end = block::rs_tail(&b); at < end; at++)
        if (type_of(at) == TYPE_word || type_of(at) == TYPE_lit_word) bits |= word_bit(at);
    return bits;
}

namespace routines {
void find_flag_q() {
    cell_t* a = stack::arguments;
    bool yes = tui::find_flag_q(a, a + 1);
    logic::make_at(a, yes);
}
}  // namespace routines

}  // namespace zuv::tui

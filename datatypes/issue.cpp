#include "datatypes/issue.h"

#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace zuv::issue {

namespace {

cell_t* make_symbol_at(cell_t* cell, int32_t symbol) {
    return word::make_raw(cell, TYPE_issue, _context::global_node, symbol, -1);
}

}  // namespace

cell_t* make_at(cell_t* cell, const char* text) { return make_symbol_at(cell, symbol::make(text)); }

cell_t* load(const char* text) {
    cell_t w;
    make_at(&w, text);
    if (block::booting_q && block::root.data2 != 0) return block::rs_append(&block::root, &w);
    return stack::push(&w);
}

cell_t* push(const cell_t* word) {
    cell_t* c = stack::push(word);
    cell::set_type(c, TYPE_issue);
    return c;
}

cell_t* make(cell_t* proto, cell_t* spec, int32_t type) {
    uint8_t t = type_of(spec);
    if (word::any_word_q(t)) {
        spec->header = static_cast<uint32_t>(type);  // the binding stays, the flags go
        return spec;
    }
    if (t == TYPE_char_ || t == TYPE_string) {
        // Any text is taken unchanged, without checking its characters
        // (but a surrogate, which no spelling holds).
        std::string text = word::spelling_of(spec);
        int32_t symbol = symbol::make_alt(text.data(), static_cast<int32_t>(text.size()));
        make_symbol_at(proto, symbol);
        cell::set_type(proto, static_cast<uint32_t>(type));
        return proto;
    }
    cell_t* r = word::make(proto, spec, type);
    cell::set_type(r, static_cast<uint32_t>(type));
    return r;
}

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    string::concatenate_literal(buffer, "#");
    return word::form(value, buffer, how.part, how.limit - 1);
}

int32_t compare(cell_t* value1, cell_t* value2, int32_t op) {
    if (type_of(value2) != TYPE_issue) return -2;
    return word::compare(value1, value2, op);
}

namespace {

int32_t compare_quiet(cell_t* value1, cell_t* value2, int32_t op) {
    if (type_of(value2) != TYPE_issue) return -2;
    return word::compare_quiet(value1, value2, op);
}

}  // namespace

void init() {
    datatype::record_t r(TYPE_issue, TYPE_word, "issue!");
    r.own<ACT_make>(make);
    r.own<ACT_to>(make);
    r.inherit({ACT_form});
    r.own<ACT_mold>(mold);
    r.own<ACT_compare>(compare);
    r.quiet_compare = compare_quiet;
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::issue

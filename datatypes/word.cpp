#include "datatypes/word.h"

#include <cstring>
#include <string>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "lexer/lexer.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace zuv::word {

namespace {

// Start-up words are kept alive by a copy in the root block.
void keep_if_booting(const cell_t* w) {
    if (block::booting_q && block::root.data2 != 0) block::rs_append(&block::root, w);
}

cell_t global_word(int32_t symbol) {
    cell_t w;
    return *_context::add_global(symbol, true, false, &w);
}

// What a text reads as when it is one word of some kind: its type and the
// bare name, or type 0. Stands in for the lexer's one-value scan, which
// needs lexer::scan_one_value_last; it accepts only word-shaped text.
struct scanned_t {
    uint8_t type;
    std::string name;
};

bool word_char_q(unsigned char c) {
    if (c <= ' ') return false;
    return std::strchr("[](){}\"';:/@#$%^,\\", c) == nullptr || c >= 0x80;
}

scanned_t scan_word(const std::string& text) {
    scanned_t r{0, {}};
    if (text.empty()) return r;
    size_t start = 0;
    size_t end = text.size();
    uint8_t type = TYPE_word;
    switch (text[0]) {
    case '\'': type = TYPE_lit_word, start = 1; break;
    case ':': type = TYPE_get_word, start = 1; break;
    case '/': type = TYPE_refinement, start = 1; break;
    case '#': type = TYPE_issue, start = 1; break;
    default:
        if (text.size() > 1 && text[end - 1] == ':') type = TYPE_set_word, end--;
        break;
    }
    if (start >= end) return r;
    unsigned char first = static_cast<unsigned char>(text[start]);
    if (type != TYPE_issue) {
        if (first >= '0' && first <= '9') return r;
        if ((first == '+' || first == '-' || first == '.') && end - start > 1 &&
            text[start + 1] >= '0' && text[start + 1] <= '9')
            return r;
    }
    for (size_t i = start; i < end; i++)
        if (!word_char_q(static_cast<unsigned char>(text[i]))) return r;
    r.type = type;
    r.name = text.substr(start, end - start);
    return r;
}

[[noreturn]] void bad_to(int32_t type, const cell_t* value) {
    cell_t target;
    datatype::make_at(&target, type);
    fire(err::bad_to_arg, &target, value);
}

std::string name_of(int32_t symbol) {
    return std::string(symbol::get_utf8(symbol), static_cast<size_t>(symbol::utf8_length(symbol)));
}

// Whether the lexer reads the whole text as one token of the kind: the
// shape test above lets through what the lexer splits (a blank code point
// such as U+2028, a "<" after the first character) or refuses, and a word
// that no source text gives back would mold as text that does not load.
bool lexes_as_q(const std::string& text, uint8_t type) {
    lexer::token_list_t t = lexer::tokens(reinterpret_cast<const uint8_t*>(text.data()),
                                          static_cast<int32_t>(text.size()));
    return t.tokens.size() == 1 && t.kind == type && t.tokens[0].start == 0 &&
           t.tokens[0].end >= static_cast<int32_t>(text.size()) - (type == TYPE_set_word ? 1 : 0);
}

}  // namespace

bool molds_loadably_q(int32_t symbol, uint8_t type) {
    const char* name = symbol::get_utf8(symbol);
    int32_t n = symbol::utf8_length(symbol);
    auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    bool plain = n > 0 && letter(name[0]);
    for (int32_t i = 1; i < n && plain; i++)
        plain = letter(name[i]) || (name[i] >= '0' && name[i] <= '9') ||
                std::strchr("-_?!*", name[i]) != nullptr;
    if (plain) return true;
    std::string text(name, static_cast<size_t>(n));
    switch (type) {
    case TYPE_set_word: text += ':'; break;
    case TYPE_lit_word: text.insert(0, 1, '\''); break;
    case TYPE_get_word: text.insert(0, 1, ':'); break;
    case TYPE_refinement: text.insert(0, 1, '/'); break;
    default: break;
    }
    return lexes_as_q(text, type);
}

namespace {

// The word a text reads as, bound in the global context.
cell_t from_text(const std::string& text, const cell_t* spec) {
    scanned_t s = scan_word(text);
    if (s.type == 0 || !lexes_as_q(text, s.type)) fire(err::invalid_chars, spec);
    cell_t w = global_word(symbol::make_alt(s.name.data(), static_cast<int32_t>(s.name.size())));
    if (s.type == TYPE_issue) w.data3 = static_cast<uint32_t>(-1);
    return w;
}

}  // namespace

// --- making words ----------------------------------------------------------------

std::string spelling_of(const cell_t* text) {
    if (type_of(text) == TYPE_char_) {
        if (unicode::surrogate_q(text->data2)) fire(err::invalid_chars, text);
        uint8_t bytes[4];
        int n = unicode::cp_to_utf8(text->data2, bytes);
        return std::string(reinterpret_cast<char*>(bytes), static_cast<size_t>(n));
    }
    if (unicode::holds_surrogate_q(text)) fire(err::invalid_chars, text);
    return unicode::to_utf8(text);
}

cell_t make_global(int32_t symbol) {
    cell_t w;
    _context::add_global(symbol, false, true, &w);
    keep_if_booting(&w);
    return w;
}

cell_t load(const char* text) {
    cell_t w;
    _context::add_global(symbol::make(text), true, true, &w);
    keep_if_booting(&w);
    return w;
}

cell_t* make_at(int32_t symbol, cell_t* cell) {
    cell_t w = global_word(symbol);
    *cell = w;
    return cell;
}

cell_t* make_in(int32_t symbol, cell_t* block) {
    cell_t w = global_word(symbol);
    return block::rs_append(block, &w);
}

cell_t* load_in(const char* text, cell_t* block) { return make_in(symbol::make(text), block); }

cell_t* push_symbol(int32_t symbol) {
    cell_t w = global_word(symbol);
    return stack::push(&w);
}

cell_t* push(const cell_t* word) { return stack::push(word); }
cell_t* at(node_t ctx, int32_t index) { return _context::get_symbol_word(ctx, index); }

cell_t in_context_or_global(node_t ctx, int32_t symbol) {
    if (ctx != 0) {
        int32_t index = _context::find_word(ctx, symbol, false);
        if (index >= 0) return _context::field_word(ctx, index);
    }
    cell_t w = make_global(symbol);
    return *at(_context::global_node, index_of(&w));
}

// --- reading and writing values --------------------------------------------------

cell_t* get(const cell_t* word) {
    cell_t* value = _context::get(word);
    if (type_of(value) == TYPE_unset) fire(err::no_value, word);
    return stack::push(value);
}

cell_t* get_any(const cell_t* word) { return stack::push(_context::get(word)); }

void set_star() {
    cell_t* w = stack::arguments;
    cell_t* value = w + 1;
    if (type_of(value) == TYPE_unset) fire(err::need_value, w);
    _context::set(w, value);
    copy_cell(value, stack::arguments);
}

namespace {

cell_t* local_slot(node_t ctx, int32_t index) {
    cell_t* slot = _context::value_at(ctx, index);
    if (slot == nullptr) fire(err::not_defined, at(ctx, index));
    return slot;
}

}  // namespace

cell_t* get_local(node_t ctx, int32_t index) { return stack::push(local_slot(ctx, index)); }

// --- actions ---------------------------------------------------------------------

cell_t* make(cell_t* proto, cell_t* spec, int32_t type) {
    cell_t result;
    switch (type_of(spec)) {
    case TYPE_datatype: result = datatype::name_table[spec->data1].word; break;
    case TYPE_logic: result = global_word(symbol::make(spec->data1 == 1 ? "true" : "false")); break;
    case TYPE_string:
    case TYPE_char_: result = from_text(spelling_of(spec), spec); break;
    case TYPE_word:
    case TYPE_set_word:
    case TYPE_lit_word:
    case TYPE_get_word: result = *spec; break;
    case TYPE_refinement:
    case TYPE_issue: {
        std::string name = name_of(symbol_of(spec));
        scanned_t s = scan_word(name);
        if (s.type == 0 || s.type == TYPE_refinement || s.type == TYPE_issue) bad_to(type, spec);
        int32_t sym = symbol::make_alt(s.name.data(), static_cast<int32_t>(s.name.size()));
        if (_context::find_word(_context::global_node, sym, true) >= 0) result = global_word(sym);
        else make_raw(&result, TYPE_word, 0, sym, -1);
        break;
    }
    default: bad_to(type, spec);
    }
    cell::set_type(&result, static_cast<uint32_t>(type));
    *proto = result;
    return proto;
}

int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit) {
    // A string! over the symbol's cached name, made apart from the symbol
    // cell: the symbol itself is never changed, not even for the call.
    node_t name = symbol::cache_string(symbol::cell_of(symbol_of(value)));
    cell_t view{TYPE_string, 0, name, 0};
    return string::form(&view, buffer, part, limit);
}

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    return form(value, buffer, how.part, how.limit);
}

int32_t compare(cell_t* value1, cell_t* value2, int32_t op) {
    uint8_t ta = type_of(value1);
    uint8_t tb = type_of(value2);
    if (!any_word_q(tb)) return -2;
    if (tb == TYPE_issue && ta != TYPE_issue) return -2;
    int32_t sa = symbol_of(value1);
    int32_t sb = symbol_of(value2);
    auto word_vs_lit = [&] {
        return (ta == TYPE_word && tb == TYPE_lit_word) || (ta == TYPE_lit_word && tb == TYPE_word);
    };
    switch (op) {
    case actions::cmp::SAME:
        return (sa == sb && value1->data1 == value2->data1 && ta == tb) ? 0 : 1;
    case actions::cmp::FIND_LIT:
        if (word_vs_lit()) return sa == sb ? 0 : 1;
        return (ta == tb && sa == sb) ? 0 : 1;
    case actions::cmp::STRICT_EQUAL: return (ta == tb && sa == sb) ? 0 : 1;
    case actions::cmp::FIND_LIT_NOCASE:
        if (word_vs_lit()) return symbol::resolve(sa) == symbol::resolve(sb) ? 0 : 1;
        return (ta == tb && symbol::resolve(sa) == symbol::resolve(sb)) ? 0 : 1;
    case actions::cmp::EQUAL:
    case actions::cmp::NOT_EQUAL:
    case actions::cmp::FIND: return symbol::resolve(sa) == symbol::resolve(sb) ? 0 : 1;
    default: {
        cell_t a{TYPE_string, 0, symbol::cache_string(symbol::cell_of(sa)), 0};
        cell_t b{TYPE_string, 0, symbol::cache_string(symbol::cell_of(sb)), 0};
        return string::compare_strings(&a, &b, op, false);
    }
    }
}

int32_t compare_quiet(cell_t* value1, cell_t* value2, int32_t op) {
    // An ordering reads the names' string forms, made on first need: until
    // both are made, the call makes them.
    if (op >= actions::cmp::LESSER && op <= actions::cmp::GREATER_EQUAL &&
        any_word_q(type_of(value2)) &&
        (symbol::cell_of(symbol_of(value1))->data2 == 0 ||
         symbol::cell_of(symbol_of(value2))->data2 == 0))
        return actions::cmp::ASK_CALL;
    return compare(value1, value2, op);
}

void index_q() {
    cell_t* a = stack::arguments;
    int32_t index = index_of(a);
    if (index < 0) {
        a->header = TYPE_none;
    } else {
        a->header = TYPE_integer;
        integer::make_at(a, index + 1);
    }
}

// --- per-kind services ------------------------------------------------------------

cell_t load_kind(const char* text, uint8_t type) {
    cell_t w;
    _context::add_global(symbol::make(text), true, true, &w);
    cell::set_type(&w, type);
    keep_if_booting(&w);
    return w;
}

cell_t* load_in_kind(const char* text, cell_t* block, uint8_t type) {
    cell_t w = global_word(symbol::make(text));
    cell::set_type(&w, type);
    return block::rs_append(block, &w);
}

cell_t* push_kind(const cell_t* word, uint8_t type) {
    cell_t* c = stack::push(word);
    cell::set_type(c, type);
    return c;
}

void set_kind() {
    cell_t* w = stack::arguments;
    _context::set(w, w + 1);
    copy_cell(w + 1, w);
}

void get_kind() {
    cell_t* w = stack::arguments;
    copy_cell(_context::get(w), w);
}

void init() {
    datatype::record_t r(TYPE_word, TYPE_symbol, "word!");
    r.own<ACT_make>(make);
    r.own<ACT_to>(make);
    r.own<ACT_form>(form);
    r.own<ACT_mold>(mold);
    r.own<ACT_compare>(compare);
    r.quiet_compare = compare_quiet;
    r.own<ACT_index_q>(index_q);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::word

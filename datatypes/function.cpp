#include "datatypes/function.h"

#include <cstring>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/fire.h"
#include "runtime/library_code.h"
#include "runtime/stack.h"
#include "runtime/words.h"

namespace zuv::function {
namespace {

int32_t canonical(int32_t symbol) { return symbol::resolve(symbol); }
int32_t canonical_of(words::id w) { return canonical(static_cast<int32_t>(words::symbol_of(w))); }
bool is_word_q(const cell_t* c, words::id w) {
    return canonical(word::symbol_of(c)) == canonical_of(w);
}

bool word_like_q(uint8_t t) { return t >= TYPE_word && t <= TYPE_refinement; }
bool argument_word_q(uint8_t t) {
    return t == TYPE_word || t == TYPE_lit_word || t == TYPE_get_word;
}

int32_t emit(cell_t* buffer, const char* text, int32_t limit) {
    string::concatenate_literal(buffer, text);
    return limit - static_cast<int32_t>(std::strlen(text));
}

int32_t mold_block(node_t node, cell_t* buffer, mold_options_t how) {
    cell_t b;
    block::init_value(&b, TYPE_block, node);
    return block::mold(&b, buffer, how);
}

// A type block: each value, a word taken for its value, must name a type.
void check_type_block(const cell_t* types) {
    node_t node = types->data2;
    for (int32_t i = block::head_index(types);; i++) {
        series_buffer_t* s = alloc::buffer(node);
        if (i >= s->used() / 16) break;
        cell_t v = s->head_cell()[i];
        if (type_of(&v) == TYPE_word) {
            // An unbound word, or one whose context holds no values now, has
            // no value to name a type with.
            cell_t* slot = nullptr;
            int32_t index = word::index_of(&v);
            if (v.data1 != 0 && index >= 0) slot = _context::value_at(v.data1, index);
            v = slot ? *slot : unset_value;
        }
        uint8_t t = type_of(&v);
        if (t != TYPE_datatype && t != TYPE_typeset && t != TYPE_word) fire(err::invalid_type_spec);
    }
}

}  // namespace

int32_t code_of(const cell_t* fn) {
    const cell_t* c = more(fn, MORE_CODE);
    return type_of(c) == TYPE_integer ? integer::get(c) : 0;
}

node_t push(const cell_t* spec, const cell_t* body, node_t ctx, int32_t code, node_t object_ctx,
            uint32_t flags) {
    // Every value made here is kept on the argument stack until the function
    // cell holds it, so a collection in between keeps it alive.
    cell_t* out = stack::push_slot();
    cell::begin(out);
    cell_t* sp = stack::push(spec);
    if (block::head_index(sp) > 0) {
        int32_t length = block::abs_length(sp);
        if (block::head_index(sp) > length) block::set_head_index(sp, length);
        block::clone(sp, false, false);
        *sp = *stack::top();
        stack::pop(1);
    }
    bool has_body = body != nullptr && series::block_kind_q(type_of(body));
    cell_t* bp = stack::push(has_body ? body : &none_value);
    if (has_body && block::head_index(bp) > block::abs_length(bp))
        block::set_head_index(bp, block::abs_length(bp));

    node_t more_series = alloc::alloc_unset_cells(MORE_COUNT);
    collector::root_node keep_more(more_series);
    alloc::buffer(more_series)->tail = alloc::buffer(more_series)->head + MORE_COUNT * 16;

    bool own_context = ctx == 0;
    if (own_context) ctx = _context::make(sp, true, true, _context::KIND_FUNCTION);
    collector::root_node keep_ctx(ctx);

    out->data1 = ctx;
    out->data2 = sp->data2;
    out->data3 = more_series;
    out->header = (flags & ~HEADER_TYPE_MASK) | TYPE_function;
    *_context::get_self_value(ctx) = *out;

    cell_t body_copy = none_value;
    if (has_body) {
        block::clone(bp, true, true);
        body_copy = *stack::top();
        cell::set_type(&body_copy, TYPE_block);
        stack::pop(1);
        // A function made from library code is library code too, wherever it
        // is made (a method copied into a new object, a helper made at run time).
        if (library_code::library_q(bp->data2)) library_code::mark_library(&body_copy);
    }
    cell_t* m = alloc::buffer(more_series)->head_cell();
    m[MORE_BODY] = body_copy;
    if (code != 0) integer::make_at(&m[MORE_CODE], code);
    if (object_ctx != 0) integer::make_at(&m[MORE_OWNER], static_cast<int32_t>(object_ctx));
    if (own_context && has_body) _context::bind(&m[MORE_BODY], ctx, false);

    stack::pop(2);  // spec and body; the function stays as the last pushed cell
    return ctx;
}

uint32_t validate_spec(const cell_t* spec) {
    // Only reads the spec: a failing definition leaves the caller's block as
    // it was.
    cell_t s = *spec;
    auto fail = [&s]() { fire(err::bad_func_def, &s); };
    node_t node = s.data2;
    auto at = [node](int32_t i) -> cell_t* { return alloc::buffer(node)->head_cell() + i; };
    int32_t end = block::abs_length(&s);
    int32_t i = block::head_index(&s);
    if (i > end) i = end;
    int32_t first = i;
    uint32_t flags = 0;

    if (i < end && type_of(at(i)) == TYPE_block) {
        cell_t attributes = *at(i);
        for (int32_t j = block::head_index(&attributes); j < block::abs_length(&attributes); j++) {
            cell_t* a = block::rs_abs_at(&attributes, j);
            if (type_of(a) != TYPE_word) fail();
            if (is_word_q(a, words::id::trace)) flags |= FLAG_TRACE;
            if (is_word_q(a, words::id::no_trace)) flags |= FLAG_NO_TRACE;
        }
        i++;
    }

    bool return_seen = false, local_mode = false;
    while (i < end) {
        cell_t v = *at(i);
        uint8_t t = type_of(&v);
        auto next_type = [&](int32_t k) -> int32_t {
            return i + k < end ? type_of(at(i + k)) : -1;
        };
        if (argument_word_q(t)) {
            if (local_mode && t != TYPE_word) fail();
            if (next_type(1) == TYPE_string && next_type(2) == TYPE_block) fail();
            if (return_seen && !local_mode) fail();
            if (next_type(1) == TYPE_block) {
                cell_t types = *at(i + 1);
                check_type_block(&types);
                i++;
            }
            i++;
        } else if (t == TYPE_set_word) {
            if (return_seen || local_mode || !is_word_q(&v, words::id::return_)) fail();
            if (next_type(1) != TYPE_block) fail();
            int32_t after = next_type(2);
            if (after != -1 && after != TYPE_refinement && after != TYPE_string) fail();
            cell_t types = *at(i + 1);
            check_type_block(&types);
            return_seen = true;
            i += 2;
        } else if (t == TYPE_refinement) {
            if (is_word_q(&v, words::id::local)) {
                local_mode = true;
            } else if (local_mode || return_seen) {
                fail();
            }
            int32_t n = next_type(1);
            if (n != -1 && !word_like_q(static_cast<uint8_t>(n)) && n != TYPE_string) fail();
            i++;
        } else if (t == TYPE_string) {
            i++;
        } else {
            fail();
        }
    }

    // No name twice among the word-like values (case-insensitive).
    for (int32_t a = first; a < end; a++) {
        if (!word_like_q(type_of(at(a)))) continue;
        int32_t sa = canonical(word::symbol_of(at(a)));
        for (int32_t b = a + 1; b < end; b++) {
            if (!word_like_q(type_of(at(b)))) continue;
            if (canonical(word::symbol_of(at(b))) == sa) {
                cell_t dup = *at(b);
                fire(err::dup_vars, &dup);
            }
        }
    }
    return flags;
}

int32_t count_locals(node_t spec, int32_t start, bool must_have) {
    series_buffer_t* s = alloc::buffer(spec);
    int32_t end = s->used() / 16;
    const cell_t* c = s->head_cell();
    int32_t local = canonical_of(words::id::local);
    for (int32_t i = start < 0 ? 0 : start; i < end; i++) {
        if (type_of(&c[i]) != TYPE_refinement || canonical(word::symbol_of(&c[i])) != local)
            continue;
        int32_t n = 1;
        for (int32_t j = i + 1; j < end; j++)
            if (type_of(&c[j]) == TYPE_word) n++;
        return n;
    }
    return must_have ? -1 : 0;
}

void init_locals(int32_t n) {
    stack::push(&false_value);
    for (int32_t i = 1; i < n; i++) stack::push(&none_value);
}

uint32_t event_mask(const cell_t* fn, const int32_t* event_symbols, int32_t count, uint32_t all) {
    if (type_of(fn) != TYPE_function) return all;
    cell_t* body = more(fn, MORE_BODY);
    if (type_of(body) != TYPE_block || block::rs_tail_q(body)) return all;
    cell_t* first = block::rs_head(body);
    if (type_of(first) != TYPE_block) return all;
    uint32_t mask = 0;
    for (int32_t i = block::head_index(first); i < block::abs_length(first); ++i) {
        const cell_t* w = block::rs_abs_at(first, i);
        if (type_of(w) != TYPE_word) continue;
        int32_t symbol = symbol::resolve(word::symbol_of(w));
        for (int32_t e = 0; e < count; ++e)
            if (symbol == event_symbols[e]) mask |= 1u << e;
    }
    return mask;
}

void fill_frame(node_t ctx, int32_t given) {
    int32_t words = _context::word_count(ctx);
    for (int32_t i = given; i < words; i++) {
        bool refinement = type_of(_context::get_symbol_word(ctx, i)) == TYPE_refinement;
        stack::push(refinement ? &false_value : &none_value);
    }
}

namespace {

// Whether the known words (a block) hold a word of that name.
bool known_q(const cell_t* known, int32_t symbol) {
    int32_t s = canonical(symbol);
    for (int32_t i = 0; i < block::abs_length(known); i++) {
        const cell_t* c = block::rs_abs_at(known, i);
        if (word_like_q(type_of(c)) && canonical(word::symbol_of(c)) == s) return true;
    }
    return false;
}

void add_collected(cell_t* result, cell_t* known, const cell_t* word) {
    if (known_q(known, word::symbol_of(word))) return;
    cell_t w;
    word::make_raw(&w, TYPE_word, 0, word::symbol_of(word), -1);
    block::rs_append(result, &w);
    block::rs_append(known, &w);
}

void collect_body(node_t node, int32_t head, cell_t* result, cell_t* known) {
    if (cycles::find_q(node)) return;
    cycles::guard g(node);
    for (int32_t i = head;; i++) {
        series_buffer_t* s = alloc::buffer(node);
        int32_t end = s->used() / 16;
        if (i >= end) break;
        cell_t c = s->head_cell()[i];
        uint8_t t = type_of(&c);
        if (t == TYPE_set_word) {
            add_collected(result, known, &c);
        } else if (t == TYPE_word && i + 1 < end) {
            bool loop = is_word_q(&c, words::id::foreach) || is_word_q(&c, words::id::remove_each);
            if (!loop && !is_word_q(&c, words::id::repeat)) continue;
            cell_t n = alloc::buffer(node)->head_cell()[i + 1];
            if (type_of(&n) == TYPE_word || type_of(&n) == TYPE_set_word) {
                add_collected(result, known, &n);
            } else if (loop && type_of(&n) == TYPE_block) {
                for (int32_t j = block::head_index(&n); j < block::abs_length(&n); j++) {
                    cell_t w = *block::rs_abs_at(&n, j);
                    if (argument_word_q(type_of(&w))) add_collected(result, known, &w);
                }
            }
        } else if (t == TYPE_block || t == TYPE_paren) {
            collect_body(c.data2, block::head_index(&c), result, known);
        }
    }
}

}  // namespace

cell_t* collect_words(cell_t* spec, cell_t* body) {
    cell_t* result = block::push_only_star(8);
    block::clone(spec, false, false);
    cell_t* known = stack::top();
    int32_t extern_sym = canonical_of(words::id::extern_);
    int32_t local_sym = canonical_of(words::id::local);

    int32_t end = block::abs_length(spec);
    int32_t at_extern = -1;
    for (int32_t i = block::head_index(spec); i < end; i++) {
        const cell_t* c = block::rs_abs_at(spec, i);
        if (type_of(c) == TYPE_refinement && canonical(word::symbol_of(c)) == extern_sym) {
            at_extern = i;
            break;
        }
    }
    if (at_extern >= 0) {
        int32_t i = at_extern + 1;
        while (i < end && type_of(block::rs_abs_at(spec, i)) == TYPE_word) i++;
        const cell_t* r = i < end ? block::rs_abs_at(spec, i) : nullptr;
        if (r && type_of(r) == TYPE_refinement && canonical(word::symbol_of(r)) == local_sym) {
            for (i++; i < end; i++) {
                cell_t w = *block::rs_abs_at(spec, i);
                if (type_of(&w) == TYPE_word) block::rs_append(result, &w);
            }
        }
        block::truncate_at(spec, at_extern);
    }
    for (int32_t i = 0; i < block::abs_length(known); i++) {
        cell_t* c = block::rs_abs_at(known, i);
        uint8_t t = type_of(c);
        if (t == TYPE_set_word || t == TYPE_lit_word || t == TYPE_get_word ||
            t == TYPE_refinement) {
            cell::set_type(c, TYPE_word);
        } else if (at_extern >= 0 && t != TYPE_word && t != TYPE_block && t != TYPE_string) {
            cell_t bad = *c;
            fire(err::bad_func_extern, &bad);
        }
    }
    if (body != nullptr && series::block_kind_q(type_of(body)))
        collect_body(body->data2, block::head_index(body), result, known);

    if (block::abs_length(result) > 0) {
        bool has_local = false;
        for (int32_t i = block::head_index(spec); i < block::abs_length(spec); i++) {
            const cell_t* c = block::rs_abs_at(spec, i);
            if (type_of(c) == TYPE_refinement && canonical(word::symbol_of(c)) == local_sym)
                has_local = true;
        }
        if (!has_local) {
            cell_t local;
            word::make_raw(&local, TYPE_refinement, 0,
                           static_cast<int32_t>(words::symbol_of(words::id::local)), -1);
            block::rs_append(spec, &local);
        }
        for (int32_t i = 0; i < block::abs_length(result); i++) {
            cell_t* c = block::rs_abs_at(result, i);
            if (canonical(word::symbol_of(c)) != local_sym) continue;
            block::remove_value(result, c);
            break;
        }
        for (int32_t i = 0; i < block::abs_length(result); i++) {
            cell_t w = *block::rs_abs_at(result, i);
            block::rs_append(spec, &w);
        }
    }
    stack::pop(1);  // the known words
    return result;
}

// --- actions -------------------------------------------------------------------

cell_t* make(cell_t* proto, cell_t* spec, int32_t) {
    (void)proto;
    if (type_of(spec) != TYPE_block || block::rs_length_q(spec) < 2) fire(err::bad_func_def, spec);
    cell_t* items = block::rs_head(spec);
    if (type_of(&items[0]) != TYPE_block || type_of(&items[1]) != TYPE_block)
        fire(err::bad_func_def, spec);
    cell_t fn_spec = items[0], body = items[1];
    uint32_t flags = validate_spec(&fn_spec);
    push(&fn_spec, &body, 0, 0, 0, flags);
    cell_t made = *stack::top();
    stack::set_last(&made);
    return stack::arguments;
}

cell_t* reflect(cell_t* value, int32_t field) {
    cell_t fn = *value;
    int32_t f = canonical(field);
    cell_t result;
    if (f == canonical_of(words::id::spec)) {
        block::init_value(&result, TYPE_block, spec_node(&fn));
    } else if (f == canonical_of(words::id::body)) {
        result = *more(&fn, MORE_BODY);
    } else if (f == canonical_of(words::id::words)) {
        node_t ctx = context_of(&fn);
        cell_t symbols;
        block::init_value(&symbols, TYPE_block, _context::get_symbols_node(ctx));
        block::clone(&symbols, false, false);
        cell_t* copy = stack::top();
        for (int32_t i = 0; i < block::abs_length(copy); i++) {
            cell_t* w = block::rs_abs_at(copy, i);
            w->data1 = ctx;
            w->data3 = static_cast<uint32_t>(i);
        }
        result = *copy;
        stack::pop(1);
    } else {
        fire(err::not_done);
    }
    stack::set_last(&result);
    return stack::arguments;
}

int32_t form(cell_t*, cell_t* buffer, bool, int32_t limit) {
    return emit(buffer, "?function?", limit);
}

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    cell_t fn = *value;
    how.limit = emit(buffer, "func ", how.limit);
    how.limit = mold_block(spec_node(&fn), buffer, how.inner());
    cell_t body = *more(&fn, MORE_BODY);
    if (type_of(&body) == TYPE_none) return emit(buffer, " none", how.limit);
    return block::mold(&body, buffer, how.inner());
}

int32_t compare(cell_t* value1, cell_t* value2, int32_t op) {
    if (type_of(value2) != type_of(value1)) return -2;
    switch (op) {
    case 0:
    case 1:
    case 2:
    case 7:
    case 8:
    case 9:
    case 12: {
        int32_t a = static_cast<int32_t>(value1->data3), b = static_cast<int32_t>(value2->data3);
        return a < b ? -1 : a > b ? 1 : 0;
    }
    default: return -2;
    }
}

void init() {
    datatype::record_t r(TYPE_function, TYPE_context, "function!");
    r.own<ACT_make>(make);
    r.own<ACT_reflect>(reflect);
    r.own<ACT_form>(form);
    r.own<ACT_mold>(mold);
    r.own<ACT_compare>(compare);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::function

#include "datatypes/object.h"

#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "interpreter/actions.h"
#include "runtime/compiled.h"
#include "runtime/cycles.h"
#include "runtime/stack.h"
#include "runtime/words.h"

namespace zuv::object {
namespace {

int32_t class_counter = 0;

bool word_kind(uint8_t t) { return t >= TYPE_word && t <= TYPE_get_word; }

// Series values that a deep copy duplicates.
bool deep_copied(uint8_t t) {
    return t == TYPE_block || t == TYPE_paren || t == TYPE_string || t == TYPE_file ||
           t == TYPE_url || (t >= TYPE_path && t <= TYPE_get_path) || t == TYPE_tag ||
           t == TYPE_email || t == TYPE_ref;
}

int32_t canonical_of(words::id w) {
    return symbol::resolve(static_cast<int32_t>(words::symbol_of(w)));
}

bool handler_word(const cell_t* w) {
    int32_t s = symbol::resolve(word::symbol_of(w));
    return s == canonical_of(words::id::on_change_star) ||
           s == canonical_of(words::id::on_deep_change_star);
}

}  // namespace

int32_t new_class_id() { return ++class_counter; }

cell_t* init_value(cell_t* cell, uint8_t type, node_t ctx, int32_t class_id, node_t record) {
    cell::begin(cell);
    cell->data1 = ctx;
    cell->data2 = static_cast<uint32_t>(class_id);
    cell->data3 = record;
    cell->header = type;
    *_context::get_self_value(ctx) = *cell;
    return cell;
}

cell_t* push_context(node_t ctx, int32_t class_id) {
    cell_t* c = _context::cell_of(ctx);
    if (!_context::on_stack_q(c)) {
        series_buffer_t* values = alloc::buffer(c->data2);
        if (values->used() == 0) values->tail = values->head + _context::word_count(ctx) * 16;
    }
    cell_t* slot = stack::push_slot();
    return init_value(slot, TYPE_object, ctx, class_id, 0);
}

cell_t* make_at(cell_t* cell, int32_t size) {
    node_t ctx = _context::create(size, false, true, nullptr, _context::KIND_OBJECT);
    return init_value(cell, TYPE_object, ctx, 0, 0);
}

int32_t word_count(const cell_t* obj) { return _context::word_count(obj->data1); }

cell_t* get_values(const cell_t* obj) { return _context::value_at(obj->data1, 0); }

cell_t* get_word(node_t ctx, int32_t index) { return _context::get_symbol_word(ctx, index); }

int32_t find_symbol(const cell_t* obj, int32_t symbol) {
    return _context::find_word(obj->data1, symbol, true);
}

int32_t find_word(const cell_t* obj, const cell_t* word) {
    return find_symbol(obj, word::symbol_of(word));
}

cell_t* select_word(const cell_t* obj, const cell_t* word) {
    int32_t i = find_word(obj, word);
    if (i < 0) return &none_value;
    return _context::value_at(obj->data1, i);
}

cell_t* word_of_value(const cell_t* obj, const cell_t* value) {
    cell_t* values = get_values(obj);
    if (values == nullptr || value < values || value >= values + word_count(obj)) return nullptr;
    return get_word(obj->data1, static_cast<int32_t>(value - values));
}

cell_t* copy_into(const cell_t* source, cell_t* result, bool deep) {
    cell_t holder = *source;
    node_t ctx = _context::clone(&holder, _context::KIND_OBJECT);
    // The clone has the words; the values are copied as they stand.
    int32_t count = _context::word_count(ctx);
    const cell_t* from = _context::value_at(source->data1, 0);
    cell_t* to = _context::value_at(ctx, 0);
    if (from != nullptr && to != nullptr)
        for (int32_t i = 0; i < count; i++) to[i] = from[i];
    init_value(result, type_of(source), ctx, static_cast<int32_t>(source->data2), source->data3);
    if (deep) {
        int32_t n = _context::word_count(ctx);
        for (int32_t i = 0; i < n; i++) {
            cell_t* v = _context::value_at(ctx, i);
            if (!deep_copied(type_of(v))) continue;
            cell_t* scratch = stack::push(v);
            actions::copy(scratch, scratch, nullptr, true, nullptr);
            cell_t copied = *scratch;
            stack::pop(1);
            *_context::value_at(ctx, i) = copied;  // the copy may have moved the values
        }
    }
    return result;
}

int32_t serialize(const cell_t* obj, cell_t* buffer, bool only, bool all, bool flat, bool part,
                  int32_t limit, int32_t indent, bool mold) {
    node_t ctx = obj->data1;
    int32_t n = _context::word_count(ctx);
    bool lines = mold && !flat;
    bool first = true;
    // The scratch cells live on the argument stack while values are molded.
    cell_t* w = stack::push_slot();
    cell_t* v = stack::push_slot();
    for (int32_t i = 0; i < n; i++) {
        *w = *get_word(ctx, i);
        if (!all && handler_word(w)) continue;
        if (part && limit <= 0) break;
        if (first) {
            if (lines && !only) string::append_char(buffer, '\n');
        } else {
            string::append_char(buffer, lines ? '\n' : ' ');
            limit--;
        }
        first = false;
        if (lines) limit = mold::indent(buffer, indent, limit);
        w->header = (w->header & ~HEADER_TYPE_MASK) | TYPE_word;
        limit = word::mold(w, buffer, false, false, flat, part, limit, 0);
        string::concatenate_literal(buffer, ": ");
        limit -= 2;
        cell_t* slot = _context::value_at(ctx, i);
        *v = slot ? *slot : cell_t{TYPE_unset, 0, 0, 0};
        if (type_of(v) == 0) v->header = TYPE_unset;
        if (type_of(v) == TYPE_word) {
            string::append_char(buffer, '\'');
            limit--;
        }
        limit = actions::mold(v, buffer, false, all, flat, part, limit, indent + 1);
    }
    stack::pop(2);
    if (lines && !only && indent > 0) {
        string::append_char(buffer, '\n');
        limit = mold::indent(buffer, indent - 1, limit);
    } else if (lines && !only && n > 0) {
        string::append_char(buffer, '\n');
    }
    return limit;
}

void fire_on_deep_change(cell_t*, cell_t*, cell_t*, cell_t*, const cell_t*, int32_t, int32_t) {
    // The handler call itself belongs to the object change events; until
    // they exist an owner is only recognised.
}

cell_t* copy(cell_t* value, cell_t* result, cell_t* part, bool deep, cell_t*) {
    if (part != nullptr) {
        cell_t name = words::word(words::id::part);
        name.header = (name.header & ~HEADER_TYPE_MASK) | TYPE_refinement;
        fire(err::invalid_refine_arg, &name, part);
    }
    cell_t source = *value;
    return copy_into(&source, result, deep);
}

cell_t* eval_path(cell_t* parent, cell_t* element, cell_t* value, cell_t* path, cell_t*, cell_t*,
                  int32_t, bool, bool get, bool tail, bool) {
    if (!word_kind(type_of(element))) fire(err::invalid_path, path, element);
    node_t ctx = parent->data1;
    int32_t index = static_cast<int32_t>(element->data3);
    if (element->data1 != ctx || index < 0)
        index = _context::find_word(ctx, word::symbol_of(element), true);
    if (index < 0) {
        if (get && tail) return &unset_value;
        if (tail) fire(err::invalid_path, path, element);
        fire(err::unset_path, path, element);
    }
    cell_t* slot = _context::value_at(ctx, index);
    if (value != nullptr) {
        if (symbol::resolve(word::symbol_of(element)) == canonical_of(words::id::self))
            fire(err::invalid_path, path, element);
        *slot = *value;
        return slot;
    }
    if (type_of(slot) == TYPE_unset) {
        if (get && tail) return &unset_value;
        if (tail) fire(err::invalid_path, path, element);
        fire(err::unset_path, path, element);
    }
    return slot;
}

int32_t compare(cell_t* value1, cell_t* value2, int32_t op) {
    if (type_of(value2) != TYPE_object) return -2;
    node_t a = value1->data1, b = value2->data1;
    if (a == b) return 0;
    if (op == 9) return -1;
    if (cycles::find_q(a)) return cycles::find_q(b) ? 0 : -1;
    int32_t na = _context::word_count(a), nb = _context::word_count(b);
    if (na != nb) return na > nb ? 1 : -1;
    if (na == 0) return 0;
    cycles::guard ga(a);
    cycles::guard gb(b);
    for (int32_t i = 0; i < na; i++) {
        int32_t sa = symbol::resolve(word::symbol_of(get_word(a, i)));
        int32_t sb = symbol::resolve(word::symbol_of(get_word(b, i)));
        if (sa != sb) return sa > sb ? 1 : -1;
        cell_t* va = _context::value_at(a, i);
        cell_t* vb = _context::value_at(b, i);
        uint8_t ta = type_of(va), tb = type_of(vb);
        auto number = [](uint8_t t) {
            return t == TYPE_integer || t == TYPE_float_ || t == TYPE_percent;
        };
        if (ta != tb && !(word_kind(ta) && word_kind(tb)) && !(number(ta) && number(tb)))
            return ta > tb ? 1 : -1;
        int32_t r = actions::compare_value(va, vb, op);
        if (r != 0) return r;
    }
    return 0;
}

cell_t* select(cell_t* series, cell_t* value, cell_t*, bool, bool, bool, bool, cell_t*, cell_t*,
               bool, bool) {
    if (!word_kind(type_of(value)) && type_of(value) != TYPE_issue) {
        cell_t t;
        datatype::make_at(&t, type_of(value));
        fire(err::invalid_type, &t);
    }
    cell_t found = *select_word(series, value);
    stack::set_last(&found);
    return stack::arguments;
}

cell_t* find(cell_t* series, cell_t* value, cell_t*, bool, bool, bool, bool, cell_t*, cell_t*, bool,
             bool, bool, bool) {
    if (!word_kind(type_of(value)) && type_of(value) != TYPE_issue) {
        cell_t t;
        datatype::make_at(&t, type_of(value));
        fire(err::invalid_type, &t);
    }
    stack::set_last(find_word(series, value) >= 0 ? &true_value : &none_value);
    return stack::arguments;
}

}  // namespace zuv::object

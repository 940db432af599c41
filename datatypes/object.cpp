#include "datatypes/object.h"

#include <algorithm>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/object_shape.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "interpreter/interpreter.h"
#include "runtime/collector.h"
#include "runtime/compiled.h"
#include "runtime/cycles.h"
#include "runtime/exits.h"
#include "runtime/hashtable.h"
#include "runtime/library_code.h"
#include "runtime/ownership.h"
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

// Series values that an object made from a prototype gets its own copy of.
[[gnu::always_inline]] inline bool owned_series(uint8_t t) {
    return series::block_kind_q(t) || series::any_string_q(t) || t == TYPE_vector ||
           t == TYPE_binary || t == TYPE_image;
}

int32_t canonical_of(words::id w) {
    return symbol::resolve(static_cast<int32_t>(words::symbol_of(w)));
}

bool is_word_q(const cell_t* w, words::id id) {
    return symbol::resolve(word::symbol_of(w)) == canonical_of(id);
}

bool handler_word(const cell_t* w) {
    int32_t s = symbol::resolve(word::symbol_of(w));
    return s == canonical_of(words::id::on_change_star) ||
           s == canonical_of(words::id::on_deep_change_star);
}

cell_t datatype_of(const cell_t* value) {
    cell_t t;
    datatype::make_at(&t, type_of(value));
    return t;
}

cell_t integer_cell(int32_t v) {
    cell_t c;
    cell::begin(&c);
    integer::make_at(&c, v);
    return c;
}

// Replaces the value in slot i of ctx by its copy (deep for block kinds), when
// its type can be copied; a copied block is rebound to ctx when asked.
void copy_slot(node_t ctx, int32_t i, bool deep, bool rebind) {
    cell_t v = *_context::value_at(ctx, i);
    uint8_t t = type_of(&v);
    if (type_action_table[(t << 8) + ACT_copy - 1] == nullptr) return;
    cell_t* scratch = stack::push(&v);
    actions::copy(scratch, scratch, nullptr, deep, nullptr);
    cell_t copied = *scratch;
    stack::pop(1);
    if (rebind && series::block_kind_q(t)) _context::bind(&copied, ctx, true);
    *_context::value_at(ctx, i) = copied;  // the copy may have moved the values
}

// Clears the set markers of the context's words and the new-line markers of
// its values.
void clear_markers(node_t ctx, bool values) {
    _context::clear_marks(ctx);
    if (!values) return;
    int32_t n = _context::word_count(ctx);
    cell_t* v = _context::value_at(ctx, 0);
    if (v != nullptr)
        for (int32_t i = 0; i < n; i++) cell::clear_new_line(v + i);
}

// --- change records ------------------------------------------------------------

cell_t* record_cells(node_t record) { return alloc::buffer(record)->head_cell(); }
inline uint32_t slot_of(const cell_t* c) { return c->data2 >> 16; }

node_t new_record(int32_t on_change, int32_t change_locals, node_t change_spec, int32_t on_deep,
                  int32_t deep_locals, node_t deep_spec) {
    node_t record = alloc::alloc_cells(2);
    series_buffer_t* s = alloc::buffer(record);
    cell_t* c = s->head_cell();
    auto fill = [](cell_t* cell, int32_t index, int32_t locals, node_t spec) {
        uint32_t hi = index < 0 ? NO_HANDLER : static_cast<uint32_t>(index);
        *cell = cell_t{TYPE_pair, 0, (hi << 16) | (static_cast<uint32_t>(locals) & 0xFFFF), spec};
    };
    fill(&c[0], on_change, change_locals, change_spec);
    fill(&c[1], on_deep, deep_locals, deep_spec);
    s->tail = s->head + 2 * 16;
    return record;
}

// Calls a change handler. An exit that passes through (the handler broke
// or threw) ends the change that called it.
void call_handler(const cell_t* handler, words::id name, cell_t* args, int32_t count,
                  uint32_t kind) {
    cell_t frame_word = words::word(name);
    cell_t result;
    if (!interpreter::call_back(handler, &frame_word, args, count, kind, &result))
        throw exits::escape{};
}

// The slots of the two handler words in obj (-1: absent), remembered in the
// table: every object of a shape has them at the same places.
constexpr uint32_t MEMO_HANDLERS = 1u << 31;
constexpr int32_t MEMO_LIMIT = 0x7FFE;

void handler_slots(const cell_t* obj, int32_t* change, int32_t* deep) {
    hashtable_t* t = hashtable::record(_context::table_of(obj->data1));
    auto memo = static_cast<uint32_t>(t->memo);
    if (memo & MEMO_HANDLERS) {
        *change = static_cast<int32_t>(memo & 0x7FFF) - 1;
        *deep = static_cast<int32_t>((memo >> 15) & 0x7FFF) - 1;
        return;
    }
    *change = find_symbol(obj, static_cast<int32_t>(words::symbol_of(words::id::on_change_star)));
    *deep =
        find_symbol(obj, static_cast<int32_t>(words::symbol_of(words::id::on_deep_change_star)));
    if (*change < MEMO_LIMIT && *deep < MEMO_LIMIT)
        hashtable::record(_context::table_of(obj->data1))->memo =
            static_cast<int32_t>(MEMO_HANDLERS | static_cast<uint32_t>(*change + 1) |
                                 static_cast<uint32_t>(*deep + 1) << 15);
}

}  // namespace

int32_t new_class_id() { return ++class_counter; }
int32_t class_count() { return class_counter; }

cell_t* init_value(cell_t* cell, uint8_t type, node_t ctx, int32_t class_id, node_t record) {
    cell::begin(cell);
    cell->data1 = ctx;
    cell->data2 = static_cast<uint32_t>(class_id);
    cell->data3 = record;
    cell->header = type;
    *_context::get_self_value(ctx) = *cell;
    return cell;
}

cell_t* push_context(node_t ctx, int32_t class_id) { return push(ctx, class_id, 0); }

cell_t* push(node_t ctx, int32_t class_id, node_t record) {
    cell_t* c = _context::cell_of(ctx);
    if (!_context::on_stack_q(c)) {
        series_buffer_t* values = alloc::buffer(c->data2);
        if (values->used() == 0) values->tail = values->head + _context::word_count(ctx) * 16;
    }
    cell_t* slot = stack::push_slot();
    return init_value(slot, TYPE_object, ctx, class_id, record);
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

// --- making ------------------------------------------------------------------

cell_t* copy_into(const cell_t* source, cell_t* result, bool deep) {
    return copy_into(source, result, deep, nullptr);
}

cell_t* copy_into(const cell_t* source, cell_t* result, bool deep, const cell_t* types) {
    cell_t holder = *source;
    node_t from_ctx = source->data1;
    node_t ctx = _context::clone(&holder, _context::KIND_OBJECT);
    // The clone has the words; the values are copied as they stand.
    int32_t count = _context::word_count(ctx);
    const cell_t* from = _context::value_at(from_ctx, 0);
    cell_t* to = _context::value_at(ctx, 0);
    if (from != nullptr && to != nullptr)
        for (int32_t i = 0; i < count; i++) to[i] = from[i];
    init_value(result, type_of(source), ctx, static_cast<int32_t>(source->data2), source->data3);
    _context::copy_marks(ctx, from_ctx);
    if (deep && types == nullptr) {
        for (int32_t i = 0; i < count; i++)
            if (deep_copied(type_of(_context::value_at(ctx, i)))) copy_slot(ctx, i, true, false);
    } else if (types != nullptr) {
        _context::unfold(ctx);
        cell_t values;
        block::init_value(&values, TYPE_block, _context::cell_of(ctx)->data2);
        collector::root_cell keep(&values);
        if (deep) {
            if (cycles::find_q(from_ctx)) fire(err::no_cycle);
            cycles::guard g(from_ctx);
            block::copy_nested(&values, 0, count, 1, true, types);
        } else {
            block::copy_nested(&values, 0, count, 1, false, types);
        }
    }
    for (int32_t i = 0; i < count; i++)
        if (type_of(_context::value_at(ctx, i)) == TYPE_function) rebind_function(result, i);
    install_handlers(result);
    return result;
}

void rebind_function(cell_t* obj, int32_t index) {
    node_t octx = obj->data1;
    cell_t* fn = stack::push(_context::value_at(octx, index));
    cell_t body = *function::more(fn, function::MORE_BODY);
    if (type_of(&body) != TYPE_block) fire(err::bad_func_def, fn);
    cell_t holder = *fn;
    node_t fctx = _context::clone(&holder, _context::KIND_FUNCTION);
    collector::root_node keep(fctx);
    block::clone(&body, true, true);
    cell_t* copy = stack::top();
    // A library method copied into a user's object stays library code, so
    // an error inside it still reports the user's code as near.
    if (library_code::library_q(body.data2)) library_code::mark_library(copy);
    _context::bind(copy, octx, true);
    _context::bind(copy, fctx, false);
    cell_t spec;
    block::init_value(&spec, TYPE_block, function::spec_node(fn));
    function::push(&spec, copy, fctx, function::code_of(fn), octx, fn->header & ~HEADER_TYPE_MASK);
    cell_t made = *stack::top();
    stack::pop(3);
    *_context::value_at(octx, index) = made;
}

void copy_series_values(cell_t* obj) {
    node_t ctx = obj->data1;
    int32_t n = _context::word_count(ctx);
    for (int32_t i = 0; i < n; i++)
        if (owned_series(type_of(_context::value_at(ctx, i)))) copy_slot(ctx, i, true, true);
}

bool extend(cell_t* obj, const cell_t* from) {
    node_t ctx = obj->data1, src = from->data1;
    int32_t before = _context::word_count(ctx);
    int32_t n = _context::word_count(src);
    for (int32_t i = 0; i < n; i++) {
        cell_t w = *get_word(src, i);
        cell_t v = *_context::value_at(src, i);
        _context::add_value(ctx, &w, &v);
    }
    int32_t total = _context::word_count(ctx);
    for (int32_t i = 0; i < total; i++) {
        uint8_t t = type_of(_context::value_at(ctx, i));
        if (owned_series(t)) copy_slot(ctx, i, false, false);
        else if (t == TYPE_function) rebind_function(obj, i);
    }
    return total > before;
}

void construct_values(cell_t* obj, cell_t* spec, bool only) {
    node_t ctx = obj->data1;
    node_t node = spec->data2;
    int32_t end = block::abs_length(spec);
    auto at = [node](int32_t i) { return alloc::buffer(node)->head_cell()[i]; };
    for (int32_t i = block::head_index(spec); i < end; i++) {
        cell_t w = at(i);
        if (type_of(&w) != TYPE_set_word) continue;
        int32_t j = i + 1;
        while (j < end && type_of(&alloc::buffer(node)->head_cell()[j]) == TYPE_set_word) j++;
        cell_t v = j < end ? at(j) : none_value;
        if (!only && type_of(&v) == TYPE_word) {
            if (is_word_q(&v, words::id::true_) || is_word_q(&v, words::id::yes) ||
                is_word_q(&v, words::id::on))
                v = true_value;
            else if (is_word_q(&v, words::id::false_) || is_word_q(&v, words::id::no) ||
                     is_word_q(&v, words::id::off))
                v = false_value;
            else if (is_word_q(&v, words::id::none)) v = none_value;
        }
        _context::add_value(ctx, &w, &v);
    }
}

cell_t* construct(cell_t* spec, cell_t* prototype, bool only) {
    cell_t* out = stack::push_slot();
    cell::begin(out);
    if (prototype != nullptr && type_of(prototype) == TYPE_object) {
        cell_t p = *prototype;
        copy_into(&p, out, true);
    } else {
        make_at(out, 4);
        out->data2 = static_cast<uint32_t>(new_class_id());
    }
    construct_values(out, spec, only);
    init_value(out, type_of(out), out->data1, static_cast<int32_t>(out->data2), out->data3);
    return out;
}

cell_t* make(cell_t* proto, cell_t* spec, int32_t) {
    bool from_object = type_of(proto) == TYPE_object;
    cell_t p = *proto, s = *spec;
    cell_t* out = stack::push_slot();
    cell::begin(out);
    node_t shared = 0;
    if (from_object) copy_into(&p, out, false);
    else if (type_of(&s) == TYPE_block && (shared = shape::context_for(&s)) != 0)
        init_value(out, TYPE_object, shared, 0, 0);
    else make_at(out, 4);
    node_t ctx = out->data1;
    bool added;
    bool empty_spec = false;
    if (type_of(&s) == TYPE_object) {
        added = extend(out, &s);
    } else if (type_of(&s) == TYPE_block && from_object && !interpreter::tracing &&
               block::head_index(&s) >= block::abs_length(&s)) {
        // An empty spec on a prototype (make proto []), the common way to
        // make many objects of one kind: it adds no word and its run sets
        // nothing, so the copy needs only its series values of its own and
        // the marks cleared. Traced, its run shows, and takes the way below.
        added = false;
        empty_spec = true;
        // copy_series_values and clear_markers in one pass: a series of its
        // own per field, then no marks and no new-line flags.
        int32_t n = _context::word_count(ctx);
        for (int32_t i = 0; i < n; i++) {
            if (owned_series(type_of(_context::value_at(ctx, i)))) copy_slot(ctx, i, true, true);
            cell::clear_new_line(_context::value_at(ctx, i));
        }
        _context::clear_marks(ctx);
    } else if (type_of(&s) == TYPE_block) {
        cell_t* body = stack::push(&s);
        if (shared != 0) {
            added = true;
        } else {
            added = _context::collect_set_words(ctx, body);
            if (!from_object) shape::remember(&s, ctx);
        }
        _context::bind(body, ctx, true);
        if (from_object) copy_series_values(out);
        interpreter::eval(body, false);
        if (exits::pending_q()) return stack::arguments;
        clear_markers(ctx, true);
        stack::top_slot = body;  // the spec and the value it left
    } else {
        fire(err::malconstruct, &s);
    }
    // A prototype that is no object has no class to keep.
    int32_t class_id = added || !from_object ? new_class_id() : static_cast<int32_t>(p.data2);
    init_value(out, TYPE_object, ctx, class_id, out->data3);
    // The series the object got copies of after copy_into installed its
    // handlers are its own to report; one without handlers is as copy_into
    // left it.
    if (!empty_spec || out->data3 != 0) install_handlers(out);
    cell_t made = *out;
    stack::pop(1);
    stack::set_last(&made);
    return stack::arguments;
}

// --- reflect, form, mold ---------------------------------------------------------

cell_t* reflect(cell_t* value, int32_t field) {
    cell_t obj = *value;
    node_t ctx = obj.data1;
    int32_t f = symbol::resolve(field);
    int32_t n = _context::word_count(ctx);
    cell_t result;
    auto bound_word = [ctx](int32_t i, uint8_t type) {
        cell_t w;
        word::make_raw(&w, type, ctx, word::symbol_of(get_word(ctx, i)), i);
        return w;
    };
    if (f == canonical_of(words::id::words) || f == canonical_of(words::id::changed)) {
        bool changed = f == canonical_of(words::id::changed);
        cell_t* b = block::push_only_star(n);
        for (int32_t i = 0; i < n; i++) {
            if (changed && !_context::set_q(ctx, i)) continue;
            cell_t w = bound_word(i, TYPE_word);
            block::rs_append(b, &w);
        }
        result = *b;
    } else if (f == canonical_of(words::id::values)) {
        cell_t* b = block::push_only_star(n);
        for (int32_t i = 0; i < n; i++) {
            cell_t v = *_context::value_at(ctx, i);
            block::rs_append(b, &v);
        }
        result = *b;
    } else if (f == canonical_of(words::id::body)) {
        cell_t* b = block::push_only_star(n * 2);
        for (int32_t i = 0; i < n; i++) {
            cell_t w = bound_word(i, TYPE_set_word);
            w.header |= FLAG_NEW_LINE;
            block::rs_append(b, &w);
            cell_t v = *_context::value_at(ctx, i);
            if (type_of(&v) == TYPE_word) cell::set_type(&v, TYPE_lit_word);
            else if (type_of(&v) == TYPE_path) cell::set_type(&v, TYPE_lit_path);
            block::rs_append(b, &v);
        }
        result = *b;
    } else if (f == canonical_of(words::id::class_)) {
        result = integer_cell(static_cast<int32_t>(obj.data2));
    } else if (f == canonical_of(words::id::owner)) {
        logic::make_at(&result, (_context::cell_of(ctx)->header & ownership::FLAG_OWNER) != 0);
    } else if (f == canonical_of(words::id::events_q)) {
        logic::make_at(&result, obj.data3 != 0);
    } else {
        fire(err::not_done);
    }
    stack::set_last(&result);
    return stack::arguments;
}

int32_t serialize(const cell_t* obj, cell_t* buffer, mold_options_t how, bool mold) {
    node_t ctx = obj->data1;
    int32_t n = _context::word_count(ctx);
    bool lines = mold && !how.flat;
    bool first = true;
    // The scratch cells live on the argument stack while values are molded.
    cell_t* w = stack::push_slot();
    cell_t* v = stack::push_slot();
    // v holds whatever an earlier call left there until a field is read.
    v->header = TYPE_unset;
    for (int32_t i = 0; i < n; i++) {
        *w = *get_word(ctx, i);
        if (!how.all && handler_word(w)) continue;
        if (how.part && how.limit <= 0) break;
        if (first) {
            if (lines && !how.only) {
                string::append_char(buffer, '\n');
                how.limit--;
            }
        } else {
            string::append_char(buffer, how.flat ? ' ' : '\n');
            how.limit--;
        }
        first = false;
        if (lines) how.limit = mold::indent(buffer, how.indent, how.limit);
        w->header = TYPE_word;
        how.limit = word::mold(w, buffer, {.flat = how.flat, .part = how.part, .limit = how.limit});
        string::concatenate_literal(buffer, ": ");
        how.limit -= 2;
        cell_t* slot = _context::value_at(ctx, i);
        *v = slot ? *slot : cell_t{TYPE_unset, 0, 0, 0};
        if (type_of(v) == 0) v->header = TYPE_unset;
        if (type_of(v) == TYPE_word) {
            string::append_char(buffer, '\'');
            how.limit--;
        }
        // A value that spans lines continues at the field's own level.
        how.limit = actions::mold(v, buffer, how.inner());
    }
    stack::pop(2);
    if (lines && !how.only && !first) {
        string::append_char(buffer, '\n');
        how.limit = mold::indent(buffer, how.indent - 1, how.limit - 1);
    }
    return how.limit;
}

int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit) {
    if (cycles::detect_q(value, buffer, &limit, false)) return limit;
    cell_t obj = *value;
    cycles::guard g(obj.data1);
    return serialize(&obj, buffer, {.only = true, .part = part, .limit = limit}, false);
}

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    if (cycles::detect_q(value, buffer, &how.limit, true)) return how.limit;
    cell_t obj = *value;
    cycles::guard g(obj.data1);
    if (!how.only) {
        string::concatenate_literal(buffer, "make object! [");
        how.limit -= 14;
    }
    how.limit = serialize(&obj, buffer, how.only ? how : how.deeper(), true);
    if (!how.only) {
        string::append_char(buffer, ']');
        how.limit--;
    }
    return how.limit;
}

// --- change events ---------------------------------------------------------------

void install_handlers(cell_t* obj) {
    node_t ctx = obj->data1;
    int32_t change, deep;
    handler_slots(obj, &change, &deep);
    if (change < 0 && deep < 0) {
        obj->data3 = 0;
        *_context::get_self_value(ctx) = *obj;
        return;
    }
    int32_t locals[2] = {0, 0};
    node_t specs[2] = {0, 0};
    int32_t slots[2] = {change, deep};
    for (int k = 0; k < 2; k++) {
        if (slots[k] < 0) continue;
        cell_t h = *_context::value_at(ctx, slots[k]);
        if (type_of(&h) != TYPE_function && type_of(&h) != TYPE_routine) {
            cell_t w = *get_word(ctx, slots[k]);
            cell::set_type(&w, TYPE_word);
            cell_t t = datatype_of(&h);
            fire(err::bad_field_set, &w, &t);
        }
        specs[k] = h.data2;
        locals[k] = function::count_locals(h.data2, 0, false);
    }
    obj->data3 = new_record(change, locals[0], specs[0], deep, locals[1], specs[1]);
    if (deep >= 0) {
        cell_t w = _context::field_word(ctx, deep);
        cell_t o = *obj;
        ownership::bind(&o, &o, &w);
    }
    *_context::get_self_value(ctx) = *obj;
}

bool has_on_deep_change_q(const cell_t* obj) {
    return obj->data3 != 0 && slot_of(record_cells(obj->data3) + 1) != NO_HANDLER;
}

void fire_on_set(cell_t* obj, cell_t* word, cell_t* old_value, cell_t* new_value) {
    node_t record = obj->data3;
    if (record == 0) return;
    uint32_t slot = slot_of(record_cells(record));
    if (slot == NO_HANDLER) return;
    node_t ctx = obj->data1;
    cell_t handler = *_context::value_at(ctx, static_cast<int32_t>(slot));
    if (type_of(&handler) != TYPE_function) fire(err::invalid_obj_evt, &handler);
    cell_t args[3] = {*word, *old_value, *new_value};
    // The handler always receives a word of the object.
    if (args[0].data1 != ctx) {
        args[0].data3 = static_cast<uint32_t>(-1);
        _context::bind_word(ctx, &args[0]);
    }
    call_handler(&handler, words::id::on_change_star, args, 3, interpreter::CALL_ON_CHANGE);
}

void fire_on_deep_change(cell_t* owner, cell_t* word, cell_t* target, cell_t* action,
                         const cell_t* new_value, int32_t index, int32_t part) {
    // The owner was recorded when its series were bound, and the record it
    // named then may have been replaced since (make builds the record again
    // after the body ran), and collected: the self value has the live one.
    if (owner->data1 != 0) {
        const cell_t* self = _context::get_self_value(owner->data1);
        if (type_of(self) == type_of(owner) && self->data1 == owner->data1 && self->data3 != 0)
            owner->data3 = self->data3;
    }
    node_t record = owner->data3;
    if (record == 0) fire(err::invalid_obj_evt, owner);
    uint32_t slot = slot_of(record_cells(record) + 1);
    if (slot == NO_HANDLER) return;
    cell_t handler = *_context::value_at(owner->data1, static_cast<int32_t>(slot));
    if (type_of(&handler) != TYPE_function) return;
    cell_t args[7] = {*owner,
                      *word,
                      *target,
                      *action,
                      new_value ? *new_value : none_value,
                      integer_cell(index),
                      integer_cell(part)};
    call_handler(&handler, words::id::on_deep_change_star, args, 7,
                 interpreter::CALL_ON_DEEP_CHANGE);
}

void set_many(cell_t* obj, cell_t* value, bool any, bool only, bool some) {
    cell_t o = *obj, v = *value;
    node_t ctx = o.data1;
    int32_t n = _context::word_count(ctx);
    int32_t skip[2] = {-1, -1};
    if (o.data3 != 0) {
        for (int k = 0; k < 2; k++) {
            uint32_t s = slot_of(record_cells(o.data3) + k);
            if (s != NO_HANDLER) skip[k] = static_cast<int32_t>(s);
        }
    }
    bool spread = !only && (type_of(&v) == TYPE_block || type_of(&v) == TYPE_object);
    // The i-th value v gives, or nullptr when it gives none (a word v lacks).
    auto source = [&](int32_t i, cell_t* out) -> bool {
        if (type_of(&v) == TYPE_object) {
            int32_t j = find_word(&v, get_word(ctx, i));
            if (j < 0) return false;
            *out = *_context::value_at(v.data1, j);
            return true;
        }
        int32_t at = block::head_index(&v) + i;
        *out = at < block::abs_length(&v) ? *block::rs_abs_at(&v, at) : none_value;
        return true;
    };
    if (spread && !some) {
        int32_t limit = type_of(&v) == TYPE_block ? std::min(n, block::rs_length_q(&v)) : n;
        for (int32_t i = 0; i < limit; i++) {
            if (i == skip[0] || i == skip[1]) continue;
            cell_t item;
            if (source(i, &item) && type_of(&item) == TYPE_unset && !any) {
                cell_t w = *get_word(ctx, i);
                fire(err::need_value, &w);
            }
        }
    }
    for (int32_t i = 0; i < n; i++) {
        if (i == skip[0] || i == skip[1]) continue;
        cell_t item = v;
        if (spread) {
            if (!source(i, &item)) continue;
            if (some && type_of(&item) == TYPE_none) continue;
        }
        _context::mark_set(ctx, i);
        cell_t old = *_context::value_at(ctx, i);
        *_context::value_at(ctx, i) = item;
        if (o.data3 != 0) {
            cell_t w = _context::field_word(ctx, i);
            cell::set_type(&w, TYPE_word);
            fire_on_set(&o, &w, &old, &item);
            if (exits::pending_q()) return;
        }
    }
}

// --- the other actions --------------------------------------------------------------

cell_t* copy(cell_t* value, cell_t* result, cell_t* part, bool deep, cell_t* types) {
    if (part != nullptr) {
        cell_t name = words::word(words::id::part);
        name.header = (name.header & ~HEADER_TYPE_MASK) | TYPE_refinement;
        fire(err::invalid_refine_arg, &name, part);
    }
    cell_t source = *value;
    return copy_into(&source, result, deep, types);
}

cell_t* eval_path(cell_t* parent, cell_t* element, cell_t* value, cell_t* path, cell_t*, cell_t*,
                  int32_t, bool, bool get, bool tail, bool) {
    if (!word_kind(type_of(element))) fire(err::invalid_path, path, element);
    node_t ctx = parent->data1;
    int32_t index = static_cast<int32_t>(element->data3);
    // Bound to a field of another object of the same shape: the same index.
    if (element->data1 != ctx && element->data1 != 0 && index >= 0 &&
        _context::table_of(element->data1) == _context::table_of(ctx))
        element->data1 = ctx;
    if (element->data1 != ctx || index < 0) {
        index = _context::find_word(ctx, word::symbol_of(element), true);
        if (index >= 0) {
            element->data1 = ctx;
            element->data3 = static_cast<uint32_t>(index);
        }
    }
    if (index < 0) {
        if (get && tail) return &unset_value;
        if (tail) fire(err::invalid_path, path, element);
        fire(err::unset_path, path, element);
    }
    if (value != nullptr) {
        if (symbol::resolve(word::symbol_of(element)) == canonical_of(words::id::self))
            fire(err::invalid_path, path, element);
        cell_t obj = *parent, v = *value;
        cell_t w = type_of(element) == TYPE_word ? *element : _context::field_word(ctx, index);
        cell::set_type(&w, TYPE_word);
        // Marking may allocate and move the path's series: only copies are
        // read past it.
        _context::mark_set(ctx, index);
        cell_t old = *_context::value_at(ctx, index);
        cell_t* slot = _context::value_at(ctx, index);
        *slot = v;
        if (obj.data3 != 0) {
            fire_on_set(&obj, &w, &old, &v);
            slot = _context::value_at(ctx, index);
        }
        return slot;
    }
    cell_t* slot = _context::value_at(ctx, index);
    if (type_of(slot) == TYPE_unset) {
        if (get && tail) return &unset_value;
        if (tail) fire(err::invalid_path, path, element);
        fire(err::unset_path, path, element);
    }
    return slot;
}

cell_t* put(cell_t* series, cell_t* key, cell_t* value, bool) {
    if (type_of(key) != TYPE_word) {
        cell_t t = datatype_of(key);
        fire(err::invalid_key_type, &t);
    }
    cell_t v = *value;
    eval_path(series, key, &v, key, nullptr, nullptr, 0, false, false, false, true);
    stack::set_last(&v);
    return stack::arguments;
}

cell_t* modify(cell_t* target, cell_t* field, cell_t* value, bool) {
    cell_t obj = *target;
    if (!word_kind(type_of(field))) fire(err::invalid_arg, field);
    if (is_word_q(field, words::id::changed)) {
        if (type_of(value) != TYPE_none) fire(err::invalid_arg, value);
        clear_markers(obj.data1, false);
    } else if (is_word_q(field, words::id::owner)) {
        cell_t w = *field;
        ownership::bind(&obj, &obj, &w);
    } else if (is_word_q(field, words::id::owned)) {
        if (type_of(value) == TYPE_none) {
            cell_t w = *field;
            ownership::set_owner(&obj, &obj, &w);
        } else if (type_of(value) == TYPE_block && block::rs_length_q(value) >= 2) {
            cell_t* items = block::rs_head(value);
            cell_t owner = items[0], word = items[1];
            if (type_of(&owner) != TYPE_object) fire(err::invalid_arg, value);
            ownership::bind(&obj, &owner, &word);
        } else {
            fire(err::invalid_arg, value);
        }
    } else {
        fire(err::invalid_arg, field);
    }
    stack::set_last(&obj);
    return stack::arguments;
}

int32_t compare(cell_t* value1, cell_t* value2, int32_t op) {
    if (type_of(value2) != TYPE_object) return -2;
    return compare_fields(value1, value2, op);
}

int32_t compare_fields(const cell_t* value1, const cell_t* value2, int32_t op) {
    node_t a = value1->data1, b = value2->data1;
    if (a == b) return 0;
    if (op == 9) return -1;
    if (cycles::find_q(a)) return cycles::find_q(b) ? 0 : -1;
    int32_t na = _context::word_count(a), nb = _context::word_count(b);
    if (na != nb) return na > nb ? 1 : -1;
    if (na == 0) return 0;
    cycles::guard ga(a);
    cycles::guard gb(b);
    auto number = [](uint8_t t) {
        return t == TYPE_integer || t == TYPE_float_ || t == TYPE_percent;
    };
    for (int32_t i = 0; i < na; i++) {
        int32_t sa = symbol::resolve(word::symbol_of(get_word(a, i)));
        int32_t sb = symbol::resolve(word::symbol_of(get_word(b, i)));
        if (sa != sb) return sa > sb ? 1 : -1;
        // Copies: comparing may run code that moves the values.
        cell_t va = *_context::value_at(a, i);
        cell_t vb = *_context::value_at(b, i);
        uint8_t ta = type_of(&va), tb = type_of(&vb);
        if (ta != tb && !(word_kind(ta) && word_kind(tb)) && !(number(ta) && number(tb)))
            return ta > tb ? 1 : -1;
        int32_t r = actions::compare_value(&va, &vb, op);
        if (r != 0) return r;
    }
    return 0;
}

cell_t* select(cell_t* series, cell_t* value, const select_options_t&) {
    if (!word_kind(type_of(value)) && type_of(value) != TYPE_issue) {
        cell_t t = datatype_of(value);
        fire(err::invalid_type, &t);
    }
    cell_t found = *select_word(series, value);
    stack::set_last(&found);
    return stack::arguments;
}

cell_t* find(cell_t* series, cell_t* value, const find_options_t&) {
    if (!word_kind(type_of(value)) && type_of(value) != TYPE_issue) {
        cell_t t = datatype_of(value);
        fire(err::invalid_type, &t);
    }
    stack::set_last(find_word(series, value) >= 0 ? &true_value : &none_value);
    return stack::arguments;
}

void init() {
    shape::reset();
    datatype::record_t r(TYPE_object, 0, "object!");
    r.own<ACT_make>(make);
    r.own<ACT_reflect>(reflect);
    r.own<ACT_form>(form);
    r.own<ACT_mold>(mold);
    r.own<ACT_eval_path>(eval_path);
    r.own<ACT_compare>(compare);
    r.own<ACT_copy>(copy);
    r.own<ACT_put>(put);
    r.own<ACT_select>(select);
    r.own<ACT_modify>(modify);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::object

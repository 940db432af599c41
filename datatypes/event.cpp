#include "datatypes/event.h"

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/context.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/pair.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/fire.h"
#include "runtime/stack.h"
#include "runtime/words.h"

namespace zuv::event {

namespace {

inline int32_t canonical(words::id w) {
    return symbol::resolve(static_cast<int32_t>(words::symbol_of(w)));
}

// The field words in index order.
constexpr words::id field_words[field::COUNT] = {
    words::id::type,   words::id::face,       words::id::window,      words::id::offset,
    words::id::key,    words::id::picked,     words::id::flags,       words::id::away_q,
    words::id::down_q, words::id::mid_down_q, words::id::alt_down_q,  words::id::aux_down_q,
    words::id::ctrl_q, words::id::shift_q,    words::id::orientation,
};

// Spec values taken by `make`: a word bound to a context stands for its value.
cell_t spec_value(const cell_t* value) {
    uint8_t t = type_of(value);
    if ((t == TYPE_word || t == TYPE_get_word) && value->data1 != 0) return *_context::get(value);
    return *value;
}

bool set_word_is(int32_t sym, words::id w) { return sym == canonical(w); }

cell_t* extra_cells(const cell_t* event) {
    cell_t b{TYPE_block, 0, event->data2, 0};
    return block::rs_abs_at(&b, 0);
}

}  // namespace

int32_t field_index(const cell_t* word, const cell_t* value) {
    if (word::any_word_q(type_of(word))) {
        int32_t sym = symbol::resolve(word::symbol_of(word));
        for (int32_t i = 0; i < field::COUNT; i++)
            if (sym == canonical(field_words[i])) return i + 1;
    }
    if (type_of(value) == TYPE_event) fire(err::cannot_use, word, value);
    return -1;
}

backend_t backend{};

uint32_t flag_bit(const cell_t* word) {
    if (!word::any_word_q(type_of(word))) return 0;
    int32_t sym = symbol::resolve(word::symbol_of(word));
    for (const auto& f : flag_words)
        if (sym == symbol::resolve(symbol::make(f.text))) return f.bit;
    if (sym == symbol::resolve(symbol::make("command"))) return flag::COMMAND;
    return 0;
}

cell_t* get_field(const cell_t* event, int32_t index) {
    cell_t e = *event;
    if (!scripted_q(&e)) return backend.push_field(&e, index);
    switch (index) {
    case field::FACE:
    case field::WINDOW:
    case field::OFFSET:
    case field::PICKED: {
        if (e.data2 == 0) {
            if (index == field::OFFSET) return pair::push(0, 0);
            if (index == field::PICKED) return integer::push(0);
            return none::push();
        }
        int32_t at = index == field::FACE     ? extra::FACE
                     : index == field::WINDOW ? extra::WINDOW
                     : index == field::OFFSET ? extra::OFFSET
                                              : extra::PICKED;
        return stack::push(extra_cells(&e) + at);
    }
    case field::KEY: {
        uint32_t cp = e.data3 & KEY_MASK;
        return cp == 0 ? none::push() : char_::push(cp);
    }
    case field::ORIENTATION: return none::push();
    default: return backend.push_field(&e, index);
    }
}

cell_t* push(const cell_t* event) { return stack::push(event); }

cell_t* push_backend(int32_t type_code, uint32_t flags, const cell_t* face, const cell_t* offset,
                     int32_t datum, double float_datum) {
    cell_t f = *face, o = *offset;
    cell_t* result = stack::push_slot();
    result->header = TYPE_unset;
    cell_t* rec = stack::push_slot();
    rec->header = TYPE_unset;
    block::make_at(rec, record::COUNT);
    cell_t d, fd;
    integer::make_at(&d, datum);
    float_::make_at(&fd, float_datum);
    // The block has room for all four: appending allocates nothing.
    block::rs_append(rec, &f);
    block::rs_append(rec, &o);
    block::rs_append(rec, &d);
    block::rs_append(rec, &fd);
    node_t node = rec->data2;
    stack::pop(1);
    result->data1 = static_cast<uint32_t>(type_code);
    result->data2 = node;
    result->data3 = flags;
    result->header = TYPE_event;
    return result;
}

// --- make ---------------------------------------------------------------------------

cell_t* make(cell_t*, cell_t* spec, int32_t) {
    cell_t* result = stack::arguments;
    cell_t s = *spec;
    result->header = TYPE_event | SCRIPTED;
    result->data1 = result->data2 = result->data3 = 0;
    if (type_of(&s) != TYPE_block) return result;

    cell_t face, window, offset, picked;
    none::make_at(&face);
    none::make_at(&window);
    pair::make_at(&offset, 0, 0);
    integer::make_at(&picked, 0);
    bool extras = false;
    uint32_t code = 0, bits = 0;

    int32_t length = block::rs_length_q(&s);
    for (int32_t i = 0; i + 1 < length; i++) {
        // Re-read each time: making a symbol (type and flag words) may move
        // the spec's buffer.
        const cell_t* at = block::rs_head(&s) + i;
        if (type_of(at) != TYPE_set_word) continue;
        int32_t sym = symbol::resolve(word::symbol_of(at));
        cell_t v = spec_value(at + 1);
        uint8_t vt = type_of(&v);
        if (set_word_is(sym, words::id::type)) {
            if (vt == TYPE_word || vt == TYPE_lit_word)
                code = static_cast<uint32_t>(backend.type_code_of(&v));
        } else if (set_word_is(sym, words::id::key)) {
            if (vt == TYPE_char_) bits = (bits & ~KEY_MASK) | (char_::get(&v) & KEY_MASK);
        } else if (set_word_is(sym, words::id::flags)) {
            if (vt == TYPE_block) {
                int32_t n = block::rs_length_q(&v);
                for (int32_t k = 0; k < n; k++) {
                    cell_t w = block::rs_head(&v)[k];
                    if (type_of(&w) == TYPE_word) bits |= flag_bit(&w);
                }
            }
        } else if (set_word_is(sym, words::id::face) || set_word_is(sym, words::id::window)) {
            if (vt == TYPE_object) {
                (set_word_is(sym, words::id::face) ? face : window) = v;
                extras = true;
            }
        } else if (set_word_is(sym, words::id::offset)) {
            if (vt == TYPE_pair || vt == TYPE_point2d) {
                offset = v;
                extras = true;
            }
        } else if (set_word_is(sym, words::id::picked)) {
            if (vt == TYPE_integer) {
                picked = v;
                extras = true;
            }
        }
        i++;
    }
    result = stack::arguments;
    result->data1 = code;
    result->data3 = bits;
    if (extras) {
        // The objects stay reachable through the spec while the block is made.
        cell_t* b = stack::push_slot();
        b->header = TYPE_unset;
        block::make_at(b, extra::COUNT);
        block::rs_append(b, &face);
        block::rs_append(b, &window);
        block::rs_append(b, &offset);
        block::rs_append(b, &picked);
        node_t node = b->data2;
        stack::pop(1);
        stack::arguments->data2 = node;
    }
    return stack::arguments;
}

// --- text forms -----------------------------------------------------------------------

int32_t form(cell_t*, cell_t* buffer, bool, int32_t limit) {
    string::concatenate_literal(buffer, "event");
    return limit - 5;
}

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    return form(value, buffer, how.part, how.limit);
}

// --- access ----------------------------------------------------------------------------

cell_t* eval_path(cell_t* parent, cell_t* element, cell_t* value, cell_t* path, cell_t*, cell_t*,
                  int32_t, bool, bool, bool, bool) {
    int32_t index = field_index(element, path);
    if (index < 0) fire(err::invalid_path, path, element);
    if (!value) return get_field(parent, index);
    if (index != field::TYPE) fire(err::bad_path_set, path, element);
    if (type_of(value) != TYPE_word) fire(err::bad_path_set, path, value);
    cell_t v = *value;
    int32_t code = backend.type_code_of(&v);
    parent->data1 = static_cast<uint32_t>(code);
    return value;
}

cell_t* pick(cell_t* value, int32_t index, cell_t* index_cell) {
    if (word::any_word_q(type_of(index_cell))) index = field_index(index_cell, value);
    if (index < 1 || index > field::COUNT) fire(err::out_of_range, index_cell);
    return get_field(value, index);
}

int32_t compare(cell_t*, cell_t* value2, int32_t op) {
    if (type_of(value2) != TYPE_event) return -2;
    switch (op) {
    case actions::cmp::EQUAL:
    case actions::cmp::NOT_EQUAL:
    case actions::cmp::STRICT_EQUAL:
    case actions::cmp::SORT:
    case actions::cmp::SORT_CASE:
    case actions::cmp::SAME:
    case actions::cmp::FIND: return 0;
    default: return -2;
    }
}

void init() {
    datatype::record_t r(TYPE_event, 0, "event!");
    r.own<ACT_make>(make);
    r.own<ACT_form>(form);
    r.own<ACT_mold>(mold);
    r.own<ACT_eval_path>(eval_path);
    r.own<ACT_compare>(compare);
    r.own<ACT_pick>(pick);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::event

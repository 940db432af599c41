#include "datatypes/error.h"

#include <unistd.h>

#include <cstring>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/exits.h"
#include "runtime/platform/platform.h"
#include "runtime/print_hooks.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"
#include "runtime/words.h"

namespace zuv::error {

const cell_t* position = nullptr;
void (*evaluate)(cell_t* block) = nullptr;

namespace {

struct category_info_t {
    const char* name;
    const char* title;
};
constexpr category_info_t category_info[CATEGORY_COUNT] = {
    {"throw", "Throw Error"},         {"note", "note"},
    {"syntax", "Syntax Error"},       {"script", "Script Error"},
    {"math", "Math Error"},           {"access", "Access Error"},
    {"reserved1", "Reserved1 Error"}, {"reserved2", "Reserved2 Error"},
    {"user", "User Error"},           {"internal", "Internal Error"},
};

struct id_info_t {
    err_cat category;
    const char* word;
    const char* text;  // template, encoded as described in errors.def
};
constexpr id_info_t ids[] = {
#define ZUV_ERROR(cat, ident, word, text) {err_cat::cat, word, text},
#include "runtime/errors.def"
#undef ZUV_ERROR
};
constexpr int32_t ID_COUNT = sizeof ids / sizeof ids[0];

constexpr const char* field_names[FIELD_COUNT] = {"code", "type", "id",    "arg1",  "arg2",
                                                  "arg3", "near", "where", "stack", "files"};

// The catalog and the prototype, kept in the root block once it exists.
cell_t fallback[2];
cell_t* catalog_cell = nullptr;
cell_t* prototype_cell = nullptr;
cell_t* reserved_cell = nullptr;  // the no-memory error made at start-up

// err id per code, for id_of.
int32_t first_of_category[CATEGORY_COUNT + 1];

// The category objects made at start-up. Words of an error are bound to the
// catalog (e/type) and can unset or replace a category: the runtime still
// has to name its errors then.
cell_t startup_categories[CATEGORY_COUNT];
bool startup_marker_added = false;

void mark_startup_categories() {
    collector::mark_values(startup_categories, startup_categories + CATEGORY_COUNT);
}

cell_t* keep(const cell_t* value, int32_t i) {
    if (type_of(&block::root) == TYPE_block) return block::rs_append(&block::root, value);
    fallback[i] = *value;
    return &fallback[i];
}

cell_t new_word(const char* text) {
    cell_t w;
    word::make_raw(&w, TYPE_word, 0, symbol::make(text), -1);
    return w;
}

// The catalog is built during start-up, before the stacks exist and while
// the collector is off: its values are made in C++ cells.
void make_text(cell_t* out, const char* text, int64_t n) {
    cell::begin(out);
    string::make_at(out, n);
    string::append_bytes(out, text, n);
}

// A template value from its encoding (see errors.def).
void make_template(cell_t* out, const char* text) {
    if (text[0] == '=') {
        *out = new_word(text + 1);
        return;
    }
    if (text[0] != '[') {
        make_text(out, text, static_cast<int64_t>(std::strlen(text)));
        return;
    }
    cell::begin(out);
    block::make_at(out, 4);
    const char* p = text + 1;
    for (;;) {
        const char* end = std::strchr(p, '|');
        int64_t n = end ? end - p : static_cast<int64_t>(std::strlen(p));
        cell_t item;
        if (p[0] == ':' || p[0] == '=') {
            char name[16] = {};
            std::memcpy(name, p + 1, static_cast<size_t>(n - 1 < 15 ? n - 1 : 15));
            item = new_word(name);
            if (p[0] == ':') item.header = (item.header & ~HEADER_TYPE_MASK) | TYPE_get_word;
        } else {
            make_text(&item, p, n);
        }
        block::rs_append(out, &item);
        if (!end) break;
        p = end + 1;
    }
}

void add_field(node_t ctx, const char* name, const cell_t* value) {
    cell_t w = new_word(name);
    _context::add_value(ctx, &w, value);
}

bool word_kind(uint8_t t) { return t >= TYPE_word && t <= TYPE_get_word; }

int32_t canonical(int32_t symbol) { return symbol::resolve(symbol); }

cell_t make_integer(int32_t v) {
    cell_t c;
    cell::begin(&c);
    integer::make_at(&c, v);
    return c;
}

// Position of a word among an object's words, -1 when absent or not a word.
int32_t position_in(const cell_t* obj, const cell_t* word) {
    if (!word_kind(type_of(word))) return -1;
    return object::find_word(obj, word);
}

// Sets type and id to the category and id at those positions.
void set_names(cell_t* e, int32_t cat, int32_t pos) {
    node_t errors_ctx = catalog_cell->data1;
    node_t cat_ctx = category(cat)->data1;
    cell_t t, i;
    word::make_raw(&t, TYPE_word, errors_ctx, word::symbol_of(object::get_word(errors_ctx, cat)),
                   cat);
    word::make_raw(&i, TYPE_word, cat_ctx, word::symbol_of(object::get_word(cat_ctx, pos)), pos);
    *field(e, FIELD_TYPE) = t;
    *field(e, FIELD_ID) = i;
}

[[noreturn]] void fire_spec_field(words::id which) {
    cell_t w = words::word(which);
    fire(err::invalid_spec_field, &w);
}

// type and id given as words: finds them in the catalog and sets code.
void resolve_names(cell_t* e, bool from_set_words) {
    cell_t* type = field(e, FIELD_TYPE);
    int32_t cat = position_in(catalog_cell, type);
    if (cat < 0) fire_spec_field(words::id::type);
    cell_t* id = field(e, FIELD_ID);
    if (!from_set_words && !word_kind(type_of(id))) fire(err::invalid_arg, id);
    int32_t pos = position_in(category(cat), id);
    // code and type are words of a category too, but no ids.
    if (pos < 2) fire_spec_field(words::id::id);
    *field(e, FIELD_CODE) = make_integer(cat * 100 + pos - 2);
}

// Stand-in for binding the spec to the error and evaluating it, until the
// evaluator is plugged in: each run of set-words takes the value after it
// (a lit-word as its word).
void assign_set_words(cell_t* e, cell_t* spec) {
    node_t node = spec->data2;
    int32_t n = alloc::buffer(node)->used() / 16;
    int32_t run_start = -1;
    for (int32_t i = static_cast<int32_t>(spec->data1); i < n; i++) {
        cell_t item = alloc::buffer(node)->head_cell()[i];
        if (type_of(&item) == TYPE_set_word) {
            if (run_start < 0) run_start = i;
            continue;
        }
        if (run_start < 0) continue;
        if (type_of(&item) == TYPE_lit_word)
            item.header = (item.header & ~HEADER_TYPE_MASK) | TYPE_word;
        for (int32_t j = run_start; j < i; j++) {
            cell_t sw = alloc::buffer(node)->head_cell()[j];
            int32_t index = object::find_word(e, &sw);
            if (index >= 0) *field(e, index) = item;
        }
        run_start = -1;
    }
}

cell_t* error_template(int32_t cat, const cell_t* e) {
    int32_t pos = position_in(category(cat), field(e, FIELD_ID));
    if (pos < 2) return nullptr;
    return _context::value_at(category(cat)->data1, pos);
}

// Turns e into the internal error invalid-error with bad as arg1.
void make_invalid(cell_t* e, const cell_t* bad) {
    cell_t copy = *bad;
    *field(e, FIELD_ARG1) = copy;
    const err_info& info = errors::info(err::invalid_error);
    set_names(e, static_cast<int32_t>(err_cat::internal), info.index + 2);
    *field(e, FIELD_CODE) = make_integer(errors::code(err::invalid_error));
}

int32_t length_of(cell_t* s) { return string::rs_abs_length_q(s); }

// Appends a value formed or molded (flat) within a part limit; cuts it back
// to the limit when it ran over. Returns the characters appended.
int32_t append_limited(cell_t* buffer, cell_t* value, bool mold, int32_t limit) {
    int32_t before = length_of(buffer);
    int32_t rest = mold ? actions::mold(value, buffer, {.flat = true, .part = true, .limit = limit})
                        : actions::form(value, buffer, true, limit);
    if (rest < 0) string::truncate_to(string::buffer_of(buffer), before + limit);
    return length_of(buffer) - before;
}

void append_text(cell_t* buffer, const char* text) { string::concatenate_literal(buffer, text); }

}  // namespace

void init_catalog() {
    for (int32_t c = 0, i = 0; c <= CATEGORY_COUNT; c++) {
        while (i < ID_COUNT && static_cast<int32_t>(ids[i].category) < c) i++;
        first_of_category[c] = i;
    }
    cell_t errors_obj;
    cell::begin(&errors_obj);
    object::make_at(&errors_obj, CATEGORY_COUNT);
    for (int32_t c = 0; c < CATEGORY_COUNT; c++) {
        int32_t first = first_of_category[c],
                count = first_of_category[c + 1] - first_of_category[c];
        cell_t cat;
        cell::begin(&cat);
        object::make_at(&cat, count + 2);
        node_t ctx = cat.data1;
        cell_t value = make_integer(c * 100);
        add_field(ctx, "code", &value);
        make_text(&value, category_info[c].title,
                  static_cast<int64_t>(std::strlen(category_info[c].title)));
        add_field(ctx, "type", &value);
        for (int32_t i = first; i < first + count; i++) {
            make_template(&value, ids[i].text);
            add_field(ctx, ids[i].word, &value);
        }
        add_field(errors_obj.data1, category_info[c].name, &cat);
        startup_categories[c] = cat;
    }
    if (!startup_marker_added) {
        startup_marker_added = true;
        collector::add_marker(mark_startup_categories);
    }
    cell_t proto;
    cell::begin(&proto);
    object::make_at(&proto, FIELD_COUNT);
    const cell_t none{TYPE_none, 0, 0, 0};
    for (const char* name : field_names) add_field(proto.data1, name, &none);
    catalog_cell = keep(&errors_obj, 0);
    prototype_cell = keep(&proto, 1);
}

void init() {
    datatype::record_t r(TYPE_error, TYPE_object, "error!");
    r.own<ACT_make>(make);
    r.inherit({ACT_reflect, ACT_copy, ACT_find, ACT_select});
    r.own<ACT_form>(form);
    r.own<ACT_mold>(mold);
    r.own<ACT_eval_path>(eval_path);
    r.own<ACT_compare>(compare);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

void forget() { catalog_cell = prototype_cell = reserved_cell = nullptr; }

void reserve() {
    cell_t* e = create(err::no_memory);
    reserved_cell = block::rs_append(&block::root, e);
    stack::pop(1);
}

cell_t* reserved_no_memory() {
    if (reserved_cell == nullptr) return nullptr;
    // Made afresh for each raise as far as writing in place goes: what an
    // earlier raise set is cleared.
    for (int32_t i = FIELD_ARG1; i < FIELD_COUNT; i++)
        *field(reserved_cell, i) = cell_t{TYPE_none, 0, 0, 0};
    if (position != nullptr) *field(reserved_cell, FIELD_NEAR) = *position;
    return stack::push(reserved_cell);
}

cell_t* catalog() { return catalog_cell; }
cell_t* category(int32_t index) {
    cell_t* c = _context::value_at(catalog_cell->data1, index);
    return type_of(c) == TYPE_object ? c : &startup_categories[index];
}
cell_t* prototype() { return prototype_cell; }

cell_t* field(const cell_t* error, int32_t index) {
    return _context::value_at(error->data1, index);
}

cell_t* create(err id, const cell_t* arg1, const cell_t* arg2, const cell_t* arg3) {
    const cell_t* given[3] = {arg1, arg2, arg3};
    cell_t args[3];
    for (int i = 0; i < 3; i++) args[i] = given[i] ? *given[i] : cell_t{TYPE_none, 0, 0, 0};
    cell_t* spec = stack::push_slot();
    *spec = make_integer(errors::code(id));
    cell_t* e = make(prototype_cell, spec, TYPE_error);
    for (int i = 0; i < 3; i++)
        if (given[i]) *field(e, FIELD_ARG1 + i) = args[i];
    // The error takes the place of its spec: the last pushed cell.
    *spec = *e;
    stack::top_slot = spec + 1;
    return spec;
}

err id_of(const cell_t* error) {
    cell_t* code = field(error, FIELD_CODE);
    if (type_of(code) != TYPE_integer) return err::invalid_error;
    int32_t c = integer::get(code);
    int32_t cat = c / 100, index = c % 100;
    if (c < 0 || cat >= CATEGORY_COUNT) return err::invalid_error;
    int32_t i = first_of_category[cat] + index;
    if (i >= first_of_category[cat + 1]) return err::invalid_error;
    return static_cast<err>(i);
}

void set_where(cell_t* error, const cell_t* value) {
    cell_t* w = field(error, FIELD_WHERE);
    if (type_of(w) == TYPE_none) *w = *value;
}

int32_t stack_trace_level() {
    auto field_of = [](const cell_t* object, words::id name) -> const cell_t* {
        if (object == nullptr || type_of(object) != TYPE_object) return nullptr;
        return _context::get_in(static_cast<int32_t>(words::symbol_of(name)), object->data1);
    };
    if (_context::global_node == 0) return 0;
    const cell_t* system = _context::get_in(
        static_cast<int32_t>(words::symbol_of(words::id::system)), _context::global_node);
    const cell_t* level = field_of(field_of(system, words::id::state), words::id::stack_trace);
    if (level == nullptr || type_of(level) != TYPE_integer) return 0;
    int32_t n = integer::get(level);
    return n > 0 ? n : 0;
}

cell_t get_call_argument(int32_t) {
    // The spec of the running function, native or action is read here once
    // function values exist; until then the argument is anonymous.
    return words::word(words::id::tag_anon);
}

void capture_stack(cell_t* value) {
    if (type_of(value) != TYPE_error) return;
    cell_t* s = field(value, FIELD_STACK);
    if (type_of(s) != TYPE_integer) return;
    int32_t level = stack_trace_level();
    if (level == 0) level = 1;
    call_frame_t* end = stack::cbottom + integer::get(s);
    // The frames are read after the block is made: no collection may run in
    // between, which could free what only the popped frames name.
    collector::hold_off hold;
    cell_t* trace = stack::push_slot();
    cell::begin(trace);
    block::make_at(trace, 20);
    exits::trace(level, trace, end);
    cell_t done = *trace;
    stack::pop(1);
    *field(value, FIELD_STACK) = done;
}

void print(cell_t* error) {
    cell_t* e = stack::push(error);
    cell_t* text = stack::push_slot();
    cell::begin(text);
    string::make_at(text, 256);
    form(e, text, false, 0);
    if (print_hooks::print_list.count > 0) {
        print_hooks::call(text, true);
    } else {
        // No printer yet (early start-up): the text goes out as UTF-8.
        string::append_char(text, '\n');
        std::string bytes = unicode::to_utf8(text);
        platform::write_all(STDOUT_FILENO, bytes.data(), bytes.size());
    }
    stack::pop(2);
}

cell_t* make(cell_t*, cell_t* spec, int32_t) {
    uint8_t st = type_of(spec);
    if (st == TYPE_string) return create(err::message, spec);
    cell_t* e = stack::push_slot();
    cell::begin(e);
    object::copy_into(prototype_cell, e, false);
    e->header = TYPE_error;
    e->data2 = 1;
    e->data3 = 0;
    *_context::get_self_value(e->data1) = *e;
    if (st == TYPE_integer) {
        int32_t code = integer::get(spec);
        int32_t cat = code / 100;
        if (code < 0 || cat >= CATEGORY_COUNT) fire(err::out_of_range, spec);
        int32_t pos = code % 100 + 2;
        if (pos >= object::word_count(category(cat))) fire(err::out_of_range, spec);
        *field(e, FIELD_CODE) = *spec;
        set_names(e, cat, pos);
    } else if (st == TYPE_block) {
        int32_t head = static_cast<int32_t>(spec->data1);
        series_buffer_t* s = alloc::buffer(spec->data2);
        int32_t n = s->used() / 16 - head;
        uint8_t first = n > 0 ? type_of(s->head_cell() + head) : uint8_t{TYPE_unset};
        if (first == TYPE_word) {
            cell_t type = s->head_cell()[head];
            if (position_in(catalog_cell, &type) < 0) fire_spec_field(words::id::type);
            *field(e, FIELD_TYPE) = type;
            if (n < 2) fire_spec_field(words::id::id);
            *field(e, FIELD_ID) = alloc::buffer(spec->data2)->head_cell()[head + 1];
            resolve_names(e, false);
        } else if (first == TYPE_set_word) {
            if (evaluate != nullptr) {
                _context::bind(spec, e->data1, false);
                evaluate(spec);
            } else {
                assign_set_words(e, spec);
            }
            resolve_names(e, true);
        } else {
            fire(err::invalid_error);
        }
    } else {
        cell_t t;
        datatype::make_at(&t, TYPE_error);
        fire(err::bad_make_arg, &t, spec);
    }
    if (position != nullptr) *field(e, FIELD_NEAR) = *position;
    return e;
}

int32_t form(cell_t* value, cell_t* buffer, bool, int32_t limit) {
    // Scratch cells on the argument stack: everything below allocates.
    cell_t* e = stack::push(value);
    cell_t* scratch = stack::push_slot();
    cell::begin(scratch);
    append_text(buffer, "*** ");

    int32_t cat = position_in(catalog_cell, field(e, FIELD_TYPE));
    if (cat < 0) {
        make_invalid(e, field(e, FIELD_TYPE));
        cat = static_cast<int32_t>(err_cat::internal);
    }
    cell_t* t = error_template(cat, e);
    if (t == nullptr) {
        make_invalid(e, field(e, FIELD_ID));
        cat = static_cast<int32_t>(err_cat::internal);
        t = error_template(cat, e);
    }
    *scratch = *t;
    if (type_of(scratch) == TYPE_word) {
        int32_t i = object::find_word(e, scratch);
        *scratch = i >= 0 ? *field(e, i) : cell_t{TYPE_none, 0, 0, 0};
    }

    cell_t title = *_context::value_at(category(cat)->data1, 1);
    limit -= append_limited(buffer, &title, false, 0x7FFFFFFF) + 6;
    append_text(buffer, ": ");

    bool syntax = cat == static_cast<int32_t>(err_cat::syntax);
    if (string::any_string_q(type_of(scratch))) {
        limit -= append_limited(buffer, scratch, false, 0x7FFFFFFF);
    } else if (type_of(scratch) == TYPE_block) {
        node_t node = scratch->data2;
        int32_t head = static_cast<int32_t>(scratch->data1);
        for (int32_t i = head;; i++) {
            int32_t n = alloc::buffer(node)->used() / 16;
            if (i >= n) break;
            cell_t item = alloc::buffer(node)->head_cell()[i];
            uint8_t it = type_of(&item);
            if (string::any_string_q(it)) {
                limit -= append_limited(buffer, &item, false, 0x7FFFFFFF);
            } else if (it == TYPE_word || it == TYPE_get_word) {
                int32_t index = object::find_word(e, &item);
                *scratch = index >= 0 ? *field(e, index) : cell_t{TYPE_none, 0, 0, 0};
                limit -= append_limited(buffer, scratch, !syntax, ARG_LIMIT);
            }
            if (i + 1 < n) {
                string::append_char(buffer, ' ');
                limit--;
            }
        }
    } else {
        make_invalid(e, field(e, FIELD_TYPE));
    }

    append_text(buffer, "\n*** Where: ");
    *scratch = *field(e, FIELD_WHERE);
    if (type_of(scratch) == TYPE_word || type_of(scratch) == TYPE_string)
        append_limited(buffer, scratch, false, 0x7FFFFFFF);
    else append_text(buffer, "???");

    append_text(buffer, "\n*** Near : ");
    *scratch = *field(e, FIELD_NEAR);
    int32_t before = length_of(buffer);
    limit = actions::mold(scratch, buffer,
                          {.only = true, .flat = true, .part = true, .limit = NEAR_LIMIT});
    if (limit < 0) string::truncate_to(string::buffer_of(buffer), before + NEAR_LIMIT);

    if (int32_t level = stack_trace_level(); level > 0) {
        *scratch = *field(e, FIELD_STACK);
        if (type_of(scratch) == TYPE_integer) {
            append_text(buffer, "\n*** Stack: ");
            limit = exits::trace_form(level, scratch, buffer, limit);
        } else if (type_of(scratch) == TYPE_block) {
            append_text(buffer, "\n*** Stack: ");
            limit = actions::form(scratch, buffer, false, limit);
        }
    }

    *scratch = *field(e, FIELD_FILES);
    if (type_of(scratch) == TYPE_block) {
        append_text(buffer, "\n*** Files: ");
        before = length_of(buffer);
        limit = actions::mold(scratch, buffer,
                              {.only = true, .flat = true, .part = true, .limit = NEAR_LIMIT});
        if (limit < 0) string::truncate_to(string::buffer_of(buffer), before + NEAR_LIMIT);
    }
    stack::pop(2);
    return limit;
}

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    // An error may hold itself in a field (e/arg1: e); without the cycle
    // stack that recursion runs on until the stack overflows.
    node_t ctx = value->data1;
    if (cycles::find_q(ctx)) {
        append_text(buffer, "make error! [...]");
        return how.limit - 17;
    }
    cycles::guard g(ctx);
    if (!how.only) {
        append_text(buffer, "make error! [");
        how.limit -= 13;
    }
    how.limit = object::serialize(value, buffer, how.deeper(), true);
    if (!how.only) {
        string::append_char(buffer, ']');
        how.limit--;
    }
    return how.limit;
}

cell_t* eval_path(cell_t* parent, cell_t* element, cell_t* value, cell_t* path, cell_t* gparent,
                  cell_t* p_item, int32_t index, bool case_, bool get, bool tail, bool evt) {
    // The stack field records frame positions while the error travels; a
    // script must neither read nor forge it.
    if (word_kind(type_of(element)) &&
        canonical(word::symbol_of(element)) ==
            canonical(static_cast<int32_t>(words::symbol_of(words::id::stack))))
        fire(err::invalid_path_set, path);
    return object::eval_path(parent, element, value, path, gparent, p_item, index, case_, get, tail,
                             evt);
}

int32_t compare(cell_t* value1, cell_t* value2, int32_t op) {
    if (type_of(value2) != TYPE_error) return -2;
    cell::set_type(value2, TYPE_object);
    int32_t r;
    try {
        r = object::compare(value1, value2, op);
    } catch (...) {
        cell::set_type(value2, TYPE_error);
        throw;
    }
    cell::set_type(value2, TYPE_error);
    return r;
}

}  // namespace zuv::error

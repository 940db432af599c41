// The natives table, the native! values and the helpers the natives share.
#include "natives/natives.h"

#include <cstring>
#include <initializer_list>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/native.h"
#include "datatypes/op.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "interpreter/interpreter.h"
#include "lexer/lexer.h"
#include "runtime/alloc.h"
#include "runtime/collector.h"
#include "runtime/exits.h"
#include "runtime/fire.h"
#include "runtime/lowrt.h"
#include "runtime/stack.h"

namespace zuv::natives {

native_entry_t* table = nullptr;
int32_t next_number = 1;
cell_t* print_buffer = nullptr;

namespace {

#define ZUV_NATIVE(number, name, word, spec) {number, word, spec, name},
#define ZUV_PLANNED(number, name, word, spec) {number, word, spec, nullptr},
constexpr info_t infos[COUNT] = {
#include "natives/natives.def"
};
#undef ZUV_NATIVE
#undef ZUV_PLANNED

constexpr bool numbered_in_order() {
    for (int32_t i = 0; i < COUNT; i++)
        if (infos[i].number != i + 1) return false;
    return true;
}
static_assert(numbered_in_order(), "natives.def lists every native once, in number order");

// The native! values made by define_words, by number - 1 (a root block cell).
cell_t* values = nullptr;

// The natives' words, made by init.
cell_t words[COUNT];

}  // namespace

const info_t& info(int32_t number) { return infos[number - 1]; }

const cell_t* word_of(int32_t number) { return &words[number - 1]; }

int32_t number_of(const char* word) {
    for (const info_t& i : infos)
        if (std::strcmp(i.word, word) == 0) return i.number;
    return 0;
}

void table_append(int32_t count, const native_entry_t* entries) {
    for (int32_t i = 0; i < count; i++) table[next_number - 1 + i] = entries[i];
    next_number += count;
}

void init() {
    if (table == nullptr) {
        table = static_cast<native_entry_t*>(lowrt::allocate(TABLE_SLOTS * sizeof(native_entry_t)));
    }
    for (int32_t i = 0; i < TABLE_SLOTS; i++) table[i] = nullptr;
    next_number = 1;
    print_buffer = block::make_in(&block::root, 32);
    values = block::make_in(&block::root, COUNT);
    for (int32_t i = 0; i < COUNT; i++)
        words[i] = word::make_global(
            symbol::make_alt(infos[i].word, static_cast<int32_t>(std::strlen(infos[i].word))));
    native_entry_t entries[COUNT];
    for (int32_t i = 0; i < COUNT; i++) entries[i] = infos[i].entry;
    table_append(COUNT, entries);
    interpreter::native_table = table;
}

namespace {

// A global word's value cell, the word added when new.
cell_t* global_value(const char* text) {
    cell_t w;
    _context::add_global(symbol::make_alt(text, static_cast<int32_t>(std::strlen(text))), false,
                         false, &w);
    return _context::get(&w);
}

void set_global_if_unset(const char* text, const cell_t* value) {
    cell_t* slot = global_value(text);
    if (type_of(slot) == TYPE_unset) *slot = *value;
}

cell_t typeset_of(std::initializer_list<int32_t> ids) {
    cell_t t{TYPE_typeset, 0, 0, 0};
    for (int32_t id : ids) typeset::set_bit(&t, id);
    return t;
}

void merge(cell_t* into, const cell_t& from_ref) {
    const cell_t* from = &from_ref;
    into->data1 |= from->data1;
    into->data2 |= from->data2;
    into->data3 |= from->data3;
}

// The datatype words and the typesets the natives' specs name. The library
// defines these at its start; until it exists they are made here, and only
// for words that have no value yet.
void define_type_words() {
    for (int32_t id = 1; id <= datatype::top_id; id++) {
        if (datatype::name_table[id].name == nullptr) continue;
        cell_t dt;
        datatype::make_at(&dt, id);
        set_global_if_unset(datatype::name_table[id].name, &dt);
    }
    cell_t any_word = typeset_of(
        {TYPE_word, TYPE_set_word, TYPE_lit_word, TYPE_get_word, TYPE_refinement, TYPE_issue});
    cell_t any_list = typeset_of({TYPE_block, TYPE_paren, TYPE_hash});
    cell_t any_path = typeset_of({TYPE_path, TYPE_lit_path, TYPE_set_path, TYPE_get_path});
    cell_t any_block = any_list;
    merge(&any_block, any_path);
    cell_t any_function =
        typeset_of({TYPE_native, TYPE_action, TYPE_op, TYPE_function, TYPE_routine});
    cell_t any_object = typeset_of({TYPE_object, TYPE_error, TYPE_port});
    cell_t any_string =
        typeset_of({TYPE_string, TYPE_file, TYPE_url, TYPE_tag, TYPE_email, TYPE_ref});
    cell_t series = any_block;
    merge(&series, any_string);
    merge(&series, typeset_of({TYPE_binary, TYPE_vector, TYPE_image}));
    cell_t number = typeset_of({TYPE_integer, TYPE_float_, TYPE_percent});
    cell_t any_point = typeset_of({TYPE_point2d, TYPE_point3d});
    cell_t scalar = number;
    merge(&scalar, any_point);
    merge(&scalar,
          typeset_of({TYPE_char_, TYPE_pair, TYPE_tuple, TYPE_time, TYPE_date, TYPE_money}));
    cell_t any_type{TYPE_typeset, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
    const struct {
        const char* name;
        const cell_t* value;
    } sets[] = {{"any-word!", &any_word},         {"any-list!", &any_list},
                {"any-path!", &any_path},         {"any-block!", &any_block},
                {"any-function!", &any_function}, {"any-object!", &any_object},
                {"any-string!", &any_string},     {"number!", &number},
                {"any-point!", &any_point},       {"scalar!", &scalar},
                {"any-type!", &any_type}};
    for (const auto& s : sets) set_global_if_unset(s.name, s.value);
    // series! is also an abstract datatype's name; the typeset is what specs mean.
    cell_t* slot = global_value("series!");
    if (type_of(slot) == TYPE_unset || type_of(slot) == TYPE_datatype) *slot = series;
}

// A native! or action! value made from spec text and a number (left in out).
void make_numbered(cell_t* out, const char* spec_text, int32_t number, uint8_t type) {
    stack::mark_native(nullptr);
    stack::push_slot()->header = TYPE_unset;
    cell_t* made = stack::push_slot();
    block::make_at(made, 2);
    cell_t* spec = stack::push_slot();
    spec->header = TYPE_unset;
    lexer::scan(spec, reinterpret_cast<const uint8_t*>(spec_text),
                static_cast<int32_t>(std::strlen(spec_text)), {.wrap = true}, nullptr, nullptr,
                nullptr, nullptr);
    block::rs_append(made, spec);
    cell_t n{TYPE_unset, 0, 0, 0};
    integer::make_at(&n, number);
    block::rs_append(made, &n);
    cell_t proto;
    datatype::make_at(&proto, type);
    *out = *native::make_numbered(&proto, made, type);
    stack::unwind();
    stack::pop(1);
}

// The constants, the common actions and the operators scripts use. The
// library defines these (with the actions' full specs) at its start; until
// it exists they are made here, for words that have no value yet.
void define_library_stand_ins() {
    cell_t t{TYPE_logic, 1, 0, 0}, f{TYPE_logic, 0, 0, 0}, none{TYPE_none, 0, 0, 0};
    const struct {
        const char* name;
        const cell_t* value;
    } constants[] = {{"true", &t}, {"false", &f}, {"on", &t},     {"off", &f},
                     {"yes", &t},  {"no", &f},    {"none", &none}};
    for (const auto& c : constants) set_global_if_unset(c.name, &c.value[0]);

    const struct {
        const char* name;
        int32_t number;
        const char* spec;
    } actions_[] = {
        {"make", ACT_make, "type [any-type!] spec [any-type!]"},
        {"to", ACT_to, "type [any-type!] spec [any-type!]"},
        {"form", ACT_form, "value [any-type!]"},
        {"mold", ACT_mold, "value [any-type!]"},
        {"add", ACT_add, "value1 value2"},
        {"subtract", ACT_subtract, "value1 value2"},
        {"multiply", ACT_multiply, "value1 value2"},
        {"divide", ACT_divide, "value1 value2"},
        {"remainder", ACT_remainder, "value1 value2"},
        {"negate", ACT_negate, "number"},
        {"even?", ACT_even_q, "number"},
        {"odd?", ACT_odd_q, "number"},
        {"append", ACT_append, "series [series!] value [any-type!] /part length /only /dup count"},
        {"insert", ACT_insert, "series [series!] value [any-type!] /part length /only /dup count"},
        {"at", ACT_at, "series index"},
        {"back", ACT_back, "series"},
        {"clear", ACT_clear, "series"},
        {"copy", ACT_copy, "value /part length /deep /types kind"},
        {"find", ACT_find, "series value"},
        {"head", ACT_head, "series"},
        {"head?", ACT_head_q, "series"},
        {"index?", ACT_index_q, "series"},
        {"length?", ACT_length_q, "series"},
        {"next", ACT_next, "series"},
        {"pick", ACT_pick, "series index"},
        {"poke", ACT_poke, "series index value [any-type!]"},
        {"remove", ACT_remove, "series /part length"},
        {"select", ACT_select, "series value"},
        {"skip", ACT_skip, "series offset"},
        {"tail", ACT_tail, "series"},
        {"tail?", ACT_tail_q, "series"},
    };
    for (const auto& a : actions_) {
        cell_t* slot = global_value(a.name);
        if (type_of(slot) != TYPE_unset) continue;
        cell_t v;
        make_numbered(&v, a.spec, a.number, TYPE_action);
        *global_value(a.name) = v;
    }
    const struct {
        const char* name;
        const char* wraps;
    } ops[] = {{"+", "add"},         {"-", "subtract"},          {"*", "multiply"},
               {"/", "divide"},      {"//", "remainder"},        {"=", "equal?"},
               {"<>", "not-equal?"}, {"==", "strict-equal?"},    {"<", "lesser?"},
               {">", "greater?"},    {"<=", "lesser-or-equal?"}, {">=", "greater-or-equal?"}};
    for (const auto& o : ops) {
        cell_t* slot = global_value(o.name);
        if (type_of(slot) != TYPE_unset) continue;
        cell_t wrapped = *global_value(o.wraps);
        uint8_t wt = type_of(&wrapped);
        if (wt != TYPE_native && wt != TYPE_action) continue;
        stack::mark_native(nullptr);
        stack::push_slot()->header = TYPE_unset;
        cell_t v = *op::make(nullptr, &wrapped, TYPE_op);
        stack::unwind();
        stack::pop(1);
        *global_value(o.name) = v;
    }
}

}  // namespace

void define_words() {
    if (values == nullptr) return;
    define_type_words();
    for (const info_t& i : infos) {
        cell_t value;
        make_numbered(&value, i.spec, i.number, TYPE_native);
        int32_t have = block::abs_length(values);
        if (have < i.number) {
            for (int32_t k = have; k < i.number; k++) block::rs_append(values, &unset_value);
        }
        cell_t* slot = block::rs_abs_at(values, i.number - 1);
        *slot = value;
        *global_value(i.word) = value;
    }
    define_library_stand_ins();
}

const cell_t* value_of(int32_t number) {
    if (values == nullptr || number < 1 || number > block::abs_length(values)) return nullptr;
    const cell_t* v = block::rs_abs_at(values, number - 1);
    return type_of(v) == TYPE_native ? v : nullptr;
}

// --- argument checks (callers that have not tested the types) -------------------

namespace {

[[noreturn, gnu::cold]] void fire_expect(int32_t number, const cell_t* value, const cell_t* arg) {
    cell_t fn = words[number - 1];
    cell_t type;
    datatype::make_at(&type, type_of(value));
    cell_t a = *arg;
    cell::set_type(&a, TYPE_word);
    a.header &= HEADER_TYPE_MASK;
    fire(err::expect_arg, &fn, &type, &a);
}

}  // namespace

void check_args(int32_t number, const int32_t* refinements) {
    if (values == nullptr || number < 1 || number > block::abs_length(values)) return;
    cell_t v = *block::rs_abs_at(values, number - 1);
    if (type_of(&v) != TYPE_native) return;
    collector::root_cell keep(&v);
    node_t cache = interpreter::arguments_cache(&v)->data2;
    cell_t spec;
    block::init_value(&spec, TYPE_block, native::spec_node(&v));
    int32_t n = block::abs_length(&spec);
    int32_t entry = 0;  // the cache's entries follow the spec's words and refinements
    int32_t pos = 0;
    int32_t ordinal = 0;
    bool active = true;
    for (int32_t i = 0; i < n; i++) {
        cell_t* c = block::rs_abs_at(&spec, i);
        uint8_t t = type_of(c);
        if (t == TYPE_refinement) {
            int32_t r = refinements[ordinal++];
            active = r >= 0;
            pos = r;
            entry++;
            continue;
        }
        if (t != TYPE_word && t != TYPE_lit_word && t != TYPE_get_word && t != TYPE_set_word)
            continue;
        const cell_t* types = alloc::buffer(cache)->head_cell() + entry++;
        if (t == TYPE_set_word) continue;  // return:
        if (!active) continue;
        const cell_t* value = stack::arguments + pos++;
        if (value >= stack::top_slot) continue;
        if (type_of(types) == TYPE_typeset && !typeset::has_q(types, type_of(value))) {
            cell_t arg = *block::rs_abs_at(&spec, i);
            fire_expect(number, value, &arg);
        }
    }
}

// --- shared helpers ---------------------------------------------------------------

cell_t* make_figure(cell_t* cell, int64_t n) {
    if (n > INT32_MAX || n < INT32_MIN) return float_::make_at(cell, static_cast<double>(n));
    return integer::make_at(cell, static_cast<int32_t>(n));
}

}  // namespace zuv::natives

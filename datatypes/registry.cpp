#include "datatypes/registry.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "datatypes/action.h"
#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/email.h"
#include "datatypes/error.h"
#include "datatypes/event.h"
#include "datatypes/file.h"
#include "datatypes/float.h"
#include "datatypes/function.h"
#include "datatypes/get_path.h"
#include "datatypes/get_word.h"
#include "datatypes/handle.h"
#include "datatypes/hash_type.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/issue.h"
#include "datatypes/lit_path.h"
#include "datatypes/lit_word.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/money.h"
#include "datatypes/native.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/op.h"
#include "datatypes/pair.h"
#include "datatypes/path.h"
#include "datatypes/percent.h"
#include "datatypes/point2d.h"
#include "datatypes/point3d.h"
#include "datatypes/port.h"
#include "datatypes/ref.h"
#include "datatypes/refinement.h"
#include "datatypes/routine.h"
#include "datatypes/series.h"
#include "datatypes/set_path.h"
#include "datatypes/set_word.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tag.h"
#include "datatypes/time.h"
#include "datatypes/triple.h"
#include "datatypes/tuple.h"
#include "datatypes/typeset.h"
#include "datatypes/unset.h"
#include "datatypes/url.h"
#include "datatypes/vector.h"
#include "datatypes/word.h"
#include "runtime/lowrt.h"
#include "runtime/platform/platform.h"

namespace zuv {

action_entry_t type_action_table[TYPE_SLOTS * ACTION_ROW];
action_fn::compare_t quiet_compare_table[TYPE_SLOTS];

namespace datatype {

name_entry_t name_table[TYPE_SLOTS];
int32_t top_id = 0;

namespace {

constexpr const char* type_names[TYPE_SLOTS] = {
    nullptr,
#define ZUV_TYPE(id, ident, name, refs) name,
#include "datatypes/types.def"
#undef ZUV_TYPE
};

// THE registration order: parents before children. A datatype module plugs
// its init into its slot; nullptr means the module has not landed, and the
// type is registered with its name, its parent and an empty row.
// clang-format off
const order_entry_t order[] = {
    {TYPE_datatype,   0,              datatype::init},
    {TYPE_unset,      0,              unset::init},
    {TYPE_none,       0,              none::init},
    {TYPE_logic,      0,              logic::init},
    {TYPE_series,     0,              series::init},
    {TYPE_block,      TYPE_series,    block::init},
    {TYPE_string,     TYPE_series,    string::init},
    {TYPE_binary,     TYPE_string,    binary::init},
    {TYPE_integer,    0,              integer::init},
    {TYPE_symbol,     0,              symbol::init},
    {TYPE_context,    0,              context::init},
    {TYPE_word,       TYPE_symbol,    word::init},
    {TYPE_lit_word,   TYPE_word,      lit_word::init},
    {TYPE_set_word,   TYPE_word,      set_word::init},
    {TYPE_get_word,   TYPE_word,      get_word::init},
    {TYPE_refinement, TYPE_word,      refinement::init},
    {TYPE_char_,      TYPE_integer,   char_::init},
    {TYPE_native,     0,              native::init},
    {TYPE_action,     TYPE_native,    action::init},
    {TYPE_op,         TYPE_native,    op::init},
    {TYPE_path,       TYPE_block,     path::init},
    {TYPE_lit_path,   TYPE_path,      lit_path::init},
    {TYPE_set_path,   TYPE_path,      set_path::init},
    {TYPE_get_path,   TYPE_path,      get_path::init},
    {TYPE_function,   TYPE_context,   function::init},
    {TYPE_routine,    TYPE_function,  routine::init},
    {TYPE_paren,      TYPE_block,     paren::init},
    {TYPE_issue,      TYPE_word,      issue::init},
    {TYPE_url,        TYPE_string,    url::init},
    {TYPE_file,       TYPE_url,       file::init},
    {TYPE_object,     0,              object::init},
    {TYPE_bitset,     0,              bitset::init},
    {TYPE_triple,     0,              triple::init},
    {TYPE_float_,     0,              float_::init},
    {TYPE_typeset,    0,              typeset::init},
    {TYPE_error,      TYPE_object,    error::init},
    {TYPE_vector,     TYPE_string,    vector::init},
    {TYPE_map,        0,              map::init},
    {TYPE_hash,       TYPE_block,     hash_type::init},
    {TYPE_pair,       0,              pair::init},
    {TYPE_percent,    TYPE_float_,    percent::init},
    {TYPE_tuple,      0,              tuple::init},
    {TYPE_time,       TYPE_float_,    time::init},
    {TYPE_tag,        TYPE_string,    tag::init},
    {TYPE_email,      TYPE_string,    email::init},
    {TYPE_handle,     TYPE_integer,   handle::init},
    {TYPE_date,       0,              date::init},
    {TYPE_port,       TYPE_object,    port::init},
    {TYPE_money,      0,              money::init},
    {TYPE_ref,        TYPE_string,    ref::init},
    {TYPE_point2d,    0,              point2d::init},
    {TYPE_point3d,    0,              point3d::init},
    // The imaging backend starts here, just before image! (needs os-image).
    {TYPE_image,      TYPE_series,    image::init},
    // Registered by the library's top level, not by start-up.
    {TYPE_event,      0,              event::init},
};
// clang-format on
constexpr int ORDER_COUNT = sizeof order / sizeof order[0];
constexpr int STARTUP_COUNT = ORDER_COUNT - 1;

void print_line(const char* text, int32_t number) {
    char line[96];
    int n = snprintf(line, sizeof line, "%s%d\n", text, number);
    platform::write_all(STDOUT_FILENO, line, static_cast<size_t>(n));
}

void register_entry(const order_entry_t& e) {
    if (e.init) {
        e.init();
    } else {
        record_t empty(e.id, e.parent, type_names[e.id]);
        register_type(RECORD_COUNT, empty);
    }
}

}  // namespace

const order_entry_t* registration_order(int* count) {
    *count = ORDER_COUNT;
    return order;
}

void register_type(int32_t count, const record_t& record) {
    int32_t t = record.id;
    if (t > top_id) top_id = t;
    int32_t p = record.parent;
    name_entry_t& entry = name_table[t];
    entry.name = record.name;
    entry.length = static_cast<int32_t>(std::strlen(record.name)) - 1;
    if (symbol::ready_q()) word::make_at(symbol::make(record.name), &entry.word);
    if (count - 3 != ACTION_COUNT) {
        print_line("*** Datatype Error: invalid actions count for type: ", t);
        print_line("*** Found: ", count - 3);
        print_line("*** Expected: ", ACTION_COUNT);
        lowrt::quit(0);
    }
    action_entry_t* row = &type_action_table[t << 8];
    const action_entry_t* parent_row = &type_action_table[p << 8];
    for (int n = 0; n < ACTION_COUNT; n++) {
        action_entry_t a = record.entries[n];
        row[n] = (p != 0 && a == INHERIT) ? parent_row[n] : a;
    }
    bool inherited = p != 0 && record.entries[ACT_compare - 1] == INHERIT;
    quiet_compare_table[t] = inherited ? quiet_compare_table[p] : record.quiet_compare;
}

void init_tables() {
    std::memset(type_action_table, 0, sizeof type_action_table);
    std::memset(quiet_compare_table, 0, sizeof quiet_compare_table);
    std::memset(name_table, 0, sizeof name_table);
    top_id = 0;
    // A new start-up (tests run several) makes the symbols and the global
    // context again; until then no word can be made.
    symbol::index_node = 0;
    _context::global_node = 0;
}

void register_all() {
    for (int i = 0; i < STARTUP_COUNT; i++) register_entry(order[i]);
}

void register_late() {
    for (int i = STARTUP_COUNT; i < ORDER_COUNT; i++) register_entry(order[i]);
}

void make_words() {
    for (int32_t id = 1; id <= top_id; id++)
        if (name_table[id].name)
            word::make_at(symbol::make(name_table[id].name), &name_table[id].word);
}

}  // namespace datatype
}  // namespace zuv

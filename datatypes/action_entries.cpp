#include "datatypes/action_entries.h"

#include "datatypes/actions.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/fire.h"
#include "runtime/stack.h"
#include "runtime/words.h"

namespace zuv::actions {

namespace {

inline cell_t* arg(int32_t i) { return stack::arguments + i; }
// The first argument cell of a refinement, nullptr when it is not used.
inline cell_t* ref_arg(const int32_t* refs, int32_t k) {
    return refs[k] < 0 ? nullptr : stack::arguments + refs[k];
}
inline bool used(const int32_t* refs, int32_t k) { return refs[k] >= 0; }
inline void result(const cell_t* r) {
    if (r != nullptr) stack::set_last(r);
}

cell_t refinement_word(const char* name) {
    cell_t w;
    word::make_raw(&w, TYPE_refinement, 0, symbol::make(name), -1);
    return w;
}

[[noreturn]] void invalid_refine_arg(const char* refinement, const cell_t* value) {
    cell_t ref = refinement_word(refinement);
    fire(err::invalid_refine_arg, &ref, value);
}

// The limit of form/mold /part, 0x7FFFFFFF without it.
int32_t part_limit(const cell_t* limit) {
    if (limit == nullptr) return 0x7FFFFFFF;
    if (type_of(limit) != TYPE_integer) fire(err::invalid_part, limit);
    return integer::get(limit);
}

// The series that /part counts in: a series (or map!) with a buffer.
inline bool part_source_q(uint8_t t) { return series::series_q(t) || t == TYPE_map; }

// The count a /part argument stands for, counted from value's index, which
// is first clamped to its tail. A negative count moves value's index back
// (not below 0) and becomes the distance moved.
int32_t part_count(cell_t* value, const cell_t* length, bool moves) {
    int32_t count;
    bool indexed = type_of(value) != TYPE_map;
    if (indexed) {
        int32_t tail = series::rs_abs_length_q(value);
        if (series::head_index(value) > tail) series::set_head_index(value, tail);
    }
    if (type_of(length) == TYPE_integer) {
        count = integer::get(length);
    } else if (type_of(length) == type_of(value) && indexed && length->data2 == value->data2 &&
               type_of(value) != TYPE_port) {
        count = series::head_index(length) - series::head_index(value);
    } else {
        invalid_refine_arg("part", length);
    }
    if (count < 0 && indexed) {
        int32_t index = series::head_index(value);
        int32_t back = index + count < 0 ? index : -count;
        if (moves) series::set_head_index(value, index - back);
        count = back;
    }
    return count;
}

// append and insert: /part (length), /only, /dup (count).
void insert_entry(const int32_t* refs, bool append_) {
    cell_t* series = arg(0);
    cell_t* value = arg(1);
    if (append_ && series::series_q(type_of(series))) series::set_head_index(series, 0);
    // Text onto text with no refinements: straight onto the tail.
    if (append_ && type_of(series) == TYPE_string && type_of(value) == TYPE_string && refs[0] < 0 &&
        refs[1] < 0 && refs[2] < 0 && string::append_plain(series, value)) {
        result(series);
        return;
    }
    int32_t part = -1;
    if (const cell_t* length = ref_arg(refs, 0)) {
        if (!part_source_q(type_of(value))) fire(err::invalid_part, length);
        bool at_head = type_of(value) == TYPE_map || series::head_index(value) == 0;
        bool negative = type_of(length) == TYPE_integer && integer::get(length) < 0;
        if (negative && at_head) return;  // nothing before the value's index
        part = part_count(value, length, true);
        if (part == 0) return;
    }
    int32_t dup = 1;
    if (const cell_t* count = ref_arg(refs, 2)) {
        dup = type_of(count) == TYPE_integer ? integer::get(count) : 0;
        if (dup < 1) return;
    }
    cell_t* r = append_ ? append(series, value, part, used(refs, 1), dup)
                        : insert(series, value, part, used(refs, 1), dup);
    result(r);
}

void missing(const int32_t*) { fire(err::not_done); }

}  // namespace

// --- typed entries -------------------------------------------------------------

void make_star(const int32_t*) { result(make(arg(0), arg(1))); }
void random_star(const int32_t* refs) {
    result(random(arg(0), used(refs, 0), used(refs, 1), used(refs, 2)));
}
void reflect_star(const int32_t*) {
    cell_t* field = arg(1);
    int32_t symbol = word::any_word_q(type_of(field)) ? symbol::resolve(word::symbol_of(field)) : 0;
    result(reflect(arg(0), symbol));
}
void to_star(const int32_t*) { result(to(arg(0), arg(1))); }

void form_star(const int32_t* refs) {
    const cell_t* limit_arg = ref_arg(refs, 0);
    int32_t limit = part_limit(limit_arg);
    cell_t* buffer = stack::push_slot();
    string::make_at(buffer, 16);
    if (limit_arg == nullptr || limit > 0) {
        form(arg(0), buffer, limit_arg != nullptr, limit);
        if (limit_arg != nullptr) string::truncate_to(string::buffer_of(buffer), limit);
    }
    stack::set_last(buffer);
}

void mold_star(const int32_t* refs) {
    const cell_t* limit_arg = ref_arg(refs, 3);
    int32_t limit = part_limit(limit_arg);
    cell_t* buffer = stack::push_slot();
    string::make_at(buffer, 16);
    if (limit_arg == nullptr || limit > 0) {
        mold(arg(0), buffer,
             {.only = used(refs, 0),
              .all = used(refs, 1),
              .flat = used(refs, 2),
              .part = limit_arg != nullptr,
              .limit = limit});
        if (limit_arg != nullptr) string::truncate_to(string::buffer_of(buffer), limit);
    }
    stack::set_last(buffer);
}

void eval_path_star(const int32_t*) {
    cell_t* value = stack::top_slot > stack::arguments + 2 ? arg(2) : nullptr;
    if (value != nullptr && type_of(value) == TYPE_unset) value = nullptr;
    result(
        eval_path(arg(0), arg(1), value, nullptr, nullptr, nullptr, 0, false, false, true, false));
}

void negate_star(const int32_t*) { result(negate(arg(0))); }
void round_star(const int32_t* refs) {
    result(round(arg(0), ref_arg(refs, 0),
                 {.even = used(refs, 1),
                  .down = used(refs, 2),
                  .half_down = used(refs, 3),
                  .floor = used(refs, 4),
                  .ceiling = used(refs, 5),
                  .half_ceiling = used(refs, 6)}));
}
void even_q_star(const int32_t*) { logic::make_at(stack::arguments, even_q(arg(0))); }
void odd_q_star(const int32_t*) { logic::make_at(stack::arguments, odd_q(arg(0))); }
void complement_star(const int32_t*) { result(complement(arg(0))); }

void append_star(const int32_t* refs) { insert_entry(refs, true); }
void insert_star(const int32_t* refs) { insert_entry(refs, false); }

void change_star(const int32_t* refs) {
    cell_t* series = arg(0);
    uint8_t t = type_of(series);
    bool port_like = t == TYPE_port || t == TYPE_image;
    int32_t part = -1;
    if (const cell_t* range = ref_arg(refs, 0)) {
        if (!port_like && series::series_q(t)) {
            int32_t tail = series::rs_abs_length_q(series);
            if (series::head_index(series) > tail) series::set_head_index(series, tail);
        }
        if (type_of(range) == TYPE_integer) {
            part = integer::get(range);
        } else if (type_of(range) == t && !port_like && series::series_q(t) &&
                   range->data2 == series->data2) {
            part = series::head_index(range) - series::head_index(series);
        } else {
            invalid_refine_arg("part", range);
        }
        if (part < 0) {
            if (port_like) {
                part = 0;
            } else {
                int32_t index = series::head_index(series);
                int32_t back = index + part < 0 ? index : -part;
                series::set_head_index(series, index - back);
                part = back;
            }
        }
    }
    int32_t dup = 1;
    if (const cell_t* count = ref_arg(refs, 2)) {
        dup = type_of(count) == TYPE_integer ? integer::get(count) : 0;
        if (dup < 1) return;  // the target is the result
    }
    result(change(series, arg(1), part, used(refs, 1), dup));
}

void clear_star(const int32_t*) { result(clear(arg(0))); }

void copy_star(const int32_t* refs) {
    cell_t* types = ref_arg(refs, 2);
    if (types != nullptr && type_of(types) != TYPE_datatype && type_of(types) != TYPE_typeset) {
        cell_t call = words::word(words::id::tag_not_found);
        if (call_frame_t* f = stack::get_call())
            word::make_raw(&call, TYPE_word, f->context, static_cast<int32_t>(frame::symbol_of(f)),
                           -1);
        cell_t kind;
        datatype::make_at(&kind, type_of(types));
        cell_t name;
        word::make_raw(&name, TYPE_word, 0, symbol::make("kind"), -1);
        fire(err::expect_arg, &call, &kind, &name);
    }
    result(copy(arg(0), stack::arguments, ref_arg(refs, 0), used(refs, 1), types));
}

namespace {
// The refinements of find, or of select (find's less /tail and /match), in
// their order in the actions' specs.
find_options_t search_options(const int32_t* refs, bool find) {
    return {.part = ref_arg(refs, 0),
            .with = ref_arg(refs, 5),
            .skip = ref_arg(refs, 6),
            .only = used(refs, 1),
            .case_ = used(refs, 2),
            .same = used(refs, 3),
            .any = used(refs, 4),
            .last = used(refs, 7),
            .reverse = used(refs, 8),
            .tail = find && used(refs, 9),
            .match = find && used(refs, 10)};
}
}  // namespace

void find_star(const int32_t* refs) { result(find(arg(0), arg(1), search_options(refs, true))); }

void length_q_star(const int32_t*) {
    int32_t n = length_q(arg(0));
    if (n < 0) none::make_at(stack::arguments);
    else integer::make_at(stack::arguments, n);
    stack::keep();
}

void move_star(const int32_t* refs) { result(move(arg(0), arg(1), ref_arg(refs, 0))); }
void pick_star(const int32_t*) { result(pick(arg(0), arg(1))); }
void poke_star(const int32_t*) {
    poke(arg(0), arg(1), arg(2));
    stack::set_last(arg(2));
}
namespace {
// The general paths of put and select, apart so that the map! integer-key
// paths save no registers for them.
[[gnu::noinline]] void put_any(const int32_t* refs) {
    result(put(arg(0), arg(1), arg(2), used(refs, 0)));
}
[[gnu::noinline]] void select_any(const int32_t* refs) {
    result(select(arg(0), arg(1), search_options(refs, false)));
}
}  // namespace

void put_star(const int32_t* refs) {
    cell_t* a = stack::arguments;
    // An integer key of a map!: /case changes nothing.
    if (type_of(a) == TYPE_map && type_of(a + 1) == TYPE_integer) {
        map::put_integer(a, a + 1, a + 2);
        *a = a[2];
        return;
    }
    put_any(refs);
}
void remove_star(const int32_t* refs) {
    result(remove(arg(0), ref_arg(refs, 0), ref_arg(refs, 1)));
}
void reverse_star(const int32_t* refs) {
    result(reverse(arg(0), ref_arg(refs, 0), ref_arg(refs, 1)));
}
void select_star(const int32_t* refs) {
    cell_t* a = stack::arguments;
    // An integer key of a map!: no refinement changes what is found.
    if (type_of(a) == TYPE_map && type_of(a + 1) == TYPE_integer) {
        const cell_t* v = map::find_integer_value(a, integer::get(a + 1));
        *a = v ? *v : cell_t{TYPE_none, 0, 0, 0};
        return;
    }
    select_any(refs);
}
void sort_star(const int32_t* refs) {
    result(sort(arg(0), used(refs, 0), ref_arg(refs, 1), ref_arg(refs, 2), ref_arg(refs, 3),
                used(refs, 4), used(refs, 5), used(refs, 6)));
}
void swap_star(const int32_t*) { result(swap(arg(0), arg(1))); }
void take_star(const int32_t* refs) {
    result(take(arg(0), ref_arg(refs, 0), used(refs, 1), used(refs, 2)));
}
void trim_star(const int32_t* refs) {
    result(trim(arg(0), used(refs, 0), used(refs, 1), used(refs, 2), used(refs, 3), used(refs, 4),
                ref_arg(refs, 5)));
}
void create_star(const int32_t*) { result(create(arg(0))); }
void close_star(const int32_t*) { result(close(arg(0))); }
void delete_star(const int32_t*) { result(delete_(arg(0))); }
void modify_star(const int32_t* refs) { result(modify(arg(0), arg(1), arg(2), used(refs, 0))); }
void open_star(const int32_t* refs) {
    result(
        open(arg(0), used(refs, 0), used(refs, 1), used(refs, 2), used(refs, 3), ref_arg(refs, 4)));
}
void open_q_star(const int32_t*) { result(open_q(arg(0))); }
void query_star(const int32_t*) { result(query(arg(0))); }
void read_star(const int32_t* refs) {
    result(read(arg(0), ref_arg(refs, 0), ref_arg(refs, 1), used(refs, 2), used(refs, 3),
                used(refs, 4), ref_arg(refs, 5)));
}
void rename_star(const int32_t*) { result(rename(arg(0), arg(1))); }
void update_star(const int32_t*) { result(update(arg(0))); }
void write_star(const int32_t* refs) {
    result(write(arg(0), arg(1), used(refs, 0), used(refs, 1), used(refs, 2), used(refs, 3),
                 ref_arg(refs, 4), ref_arg(refs, 5), ref_arg(refs, 6), ref_arg(refs, 7)));
}

// --- frame entries -------------------------------------------------------------

void absolute_star(const int32_t*) { absolute(); }
void add_star(const int32_t*) { add(); }
void divide_star(const int32_t*) { divide(); }
void multiply_star(const int32_t*) { multiply(); }
void power_star(const int32_t*) { power(); }
void remainder_star(const int32_t*) { remainder(); }
void subtract_star(const int32_t*) { subtract(); }
void and_t_star(const int32_t*) { and_t(); }
void or_t_star(const int32_t*) { or_t(); }
void xor_t_star(const int32_t*) { xor_t(); }
void at_star(const int32_t*) { at(); }
void back_star(const int32_t*) { back(); }
void head_star(const int32_t*) { head(); }
void head_q_star(const int32_t*) { head_q(); }
void index_q_star(const int32_t*) { index_q(); }
void next_star(const int32_t*) { next(); }
void skip_star(const int32_t*) { skip(); }
void tail_star(const int32_t*) { tail(); }
void tail_q_star(const int32_t*) { tail_q(); }

// Slots 8 and 9 have no stack entry of their own (nothing, and the compare
// routine, which takes its operands directly); an action! made with either
// number raises an error when called instead of jumping nowhere.
const stack_entry_t table[ACTION_COUNT] = {
    make_star,      random_star, reflect_star, to_star,         form_star,   mold_star,
    eval_path_star, missing,     missing,      absolute_star,   add_star,    divide_star,
    multiply_star,  negate_star, power_star,   remainder_star,  round_star,  subtract_star,
    even_q_star,    odd_q_star,  and_t_star,   complement_star, or_t_star,   xor_t_star,
    append_star,    at_star,     back_star,    change_star,     clear_star,  copy_star,
    find_star,      head_star,   head_q_star,  index_q_star,    insert_star, length_q_star,
    move_star,      next_star,   pick_star,    poke_star,       put_star,    remove_star,
    reverse_star,   select_star, sort_star,    skip_star,       swap_star,   tail_star,
    tail_q_star,    take_star,   trim_star,    create_star,     close_star,  delete_star,
    modify_star,    open_star,   open_q_star,  query_star,      read_star,   rename_star,
    update_star,    write_star,
};

}  // namespace zuv::actions

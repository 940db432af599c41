// The system and conversion natives that hand their work to another module:
// case changes, URL and base-N encodings, the value makers, the clock, wait,
// the memory statistics and the collector switch, and apply.
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/money.h"
#include "datatypes/none.h"
#include "datatypes/op.h"
#include "datatypes/pair.h"
#include "datatypes/point2d.h"
#include "datatypes/point3d.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"
#include "datatypes/url.h"
#include "datatypes/word.h"
#include "interpreter/interpreter.h"
#include "natives/natives.h"
#include "runtime/alloc.h"
#include "runtime/case_folding.h"
#include "runtime/collector.h"
#include "runtime/exits.h"
#include "runtime/fire.h"
#include "runtime/platform/platform.h"
#include "runtime/stack.h"
#include "runtime/ui_hooks.h"
#include "runtime/words.h"

namespace zuv::natives {

namespace {

[[noreturn, gnu::cold]] void fire_invalid(const cell_t* value) {
    cell_t v = *value;
    fire(err::invalid_arg, &v);
}

inline void set_unset() { stack::set_last_keep(&unset_value); }

// --- text ---------------------------------------------------------------------------

void change_case(int32_t number, bool upper, int32_t check, const int32_t* refinements) {
    if (check) check_args(number, refinements);
    cell_t* value = stack::arguments;
    const cell_t* part = nullptr;
    cell_t count;
    if (refinements[0] >= 0) {
        cell_t* limit = stack::arguments + refinements[0];
        uint8_t t = type_of(limit);
        if (t == TYPE_float_ || t == TYPE_percent) {
            // A fractional count is cut toward zero like any other count.
            integer::make_at(&count, integer::from_float(float_::get(limit)));
            part = &count;
        } else if (t == TYPE_integer) {
            part = limit;
        } else if (string::any_string_q(t) && type_of(value) == t && value->data2 == limit->data2) {
            part = limit;
        } else {
            cell_t w = words::word(words::id::part);
            cell_t l = *limit;
            fire(err::invalid_refine_arg, &w, &l);
        }
    }
    case_folding::change_string(value, part, upper);
    stack::keep();
}

// --- base-N ----------------------------------------------------------------------------

int32_t base_arg(const int32_t* refinements) {
    return refinements[0] >= 0 ? integer::get(stack::arguments + refinements[0]) : 64;
}

// --- numbers of the value makers ----------------------------------------------------------

inline float coordinate(const cell_t* c) {
    return type_of(c) == TYPE_integer ? static_cast<float>(integer::get(c))
                                      : static_cast<float>(float_::get(c));
}

// --- memory ---------------------------------------------------------------------------------

struct frame_figures {
    int64_t free, used, total;
};

// A node in use costs its slot in the node table: 8 bytes on a 64-bit
// build, where a slot holds a buffer's address.
constexpr int64_t NODE_BYTES = sizeof(*alloc::node_table);

int64_t memory_in_use() {
    int64_t sum = 0;
    for (node_frame_t* f = alloc::memory.n_head; f != nullptr; f = f->next)
        sum += static_cast<int64_t>(f->used) * NODE_BYTES;
    for (series_frame_t* f = alloc::memory.s_head; f != nullptr; f = f->next)
        sum += f->heap - f->area();
    for (big_frame_t* f = alloc::memory.b_head; f != nullptr; f = f->next)
        sum += static_cast<int64_t>(f->size);
    return sum;
}

void append_figure(cell_t* block, int64_t n) {
    cell_t c;
    c.header = TYPE_unset;
    make_figure(&c, n);
    block::rs_append(block, &c);
}

// Appends a block of [free used total] marked with a new line.
void append_frame(cell_t* list, frame_figures f) {
    cell_t* b = stack::push_slot();
    b->header = TYPE_unset;
    block::make_at(b, 3);
    append_figure(b, f.free);
    append_figure(b, f.used);
    append_figure(b, f.total);
    b->header |= FLAG_NEW_LINE;
    block::rs_append(list, b);
    stack::pop(1);
}

// The figures of stats/info, read in one walk before anything is made, so
// that the total is the sum of the figures shown (building the blocks
// allocates, and would otherwise count itself into some of them).
struct memory_figures {
    std::vector<frame_figures> nodes, series;
    std::vector<int64_t> big;
    int64_t total;
};

memory_figures read_figures() {
    memory_figures m;
    for (node_frame_t* f = alloc::memory.n_head; f != nullptr; f = f->next)
        m.nodes.push_back({f->capacity - f->used, f->used, f->capacity});
    for (series_frame_t* f = alloc::memory.s_head; f != nullptr; f = f->next)
        m.series.push_back({f->end - f->heap, f->heap - f->area(), f->end - f->area()});
    for (big_frame_t* f = alloc::memory.b_head; f != nullptr; f = f->next)
        m.big.push_back(static_cast<int64_t>(f->size));
    m.total = memory_in_use();
    return m;
}

// The stats/info block, pushed.
cell_t* push_info() {
    memory_figures m = read_figures();
    int64_t heap = static_cast<int64_t>(alloc::memory.total);
    cell_t* info = stack::push_slot();
    info->header = TYPE_unset;
    block::make_at(info, 5);
    cell_t* list = stack::push_slot();
    for (const std::vector<frame_figures>* frames : {&m.nodes, &m.series}) {
        list->header = TYPE_unset;
        block::make_at(list, 4);
        for (const frame_figures& f : *frames) append_frame(list, f);
        block::rs_append(info, list);
    }
    list->header = TYPE_unset;
    block::make_at(list, 4);
    for (int64_t size : m.big) append_figure(list, size);
    block::rs_append(info, list);
    stack::pop(1);
    append_figure(info, m.total);
    append_figure(info, heap);
    return info;
}

inline bool callable_q(uint8_t t) {
    return t == TYPE_function || t == TYPE_native || t == TYPE_action || t == TYPE_op ||
           t == TYPE_routine;
}

}  // namespace

// --- text ---------------------------------------------------------------------------------------

void uppercase(int32_t check, const int32_t* refinements) {
    change_case(71, true, check, refinements);
}

void lowercase(int32_t check, const int32_t* refinements) {
    change_case(72, false, check, refinements);
}

void dehex(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::dehex, refinements);
    cell_t* target = stack::push_slot();
    cell::begin(target);
    string::make_at(target, string::rs_length_q(stack::arguments) + 1);
    url::decode(stack::arguments, target);
    stack::set_last_keep(target);
}

void enhex(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::enhex, refinements);
    int mode = type_of(stack::arguments) == TYPE_string ? url::MODE_UNRESERVED : url::MODE_SAFE;
    cell_t* target = stack::push_slot();
    cell::begin(target);
    string::make_at(target, string::rs_length_q(stack::arguments) + 1);
    url::encode(stack::arguments, target, mode);
    stack::set_last_keep(target);
}

void enbase(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::enbase, refinements);
    binary::enbase(stack::arguments, base_arg(refinements), stack::arguments);
    stack::keep();
}

void debase(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::debase, refinements);
    binary::debase(stack::arguments, base_arg(refinements), stack::arguments);
    stack::keep();
}

// --- value makers ------------------------------------------------------------------------

void as_pair(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::as_pair, refinements);
    int32_t xy[2];
    for (int i = 0; i < 2; i++) {
        const cell_t* c = stack::arguments + i;
        xy[i] = type_of(c) == TYPE_integer ? integer::get(c)
                                           : pair::coordinate_from_float(float_::get(c), c);
    }
    pair::make_at(stack::arguments, xy[0], xy[1]);
    stack::keep();
}

void as_point2D(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::as_point2D, refinements);
    cell_t* a = stack::arguments;
    point2d::make_at(a, coordinate(a), coordinate(a + 1));
    stack::keep();
}

void as_point3D(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::as_point3D, refinements);
    cell_t* a = stack::arguments;
    point3d::make_at(a, coordinate(a), coordinate(a + 1), coordinate(a + 2));
    stack::keep();
}

// The amount as the arithmetic converts it: places past the fifth are
// dropped, as 0.1 + 0.2 shows they must be for floats.
void as_money(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::as_money, refinements);
    cell_t* a = stack::arguments;
    int32_t currency = money::find_currency(word::symbol_of(a));
    if (currency < 1) {
        cell_t w = *a;
        fire(err::bad_denom, &w);
    }
    const cell_t* amount = a + 1;
    cell_t m{};
    if (type_of(amount) == TYPE_integer) money::from_integer(&m, integer::get(amount));
    else money::from_float(&m, float_::get(amount), false);
    money::set_currency(&m, currency);
    stack::set_last_keep(&m);
}

// --- clock --------------------------------------------------------------------------------

void now(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::now, refinements);
    enum { YEAR, MONTH, DAY, TIME, ZONE, DATE, WEEKDAY, YEARDAY, PRECISE, UTC };
    auto on = [&](int r) { return refinements[r] >= 0; };
    int used = 0;
    for (int r = YEAR; r <= PRECISE; r++) used += on(r);
    if (used > 1 && !(on(TIME) && on(PRECISE))) fire(err::bad_refines);

    cell_t* d = stack::arguments;
    cell::begin(d);
    date::now(d, on(UTC), on(PRECISE));
    if (on(DATE)) {
        date::make_raw(d, date::get(d) & ~(date::HAS_TIME | date::ZONE_MASK), 0.0);
        stack::keep();
        return;
    }
    // Field numbers of date::get_field, in the order the selectors are tried.
    static constexpr struct {
        int refinement, field;
    } SELECTORS[] = {{YEAR, 2}, {MONTH, 3},    {DAY, 4},     {ZONE, 5},
                     {TIME, 6}, {WEEKDAY, 10}, {YEARDAY, 11}};
    for (const auto& s : SELECTORS) {
        if (!on(s.refinement)) continue;
        cell_t* field = date::get_field(d, s.field);
        stack::set_last_keep(field);
        return;
    }
    stack::keep();
}

void wait(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::wait, refinements);
    cell_t* v = stack::arguments;
    double seconds;
    switch (type_of(v)) {
    case TYPE_integer: seconds = integer::get(v); break;
    case TYPE_float_:
    case TYPE_time: seconds = float_::get(v); break;
    default: fire_invalid(v);
    }
    // Ctrl-C in a window's event loop asks the code that runs to stop.
    platform::wait(seconds, &interpreter::interrupt_requested);
    // The pass runs actors, which use the stack: the answer is made after.
    ui_hooks::poll_events();
    none::make_at(stack::arguments);
    stack::keep();
}

// --- memory ------------------------------------------------------------------------------

void stats(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::stats, refinements);
    bool show = refinements[0] >= 0, info = refinements[1] >= 0;
    if (!show && !info) {
        collector::hold_off off;
        make_figure(stack::arguments, memory_in_use());
        stack::keep();
        return;
    }
    cell_t* block;
    {
        collector::hold_off off;
        block = push_info();
    }
    if (!show) {
        stack::set_last_keep(block);
        return;
    }
    // The library prints the figures.
    cell_t* code = stack::push_slot();
    code->header = TYPE_unset;
    block::make_at(code, 2);
    cell_t w = word::load("show-memory-stats");
    block::rs_append(code, &w);
    block::rs_append(code, block);
    interpreter::eval(code, true);
    if (exits::pending) return;
    set_unset();
}

void recycle(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::recycle, refinements);
    if (refinements[0] >= 0 || refinements[1] >= 0) {
        collector::active = refinements[0] >= 0;  // /on wins when both are given
        set_unset();
        return;
    }
    collector::do_cycle();
    make_figure(stack::arguments, memory_in_use());
    stack::keep();
}

// --- apply ---------------------------------------------------------------------------------

void apply(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::apply, refinements);
    stack::set_interpreted();
    cell_t* func = stack::arguments;
    cell_t* args = stack::arguments + 1;
    int32_t mode = refinements[0] >= 0 ? interpreter::mode::APPLY_ALL : interpreter::mode::APPLY;
    if (refinements[1] >= 0) mode |= interpreter::mode::SAFER;

    cell_t word = words::word(words::id::tag_anon);
    const cell_t* path = nullptr;
    int32_t ref_pos = 0;
    cell_t callee = *func;
    uint8_t t = type_of(func);
    if (t == TYPE_path || t == TYPE_word) {
        if (t == TYPE_path) {
            int32_t head = block::head_index(func);
            const cell_t* h =
                head < block::abs_length(func) ? block::rs_abs_at(func, head) : nullptr;
            if (h == nullptr || type_of(h) != TYPE_word) fire_invalid(func);
            word = *h;
            path = func;
            ref_pos = head + 1;
        } else {
            word = *func;
        }
        callee = *word::get_any(&word);
        stack::pop(1);
        if (!callable_q(type_of(&callee))) fire_invalid(&word);
    } else if (!callable_q(t)) {
        fire_invalid(func);
    }
    if (type_of(&callee) == TYPE_op) cell::set_type(&callee, op::wrapped_type(&callee));

    // The callee's stack cell keeps it alive through the call.
    cell_t* slot = stack::push(&callee);
    uint8_t kind = type_of(slot);
    if (kind == TYPE_function) stack::mark_interp_func(&word);
    else stack::mark_interp_native(&word);
    int32_t end = block::abs_length(args);
    int32_t pos = block::head_index(args);
    if (pos > end) pos = end;
    interpreter::fetch_args(slot, args, pos, end, path, ref_pos, mode, false);
    if (exits::pending) return;
    if (kind == TYPE_function) {
        interpreter::call_function(slot, nullptr, interpreter::callback::NONE);
        if (exits::pending) return;
    } else if (kind == TYPE_routine) {
        interpreter::call_routine(slot);
        if (exits::pending) return;
    }
    cell_t* result = stack::arguments;
    stack::unwind();
    cell_t r = *result;
    stack::set_last_keep(&r);
}

}  // namespace zuv::natives

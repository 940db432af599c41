// The loop natives and their step routines.
//
// Every loop marks a loop frame (the target of break and continue) right
// above its own arguments and evaluates its body into that frame's base cell.
// The arguments live on the argument stack, whose buffer never moves, so the
// body and condition cells are fixed code cells for the whole loop: an
// iteration re-derives nothing but what the evaluator reads through the
// block's node.
//
// After each evaluation the loop tests exits::pending once: zero goes on;
// continue and break are the loop's own (taken here); anything else (return,
// exit, throw) has already unwound past the loop frame and passes on.
#include <algorithm>
#include <cmath>
#include <exception>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/map.h"
#include "datatypes/series.h"
#include "datatypes/word.h"
#include "interpreter/interpreter.h"
#include "natives/natives.h"
#include "runtime/collector.h"
#include "runtime/exits.h"
#include "runtime/fire.h"
#include "runtime/stack.h"

namespace zuv::natives {

namespace {

enum class step { NEXT, CONTINUE, BREAK, PASS };

// The iteration check after a body: NEXT for nothing pending, CONTINUE for
// continue (a loop that tests after its body skips the test), BREAK for
// break, PASS for an exit that is not the loop's.
inline step after_body() {
    uint32_t p = exits::pending;
    if (p == 0) [[likely]]
        return step::NEXT;
    if (p == exits::THROW_CONTINUE) {
        exits::pending = 0;
        return step::CONTINUE;
    }
    if (p == exits::THROW_BREAK) {
        exits::pending = 0;
        return step::BREAK;
    }
    return step::PASS;
}

// Runs f, which runs user code: a body or condition, or a step of the loop
// whose change may call an object's change handler. Answers whether an exit
// is pending afterwards. A handler that breaks or throws ends the action
// that called it with exits::escape, and its exit is pending here as after
// any evaluation.
template <typename F> inline bool exit_after(F&& f) {
    try {
        interpreter::poll_interrupt();
        f();
    } catch (const exits::escape&) {
    }
    return exits::pending != 0;
}

// A step of the loop (setting the word of forall, removing the entries of
// remove-each) through exit_after: break or continue from a handler it ran
// ends the loop, as break does; any other exit passes on.
template <typename F> inline step guarded_step(F&& f) {
    if (!exit_after(f)) [[likely]]
        return step::NEXT;
    if (exits::pending == exits::THROW_BREAK || exits::pending == exits::THROW_CONTINUE) {
        exits::pending = 0;
        return step::BREAK;
    }
    return step::PASS;
}

// Runs the loop's body once over the base: the iteration check of what it
// left pending (after_body).
inline step run_body(cell_t* base, const cell_t* body) {
    stack::top_slot = base;
    if (!exit_after([&] { interpreter::eval_here(body); })) [[likely]]
        return step::NEXT;
    return after_body();
}

// A loop gives the position back once it ended by itself or by break, as
// a block eval runs does, once for all its runs of the body: an error later
// in the expression that ran it is near that expression. After an error or
// an exit it passes on, the position stays where that happened.
class given_back_position {
public:
    ~given_back_position() {
        if (!exits::pending && std::uncaught_exceptions() == uncaught_) kept_.restore();
    }

private:
    interpreter::nested_position kept_{stack::interpreted_mark != 0};
    int uncaught_ = std::uncaught_exceptions();
};

// Marks the loop frame above the arguments; its base starts unset (the
// value of a loop that runs no body).
inline cell_t* mark_loop(int32_t number, cell_t* first_free) {
    stack::top_slot = first_free;
    cell_t* base = stack::mark_loop(word_of(number));
    base->header = TYPE_unset;
    return base;
}

inline void result_none() {
    stack::arguments->header = TYPE_none;
    stack::keep();
}

bool word_kind_q(uint8_t t) {
    return t == TYPE_word || t == TYPE_set_word || t == TYPE_get_word || t == TYPE_lit_word;
}

// The element at index i of a series that is not a block kind, as its pick
// action gives it (a char, a byte as integer, a number...).
cell_t pick_element(const cell_t* series, int32_t i) {
    stack::tops_t saved = stack::tops();
    stack::mark_native(nullptr);
    cell_t* s = stack::push(series);
    s->data1 = static_cast<uint32_t>(i);
    cell_t* index = stack::push_slot();
    cell::begin(index);
    integer::make_at(index, 1);
    cell_t r = *actions::pick(s, index);
    stack::restore_tops(saved);
    return r;
}

// The element at i (none past the tail).
cell_t element_at(const cell_t* series, int32_t i) {
    if (i >= series::rs_abs_length_q(series)) return cell_t{TYPE_none, 0, 0, 0};
    if (series::block_kind_q(type_of(series))) return *block::rs_abs_at(series, i);
    return pick_element(series, i);
}

inline void set_word(cell_t* word, const cell_t* value) {
    cell_t v = *value;
    _context::set(word, &v);
}

[[noreturn, gnu::cold]] void fire_invalid(const cell_t* value) {
    cell_t v = *value;
    fire(err::invalid_arg, &v);
}

// The number of loop words: 1 for a word; a block must hold words only.
int32_t word_count(const cell_t* words) {
    if (type_of(words) != TYPE_block) return 1;
    int32_t n = block::rs_length_q(words);
    if (n < 1) fire_invalid(words);
    int32_t head = block::head_index(words);
    for (int32_t k = 0; k < n; k++)
        if (!word_kind_q(type_of(block::rs_abs_at(words, head + k)))) fire_invalid(words);
    return n;
}

// One step of foreach or remove-each over state (series copy, words).
// map_position: the entry position for a map!.
bool step_once(cell_t* state, int32_t n, int32_t* map_position) {
    if (type_of(state) == TYPE_map) {
        // The words block itself: the map's stepper reads its words from the head.
        return map::foreach_next(state, state + 1, n, map_position);
    }
    if (type_of(state) == TYPE_image) return image::foreach_next(state, n) > 0;
    if (type_of(state + 1) == TYPE_block) return foreach_next_block(state, n);
    return foreach_next(state);
}

}  // namespace

// --- step routines ---------------------------------------------------------------

bool foreach_next(cell_t* state) {
    cell_t* series = state;
    int32_t i = series::head_index(series);
    if (i < 0) i = 0;
    if (i >= series::rs_abs_length_q(series)) return false;
    cell_t v = element_at(series, i);
    state->data1 = static_cast<uint32_t>(i + 1);
    set_word(state + 1, &v);
    return true;
}

bool foreach_next_block(cell_t* state, int32_t n) {
    int32_t i = series::head_index(state);
    if (i < 0) i = 0;
    if (n < 1 || i >= series::rs_abs_length_q(state)) return false;
    bool block_kind = series::block_kind_q(type_of(state));
    for (int32_t k = 0; k < n; k++) {
        cell_t v = element_at(state, i + k);
        if (block_kind && type_of(&v) == TYPE_unset) {
            cell_t* words = state + 1;
            cell_t w = *block::rs_abs_at(words, block::head_index(words) + k);
            fire(err::need_value, &w);
        }
        // The words are read from the block each time: setting one may run
        // code that changes it.
        cell_t* words = state + 1;
        cell_t w = *block::rs_abs_at(words, block::head_index(words) + k);
        set_word(&w, &v);
    }
    state->data1 = static_cast<uint32_t>(i + n);
    return true;
}

void remove_each_next(cell_t* state, const cell_t* result, int32_t n) {
    if (!truthy(result)) return;
    int32_t i = series::head_index(state) - n;
    if (i < 0) i = 0;
    state->data1 = static_cast<uint32_t>(i);
    stack::tops_t saved = stack::tops();
    stack::mark_native(nullptr);
    cell_t* s = stack::push(state);
    cell_t* part = nullptr;
    if (n > 1) {
        part = stack::push_slot();
        cell::begin(part);
        integer::make_at(part, n);
    }
    actions::remove(s, part, nullptr);
    stack::restore_tops(saved);
}

bool forall_next(const cell_t* word, const cell_t* saved, bool advance) {
    cell_t* v = _context::get(word);
    if (type_of(v) != type_of(saved) || v->data2 != saved->data2) {
        cell_t bad = *v;
        fire(err::bad_loop_series, &bad);
    }
    if (advance) v->data1 = static_cast<uint32_t>(series::head_index(v) + 1);
    return !series_more_q(v);
}

void forall_end(const cell_t* word, const cell_t* saved) {
    cell_t w = *word;
    _context::set(&w, saved);
}

int32_t loop_count_at(cell_t* count) {
    if (type_of(count) == TYPE_integer) return integer::get(count);
    double d = std::trunc(cell::get_float(count));
    int32_t n = 0;
    if (d >= 2147483647.0) n = 2147483647;
    else if (d <= -2147483648.0) n = INT32_MIN;
    else if (d == d) n = static_cast<int32_t>(d);
    cell::begin(count);
    integer::make_at(count, n);
    return n;
}

bool series_more_q(const cell_t* series) {
    int32_t i = series::head_index(series);
    if (i < 0) i = 0;
    return i < series::rs_abs_length_q(series);
}

// --- the loops --------------------------------------------------------------------

void while_(int32_t check, const int32_t* refinements) {
    if (check) [[unlikely]]
        check_args(id::while_, refinements);
    given_back_position kept;
    cell_t* cond = stack::arguments;
    cell_t* body = cond + 1;
    cell_t* base = mark_loop(id::while_, cond + 2);
    for (;;) {
        stack::top_slot = base;
        if (exit_after([&] { interpreter::eval_here(cond); })) [[unlikely]] {
            if (exits::pending == exits::THROW_BREAK || exits::pending == exits::THROW_CONTINUE) {
                exits::pending = 0;
                fire(err::while_cond);
            }
            return;
        }
        if (!truthy_strict(base)) break;
        step s = run_body(base, body);
        if (s == step::BREAK) break;
        if (s == step::PASS) return;
    }
    stack::unwind();
    stack::arguments->header = TYPE_unset;
    stack::keep();
}

void until(int32_t check, const int32_t* refinements) {
    if (check) [[unlikely]]
        check_args(id::until, refinements);
    given_back_position kept;
    cell_t* body = stack::arguments;
    cell_t* base = mark_loop(id::until, body + 1);
    for (;;) {
        step s = run_body(base, body);
        if (s == step::BREAK) break;
        if (s == step::PASS) return;
        if (s == step::CONTINUE) continue;
        if (truthy_strict(base)) break;
    }
    stack::unwind_last();
}

void loop(int32_t check, const int32_t* refinements) {
    if (check) [[unlikely]]
        check_args(id::loop, refinements);
    given_back_position kept;
    cell_t* count = stack::arguments;
    cell_t* body = count + 1;
    int32_t n = loop_count_at(count);
    if (n < 1) {
        result_none();
        return;
    }
    cell_t* base = mark_loop(id::loop, body + 1);
    for (int32_t i = 0; i < n; i++) {
        step s = run_body(base, body);
        if (s == step::BREAK) break;
        if (s == step::PASS) return;
    }
    stack::unwind_last();
}

void repeat(int32_t check, const int32_t* refinements) {
    if (check) [[unlikely]]
        check_args(id::repeat, refinements);
    given_back_position kept;
    cell_t* word = stack::arguments;
    cell_t* counter = word + 1;
    cell_t* body = word + 2;
    int32_t n = loop_count_at(counter);
    if (n < 1) {
        result_none();
        return;
    }
    // The counter lives in its own cell: the body may set the word to
    // anything without changing the number of iterations.
    integer::make_at(counter, 1);
    cell_t* base = mark_loop(id::repeat, body + 1);
    for (;;) {
        _context::set(word, counter);
        step s = run_body(base, body);
        if (s == step::BREAK) break;
        if (s == step::PASS) return;
        if (--n == 0) break;
        counter->data2 += 1;
    }
    stack::unwind_last();
}

void forever(int32_t check, const int32_t* refinements) {
    if (check) [[unlikely]]
        check_args(id::forever, refinements);
    given_back_position kept;
    cell_t* body = stack::arguments;
    cell_t* base = mark_loop(id::forever, body + 1);
    for (;;) {
        step s = run_body(base, body);
        if (s == step::BREAK) break;
        if (s == step::PASS) return;
    }
    stack::unwind_last();
}

void foreach (int32_t check, const int32_t* refinements) {
    if (check) [[unlikely]]
        check_args(id::foreach, refinements);
    given_back_position kept;
    cell_t* a = stack::arguments;
    cell_t* body = a + 2;
    // The loop steps on its own copy of the series: setting the variable
    // that held it does not change the iteration.
    stack::top_slot = a + 3;
    cell_t* state = stack::push(a + 1);
    stack::push(a);
    int32_t n = word_count(a);
    if (type_of(state) == TYPE_map) {
        if (type_of(a) != TYPE_block || n != 2) fire_invalid(a);
    }
    int32_t map_position = 0;
    cell_t* base = mark_loop(id::foreach, state + 2);
    for (;;) {
        if (!step_once(state, n, &map_position)) break;
        step s = run_body(base, body);
        if (s == step::BREAK) break;
        if (s == step::PASS) return;
    }
    stack::unwind_last();
}

void forall(int32_t check, const int32_t* refinements) {
    if (check) [[unlikely]]
        check_args(id::forall, refinements);
    given_back_position kept;
    cell_t* word = stack::arguments;
    cell_t* body = word + 1;
    cell_t* v = _context::get(word);
    uint8_t t = type_of(v);
    if (!series::series_q(t)) {
        cell_t fn = *word_of(id::forall);
        cell_t type;
        datatype::make_at(&type, t);
        cell_t w = *word;
        fire(err::expect_arg, &fn, &type, &w);
    }
    stack::top_slot = body + 1;
    cell_t* saved = stack::push(v);
    cell_t* base = mark_loop(id::forall, saved + 1);
    bool ended = false;
    step first = guarded_step([&] { ended = forall_next(word, saved, false); });
    if (first == step::PASS) return;
    if (first == step::BREAK) {
        stack::unwind_last();
        return;
    }
    while (!ended) {
        step done = run_body(base, body);
        if (done == step::BREAK) {
            // The word stays where the break left it.
            stack::unwind_last();
            return;
        }
        if (done == step::PASS) return;
        step s = guarded_step([&] { ended = forall_next(word, saved, true); });
        if (s == step::PASS) return;
        if (s == step::BREAK) {
            stack::unwind_last();
            return;
        }
    }
    if (guarded_step([&] { forall_end(word, saved); }) == step::PASS) return;
    stack::unwind_last();
}

namespace {

// The removals remove-each has decided but not yet made: removing each at
// once would move the rest of the series every time. The body goes on
// seeing the series as it was; the runs are cut out together when the loop
// ends or is left, or as soon as the body changes the series' length or
// unit, after which their positions could drift.
class pending_removals {
public:
    explicit pending_removals(const cell_t* series) : series_(*series) { remember(); }

    // An owned series tells its owner of each removal as it happens, and an
    // image is not cut into runs: both keep removing one by one.
    bool deferred_q(const cell_t* state) const {
        return type_of(state) != TYPE_image && !series::owned_q(state);
    }

    void add(int32_t start, int32_t count) {
        if (!runs_.empty() && runs_.back().start + runs_.back().count == start)
            runs_.back().count += count;
        else runs_.push_back({start, count});
    }

    // Cuts out the runs when the series changed under the body.
    void follow(cell_t* state) {
        if (series::rs_abs_length_q(state) != length_ || series::buffer_of(state)->unit() != unit_)
            apply(state);
    }

    // Cuts out the runs and moves the iteration position (state) back over
    // those before it. After an exit the stack's top may lie below state:
    // then state is nullptr, and the loop's own copy names the series.
    void apply(cell_t* state) {
        if (!runs_.empty()) {
            collector::root_cell keep(&series_);  // a hash! reindexes, which allocates
            int32_t index = state ? series::head_index(state) : 0;
            int32_t before = series::rs_remove_runs(&series_, runs_.data(),
                                                    static_cast<int32_t>(runs_.size()), index);
            runs_.clear();
            if (state) state->data1 = static_cast<uint32_t>(index - before);
        }
        remember();
    }

private:
    void remember() {
        length_ = series::rs_abs_length_q(&series_);
        unit_ = series::buffer_of(&series_)->unit();
    }

    cell_t series_;
    std::vector<series::run_t> runs_;
    int32_t length_ = 0;
    uint32_t unit_ = 0;
};

}  // namespace

void remove_each(int32_t check, const int32_t* refinements) {
    if (check) [[unlikely]]
        check_args(id::remove_each, refinements);
    given_back_position kept;
    cell_t* a = stack::arguments;
    cell_t* body = a + 2;
    stack::top_slot = a + 3;
    cell_t* state = stack::push(a + 1);
    stack::push(a);
    int32_t n = word_count(a);
    if (type_of(state) == TYPE_map) fire_invalid(a + 1);
    cell_t* base = mark_loop(id::remove_each, state + 2);
    pending_removals removals(state);
    try {
        for (;;) {
            if (!step_once(state, n, nullptr)) break;
            step done = run_body(base, body);
            if (done == step::BREAK) break;
            if (done == step::PASS) {
                removals.apply(nullptr);
                return;
            }
            removals.follow(state);
            if (done == step::CONTINUE || !truthy(base)) continue;
            if (removals.deferred_q(state)) {
                int32_t i = std::max(series::head_index(state) - n, 0);
                removals.add(i, n);
                continue;
            }
            removals.apply(state);
            step s = guarded_step([&] { remove_each_next(state, base, n); });
            if (s == step::BREAK) break;
            if (s == step::PASS) return;
        }
    } catch (...) {
        removals.apply(nullptr);
        throw;
    }
    removals.apply(state);
    stack::unwind();
    stack::set_last_keep(a + 1);
}

}  // namespace zuv::natives

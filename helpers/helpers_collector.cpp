// The guided tracer's collector (system/tools/tracers/data/collector): it
// runs on every event of a trace, a dozen or more for each traced
// expression, and keeps the data the inspector reads. Its body's steps for
// each event, done on the data context's words in place, with mold-part's
// steps called directly; the inspector is called only when a report is due.
//
// The entry takes on the data as the tracer itself keeps it: the context's
// words hold what guided-trace, save-level and unroll-level put there, and
// the functions it would call are the library's own. Anything else (the
// debug dump, an anonymous call, a level of the stack that is not as
// save-level left it, a word changed by hand) runs the body, before any step
// is taken.
#include <algorithm>
#include <cstdint>
#include <limits>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "helpers/helpers.h"
#include "interpreter/interpreter.h"
#include "runtime/exits.h"
#include "runtime/hashtable.h"
#include "runtime/stack.h"

namespace zuv::helpers {

namespace {

inline cell_t* arg(int32_t i) { return stack::arguments + i; }

// The frame: event code offset value ref frame /local report drop-left isop
// bgn fr. The locals' slots hold the entry's own new values while it runs
// (the body sets each before it reads it).
constexpr int32_t EVENT = 0, CODE = 1, OFFSET = 2, VALUE = 3, REF = 4, FRAME = 5;
constexpr int32_t MOLDED = 7, SPARE = 8;

// Words of the data context the collector reads and sets.
enum data_word : uint8_t {
    DEBUG_Q,
    INSPECT,
    WANTED,
    SCOPE_FILTER,
    SUB_EXPRS,
    FUNC_DEPTH,
    EXPR_DEPTH,
    PATH,
    FETCHED,
    FETCHED2,
    PUSHED,
    PUSHED2,
    SUBEXPRS,
    STACK,
    STACK_PERIOD,
    SAVE_LEVEL,
    UNROLL_LEVEL,
    DATA_WORDS
};
constexpr const char* DATA_NAMES[DATA_WORDS] = {
    "debug?",     "inspect",     "wanted",   "scope-filter", "inspect-sub-exprs?",
    "func-depth", "expr-depth",  "path",     "fetched",      "fetched'",
    "pushed",     "pushed'",     "subexprs", "stack",        "stack-period",
    "save-level", "unroll-level"};

// The words a level on the stack holds after its frame and path length, in
// the order save-level appends them.
constexpr data_word LEVEL_BLOCKS[] = {FETCHED, FETCHED2, PUSHED, PUSHED2, SUBEXPRS};
constexpr int32_t PERIOD = 9;

enum event_kind : uint8_t {
    EV_FETCH,
    EV_PUSH,
    EV_OPEN,
    EV_CALL,
    EV_RETURN,
    EV_ENTER,
    EV_EXIT,
    EV_EXPR,
    EV_CATCH,
    EV_PROLOG,
    EV_EPILOG,
    EV_ERROR,
    EV_THROW,
    EV_OTHER
};
constexpr const char* EVENT_NAMES[EV_OTHER] = {"fetch",  "push",  "open", "call",  "return",
                                               "enter",  "exit",  "expr", "catch", "prolog",
                                               "epilog", "error", "throw"};

// Where the words are, found once for the data context the library made.
struct layout_t {
    node_t data = 0;  // 0: not found; the body always runs
    node_t tracers = 0;
    node_t free = 0;
    int32_t at[DATA_WORDS];
    int32_t mold_size = -1, mold_part = -1, list = -1, get_level = -1;
    // The functions the body calls, as the library made them (their context
    // nodes): another value in their word runs the body.
    node_t collector_fn = 0, save_level_fn = 0, unroll_level_fn = 0, get_level_fn = 0,
           mold_part_fn = 0, inspect_fn = 0;
    int32_t events[EV_OTHER];  // canonical symbols
    int32_t inspect_symbol = 0;
    int32_t data_path[4];  // system tools tracers data
};
layout_t layout;

node_t function_node(const cell_t* value) {
    return value != nullptr && type_of(value) == TYPE_function ? function::context_of(value) : 0;
}

cell_t* object_field(node_t ctx, int32_t symbol) {
    cell_t* v = _context::get_in(symbol, ctx);
    return v != nullptr && type_of(v) == TYPE_object ? v : nullptr;
}
cell_t* object_field(node_t ctx, const char* name) { return object_field(ctx, symbol::make(name)); }

inline cell_t* data_value(data_word w) { return _context::value_at(layout.data, layout.at[w]); }
inline cell_t* tracers_value(int32_t index) { return _context::value_at(layout.tracers, index); }

// A copy of a data word's value, for appending through (the buffer's node
// stays while the context slot may move).
inline cell_t block_of(data_word w) { return *data_value(w); }

event_kind kind_of(const cell_t* event) {
    int32_t s = symbol::resolve(word::symbol_of(event));
    for (int32_t i = 0; i < EV_OTHER; i++)
        if (layout.events[i] == s) return static_cast<event_kind>(i);
    return EV_OTHER;
}

// The levels above frame (by their frame's first coordinate) that drop-left
// unrolls, and whether each is as save-level left it.
bool level_ok(const cell_t* stack, int32_t end) {
    if (end < PERIOD) return false;
    const cell_t* c = block::rs_abs_at(stack, end - PERIOD);
    if (type_of(c) != TYPE_pair) return false;
    for (int32_t i = 1; i < 4; i++)
        if (type_of(c + i) != TYPE_integer) return false;
    for (int32_t i = 4; i < PERIOD; i++)
        if (type_of(c + i) != TYPE_block) return false;
    return true;
}

// Checks the levels that drop-left would unroll; false when one is not a
// level the entry can unroll.
bool drop_left_ok(int32_t frame_x) {
    cell_t stack = block_of(STACK);
    int32_t end = block::abs_length(&stack);
    for (; end >= PERIOD; end -= PERIOD) {
        const cell_t* fr = block::rs_abs_at(&stack, end - PERIOD);
        if (type_of(fr) != TYPE_pair) return false;
        if (pair::get_x(fr) <= frame_x) return true;
        if (!level_ok(&stack, end)) return false;
    }
    return true;
}

// The free list's blocks (free/get-level, free/list).
cell_t free_list() { return *_context::value_at(layout.free, layout.list); }

// Takes the words layout.data holds now and checks what the body would call.
bool words_ok() {
    for (data_word w : {PATH, FETCHED, FETCHED2, PUSHED, PUSHED2, SUBEXPRS, STACK})
        if (type_of(data_value(w)) != TYPE_block) return false;
    for (data_word w : {FUNC_DEPTH, EXPR_DEPTH})
        if (type_of(data_value(w)) != TYPE_integer) return false;
    const cell_t* period = data_value(STACK_PERIOD);
    if (type_of(period) != TYPE_integer || integer::get(period) != PERIOD) return false;
    uint8_t scope = type_of(data_value(SCOPE_FILTER));
    if (scope != TYPE_none && !series::block_kind_q(scope)) return false;
    if (type_of(data_value(WANTED)) != TYPE_hash) return false;
    if (function_node(data_value(SAVE_LEVEL)) != layout.save_level_fn ||
        function_node(data_value(UNROLL_LEVEL)) != layout.unroll_level_fn ||
        function_node(tracers_value(layout.mold_part)) != layout.mold_part_fn ||
        function_node(_context::value_at(layout.free, layout.get_level)) != layout.get_level_fn)
        return false;
    cell_t list = free_list();
    if (type_of(&list) != TYPE_block) return false;
    const cell_t* size = tracers_value(layout.mold_size);
    return type_of(size) == TYPE_integer && integer::get(size) >= 5 &&
           integer::get(size) < std::numeric_limits<int32_t>::max();
}

// system/tools/tracers/data, the object the inspector is given.
// The word's slot in ctx is looked up once and then checked by its symbol
// (a context only adds words, so a slot once found stays the word's).
struct field_cache_t {
    node_t ctx = 0;
    int32_t index = -1;
};
field_cache_t data_path_cache[4];

const cell_t* data_object() {
    node_t ctx = _context::global_node;
    const cell_t* v = nullptr;
    for (int32_t i = 0; i < 4; i++) {
        field_cache_t& c = data_path_cache[i];
        int32_t symbol = layout.data_path[i];
        if (c.ctx != ctx || c.index < 0 || c.index >= _context::word_count(ctx) ||
            symbol::resolve(word::symbol_of(_context::get_symbol_word(ctx, c.index))) !=
                symbol::resolve(symbol)) {
            c.ctx = ctx;
            c.index = _context::find_word(ctx, symbol, true);
            if (c.index < 0) return nullptr;
        }
        v = _context::value_at(ctx, c.index);
        if (v == nullptr || type_of(v) != TYPE_object) return nullptr;
        ctx = object::context_of(v);
    }
    return v;
}

// --- the body's steps ---------------------------------------------------------

// append/only word :value, and its molded text to word'.
void push_molded(data_word values, data_word texts, const cell_t* value) {
    cell_t b = block_of(values);
    block::rs_append(&b, value);
    mold_part_into(arg(MOLDED), value, integer::get(tracers_value(layout.mold_size)), false);
    b = block_of(texts);
    block::rs_append(&b, arg(MOLDED));
}

void set_integer(data_word w, int32_t n) { integer::make_at(data_value(w), n); }
int32_t integer_of(data_word w) { return integer::get(data_value(w)); }

// word: clear head word
void clear_head(data_word w) {
    cell_t* b = data_value(w);
    block::set_head_index(b, 0);
    block::rs_clear(b);
}

// take/last on a block held by a word: the value (none when empty) goes to out.
void take_last(data_word w, cell_t* out) {
    cell_t b = block_of(w);
    int32_t total = block::abs_length(&b);
    if (block::head_index(&b) >= total) {
        *out = none_value;
        return;
    }
    *out = *block::rs_abs_at(&b, total - 1);
    block::truncate_at(&b, total - 1);
}

void save_level(const cell_t* frame) {
    cell_t stack = block_of(STACK);
    block::rs_append(&stack, frame);
    cell_t n;
    integer::make_at(&n, block::rs_length_q(data_value(PATH)));
    block::rs_append(&stack, &n);
    block::rs_append(&stack, data_value(FUNC_DEPTH));
    block::rs_append(&stack, data_value(EXPR_DEPTH));
    for (data_word w : LEVEL_BLOCKS) block::rs_append(&stack, data_value(w));
    set_integer(FUNC_DEPTH, 0);
    set_integer(EXPR_DEPTH, 0);
    // free/get-level
    cell_t list = free_list();
    int32_t total = block::abs_length(&list);
    if (block::rs_length_q(&list) < 5) {
        for (data_word w : LEVEL_BLOCKS) {
            block::make_at(arg(SPARE), 10);
            *data_value(w) = *arg(SPARE);
        }
        return;
    }
    int32_t from = std::max(total - 5, block::head_index(&list));
    for (int32_t i = 0; i < 5; i++)
        *data_value(LEVEL_BLOCKS[i]) = *block::rs_abs_at(&list, from + i);
    block::truncate_at(&list, from);
}

void unroll_level() {
    cell_t list = free_list();
    for (data_word w : LEVEL_BLOCKS) {
        cell_t b = block_of(w);
        block::set_head_index(&b, 0);
        block::rs_clear(&b);
        block::rs_append(&list, &b);
    }
    cell_t stack = block_of(STACK);
    int32_t at = std::max(0, block::abs_length(&stack) - PERIOD);
    const cell_t* level = block::rs_abs_at(&stack, at);
    int32_t path_length = integer::get(level + 1);
    *data_value(FUNC_DEPTH) = level[2];
    *data_value(EXPR_DEPTH) = level[3];
    for (int32_t i = 0; i < 5; i++) *data_value(LEVEL_BLOCKS[i]) = level[4 + i];
    cell_t path = block_of(PATH);
    int64_t keep = int64_t{block::head_index(&path)} + path_length;
    block::truncate_at(
        &path, static_cast<int32_t>(std::clamp<int64_t>(keep, 0, block::abs_length(&path))));
    block::truncate_at(&stack, at);
}

void drop_left(int32_t frame_x) {
    for (;;) {
        cell_t stack = block_of(STACK);
        int32_t total = block::abs_length(&stack);
        if (total < PERIOD) return;
        const cell_t* fr = block::rs_abs_at(&stack, total - PERIOD);
        if (pair::get_x(fr) <= frame_x) return;
        unroll_level();
    }
}

// find/same/only scope-filter :code
bool in_scope(const cell_t* code) {
    cell_t filter = *data_value(SCOPE_FILTER);
    int32_t total = block::abs_length(&filter);
    int32_t head = std::max(0, block::head_index(&filter));
    if (total == 0 || head >= total) return false;
    if (type_of(&filter) == TYPE_hash && filter.data3 != 0)
        return hashtable::get(filter.data3, code, head, 1, actions::cmp::SAME, false, false) !=
               nullptr;
    for (int32_t i = head; i < total; i++) {
        cell_t c = *block::rs_abs_at(&filter, i);
        cell_t v = *code;
        if (actions::compare(&c, &v, actions::cmp::SAME)) return true;
    }
    return false;
}

// The body's report: whether the inspector is asked, by the conditions of
// the moment.
bool report_due(event_kind kind) {
    cell_t wanted = *data_value(WANTED);
    if (!logic::truthy(block::select_word(&wanted, arg(EVENT), false))) return false;
    const cell_t* code = arg(CODE);
    if (type_of(data_value(SCOPE_FILTER)) != TYPE_none && type_of(code) != TYPE_none &&
        !in_scope(code))
        return false;
    if (logic::truthy(data_value(SUB_EXPRS)) || kind == EV_ERROR || kind == EV_THROW) return true;
    int32_t depth = integer_of(EXPR_DEPTH);
    return depth == 0 || (depth == 1 && (kind == EV_CALL || kind == EV_RETURN));
}

// The library's inspector begins by leaving, with nothing done, unless the
// event may show a line (its `unless switch event [...] [exit]`): three of
// the four reports of a plain traced statement. Such a call is skipped; the
// cases it weighs further (a pushed word in /all) are left to it.
bool inspector_leaves(event_kind kind, const cell_t* data) {
    if (object::context_of(data) != layout.data) return false;
    bool all = logic::truthy(data_value(SUB_EXPRS));
    switch (kind) {
    case EV_EXPR: return all || integer_of(EXPR_DEPTH) != 0 || type_of(arg(CODE)) == TYPE_paren;
    case EV_ERROR:
    case EV_THROW: return false;
    case EV_PUSH:
    case EV_RETURN: return !all;
    default: return true;
    }
}

// do report: false when the inspector left with an exit bound outside it.
bool report(event_kind kind, const cell_t* data) {
    if (!report_due(kind) || inspector_leaves(kind, data)) return true;
    cell_t args[6] = {*data, *arg(EVENT), *arg(CODE), *arg(OFFSET), *arg(VALUE), *arg(REF)};
    cell_t word;
    word::make_raw(&word, TYPE_word, layout.data, layout.inspect_symbol, layout.at[INSPECT]);
    cell_t fn = *data_value(INSPECT);
    cell_t result;
    return interpreter::call_back(&fn, &word, args, 6, interpreter::callback::NONE, &result);
}

// The work an event does, checked beforehand: false leaves it to the body.
bool shapes_ok(event_kind kind) {
    const cell_t* code = arg(CODE);
    switch (kind) {
    case EV_OPEN: {
        if (integer_of(EXPR_DEPTH) == std::numeric_limits<int32_t>::max()) return false;
        const cell_t* v = arg(VALUE);
        if (type_of(v) != TYPE_word) return true;
        // attempt [op? get :value]: an unbound word, or one whose context
        // has no values now, is the body's.
        int32_t index = word::index_of(v);
        node_t ctx = v->data1;
        if (index < 0 || ctx == 0) return false;
        const cell_t* c = _context::cell_of(ctx);
        return !((c->header & _context::FLAG_ON_STACK) && c->data2 == 0);
    }
    case EV_CALL: {
        const cell_t* ref = arg(REF);
        if (type_of(ref) == TYPE_path) return block::rs_length_q(ref) > 0;
        return word::any_word_q(type_of(ref));
    }
    case EV_RETURN: {
        // bgn: the last of subexprs, an index? of pushed (or none)
        cell_t subexprs = block_of(SUBEXPRS);
        int32_t total = block::abs_length(&subexprs);
        if (block::head_index(&subexprs) < total) {
            const cell_t* bgn = block::rs_abs_at(&subexprs, total - 1);
            if (logic::truthy(bgn) && type_of(bgn) != TYPE_integer) return false;
        }
        return integer_of(EXPR_DEPTH) > std::numeric_limits<int32_t>::min() &&
               drop_left_ok(pair::get_x(arg(FRAME)));
    }
    case EV_EXPR:
    case EV_CATCH: return drop_left_ok(pair::get_x(arg(FRAME)));
    case EV_EXIT: {
        if (type_of(code) == TYPE_path) return true;
        cell_t stack = block_of(STACK);
        return level_ok(&stack, block::abs_length(&stack));
    }
    case EV_PROLOG: return integer_of(FUNC_DEPTH) < std::numeric_limits<int32_t>::max();
    case EV_EPILOG: return integer_of(FUNC_DEPTH) > std::numeric_limits<int32_t>::min();
    default: return true;
    }
}

bool is_op(const cell_t* v) {
    if (type_of(v) == TYPE_op) return true;
    return type_of(v) == TYPE_word && type_of(_context::get(v)) == TYPE_op;
}

// The events' steps; false when the inspector left with an exit.
bool run_event(event_kind kind, const cell_t* data) {
    const cell_t* code = arg(CODE);
    const cell_t* value = arg(VALUE);
    switch (kind) {
    case EV_FETCH:
        if (logic::truthy(data_value(SUB_EXPRS)) || type_of(code) != TYPE_path)
            push_molded(FETCHED, FETCHED2, value);
        return report(kind, data);
    case EV_PUSH: push_molded(PUSHED, PUSHED2, value); return report(kind, data);
    case EV_OPEN: {
        bool isop = is_op(value);
        cell_t subexprs = block_of(SUBEXPRS);
        cell_t index;
        integer::make_at(&index, block::head_index(data_value(PUSHED)) + 1);
        block::rs_append(&subexprs, &index);
        for (data_word w : {PUSHED, PUSHED2}) {
            cell_t* b = data_value(w);
            int32_t tail = block::abs_length(b);
            block::set_head_index(b, isop && tail > 0 ? tail - 1 : tail);
        }
        push_molded(PUSHED, PUSHED2, value);
        set_integer(EXPR_DEPTH, integer_of(EXPR_DEPTH) + 1);
        return report(kind, data);
    }
    case EV_CALL: {
        const cell_t* ref = arg(REF);
        cell_t path = block_of(PATH);
        block::rs_append(
            &path, type_of(ref) == TYPE_path ? block::rs_abs_at(ref, block::head_index(ref)) : ref);
        return report(kind, data);
    }
    case EV_RETURN: {
        drop_left(pair::get_x(arg(FRAME)));
        if (!report(kind, data)) return false;
        take_last(PATH, arg(SPARE));
        set_integer(EXPR_DEPTH, integer_of(EXPR_DEPTH) - 1);
        take_last(SUBEXPRS, arg(SPARE));
        cell_t* bgn = arg(SPARE);
        if (!logic::truthy(bgn)) integer::make_at(bgn, 1);
        int32_t n = integer::get(bgn);
        for (data_word w : {PUSHED, PUSHED2}) {
            cell_t* b = data_value(w);
            block::rs_clear(b);
            int64_t at = n >= 1 ? int64_t{n} - 1 : n;
            block::set_head_index(
                b, static_cast<int32_t>(std::clamp<int64_t>(at, 0, block::abs_length(b))));
        }
        push_molded(PUSHED, PUSHED2, value);
        return true;
    }
    case EV_ENTER:
        if (type_of(code) != TYPE_path) save_level(arg(FRAME));
        return report(kind, data);
    case EV_EXIT:
        if (!report(kind, data)) return false;
        if (type_of(code) != TYPE_path) {
            unroll_level();
            if (type_of(code) == TYPE_paren) push_molded(PUSHED, PUSHED2, value);
        }
        return true;
    case EV_EXPR:
        drop_left(pair::get_x(arg(FRAME)));
        if (!report(kind, data)) return false;
        set_integer(EXPR_DEPTH, 0);
        for (data_word w : {FETCHED, FETCHED2, PUSHED, PUSHED2}) clear_head(w);
        return true;
    case EV_CATCH: drop_left(pair::get_x(arg(FRAME))); return report(kind, data);
    case EV_PROLOG: set_integer(FUNC_DEPTH, integer_of(FUNC_DEPTH) + 1); return report(kind, data);
    case EV_EPILOG:
        if (!report(kind, data)) return false;
        set_integer(FUNC_DEPTH, integer_of(FUNC_DEPTH) - 1);
        return true;
    default: return report(kind, data);
    }
}

}  // namespace

void find_collector_words(const cell_t* tracers) {
    layout = layout_t{};
    node_t tctx = object::context_of(tracers);
    const cell_t* data = object_field(tctx, "data");
    const cell_t* free = object_field(tctx, "free");
    const cell_t* inspector = object_field(tctx, "inspector");
    if (data == nullptr || free == nullptr || inspector == nullptr) return;
    node_t dctx = object::context_of(data);
    for (int32_t i = 0; i < DATA_WORDS; i++) {
        layout.at[i] = _context::find_word(dctx, symbol::make(DATA_NAMES[i]), true);
        if (layout.at[i] < 0) return;
    }
    node_t fctx = object::context_of(free);
    layout.mold_size = _context::find_word(tctx, symbol::make("mold-size"), true);
    layout.mold_part = _context::find_word(tctx, symbol::make("mold-part"), true);
    layout.list = _context::find_word(fctx, symbol::make("list"), true);
    layout.get_level = _context::find_word(fctx, symbol::make("get-level"), true);
    if (layout.mold_size < 0 || layout.mold_part < 0 || layout.list < 0 || layout.get_level < 0)
        return;
    layout.collector_fn = function_node(_context::get_in(symbol::make("collector"), dctx));
    layout.save_level_fn = function_node(_context::value_at(dctx, layout.at[SAVE_LEVEL]));
    layout.unroll_level_fn = function_node(_context::value_at(dctx, layout.at[UNROLL_LEVEL]));
    layout.get_level_fn = function_node(_context::value_at(fctx, layout.get_level));
    layout.mold_part_fn = function_node(_context::value_at(tctx, layout.mold_part));
    layout.inspect_fn =
        function_node(_context::get_in(symbol::make("inspect"), object::context_of(inspector)));
    if (layout.collector_fn == 0 || layout.save_level_fn == 0 || layout.unroll_level_fn == 0 ||
        layout.get_level_fn == 0 || layout.mold_part_fn == 0 || layout.inspect_fn == 0)
        return;
    for (int32_t i = 0; i < EV_OTHER; i++)
        layout.events[i] = symbol::resolve(symbol::make(EVENT_NAMES[i]));
    layout.inspect_symbol = symbol::make("inspect");
    const char* path[] = {"system", "tools", "tracers", "data"};
    for (int32_t i = 0; i < 4; i++) layout.data_path[i] = symbol::make(path[i]);
    layout.tracers = tctx;
    layout.free = fctx;
    layout.data = dctx;
}

// event code offset value ref frame /local report drop-left isop bgn fr
void collector() {
    const cell_t* fn = stack::arguments - 1;
    if (layout.data == 0 || function_node(fn) != layout.collector_fn) return run_body();
    // The inspector's types (event [word!] offset [integer!]) hold for what a
    // trace gives; a call made by hand with others is the body's.
    if (type_of(arg(EVENT)) != TYPE_word || type_of(arg(OFFSET)) != TYPE_integer ||
        type_of(arg(FRAME)) != TYPE_pair || logic::truthy(data_value(DEBUG_Q)) || !words_ok())
        return run_body();
    const cell_t* data = data_object();
    if (data == nullptr || function_node(data_value(INSPECT)) != layout.inspect_fn)
        return run_body();
    event_kind kind = kind_of(arg(EVENT));
    if (!shapes_ok(kind)) return run_body();
    cell_t held = *data;  // the object stays in the global tree while the event runs
    if (!run_event(kind, &held)) return;
    *arg(0) = none_value;
    stack::keep();
}

}  // namespace zuv::helpers

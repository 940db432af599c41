// The parse engine: one loop over the rule stack (see parse/parser.h).
//
// The loop has three states. SEQ continues the sequence of the current rule
// block at `pos`: at the block's tail or a "|" the block has matched. EXEC
// reads the rule value at `pos` and either settles it at once (literals,
// simple keywords, fast paths) or pushes a frame and goes on with the rule it
// governs. DONE hands a result (matched or not, and the index after the rule
// expression that produced it) to the frame on top: a block frame continues
// its sequence or looks for its next alternative; a state frame applies its
// keyword and may restart its governed rule (loops, to/thru) or pass a
// result down in turn.
//
// Frames are FRAME_CELLS cells each, so a frame's position on the stack is
// all that is needed to find the one beneath it:
//   cell 0  triple: kind code, a, b
//   cell 1  triple: c, d, e
//   cell 2  a value (the rule block of a block frame, a word, ...)
//   cell 3  a value (a collect target, loop counters, ...)
#include <algorithm>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/triple.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "interpreter/interpreter.h"
#include "lexer/lexer.h"
#include "parse/match.h"
#include "parse/parser.h"
#include "runtime/alloc.h"
#include "runtime/exits.h"
#include "runtime/fire.h"
#include "runtime/stack.h"
#include "runtime/words.h"

namespace zuv::parser {

cell_t* rule_stack = nullptr;
cell_t* input_stack = nullptr;

namespace {

constexpr int32_t FRAME_CELLS = 4;
constexpr int32_t INPUT_CELLS = 2;

// Keyword codes, by canonical symbol id.
enum kw_t : uint8_t {
    KW_NOT_A_KEYWORD,
    KW_ANY,
    KW_BREAK,
    KW_COPY,
    KW_END,
    KW_FAIL,
    KW_INTO,
    KW_OPT,
    KW_NOT,
    KW_QUOTE,
    KW_CASE,
    KW_REJECT,
    KW_SET,
    KW_SKIP,
    KW_SOME,
    KW_THRU,
    KW_TO,
    KW_NONE,
    KW_BAR,
    KW_IF,
    KW_REMOVE,
    KW_WHILE,
    KW_INSERT,
    KW_ONLY,
    KW_COLLECT,
    KW_KEEP,
    KW_PICK,
    KW_AHEAD,
    KW_AFTER,
    KW_CHANGE,
};

std::vector<uint8_t> keyword_table;

void make_keyword_table() {
    using words::id;
    const struct {
        id w;
        kw_t k;
    } list[] = {{id::any, KW_ANY},       {id::break_, KW_BREAK},  {id::copy, KW_COPY},
                {id::end, KW_END},       {id::fail, KW_FAIL},     {id::into, KW_INTO},
                {id::opt, KW_OPT},       {id::not_, KW_NOT},      {id::quote, KW_QUOTE},
                {id::case_, KW_CASE},    {id::reject, KW_REJECT}, {id::set, KW_SET},
                {id::skip, KW_SKIP},     {id::some, KW_SOME},     {id::thru, KW_THRU},
                {id::to, KW_TO},         {id::none, KW_NONE},     {id::bar, KW_BAR},
                {id::if_, KW_IF},        {id::remove, KW_REMOVE}, {id::while_, KW_WHILE},
                {id::insert, KW_INSERT}, {id::only, KW_ONLY},     {id::collect, KW_COLLECT},
                {id::keep, KW_KEEP},     {id::pick, KW_PICK},     {id::ahead, KW_AHEAD},
                {id::after, KW_AFTER},   {id::change, KW_CHANGE}};
    keyword_table.clear();
    for (const auto& e : list) {
        uint32_t sym =
            static_cast<uint32_t>(symbol::resolve(static_cast<int32_t>(words::symbol_of(e.w))));
        if (sym >= keyword_table.size()) keyword_table.resize(sym + 1, KW_NOT_A_KEYWORD);
        keyword_table[sym] = e.k;
    }
}

inline kw_t keyword_of(const cell_t* c) {
    if (type_of(c) != TYPE_word) return KW_NOT_A_KEYWORD;
    uint32_t sym = static_cast<uint32_t>(symbol::resolve(word::symbol_of(c)));
    return sym < keyword_table.size() ? static_cast<kw_t>(keyword_table[sym]) : KW_NOT_A_KEYWORD;
}

// Trace events: bit, and the word passed to the callback.
enum event_t : uint32_t {
    EV_PUSH = 1,
    EV_POP = 2,
    EV_FETCH = 4,
    EV_MATCH = 8,
    EV_ITERATE = 16,
    EV_PAREN = 32,
    EV_END = 64,
    EV_ALL = 127
};
constexpr words::id event_words[] = {words::id::push,  words::id::pop,     words::id::fetch,
                                     words::id::match, words::id::iterate, words::id::paren,
                                     words::id::end};

// --- stacks -----------------------------------------------------------------------

inline series_buffer_t* rule_buffer() { return alloc::buffer(rule_stack->data2); }
inline series_buffer_t* input_buffer() { return alloc::buffer(input_stack->data2); }
inline int32_t cells_of(series_buffer_t* s) { return s->used() >> 4; }
inline void set_cells(series_buffer_t* s, int32_t n) { s->tail = s->head + n * 16; }

inline void put_triple(cell_t* c, int32_t a, int32_t b, int32_t d) { triple::make_at(c, a, b, d); }
inline int32_t t1(const cell_t* c) { return static_cast<int32_t>(c->data1); }
inline int32_t t2(const cell_t* c) { return static_cast<int32_t>(c->data2); }
inline int32_t t3(const cell_t* c) { return static_cast<int32_t>(c->data3); }

enum class step_t { SEQ, EXEC, DONE, FINISH };

struct engine_t {
    int32_t rule_base = 0, input_base = 0;
    int32_t rtop = 0, itop = 0;  // cells in use on each stack
    // The current rule block: its node, its block frame and the position.
    node_t rnode = 0;
    int32_t bf = 0;
    int32_t pos = 0;
    // The current input.
    node_t inode = 0;
    uint8_t itype = 0;
    match::input_kind ik = match::K_BLOCK;
    int32_t ip = 0;
    int32_t limit = -1;
    bool case_ = false;
    // The result handed to the frame on top.
    bool r = false;
    int32_t next = 0;
    int32_t collect_frame = -1;
    // The trace callback.
    cell_t callback{TYPE_none, 0, 0, 0};
    bool has_callback = false;
    uint32_t mask = 0;
    bool stopped = false;
    // The result slot and whether a top-level collect has filled it.
    cell_t* out = nullptr;
    bool collected = false;

    // --- stacks --------------------------------------------------------------------
    cell_t* frame(int32_t f) { return rule_buffer()->head_cell() + f; }
    int32_t top() const { return rtop - FRAME_CELLS; }

    int32_t push_frame(int32_t kind, int32_t a, int32_t b) {
        if (rtop + FRAME_CELLS > STACK_LIMIT) fire(err::parse_stack);
        // One reservation for the frame; every cell is written below before
        // anything else allocates.
        alloc::alloc_tail_unit(rule_buffer(), FRAME_CELLS * static_cast<int32_t>(sizeof(cell_t)));
        int32_t f = rtop;
        rtop += FRAME_CELLS;
        cell_t* c = frame(f);
        put_triple(c, kind, a, b);
        put_triple(c + 1, 0, 0, 0);
        none::make_at(c + 2);
        none::make_at(c + 3);
        return f;
    }
    void pop_frame() {
        rtop -= FRAME_CELLS;
        set_cells(rule_buffer(), rtop);
    }
    void push_input(const cell_t* series) {
        if (itop + INPUT_CELLS > STACK_LIMIT) fire(err::parse_stack);
        cell_t copy = *series;
        *alloc::alloc_tail(input_buffer()) = copy;
        put_triple(alloc::alloc_tail(input_buffer()), ip, limit, 0);
        itop += INPUT_CELLS;
        inode = copy.data2;
        itype = type_of(&copy);
        ik = match::kind_of(itype);
        ip = static_cast<int32_t>(copy.data1);
        if (ip < 0) ip = 0;
        limit = -1;
    }
    void pop_input() {
        cell_t* c = input_buffer()->head_cell() + itop - INPUT_CELLS;
        ip = t1(c + 1);
        limit = t2(c + 1);
        itop -= INPUT_CELLS;
        set_cells(input_buffer(), itop);
        const cell_t* outer = input_buffer()->head_cell() + itop - INPUT_CELLS;
        inode = outer->data2;
        itype = type_of(outer);
        ik = match::kind_of(itype);
    }
    // Cuts both stacks back to where this call found them.
    void reset() {
        rtop = rule_base;
        itop = input_base;
        set_cells(rule_buffer(), rtop);
        set_cells(input_buffer(), itop);
    }

    // --- rules ---------------------------------------------------------------------
    cell_t* rule_at(int32_t p) { return alloc::buffer(rnode)->head_cell() + p; }
    int32_t rule_tail() { return alloc::buffer(rnode)->used() >> 4; }
    bool bar_at(int32_t p) { return p < rule_tail() && keyword_of(rule_at(p)) == KW_BAR; }
    // Raises parse-end when no rule follows a keyword.
    void need_rule(int32_t p, int32_t keyword_pos) {
        if (p >= rule_tail() || bar_at(p)) {
            cell_t k = *rule_at(keyword_pos);
            fire(err::parse_end, &k);
        }
    }

    // --- input ---------------------------------------------------------------------
    cell_t input() const { return cell_t{itype, static_cast<uint32_t>(ip), inode, 0}; }
    int32_t length() {
        series_buffer_t* s = alloc::buffer(inode);
        return s->used() >> series::shift_of(s->unit());
    }
    int32_t end() {
        int32_t n = length();
        return limit >= 0 && limit < n ? limit : n;
    }

    void run(const cell_t* rules);
    step_t seq();
    step_t exec();
    step_t exec_value(const cell_t* value, int32_t at);
    step_t exec_keyword(kw_t k);
    step_t done();
    step_t enter_block(const cell_t* block, int32_t parent_pos);
    step_t leave_block(bool success);
    step_t settle(bool matched, int32_t after);
    step_t counts(int32_t first, int32_t at);
    step_t begin_loop(int32_t kind, int32_t min, int32_t max, int32_t gp, int32_t keyword_pos);
    step_t break_loop(bool success);
    step_t match_value(const cell_t* value, int32_t after);
    step_t match_type(const cell_t* types, int32_t after);
    void drop_frame();
    int32_t rule_end(int32_t p);
    bool insert_position(int32_t p, cell_t* out);
    bool governed_literal(int32_t gp, cell_t* out);
    cell_t* eval_paren(const cell_t* paren);
    cell_t* rule_value(int32_t p, int32_t keyword_pos);
    void collect_add(const cell_t* value, bool pick);
    void collect_end();
    int32_t replace(int32_t from, int32_t count, const cell_t* value, bool only);
    bool event(uint32_t ev);
    bool call_back(uint32_t ev);
};

// Raised internally to leave the loop at once after an exit went pending
// or the callback asked to stop; never escapes parse().
struct stop_t {};

// --- trace -------------------------------------------------------------------------

uint32_t callback_mask(const cell_t* fn) {
    int32_t symbols[7];
    for (int e = 0; e < 7; ++e)
        symbols[e] = symbol::resolve(static_cast<int32_t>(words::symbol_of(event_words[e])));
    return function::event_mask(fn, symbols, 7, EV_ALL);
}

inline bool engine_t::event(uint32_t ev) {
    if (!has_callback || !(mask & ev)) return true;
    return call_back(ev);
}

bool engine_t::call_back(uint32_t ev) {
    int e = 0;
    while ((1u << e) != ev) e++;
    cell_t callback_word = words::word(words::id::tag_parse_callback);
    // event, match?, rule, input, stack. The callback gets a copy of the
    // rule stack: the frames hold the engine's own state (node handles,
    // indexes), so a callback that changed or kept the live stack could
    // corrupt this parse or a later one. The copy stays pushed, rooted, for
    // the call.
    cell_t* copy = block::clone(rule_stack, false, false);
    cell_t args[5];
    args[0] = words::word(event_words[e]);
    logic::make_at(&args[1], r);
    block::init_value(&args[2], TYPE_block, rnode, pos);
    args[3] = input();
    args[4] = *copy;
    cell_t result;
    bool returned = interpreter::call_back(&callback, &callback_word, args, 5,
                                           interpreter::callback::PARSE, &result);
    if (!returned) throw stop_t{};
    stack::pop(1);
    bool go_on = logic::truthy(&result);
    // A nested parse in the callback has cut the stacks back to ours.
    set_cells(rule_buffer(), rtop);
    set_cells(input_buffer(), itop);
    if (!go_on) {
        stopped = true;
        throw stop_t{};
    }
    return true;
}

// --- parens and rule values ---------------------------------------------------------

// Evaluates a paren; its result is the last pushed cell (the caller pops it).
// eval pushes the paren under its frame before anything can move, so the
// paren needs no slot of its own here.
cell_t* engine_t::eval_paren(const cell_t* paren) {
    interpreter::eval_paren_pushed(paren);
    if (exits::pending_q()) [[unlikely]]
        throw stop_t{};
    set_cells(rule_buffer(), rtop);
    set_cells(input_buffer(), itop);
    return stack::top();
}

// The value that insert and change put in: a paren's result, a word's value,
// or the value itself; pushed on the argument stack (the caller pops it).
cell_t* engine_t::rule_value(int32_t p, int32_t keyword_pos) {
    if (p >= rule_tail()) {
        cell_t k = *rule_at(keyword_pos);
        fire(err::parse_rule, &k);
    }
    cell_t v = *rule_at(p);
    uint8_t t = type_of(&v);
    if (t == TYPE_paren) {
        cell_t* base = stack::top_slot;
        cell_t* result = eval_paren(&v);
        cell_t value = *result;
        stack::top_slot = base;
        return stack::push(&value);
    }
    if (t == TYPE_path || t == TYPE_set_path || t == TYPE_get_path) fire(err::parse_rule, &v);
    if (t == TYPE_word) {
        cell_t value = *_context::get(&v);
        if (type_of(&value) == TYPE_unset) fire(err::no_value, &v);
        return stack::push(&value);
    }
    return stack::push(&v);
}

// --- the loop ------------------------------------------------------------------------

void engine_t::run(const cell_t* rules) {
    step_t s = enter_block(rules, -1);
    for (;;) {
        switch (s) {
        case step_t::SEQ: s = seq(); break;
        case step_t::EXEC: s = exec(); break;
        case step_t::DONE: s = done(); break;
        case step_t::FINISH: return;
        }
    }
}

step_t engine_t::seq() {
    if (pos >= rule_tail() || keyword_of(rule_at(pos)) == KW_BAR) return leave_block(true);
    return step_t::EXEC;
}

step_t engine_t::settle(bool matched, int32_t after) {
    r = matched;
    next = after;
    return step_t::DONE;
}

step_t engine_t::enter_block(const cell_t* block, int32_t parent_pos) {
    node_t node = block->data2;
    int32_t head = static_cast<int32_t>(block->data1);
    // The same block at the same place of the same input, already open,
    // would be entered again forever. Only block frames can be that, and
    // they link to each other, so the loops and the like between them are
    // never looked at: this runs for every block a rule enters.
    for (int32_t f = bf; f >= rule_base; f = t3(frame(f))) {
        cell_t* c = frame(f);
        if (c[2].data2 == node && static_cast<int32_t>(c[2].data1) == head && t1(c + 1) == ip &&
            c[1].data2 == inode) {
            cell_t b = *block;
            fire(err::parse_infinite, &b);
        }
    }
    int32_t f = push_frame(kind::BLOCK, parent_pos, bf);
    cell_t* c = frame(f);
    put_triple(c + 1, ip, static_cast<int32_t>(inode), 0);
    block::init_value(c + 2, TYPE_block, node, head);
    bf = f;
    rnode = node;
    int32_t len = rule_tail();
    pos = head < 0 ? 0 : head > len ? len : head;
    event(EV_PUSH);
    return step_t::SEQ;
}

step_t engine_t::leave_block(bool success) {
    cell_t* c = frame(bf);
    int32_t parent_pos = t2(c);
    int32_t parent_bf = t3(c);
    if (!success) ip = t1(c + 1);
    r = success;
    event(EV_POP);
    if (bf == rule_base) {
        // The outermost block: the whole input must have been matched.
        r = success && ip >= end();
        event(EV_END);
        pop_frame();
        return step_t::FINISH;
    }
    pop_frame();
    bf = parent_bf;
    rnode = frame(bf)[2].data2;
    pos = parent_pos;
    return settle(success, parent_pos + 1);
}

step_t engine_t::exec() {
    event(EV_FETCH);
    cell_t v = *rule_at(pos);
    switch (type_of(&v)) {
    case TYPE_word: {
        kw_t k = keyword_of(&v);
        if (k != KW_NOT_A_KEYWORD) return exec_keyword(k);
        cell_t value = *_context::get(&v);
        if (type_of(&value) == TYPE_unset) fire(err::no_value, &v);
        return exec_value(&value, pos);
    }
    case TYPE_set_word: {
        cell_t in = input();
        int32_t n = length();
        if (ip > n) in.data1 = static_cast<uint32_t>(n);
        _context::set(&v, &in);
        return settle(true, pos + 1);
    }
    case TYPE_get_word: {
        cell_t value = *_context::get(&v);
        if (!series::series_q(type_of(&value)) || value.data2 != inode)
            fire(err::parse_invalid_ref, &v);
        int32_t i = static_cast<int32_t>(value.data1);
        int32_t n = length();
        ip = i < 0 ? 0 : i > n ? n : i;
        return settle(true, pos + 1);
    }
    case TYPE_path:
    case TYPE_set_path:
    case TYPE_get_path: fire(err::parse_rule, &v);
    default: return exec_value(&v, pos);
    }
}

// A rule value read at `at` (directly, or as the value of the word there).
step_t engine_t::exec_value(const cell_t* value, int32_t at) {
    // Blocks and parens, which loops alternate between, are told apart by
    // plain tests: one jump table for both mispredicts at every switch.
    uint8_t t = type_of(value);
    if (t == TYPE_block) return enter_block(value, at);
    if (t == TYPE_paren) {
        cell_t* base = stack::top_slot;
        eval_paren(value);
        stack::top_slot = base;
        event(EV_PAREN);
        return settle(true, at + 1);
    }
    switch (t) {
    case TYPE_integer: return counts(integer::get(value), at);
    case TYPE_datatype:
    case TYPE_typeset: return match_type(value, at + 1);
    case TYPE_path:
    case TYPE_set_path:
    case TYPE_get_path: {
        cell_t v = *value;
        fire(err::parse_rule, &v);
    }
    case TYPE_unset: {
        cell_t v = *rule_at(at);
        fire(err::no_value, &v);
    }
    default: return match_value(value, at + 1);
    }
}

step_t engine_t::match_value(const cell_t* value, int32_t after) {
    cell_t in = input();
    cell_t v = *value;
    int32_t n = match::match_at(&in, ip, end(), &v, case_);
    if (n >= 0) ip += n;
    return settle(n >= 0, after);
}

step_t engine_t::match_type(const cell_t* types, int32_t after) {
    if (ik == match::K_STRING) fire(err::parse_unsupported);
    int32_t e = end();
    if (ip >= e) return settle(false, after);
    if (ik == match::K_BLOCK) {
        cell_t in = input();
        bool ok = match::type_match_q(&in, ip, types);
        if (ok) ip++;
        return settle(ok, after);
    }
    // A binary: the next token, as the lexer sees it.
    cell_t t = *types;
    cell_t* base = stack::top_slot;
    cell_t* source = stack::push_slot();
    *source = cell_t{TYPE_binary, static_cast<uint32_t>(ip), inode, 0};
    cell_t* out = stack::push_slot();
    none::make_at(out);
    int32_t consumed = 0;
    int32_t kind =
        lexer::scan(out, nullptr, e - ip, {.one_value = true, .load = false, .store = false},
                    &consumed, nullptr, source, nullptr);
    stack::top_slot = base;
    bool ok = kind > 0 && kind != TYPE_error &&
              (type_of(&t) == TYPE_datatype ? static_cast<int32_t>(t.data1) == kind
                                            : typeset::has_q(&t, kind));
    if (ok) ip += consumed;
    return settle(ok, after);
}

// N [M] rule: the counts at `at`; `first` is N (read from the cell at `at`).
step_t engine_t::counts(int32_t first, int32_t at) {
    int32_t min = first, max = first;
    int32_t gp = at + 1;
    if (gp < rule_tail()) {
        cell_t m = *rule_at(gp);
        if (type_of(&m) == TYPE_word && keyword_of(&m) == KW_NOT_A_KEYWORD) {
            cell_t value = *_context::get(&m);
            if (type_of(&value) == TYPE_integer) m = value;
        }
        if (type_of(&m) == TYPE_integer) {
            max = integer::get(&m);
            gp++;
        }
    }
    cell_t n = *rule_at(at);
    if (min < 0 || max < 0) {
        cell_t bad;
        integer::make_at(&bad, min < 0 ? min : max);
        fire(err::out_of_range, &bad);
    }
    if (max < min || gp >= rule_tail() || bar_at(gp)) fire(err::parse_rule, &n);
    return begin_loop(kind::ITERATE, min, max, gp, at);
}

// The governed rule at gp when it is a literal that can be matched here
// directly (itself, or the value of a plain word).
bool engine_t::governed_literal(int32_t gp, cell_t* out) {
    cell_t g = *rule_at(gp);
    if (type_of(&g) == TYPE_word) {
        if (keyword_of(&g) != KW_NOT_A_KEYWORD) return false;
        g = *_context::get(&g);
    }
    uint8_t t = type_of(&g);
    if (match::literal_q(&g, ik) ||
        (ik == match::K_BLOCK && (t == TYPE_datatype || t == TYPE_typeset))) {
        *out = g;
        return true;
    }
    return false;
}

step_t engine_t::begin_loop(int32_t k, int32_t min, int32_t max, int32_t gp, int32_t keyword_pos) {
    need_rule(gp, keyword_pos);
    // "0 rule" (and "0 0 rule") repeats nothing: the governed rule must not
    // run at all, or it would consume input and fire its parens.
    if (max == 0) return settle(true, rule_end(gp));
    cell_t lit;
    if (governed_literal(gp, &lit)) {
        cell_t in = input();
        int32_t n = 0;
        int32_t after = match::count(&in, ip, end(), &lit, case_, max, &n);
        bool ok = n >= min;
        if (ok) ip = after;
        return settle(ok, gp + 1);
    }
    if (keyword_of(rule_at(gp)) == KW_SKIP) {
        int32_t room = std::max(0, end() - ip);
        int32_t n = max < 0 ? room : std::min(room, max);
        bool ok = n >= min;
        if (ok) ip += n;
        return settle(ok, gp + 1);
    }
    int32_t f = push_frame(k, gp, ip);
    cell_t* c = frame(f);
    put_triple(c + 1, min, max, 0);
    put_triple(c + 2, ip, length(), 0);  // where the current iteration began
    pos = gp;
    return step_t::EXEC;
}

// --- keywords --------------------------------------------------------------------------

step_t engine_t::exec_keyword(kw_t k) {
    int32_t at = pos;
    switch (k) {
    case KW_ANY: return begin_loop(kind::ITERATE, 0, -1, at + 1, at);
    case KW_SOME: return begin_loop(kind::ITERATE, 1, -1, at + 1, at);
    case KW_WHILE: return begin_loop(kind::WHILE, 0, -1, at + 1, at);
    case KW_OPT: {
        need_rule(at + 1, at);
        cell_t lit;
        if (governed_literal(at + 1, &lit)) {
            cell_t in = input();
            int32_t n = match::match_at(&in, ip, end(), &lit, case_);
            if (n > 0) ip += n;
            return settle(true, at + 2);
        }
        push_frame(kind::OPT, at + 1, ip);
        pos = at + 1;
        return step_t::EXEC;
    }
    case KW_SKIP: {
        bool ok = ip < end();
        if (ok) ip++;
        return settle(ok, at + 1);
    }
    case KW_END: return settle(ip >= end(), at + 1);
    case KW_NONE: return settle(true, at + 1);
    case KW_FAIL: return settle(false, at + 1);
    case KW_BREAK: return break_loop(true);
    case KW_REJECT: return break_loop(false);
    case KW_TO:
    case KW_THRU: {
        need_rule(at + 1, at);
        bool thru = k == KW_THRU;
        if (keyword_of(rule_at(at + 1)) == KW_END) {
            ip = std::max(ip, end());
            return settle(true, at + 2);
        }
        cell_t lit;
        if (governed_literal(at + 1, &lit)) {
            cell_t in = input();
            int32_t n = 1;
            int32_t e = end();
            int32_t found = ip <= e ? match::find(&in, ip, e, &lit, case_, &n) : -1;
            if (found >= 0) ip = thru ? found + n : found;
            return settle(found >= 0, at + 2);
        }
        int32_t f = push_frame(thru ? kind::THRU : kind::TO, at + 1, ip);
        put_triple(frame(f) + 1, ip, 0, 0);  // the current attempt
        pos = at + 1;
        return step_t::EXEC;
    }
    case KW_AHEAD:
    case KW_NOT:
    case KW_REMOVE: {
        need_rule(at + 1, at);
        push_frame(k == KW_AHEAD ? kind::AHEAD
                   : k == KW_NOT ? kind::NOT
                                 : kind::REMOVE,
                   at + 1, ip);
        pos = at + 1;
        return step_t::EXEC;
    }
    case KW_QUOTE: {
        if (at + 1 >= rule_tail()) {
            cell_t kwc = *rule_at(at);
            fire(err::parse_end, &kwc);
        }
        cell_t v = *rule_at(at + 1);
        return match_value(&v, at + 2);
    }
    case KW_COPY:
    case KW_SET: {
        cell_t kwc = *rule_at(at);
        if (at + 2 >= rule_tail()) fire(err::parse_end, &kwc);
        cell_t w = *rule_at(at + 1);
        if (!word::any_word_q(type_of(&w)) || type_of(&w) == TYPE_refinement ||
            type_of(&w) == TYPE_issue)
            fire(err::parse_rule, &w);
        need_rule(at + 2, at);
        int32_t f = push_frame(k == KW_COPY ? kind::COPY : kind::SET, at + 2, ip);
        frame(f)[2] = w;
        pos = at + 2;
        return step_t::EXEC;
    }
    case KW_INTO: {
        cell_t kwc = *rule_at(at);
        if (ik != match::K_BLOCK) {
            cell_t in = input();
            fire(err::parse_block, &in);
        }
        if (at + 1 >= rule_tail()) fire(err::parse_end, &kwc);
        cell_t g = *rule_at(at + 1);
        if (type_of(&g) == TYPE_word && keyword_of(&g) == KW_NOT_A_KEYWORD) g = *_context::get(&g);
        if (type_of(&g) != TYPE_block) fire(err::parse_end, &kwc);
        if (ip >= end()) return settle(false, at + 2);
        cell_t e = alloc::buffer(inode)->head_cell()[ip];
        uint8_t et = type_of(&e);
        if (!series::block_kind_q(et) && !series::any_string_q(et) && et != TYPE_binary)
            return settle(false, at + 2);
        int32_t f = push_frame(kind::INTO, at + 1, ip);
        put_triple(frame(f) + 1, ip, limit, 0);
        push_input(&e);
        return enter_block(&g, at + 1);
    }
    case KW_IF: {
        cell_t kwc = *rule_at(at);
        if (at + 1 >= rule_tail() || type_of(rule_at(at + 1)) != TYPE_paren)
            fire(err::parse_end, &kwc);
        cell_t p = *rule_at(at + 1);
        cell_t* base = stack::top_slot;
        cell_t* result = eval_paren(&p);
        bool ok = logic::truthy(result);
        stack::top_slot = base;
        event(EV_PAREN);
        return settle(ok, at + 2);
    }
    case KW_CASE: {
        cell_t kwc = *rule_at(at);
        if (at + 2 >= rule_tail()) fire(err::parse_end, &kwc);
        cell_t w = *rule_at(at + 1);
        if (type_of(&w) != TYPE_word) fire(err::parse_rule, &w);
        need_rule(at + 2, at);
        cell_t value = *_context::get(&w);
        uint8_t t = type_of(&value);
        if (t == TYPE_unset) fire(err::no_value, &w);
        bool by_case = logic::truthy(&value);
        int32_t f = push_frame(kind::CASE, at + 2, ip);
        put_triple(frame(f) + 1, case_ ? 1 : 0, 0, 0);
        case_ = by_case;
        pos = at + 2;
        return step_t::EXEC;
    }
    case KW_INSERT: {
        int32_t p = at + 1;
        bool only = false;
        if (p < rule_tail() && keyword_of(rule_at(p)) == KW_ONLY) {
            only = true;
            p++;
        }
        int32_t where = ip;
        cell_t position;
        bool positioned = insert_position(p, &position);
        if (positioned) {
            int32_t n = length();
            int32_t i = static_cast<int32_t>(position.data1);
            where = i < 0 ? 0 : i > n ? n : i;
            p++;
        }
        cell_t* base = stack::top_slot;
        cell_t* value = rule_value(p, at);
        int32_t n = replace(where, 0, value, only);
        stack::top_slot = base;
        if (!positioned) ip = where + n;
        else if (ip >= where) ip += n;
        return settle(true, p + 1);
    }
    case KW_CHANGE: {
        int32_t p = at + 1;
        bool only = false;
        if (p < rule_tail() && keyword_of(rule_at(p)) == KW_ONLY) {
            only = true;
            p++;
        }
        need_rule(p, at);
        if (rule_end(p) >= rule_tail()) {
            // No value to put in after the rule.
            cell_t kwc = *rule_at(at);
            fire(err::parse_rule, &kwc);
        }
        push_frame(only ? kind::CHANGE_ONLY : kind::CHANGE, p, ip);
        pos = p;
        return step_t::EXEC;
    }
    case KW_COLLECT: {
        int32_t p = at + 1;
        int32_t mode = 0;  // 0 plain, 1 set, 2 into, 3 after
        cell_t w{TYPE_none, 0, 0, 0};
        if (p < rule_tail()) {
            kw_t m = keyword_of(rule_at(p));
            if (m == KW_SET || m == KW_INTO || m == KW_AFTER) {
                mode = m == KW_SET ? 1 : m == KW_INTO ? 2 : 3;
                cell_t kwc = *rule_at(at);
                if (p + 1 >= rule_tail()) fire(err::parse_end, &kwc);
                w = *rule_at(p + 1);
                if (type_of(&w) != TYPE_word) fire(err::parse_rule, &w);
                p += 2;
            }
        }
        need_rule(p, at);
        cell_t target;
        int32_t insert_at = 0;
        if (mode >= 2) {
            target = *_context::get(&w);
            uint8_t t = type_of(&target);
            bool texts = series::any_string_q(t) || t == TYPE_binary;
            if (!(series::block_kind_q(t) || texts)) fire(err::parse_into_type);
            if (target.data2 == inode) fire(err::parse_into_bad);
            if (texts && ik == match::K_BLOCK) fire(err::parse_into_type);
            insert_at = static_cast<int32_t>(target.data1);
        } else {
            block::make_at(&target, 8);
        }
        int32_t f = push_frame(kind::COLLECT, p, ip);
        cell_t* c = frame(f);
        put_triple(c + 1, mode, collect_frame, insert_at);
        c[2] = w;
        c[3] = target;
        collect_frame = f;
        pos = p;
        return step_t::EXEC;
    }
    case KW_KEEP: {
        if (collect_frame < 0) fire(err::parse_keep);
        int32_t p = at + 1;
        need_rule(p, at);
        bool pick = false;
        if (keyword_of(rule_at(p)) == KW_PICK) {
            pick = true;
            p++;
            need_rule(p, at);
        }
        if (type_of(rule_at(p)) == TYPE_paren) {
            cell_t paren = *rule_at(p);
            cell_t* base = stack::top_slot;
            cell_t* result = eval_paren(&paren);
            collect_add(result, pick);
            stack::top_slot = base;
            event(EV_PAREN);
            return settle(true, p + 1);
        }
        int32_t f = push_frame(kind::KEEP, p, ip);
        put_triple(frame(f) + 1, pick ? 1 : 0, 0, 0);
        pos = p;
        return step_t::EXEC;
    }
    case KW_BAR:
    case KW_ONLY:
    case KW_PICK:
    case KW_AFTER:
    default: {
        cell_t v = *rule_at(at);
        fire(err::parse_rule, &v);
    }
    }
}

// --- results -------------------------------------------------------------------------

step_t engine_t::done() {
    event(EV_MATCH);
    int32_t f = top();
    if (f == bf) {
        // The sequence of the current block.
        if (r) {
            pos = next;
            return step_t::SEQ;
        }
        // The next alternative, from the block's input position.
        int32_t tail = rule_tail();
        for (int32_t p = next; p < tail; p++) {
            kw_t k = keyword_of(rule_at(p));
            if (k == KW_QUOTE) {
                p++;
            } else if (k == KW_BAR) {
                ip = t1(frame(bf) + 1);
                pos = p + 1;
                return step_t::SEQ;
            }
        }
        return leave_block(false);
    }
    cell_t* c = frame(f);
    int32_t k = t1(c);
    int32_t gp = t2(c);
    int32_t ip0 = t3(c);
    switch (k) {
    case kind::ITERATE:
    case kind::WHILE: {
        int32_t min = t1(c + 1), max = t2(c + 1), count = t3(c + 1);
        int32_t iter_ip = t1(c + 2), iter_length = t2(c + 2);
        if (r) {
            count++;
            bool progress = ip != iter_ip || length() != iter_length;
            if ((max >= 0 && count >= max) || (k == kind::ITERATE && !progress)) {
                pop_frame();
                bool ok = count >= min;
                if (!ok) ip = ip0;
                return settle(ok, next);
            }
            put_triple(c + 1, min, max, count);
            put_triple(c + 2, ip, length(), 0);
            event(EV_ITERATE);
            pos = gp;
            return step_t::EXEC;
        }
        pop_frame();
        bool ok = count >= min;
        ip = ok ? iter_ip : ip0;
        return settle(ok, next);
    }
    case kind::OPT:
        pop_frame();
        if (!r) ip = ip0;
        return settle(true, next);
    case kind::NOT:
        pop_frame();
        ip = ip0;
        return settle(!r, next);
    case kind::AHEAD:
        pop_frame();
        ip = ip0;
        return settle(r, next);
    case kind::TO:
    case kind::THRU: {
        int32_t attempt = t1(c + 1);
        if (r) {
            pop_frame();
            if (k == kind::TO) ip = attempt;
            return settle(true, next);
        }
        attempt++;
        if (attempt > end()) {
            pop_frame();
            ip = ip0;
            return settle(false, next);
        }
        put_triple(c + 1, attempt, 0, 0);
        ip = attempt;
        pos = gp;
        return step_t::EXEC;
    }
    case kind::COPY:
    case kind::SET: {
        cell_t w = c[2];
        bool ok = r;
        int32_t to = ip;
        pop_frame();
        if (!ok) {
            ip = ip0;
            return settle(false, next);
        }
        cell_t* slot = stack::push_slot();
        none::make_at(slot);
        cell_t in = input();
        int32_t n = length();
        if (k == kind::COPY)
            match::copy_part(slot, &in, std::min(ip0, n), std::min(std::max(to, ip0), n));
        else if (to > ip0 && ip0 < n) match::element(slot, &in, ip0);
        _context::set(&w, slot);
        stack::pop(1);
        return settle(true, next);
    }
    case kind::INTO: {
        int32_t outer_ip = t1(c + 1);
        int32_t outer_limit = t2(c + 1);
        bool ok = r && ip >= length();
        pop_frame();
        pop_input();
        limit = outer_limit;
        ip = ok ? outer_ip + 1 : outer_ip;
        return settle(ok, next);
    }
    case kind::REMOVE: {
        pop_frame();
        if (!r) {
            ip = ip0;
            return settle(false, next);
        }
        int32_t n = std::max(0, ip - ip0);
        replace(ip0, n, nullptr, false);
        ip = ip0;
        return settle(true, next);
    }
    case kind::CHANGE:
    case kind::CHANGE_ONLY: {
        bool only = k == kind::CHANGE_ONLY;
        bool ok = r;
        int32_t to = ip;
        int32_t after = next;
        pop_frame();
        if (!ok) {
            ip = ip0;
            return settle(false, after + 1);
        }
        cell_t* base = stack::top_slot;
        cell_t* value = rule_value(after, gp - (only ? 2 : 1));
        int32_t n = replace(ip0, std::max(0, to - ip0), value, only);
        stack::top_slot = base;
        ip = ip0 + n;
        return settle(true, after + 1);
    }
    case kind::COLLECT: {
        collect_end();
        return settle(r, next);
    }
    case kind::KEEP: {
        bool pick = t1(c + 1) != 0;
        pop_frame();
        if (r && ip > ip0) {
            cell_t* slot = stack::push_slot();
            none::make_at(slot);
            cell_t in = input();
            int32_t n = length();
            int32_t to = std::min(ip, n);
            if (to - ip0 == 1) {
                match::element(slot, &in, ip0);
                collect_add(slot, false);
            } else if (pick) {
                for (int32_t i = ip0; i < to; i++) {
                    cell_t one{TYPE_none, 0, 0, 0};
                    match::element(&one, &in, i);
                    *slot = one;
                    collect_add(slot, false);
                }
            } else {
                match::copy_part(slot, &in, std::min(ip0, to), to);
                collect_add(slot, false);
            }
            stack::pop(1);
        }
        return settle(r, next);
    }
    case kind::CASE:
        case_ = t1(c + 1) != 0;
        pop_frame();
        return settle(r, next);
    default: fire(err::parse_rule);
    }
}

// Adds a kept value to the innermost collection.
void engine_t::collect_add(const cell_t* value, bool pick) {
    cell_t* c = frame(collect_frame);
    int32_t mode = t1(c + 1);
    int32_t prev = t2(c + 1);
    int32_t at = t3(c + 1);
    cell_t target = c[3];
    uint8_t tt = type_of(&target);
    series_buffer_t* s = alloc::buffer(target.data2);
    if (mode != 3 && tt == TYPE_block && !(pick && series::block_kind_q(type_of(value))) &&
        !(s->flags & series_flag::OWNED)) {
        // The common case, a value onto the tail of a plain block: what
        // insert/only would do, without its generality.
        *alloc::alloc_tail(s) = *value;
        return;
    }
    int32_t total = s->used() >> series::shift_of(s->unit());
    if (mode != 3) at = total;  // append
    at = std::clamp(at, 0, total);
    target.data1 = static_cast<uint32_t>(at);
    cell_t v = *value;
    cell_t* slot = stack::push(&v);
    cell_t* tslot = stack::push(&target);
    bool only = series::block_kind_q(tt) && !(pick && series::block_kind_q(type_of(slot)));
    actions::insert(tslot, slot, -1, only, 1);
    series_buffer_t* after = alloc::buffer(target.data2);
    int32_t added = (after->used() >> series::shift_of(after->unit())) - total;
    stack::pop(2);
    if (mode == 3) put_triple(frame(collect_frame) + 1, mode, prev, at + added);
}

// The end of a collect's governed rule (the frame is on top).
void engine_t::collect_end() {
    cell_t* c = frame(top());
    int32_t mode = t1(c + 1);
    int32_t prev = t2(c + 1);
    cell_t w = c[2];
    cell_t* block = stack::push(&c[3]);  // rooted while the frame goes
    pop_frame();
    collect_frame = prev;
    if (mode == 0) {
        if (prev >= 0) {
            // A collection that failed adds nothing to the enclosing one.
            if (r) collect_add(block, false);
        } else {
            *out = *block;
            collected = true;
        }
    } else if (mode == 1) {
        _context::set(&w, block);
    }
    stack::pop(1);
}

// Replaces count elements at index from with value (nullptr: removes them);
// returns the number of elements put in. Keeps the /part limit on the same
// element.
int32_t engine_t::replace(int32_t from, int32_t count, const cell_t* value, bool only) {
    int32_t before = length();
    from = std::clamp(from, 0, before);
    count = std::clamp(count, 0, before - from);
    cell_t* series = stack::push_slot();
    *series = cell_t{itype, static_cast<uint32_t>(from), inode, 0};
    bool blocks = ik == match::K_BLOCK;
    if (value == nullptr) {
        if (count > 0) {
            cell_t* part = stack::push_slot();
            integer::make_at(part, count);
            actions::remove(series, part, nullptr);
        }
    } else if (count == 0) {
        actions::insert(series, const_cast<cell_t*>(value), -1, blocks && only, 1);
    } else {
        actions::change(series, const_cast<cell_t*>(value), count, blocks && only, 1);
    }
    stack::top_slot = series;
    int32_t added = length() - before + count;
    if (limit >= 0 && limit >= from) limit = std::max(from, limit + added - count);
    return added;
}

// Ends the innermost loop (break: as matched; reject: as failed); with no
// loop, the current rule block.
step_t engine_t::break_loop(bool success) {
    int32_t loop = -1;
    for (int32_t f = top(); f >= rule_base; f -= FRAME_CELLS) {
        int32_t k = t1(frame(f));
        if (k == kind::ITERATE || k == kind::WHILE) {
            loop = f;
            break;
        }
    }
    if (loop < 0) {
        while (top() > bf) drop_frame();
        return leave_block(success);
    }
    while (top() > loop) drop_frame();
    cell_t* c = frame(loop);
    int32_t gp = t2(c);
    int32_t ip0 = t3(c);
    pop_frame();
    if (!success) ip = ip0;
    return settle(success, rule_end(gp));
}

// Pops the frame on top without completing it.
void engine_t::drop_frame() {
    int32_t f = top();
    cell_t* c = frame(f);
    switch (t1(c)) {
    case kind::BLOCK:
        pop_frame();
        bf = t3(c);
        rnode = frame(bf)[2].data2;
        return;
    case kind::INTO: {
        int32_t outer_ip = t1(c + 1);
        int32_t outer_limit = t2(c + 1);
        pop_frame();
        pop_input();
        ip = outer_ip;
        limit = outer_limit;
        return;
    }
    case kind::COLLECT: collect_frame = t2(c + 1); break;
    case kind::CASE: case_ = t1(c + 1) != 0; break;
    default: break;
    }
    pop_frame();
}

// Whether the rule at p (after insert and its only) names the place to
// insert at: a plain word, with a value after it, whose value is a position
// in the current input (written to out).
bool engine_t::insert_position(int32_t p, cell_t* out) {
    if (p + 1 >= rule_tail() || type_of(rule_at(p)) != TYPE_word ||
        keyword_of(rule_at(p)) != KW_NOT_A_KEYWORD)
        return false;
    cell_t w = *rule_at(p);
    *out = *_context::get(&w);
    return series::series_q(type_of(out)) && out->data2 == inode;
}

// The index after the rule expression starting at p in the current block.
int32_t engine_t::rule_end(int32_t p) {
    int32_t tail = rule_tail();
    int32_t trailing = 0;  // values that follow the governed rule (change)
    while (p < tail) {
        cell_t* c = rule_at(p);
        uint8_t t = type_of(c);
        if (t == TYPE_integer) {
            p++;
            if (p < tail && type_of(rule_at(p)) == TYPE_integer) p++;
            continue;
        }
        switch (keyword_of(c)) {
        case KW_ANY:
        case KW_SOME:
        case KW_WHILE:
        case KW_OPT:
        case KW_NOT:
        case KW_AHEAD:
        case KW_TO:
        case KW_THRU:
        case KW_REMOVE:
        case KW_INTO: p++; continue;
        case KW_COPY:
        case KW_SET:
        case KW_CASE: p += 2; continue;
        case KW_KEEP:
            p++;
            if (p < tail && keyword_of(rule_at(p)) == KW_PICK) p++;
            continue;
        case KW_COLLECT: {
            p++;
            kw_t m = p < tail ? keyword_of(rule_at(p)) : KW_NOT_A_KEYWORD;
            if (m == KW_SET || m == KW_INTO || m == KW_AFTER) p += 2;
            continue;
        }
        case KW_CHANGE:
            p++;
            if (p < tail && keyword_of(rule_at(p)) == KW_ONLY) p++;
            trailing++;
            continue;
        case KW_INSERT: {
            p++;
            if (p < tail && keyword_of(rule_at(p)) == KW_ONLY) p++;
            cell_t position;
            if (insert_position(p, &position)) p++;
            return std::min(tail, p + 1 + trailing);
        }
        case KW_IF:
        case KW_QUOTE: return std::min(tail, p + 2 + trailing);
        default: return std::min(tail, p + 1 + trailing);
        }
    }
    return tail;
}

}  // namespace

// --- entry points ---------------------------------------------------------------------

void init() {
    rule_stack = block::make_in(nullptr, RULE_STACK_START);
    input_stack = block::make_in(nullptr, INPUT_STACK_START);
    make_keyword_table();
}

int32_t rule_depth() { return rule_stack ? cells_of(rule_buffer()) : 0; }
int32_t input_depth() { return input_stack ? cells_of(input_buffer()) : 0; }

void parse(cell_t* out, const cell_t* input, const cell_t* rules, bool case_, int32_t limit,
           const cell_t* callback) {
    if (keyword_table.empty()) make_keyword_table();
    engine_t e;
    e.out = out;
    e.case_ = case_;
    e.rule_base = e.rtop = cells_of(rule_buffer());
    e.input_base = e.itop = cells_of(input_buffer());
    e.bf = -1;
    if (callback && (type_of(callback) == TYPE_function || type_of(callback) == TYPE_routine)) {
        e.callback = *callback;
        e.has_callback = true;
        e.mask = callback_mask(callback);
    }
    cell_t rule_block = *rules;
    try {
        e.push_input(input);
        e.limit = limit;
        e.run(&rule_block);
    } catch (const stop_t&) {
        // An exit in flight: the argument and frame stacks are already
        // unwound; only our own stacks are cut back.
        e.reset();
        if (exits::pending_q()) return;
    } catch (...) {
        e.reset();
        throw;
    }
    e.reset();
    if (!e.collected) logic::make_at(out, e.r);
}

}  // namespace zuv::parser

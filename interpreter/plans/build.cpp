// Building plans from function bodies, and their guards: the stamp check,
// verify mode and the counters.
//
// The builder reads the body as the interpreter would run it now: a word's
// current value decides whether it is a call (and of how many arguments), a
// plain value or an operator. Those are the plan's assumptions; the runner
// re-reads every such word and compares before it relies on one, and the
// stamp says whether the cells are still the ones the plan was built from.
#include "interpreter/plans/plans.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/op.h"
#include "datatypes/series.h"
#include "interpreter/fast_ops.h"
#include "interpreter/interpreter.h"
#include "interpreter/plans/pick_helpers.h"
#include "natives/ids.h"
#include "runtime/alloc.h"
#include "runtime/collector.h"
#include "runtime/externals.h"
#include "runtime/library_code.h"
#include "runtime/lowrt.h"
#include "runtime/platform/platform.h"
#include "runtime/stack.h"

namespace zuv {
namespace stamp {
uint32_t epoch = 1;
uint8_t guard = 0;
}  // namespace stamp

namespace interpreter::plan {

bool enabled = true;
bool verify = false;
bool eager = false;
bool dumping = false;
bool counting = false;
uint64_t counters[C_COUNT];
uint64_t fallbacks[K_COUNT];

namespace {

constexpr uint32_t RETURN_SLOT = natives::slot_of(natives::id::return_);
constexpr uint32_t IF_INDEX = natives::slot_of(natives::id::if_);
constexpr uint32_t EITHER_INDEX = natives::slot_of(natives::id::either);
static_assert(IF_INDEX <= SMALL_LIMIT && EITHER_INDEX <= SMALL_LIMIT,
              "a conditional's node names its native in the small field");

// Bodies deeper or longer than this are left to the interpreter.
constexpr int32_t MAX_NODES = 4096;

// The externals kind of plans: a plan's memory goes back when the function
// holding it is collected.
uint32_t plan_kind = 0;

void release_plan(uintptr_t plan) { lowrt::release(reinterpret_cast<void*>(plan)); }

void print_counters() {
    std::fprintf(stderr, "plans: built %llu, not planned %llu, invalidated %llu, runs %llu\n",
                 static_cast<unsigned long long>(counters[C_BUILD]),
                 static_cast<unsigned long long>(counters[C_NOT_PLANNED]),
                 static_cast<unsigned long long>(counters[C_INVALID]),
                 static_cast<unsigned long long>(counters[C_RUN]));
    std::fprintf(stderr, "plans: fallbacks");
    for (int32_t k = 0; k < K_COUNT; k++)
        if (fallbacks[k] != 0)
            std::fprintf(stderr, " %s %llu", kind_names[k],
                         static_cast<unsigned long long>(fallbacks[k]));
    std::fprintf(stderr, "\n");
}

pnode_t make(uint8_t kind, int32_t pos, int32_t end, int32_t aux, const cell_t* value,
             uint32_t small = 0) {
    pnode_t n{};
    n.flags = 0;
    n.kind_id = kind;
    n.small_field = static_cast<uint16_t>(small);
    n.pos = pos;
    n.end = end;
    n.aux = aux;
    if (value != nullptr) n.value = *value;
    else n.value = cell_t{TYPE_none, 0, 0, 0};
    return n;
}

// The current value of a word bound outside a function's frame; nullptr
// when it has none to read now.
const cell_t* global_value(const cell_t* w) {
    auto index = static_cast<int32_t>(w->data3);
    node_t ctx = w->data1;
    if (index < 0 || ctx == 0) return nullptr;
    cell_t* c = _context::cell_of(ctx);
    if (c->header & FLAG_STACK_VALUES) return nullptr;
    return alloc::buffer(c->data2)->head_cell() + index;
}

bool plain_q(const cell_t* v) {
    uint8_t t = type_of(v);
    return !callable_q(t) && t != TYPE_unset && t != TYPE_op;
}

// The call summary of a callee's arguments cache; empty when it has none
// yet.
call_summary_t summary_of(const cell_t* callee) {
    const cell_t* cache = alloc::buffer(callee->data3)->head_cell() + 1;
    return type_of(cache) == TYPE_block ? cached_summary(cache) : call_summary_t{};
}

// Whether run_function may take the function's body as it stands: a block,
// no compiled code, no trace flags.
bool plain_function_q(const cell_t* fn) {
    if (fn->header & (function::FLAG_NO_TRACE | function::FLAG_TRACE)) return false;
    return series::block_kind_q(type_of(function::more(fn, function::MORE_BODY))) &&
           function::code_of(fn) == 0;
}

// Whether the function's body is library code.
bool library_body_q(const cell_t* fn) {
    const cell_t* body = function::more(fn, function::MORE_BODY);
    return series::block_kind_q(type_of(body)) && top_level::library_q(body->data2);
}

// Whether the function's body is one literal or word (the hint LEAF_BODY).
bool leaf_body_q(const cell_t* fn) {
    const cell_t* body = function::more(fn, function::MORE_BODY);
    int32_t head = block::head_index(body);
    series_buffer_t* b = alloc::buffer(body->data2);
    if (head < 0 || (b->used() >> 4) - head != 1) return false;
    uint8_t t = type_of(b->head_cell() + head);
    return t == TYPE_word || inert_q(t);
}

struct builder {
    node_t fn_ctx;
    cell_t fn;  // the function planned
    // A library function's body: every block of it is library code, and
    // the frames its calls mark carry no interpreted mark.
    bool library = false;
    std::vector<pnode_t> nodes;
    std::vector<cell_t> snapshots;
    // Blocks still to plan: the node whose aux takes their K_BLOCK's index.
    struct pending_t {
        int32_t node;
        cell_t code;
    };
    std::vector<pending_t> pending;
    // The words probed where their context's values live, one per binding:
    // a holder's small field names one of them (from 1) until entries()
    // places them after the blocks.
    std::vector<cell_t> probed;
    // Statements next to each other in a block: their first nodes.
    std::vector<std::pair<int32_t, int32_t>> neighbours;
    bool failed = false;

    // Drops the nodes from first on and the blocks they wait for: a pending
    // entry past the nodes kept would give its block's index to whatever
    // node comes to stand there (or to none).
    void drop_from(int32_t first) {
        nodes.resize(static_cast<size_t>(first));
        std::erase_if(pending, [first](const pending_t& q) { return q.node >= first; });
    }

    int32_t emit(const pnode_t& n) {
        nodes.push_back(n);
        if (static_cast<int32_t>(nodes.size()) > MAX_NODES) failed = true;
        return static_cast<int32_t>(nodes.size()) - 1;
    }

    // The interpreted mark of the frames the plan's calls mark.
    uint32_t mark() const { return library ? 0 : frame::INTERPRETED; }

    // Whether the cell is a word holding an operator now.
    static const cell_t* op_value(const cell_t* c) {
        if (type_of(c) != TYPE_word) return nullptr;
        const cell_t* v = global_value(c);
        return v != nullptr && type_of(v) == TYPE_op ? v : nullptr;
    }

    // A word bound where its context's values live (not on the stack) gets
    // that node in its aux: the runner reads it there with no look-up of
    // the context, as a probe's entry is read.
    void word_node(const cell_t* c, int32_t pos) {
        if (c->data1 == fn_ctx && static_cast<int32_t>(c->data3) >= 0) {
            emit(make(K_LOCAL, pos, pos + 1, static_cast<int32_t>(c->data3), c));
            return;
        }
        int32_t values = 0;
        if (static_cast<int32_t>(c->data3) >= 0 && c->data1 != 0) {
            const cell_t* ctx = _context::cell_of(c->data1);
            if (!(ctx->header & FLAG_STACK_VALUES)) values = static_cast<int32_t>(ctx->data2);
        }
        emit(make(K_WORD, pos, pos + 1, values, c));
    }

    // A call's word and its expected value.
    void call_head(uint8_t kind, const cell_t* c, const cell_t* v, int32_t pos,
                   call_summary_t summary, uint32_t small) {
        emit(make(kind, pos, -1, 0, v, small));
        // end: the node of the values of the word's context, which the
        // context keeps from its making (global_value found it there).
        auto values = static_cast<int32_t>(_context::cell_of(c->data1)->data2);
        // pos: the header of the frame the call marks. A plan runs only for
        // code called from code of its own origin (run_planned_body's origin
        // test, or the library run's code_origin; only code_origin changes
        // the interpreted mark, and it puts the caller's back however it is
        // left), so the mark is known.
        uint32_t header = stack::frame_header(
            c, (kind == K_CALL || kind == K_REFCALL ? frame::FUNC : frame::NATIVE) | mark());
        emit(make(K_WORDREF, static_cast<int32_t>(header), values,
                  static_cast<int32_t>(call_summary::bits(summary)), c));
    }

    // The expression at pos of cells (end cells), as eval_operand takes it
    // (infix: a right operand, with no lookahead). Returns the position
    // after it, or -1 when that is not known before running it.
    int32_t expression(const cell_t* cells, int32_t pos, int32_t end, bool infix) {
        if (failed) return -1;
        int32_t first = static_cast<int32_t>(nodes.size());
        const cell_t* c = cells + pos;
        uint8_t t = type_of(c);
        int32_t after = -1;
        if (inert_q(t)) {
            emit(make(K_LIT, pos, pos + 1, 0, c));
            after = pos + 1;
        } else if (t == TYPE_paren) {
            int32_t n = emit(make(K_PAREN, pos, pos + 1, 0, c));
            pending.push_back({n, *c});
            after = pos + 1;
        } else if (t == TYPE_set_word && pos + 1 < end) {
            int32_t n = emit(make(K_SET, pos, -1, 0, c));
            if (c->data1 == fn_ctx && static_cast<int32_t>(c->data3) >= 0)
                nodes[static_cast<size_t>(n)].flags |= SET_LOCAL;
            after = expression(cells, pos + 1, end, false);
            nodes[n].aux = static_cast<int32_t>(nodes.size()) - n;
            nodes[n].end = after;
            if ((nodes[static_cast<size_t>(n)].flags & SET_LOCAL) && nodes[n].aux == 2 &&
                nodes[static_cast<size_t>(n) + 1].kind() == K_LIT)
                nodes[static_cast<size_t>(n)].flags |= SET_LITERAL;
            return after;  // the value had its lookahead
        } else if (t == TYPE_word) {
            after = word_expression(cells, pos, end);
        } else if (t == TYPE_get_word || t == TYPE_lit_word || t == TYPE_get_path ||
                   t == TYPE_lit_path || (t == TYPE_path && !path_call_q(c))) {
            // The interpreter's own path, for one cell: the walk comes back
            // to the plan after it where it ends there (a path that turns
            // out to call leaves the plan for the rest of its block). A
            // path of two elements is read in place while it can be; one
            // whose field holds a function now is a call, whose extent its
            // arguments' nodes (dropped: the interpreter runs it) tell.
            cell_t fn{};
            int32_t arguments =
                t == TYPE_path && field_path_q(c) ? field_call_arguments(c, &fn) : -1;
            bool planned = arguments >= 0 && type_of(&fn) == TYPE_function;
            int32_t head =
                emit(make(planned                                              ? K_FIELDCALL
                          : t == TYPE_path && field_path_q(c) && arguments < 0 ? K_PATH
                                                                               : K_GENERIC,
                          pos, pos + 1, 0, c, planned ? arguments : 0));
            if (planned) {
                call_summary_t summary = summary_of(&fn);
                int32_t ref = emit(
                    make(K_WORDREF, 0, 0, static_cast<int32_t>(call_summary::bits(summary)), &fn));
                // The short ways count on user code calling user code.
                if (!library && !library_body_q(&fn) && plain_function_q(&fn)) {
                    nodes[ref].flags |= PLAIN_CALL;
                    if (std::memcmp(&fn, &this->fn, sizeof(cell_t)) == 0)
                        nodes[ref].flags |= SELF_CALL;
                }
                field_snapshot(c);
            }
            after = pos + 1;
            for (int32_t i = 0; i < arguments && after >= 0; i++)
                after = after < end ? expression(cells, after, end, false) : -1;
            if (planned) {
                nodes[head].aux = static_cast<int32_t>(nodes.size()) - head;
                nodes[head].end = after;
            } else if (arguments > 0 && after >= 0) {
                drop_from(first);
                emit(make(K_GENERIC, pos, after, 0, c));
            }
        } else if (t == TYPE_set_path && pos + 1 < end) {
            // As a set-word: the value's nodes, then the store (eval_path's).
            int32_t n = emit(make(K_SETPATH, pos, -1, 0, c));
            after = expression(cells, pos + 1, end, false);
            nodes[n].aux = static_cast<int32_t>(nodes.size()) - n;
            nodes[n].end = after;
            return after;  // the value had its lookahead
        } else if (t == TYPE_path && path_call_q(c)) {
            after = refined_call(cells, pos, end);
        }
        if (after < 0) {
            drop_from(first);
            emit(make(K_GENERIC, pos, -1, 0, c));
            return -1;
        }
        if (infix) return after;
        int32_t r = lookahead(cells, first, after, end);
        if (r < 0) {
            drop_from(first);
            emit(make(K_GENERIC, pos, -1, 0, c));
        }
        return r;
    }

    // Whether the path at c is a word and a word or integer, the paths
    // read_path_in_place reads.
    static bool field_path_q(const cell_t* c) {
        series_buffer_t* b = alloc::buffer(c->data2);
        auto head = static_cast<int32_t>(c->data1);
        if (head < 0 || (b->used() >> 4) - head != 2) return false;
        const cell_t* cells = b->head_cell() + head;
        uint8_t t = type_of(cells + 1);
        return type_of(cells) == TYPE_word && (t == TYPE_word || t == TYPE_integer);
    }

    // The node of the values of the context ctx while it lives, 0 when it
    // has none of its own for good: on the stack, or folded into the
    // context's own node (adding a word moves them out).
    static uint32_t lasting_values(node_t ctx) {
        if (ctx == 0) return 0;
        const cell_t* c = _context::cell_of(ctx);
        if ((c->header & FLAG_STACK_VALUES) || c->data2 == ctx) return 0;
        return c->data2;
    }

    // The three K_ELEMENTs after a field call's K_WORDREF, for the run's
    // short way (plan_field_call_of): the path's head word as it stands
    // (pos: where its value lives, end: where the object's field values
    // live), its field word bound to that object, and the object. All zero
    // (no word matches) when the head is not a word of lasting values that
    // is not an object's own, or the object's values may move.
    void field_snapshot(const cell_t* c) {
        const cell_t* cells = alloc::buffer(c->data2)->head_cell() + c->data1;
        node_t home = cells->data1;
        const cell_t* obj = global_value(cells);
        uint32_t at = lasting_values(home);
        uint32_t fields =
            obj != nullptr && type_of(obj) == TYPE_object ? lasting_values(obj->data1) : 0;
        bool own = home != 0 && home != _context::global_node &&
                   _context::kind_of(_context::cell_of(home)) == _context::KIND_OBJECT;
        if (at == 0 || fields == 0 || own) {
            for (int32_t i = 0; i < 3; i++) emit(make(K_ELEMENT, 0, 0, 0, nullptr));
            return;
        }
        cell_t field = cells[1];
        field.data1 = obj->data1;
        emit(make(K_ELEMENT, static_cast<int32_t>(at), static_cast<int32_t>(fields), 0, cells));
        emit(make(K_ELEMENT, 0, 0, 0, &field));
        emit(make(K_ELEMENT, 0, 0, 0, obj));
    }

    // The number of arguments of the function the field of a path of two
    // words (field_path_q) holds now, its head an object: -1 when it holds
    // anything else or its call summary is not simple. Read with no
    // binding made: the walk binds the element when it runs.
    static int32_t field_call_arguments(const cell_t* c, cell_t* fn = nullptr) {
        const cell_t* cells = alloc::buffer(c->data2)->head_cell() + c->data1;
        const cell_t* obj = head_value(cells);
        const cell_t* sel = cells + 1;
        auto index = static_cast<int32_t>(sel->data3);
        if (obj == nullptr || type_of(obj) != TYPE_object || type_of(sel) != TYPE_word ||
            index < 0 || sel->data1 == 0 ||
            _context::table_of(sel->data1) != _context::table_of(obj->data1))
            return -1;
        const cell_t* v = _context::value_at(obj->data1, index);
        if (v == nullptr) return -1;
        uint8_t vt = type_of(v);
        if (vt != TYPE_function && vt != TYPE_native && vt != TYPE_action) return -1;
        call_summary_t summary = summary_of(v);
        if (!call_summary::simple_q(summary)) return -1;
        if (fn != nullptr) *fn = *v;
        return call_summary::args(summary);
    }

    // The value the word at w holds now (a function's word read in its
    // frame while that runs); nullptr when it has none to read.
    static const cell_t* head_value(const cell_t* w) {
        if (type_of(w) != TYPE_word) return nullptr;
        auto index = static_cast<int32_t>(w->data3);
        if (index < 0 || w->data1 == 0) return nullptr;
        const cell_t* ctx = _context::cell_of(w->data1);
        if ((ctx->header & FLAG_STACK_VALUES) && ctx->data2 != 0)
            return stack::cell_at(ctx->data2) + index;
        return global_value(w);
    }

    // Whether the path at c starts with a word holding a callable now (a
    // call with refinements, whose extent the builder does not know).
    static bool path_call_q(const cell_t* c) {
        series_buffer_t* b = alloc::buffer(c->data2);
        int32_t head = static_cast<int32_t>(c->data1);
        if (head < 0 || head >= (b->used() >> 4)) return true;
        const cell_t* v = head_value(b->head_cell() + head);
        return v == nullptr || callable_q(type_of(v));
    }

    // A call of the function the path's head word holds now with the
    // refinements its other elements name (K_REFCALL), as call_refined makes
    // it: user code calling a plain user function, words naming refinements
    // in the spec's order, normal arguments at their own cache entry, the
    // frame's slots known. Returns the position after its arguments, -1
    // (nodes left to drop) for any other path, which the interpreter runs.
    int32_t refined_call(const cell_t* cells, int32_t pos, int32_t end) {
        const cell_t* c = cells + pos;
        series_buffer_t* b = alloc::buffer(c->data2);
        auto h = static_cast<int32_t>(c->data1);
        int32_t length = (b->used() >> 4) - h;
        if (library || h < 0 || length < 2 || length > REFINED_SLOTS_MAX) return -1;
        const cell_t* head = b->head_cell() + h;
        if (type_of(head) != TYPE_word || head->data1 == fn_ctx) return -1;
        const cell_t* v = global_value(head);
        if (v == nullptr || type_of(v) != TYPE_function || !plain_function_q(v) ||
            library_body_q(v))
            return -1;
        const cell_t* cache = alloc::buffer(v->data3)->head_cell() + 1;
        uint64_t on = 0;
        if (type_of(cache) != TYPE_block ||
            !refinements_named(cache->data2, head + 1, length - 1, false, &on))
            return -1;
        // The frame's slots as call_refined fills them, entry by entry; an
        // argument's check reads the entry at its own slot.
        uint32_t layout = 0;
        int32_t slots = 0, locals = 0, arguments = 0;
        bool active = true;
        series_buffer_t* cb = alloc::buffer(cache->data2);
        int32_t entries = cb->used() >> 4;
        for (int32_t i = 0; i < entries; i++) {
            const cell_t* e = cb->head_cell() + i;
            uint32_t slot = SLOT_NONE;
            if (type_of(e) == TYPE_typeset) {
                uint32_t kind = (e->header & ARG_KIND_MASK) >> ARG_KIND_SHIFT;
                if (kind == ARG_RETURN) continue;
                if (active && (kind != ARG_NORMAL || i != slots)) return -1;
                if (active) slot = SLOT_ARGUMENT, arguments++;
            } else if (type_of(e) == TYPE_refinement) {
                active = (on >> i) & 1;
                slot = active ? SLOT_TRUE : SLOT_FALSE;
            } else if (type_of(e) == TYPE_integer) {
                if (locals != 0 || i + 1 != entries) return -1;
                locals = static_cast<int32_t>(integer::get(e));
                continue;
            } else {
                continue;
            }
            if (slots == REFINED_SLOTS_MAX) return -1;
            layout |= slot << (2 * slots++);
        }
        if (slots + std::max(locals, 0) != _context::word_count(function::context_of(v))) return -1;
        auto call = static_cast<int32_t>(nodes.size());
        call_head(K_REFCALL, head, v, pos, call_summary_t{}, static_cast<uint32_t>(arguments));
        nodes[call + 1].aux = length;
        nodes[call + 1].flags |= PLAIN_CALL;
        if (std::memcmp(v, &fn, sizeof(cell_t)) == 0) nodes[call + 1].flags |= SELF_CALL;
        emit(make(K_ELEMENT, static_cast<int32_t>(layout), locals, slots, c));
        for (int32_t k = 1; k < length; k++) emit(make(K_ELEMENT, 0, 0, 0, head + k));
        int32_t p = pos + 1;
        for (int32_t i = 0; i < arguments && p >= 0; i++) {
            if (p >= end) return -1;  // a missing argument: the interpreter's error
            p = expression(cells, p, end, false);
        }
        nodes[call].aux = static_cast<int32_t>(nodes.size()) - call;
        nodes[call].end = p;
        return p;
    }

    int32_t word_expression(const cell_t* cells, int32_t pos, int32_t end) {
        const cell_t* c = cells + pos;
        auto index = static_cast<int32_t>(c->data3);
        if (index < 0 || c->data1 == 0) return -1;
        if (c->data1 == fn_ctx || (_context::cell_of(c->data1)->header & FLAG_STACK_VALUES)) {
            word_node(c, pos);
            return pos + 1;
        }
        const cell_t* v = global_value(c);
        if (v == nullptr) return -1;
        if (plain_q(v)) {
            word_node(c, pos);
            return pos + 1;
        }
        uint8_t vt = type_of(v);
        if (vt == TYPE_op || vt == TYPE_unset) return -1;
        call_summary_t summary = summary_of(v);
        if (!call_summary::simple_q(summary)) return -1;
        // A routine (the type tests: none? and the like) runs as a native
        // does once its arguments are in; one with locals would need them
        // pushed, which the native's run does not do.
        if (vt == TYPE_routine && call_summary::locals(summary) != 0) return -1;
        auto n = call_summary::args(summary);
        cell_t expected = *v;
        int32_t head = static_cast<int32_t>(nodes.size());
        int32_t p = pos + 1;
        if (vt == TYPE_native && expected.data1 == RETURN_SLOT) {
            if (!call_summary::simple_with(summary, 1, 0)) return -1;
            call_head(K_RETURN, c, &expected, pos, summary, 1);
        } else if (vt == TYPE_native &&
                   (expected.data1 == IF_INDEX || expected.data1 == EITHER_INDEX)) {
            // `if` takes a condition and a branch, `either` two branches: the
            // runner counts on that.
            if (n != (expected.data1 == EITHER_INDEX ? 3 : 2) ||
                !call_summary::later_blocks_q(summary) || native_table == nullptr ||
                native_table[expected.data1] == nullptr)
                return -1;
            call_head(K_COND, c, &expected, pos, summary, expected.data1);
            if (p >= end) return -1;
            p = expression(cells, p, end, false);
            const pnode_t& cond = nodes[static_cast<size_t>(head) + 2];
            if (p >= 0 && call_summary::first_any_q(summary) && !(cond.flags & PROBE)) {
                uint8_t k = cond.kind();
                if ((cond.flags & SIMPLE_INFIX) && (cond.value.data1 & INFIX_LANE))
                    nodes[static_cast<size_t>(head) + 1].flags |= LANE_CONDITION;
                else if (k == K_LIT || k == K_LOCAL || k == K_WORD)
                    nodes[static_cast<size_t>(head) + 1].flags |= LEAF_CONDITION;
            }
            for (int32_t i = 1; i < n && p >= 0; i++) {
                if (p >= end || type_of(cells + p) != TYPE_block || op_value_after(cells, p, end))
                    return -1;
                int32_t b = emit(make(K_BRANCH, p, p + 1, 0, cells + p));
                if (p + 1 < end && type_of(cells + p + 1) == TYPE_word) probe(b, cells + p + 1);
                pending.push_back({b, cells[p]});
                p++;
            }
            if (p >= 0 && own_word_after(nodes[nodes.size() - 1], c, cells, p, end))
                nodes[static_cast<size_t>(head) + 1].flags |= OWN_WORD_AFTER;
            nodes[head].aux = static_cast<int32_t>(nodes.size()) - head;
            nodes[head].end = p;
            return p;
        } else if (vt == TYPE_function) {
            call_head(K_CALL, c, &expected, pos, summary, static_cast<uint32_t>(n));
            // The short ways count on user code calling user code.
            bool user = !library && !library_body_q(&expected);
            if (user && std::memcmp(&expected, &fn, sizeof(cell_t)) == 0)
                nodes[head + 1].flags |= SELF_CALL;
            if (!user && plain_function_q(&expected) && library_body_q(&expected)) {
                nodes[head + 1].flags |= LIBRARY_CALL;
                // Its one argument is seen to be a leaf below.
                if (n == 1 && call_summary::locals(summary) == 0 &&
                    picked_index(&expected, nullptr) != 0)
                    nodes[head + 1].flags |= LEAF_PICK;
            }
            if (user && plain_function_q(&expected)) {
                nodes[head + 1].flags |= PLAIN_CALL;
                // Its one argument is seen to be a leaf below.
                if (n <= 1 && call_summary::locals(summary) == 0 && leaf_body_q(&expected))
                    nodes[head + 1].flags |= LEAF_BODY;
            }
        } else {
            call_head(K_NATIVE, c, &expected, pos, summary, static_cast<uint32_t>(n));
            if (n == 2 && fast_op_of(vt, expected.data1) != FAST_NONE)
                nodes[head + 1].flags |= FAST_NATIVE;
        }
        for (int32_t i = 0; i < n && p >= 0; i++) {
            if (p >= end) return -1;  // a missing argument: the interpreter's error
            p = expression(cells, p, end, false);
        }
        if (n == 1 && p >= 0) {
            uint8_t k = nodes[static_cast<size_t>(head) + 2].kind();
            if (k != K_LOCAL && k != K_WORD && k != K_LIT)
                nodes[head + 1].flags &= ~(LEAF_BODY | LEAF_PICK);
        }
        nodes[head].aux = static_cast<int32_t>(nodes.size()) - head;
        nodes[head].end = p;
        return p;
    }

    // Whether the word after the last branch, which it probes, is the
    // conditional's word c bound alike (not a word of the function's own,
    // whose values move with its frame).
    bool own_word_after(const pnode_t& last, const cell_t* c, const cell_t* cells, int32_t p,
                        int32_t end) const {
        if (p >= end || (last.flags & (PROBE | PROBE_LOCAL)) != PROBE) return false;
        const cell_t* w = cells + p;
        return type_of(w) == TYPE_word && w->data1 == c->data1 && w->data3 == c->data3 &&
               w->data1 != fn_ctx && w->data1 != 0;
    }

    // Marks node i to probe the word w after it for an operator (first_ref:
    // an operator chain's first K_WORDREF).
    void probe(int32_t i, const cell_t* w, int32_t first_ref = -1) {
        // The interpreter's run of a generic node makes its own lookahead.
        if (nodes[i].kind() == K_GENERIC) return;
        nodes[i].flags |= PROBE;
        uint8_t k = nodes[i].kind();
        int32_t holder = i;
        if (k == K_CALL || k == K_NATIVE || k == K_COND || k == K_REFCALL || k == K_FIELDCALL)
            holder = i + 1;  // its K_WORDREF
        else if (k == K_INFIX) holder = first_ref;
        else if (k != K_LIT && k != K_LOCAL && k != K_WORD && k != K_PAREN && k != K_BRANCH &&
                 k != K_PATH)
            return;
        if (holder < 0) return;
        auto index = static_cast<uint32_t>(w->data3);
        if (w->data1 == fn_ctx) {
            if (index > SMALL_LIMIT) return;
            nodes[i].flags |= PROBE_LOCAL;
            nodes[holder].small_field |= static_cast<uint16_t>(index);
            return;
        }
        if (static_cast<int32_t>(index) < 0 || w->data1 == 0 ||
            (_context::cell_of(w->data1)->header & FLAG_STACK_VALUES))
            return;
        size_t e = 0;
        while (e < probed.size() && (probed[e].data1 != w->data1 || probed[e].data3 != w->data3))
            e++;
        if (e == probed.size()) probed.push_back(*w);
        if (e + 1 <= SMALL_LIMIT) nodes[holder].small_field |= static_cast<uint16_t>(e + 1);
    }

    // The entry nodes of the words probed where their context's values
    // live, after the blocks; each holder's small field turns from the
    // word's number into its entry's index, or 0 where that does not fit.
    // After COMPOUND is set (probe_holder reads it).
    void entries() {
        auto base = static_cast<int32_t>(nodes.size()) - 1;
        for (const cell_t& w : probed) {
            if (static_cast<int32_t>(nodes.size()) > static_cast<int32_t>(SMALL_LIMIT)) break;
            auto values = static_cast<int32_t>(_context::cell_of(w.data1)->data2);
            nodes.push_back(make(K_WORD, -2, -2, values, &w));
        }
        for (int32_t i = 1; i <= base; i++) {
            const pnode_t& n = nodes[static_cast<size_t>(i)];
            if (n.kind() == K_WORDREF || (n.flags & (PROBE | PROBE_LOCAL)) != PROBE) continue;
            pnode_t& h = nodes[static_cast<size_t>(probe_holder(&n) - nodes.data())];
            if (h.small() == 0) continue;  // probe() found no entry for it
            int32_t at = base + static_cast<int32_t>(h.small());
            h.small_field = 0;
            if (at < static_cast<int32_t>(nodes.size())) h.small_field = static_cast<uint16_t>(at);
        }
    }

    // Where the lane of a simple operator reads the leaf n, as its right
    // operand: the frame (0), INFIX_RIGHT_GLOBAL or INFIX_RIGHT_LITERAL; -1
    // for a word whose context's values are on the stack. A word read where
    // its context's values live gets that node in its aux.
    static int32_t operand_source(pnode_t& n) {
        if (n.kind() == K_LOCAL) return 0;
        if (n.kind() == K_LIT) return INFIX_RIGHT_LITERAL;
        const cell_t* c = _context::cell_of(n.value.data1);
        if (c->header & FLAG_STACK_VALUES) return -1;
        n.aux = static_cast<int32_t>(c->data2);
        return INFIX_RIGHT_GLOBAL;
    }

    // Whether a word holding an operator follows the cell at p.
    static bool op_value_after(const cell_t* cells, int32_t p, int32_t end) {
        return p + 1 < end && op_value(cells + p + 1) != nullptr;
    }

    // The infix lookahead after the value whose nodes start at first and
    // end at after: an operator chain becomes a K_INFIX around them, any
    // other word there a probe.
    int32_t lookahead(const cell_t* cells, int32_t first, int32_t after, int32_t end) {
        if (after < 0 || after >= end || type_of(cells + after) != TYPE_word) return after;
        if (op_value(cells + after) == nullptr) {
            probe(first, cells + after);
            return after;
        }
        std::vector<pnode_t> left(nodes.begin() + first, nodes.end());
        nodes.resize(first);
        int32_t head = emit(make(K_INFIX, left[0].pos, -1, 0, nullptr));
        for (const pnode_t& n : left) emit(n);
        // The left operand's nodes moved up by one: so do the blocks they wait for.
        for (pending_t& q : pending)
            if (q.node >= first) q.node++;
        int32_t p = after;
        uint32_t steps = 0;
        int32_t first_ref = -1;
        while (p >= 0 && p < end) {
            const cell_t* w = cells + p;
            const cell_t* v = op_value(w);
            if (v == nullptr) break;
            if (p + 1 >= end) return -1;
            fast_op f = fast_op_of(v);
            const cell_t* right = cells + p + 1;
            bool fast = false;
            if (f != FAST_NONE && start_up_value(op::wrapped_type(v), v->data1) != nullptr) {
                if (inert_q(type_of(right))) fast = true;
                else if (type_of(right) == TYPE_word) {
                    if (right->data1 == fn_ctx ||
                        (right->data1 != 0 &&
                         (_context::cell_of(right->data1)->header & FLAG_STACK_VALUES))) {
                        fast = true;
                    } else {
                        const cell_t* rv = global_value(right);
                        fast = rv != nullptr && plain_q(rv);
                    }
                } else if (type_of(right) == TYPE_path) {
                    // Read in place by the step, which leaves it to the
                    // operator loop when it reaches anything else.
                    fast = field_path_q(right) && !path_call_q(right) &&
                           field_call_arguments(right) < 0;
                }
            }
            call_summary_t summary{};
            if (!fast) {
                // The operator is called: a native or action of two normal
                // arguments, as the lookahead calls it. The same op! has the
                // same arguments cache: once made, a cache is never made again.
                uint8_t ct = op::wrapped_type(v);
                cell_t callee = *v;
                callee.header = ct;
                summary = summary_of(&callee);
                if ((ct != TYPE_native && ct != TYPE_action) ||
                    !call_summary::simple_with(summary, 2))
                    return -1;
            }
            emit(make(K_OP, p, -1, 0, v, fast ? static_cast<uint32_t>(f) : 0));
            // A called operator's word keeps the operation too: its result
            // is computed in place when both operands are integers. end: the
            // node of the values of the word's context, as for a call; pos
            // the header of the frame a called operator marks, as for a call.
            auto values = static_cast<int32_t>(_context::cell_of(w->data1)->data2);
            auto header = static_cast<int32_t>(stack::frame_header(w, frame::NATIVE | mark()));
            int32_t ref = emit(make(K_WORDREF, header, values, static_cast<int32_t>(f), w));
            if (call_summary::any_types_q(summary)) nodes[ref].flags |= OPERATOR_ANY_TYPES;
            int32_t step = static_cast<int32_t>(nodes.size()) - 2;
            if (first_ref < 0) first_ref = step + 1;
            if (fast) {
                if (type_of(right) == TYPE_word) word_node(right, p + 1);
                else if (type_of(right) == TYPE_path) emit(make(K_PATH, p + 1, p + 2, 0, right));
                else emit(make(K_LIT, p + 1, p + 2, 0, right));
                p += 2;
            } else {
                p = expression(cells, p + 1, end, true);
            }
            // A called step's end is not read: its place holds the header
            // of the callee pushed under the left operand, the operator's
            // native or action with its flags, its wrapped type cleared.
            if (fast) nodes[step].end = p;
            else
                nodes[step].end = static_cast<int32_t>(
                    (v->header & ~(HEADER_TYPE_MASK | (0xFFu << op::WRAPPED_SHIFT))) |
                    op::wrapped_type(v));
            steps++;
        }
        if (p < 0 || steps > SMALL_LIMIT) return -1;
        nodes[head].small_field = static_cast<uint16_t>(steps);
        // left op right, both leaves, computed in place: run inline.
        auto leaf = [](const pnode_t& n) {
            return n.kind() == K_LIT || n.kind() == K_LOCAL || n.kind() == K_WORD;
        };
        if (steps == 1 && nodes.size() == static_cast<size_t>(head) + 5 && leaf(nodes[head + 1]) &&
            nodes[head + 2].small() != 0 && leaf(nodes[head + 4])) {
            nodes[head].flags |= SIMPLE_INFIX;
            int32_t left = operand_source(nodes[head + 1]);
            int32_t right = operand_source(nodes[head + 4]);
            uint32_t lane = 0;
            if (left >= 0 && right >= 0)
                lane = INFIX_LANE | static_cast<uint32_t>(left) << 2 | static_cast<uint32_t>(right);
            nodes[head].value = cell_t{TYPE_integer, lane, nodes[head + 2].small(), 0};
        }
        nodes[head].aux = static_cast<int32_t>(nodes.size()) - head;
        nodes[head].end = p;
        if (p < end && type_of(cells + p) == TYPE_word) probe(head, cells + p, first_ref);
        if ((nodes[head].flags & (SIMPLE_INFIX | PROBE_LOCAL)) == (SIMPLE_INFIX | PROBE_LOCAL))
            nodes[head].value.data3 = nodes[first_ref].small() * sizeof(cell_t);
        return p;
    }

    // left op (leaf): one step, a leaf on the left, a called operator that
    // stands for a fast operation and a paren of one leaf on the right,
    // which the runner's lane takes as it takes two leaves. After every
    // block is planned: ONE_LEAF is known only then.
    void paren_lanes() {
        auto leaf = [](const pnode_t& n) {
            return n.kind() == K_LIT || n.kind() == K_LOCAL || n.kind() == K_WORD;
        };
        for (size_t i = 0; i + 4 < nodes.size(); i++) {
            pnode_t& n = nodes[i];
            if (n.kind() != K_INFIX || n.aux != 5 || n.small() != 1 || (n.flags & SIMPLE_INFIX))
                continue;
            const pnode_t& op = nodes[i + 2];
            const pnode_t& ref = nodes[i + 3];
            const pnode_t& right = nodes[i + 4];
            if (!leaf(nodes[i + 1]) || op.small() != 0 || ref.aux == FAST_NONE ||
                right.kind() != K_PAREN ||
                !(nodes[static_cast<size_t>(right.aux)].flags & ONE_LEAF))
                continue;
            n.flags |= SIMPLE_INFIX;
            uint32_t offset = (n.flags & PROBE_LOCAL) ? ref.small() * sizeof(cell_t) : 0;
            n.value = cell_t{TYPE_integer, INFIX_PAREN, static_cast<uint32_t>(ref.aux), offset};
        }
    }

    // The operator chains a run computes with nothing run (QUIET_CHAIN,
    // plans/quiet.cpp): every operand a leaf, a path of two elements or a
    // paren of one such leaf or chain, every step a fast operation or a
    // called operator that stands for one with such a paren on its right;
    // parens nested QUIET_DEPTH deep at most, for the room the runner
    // checks. A paren's block comes after the nodes of the chain it is in,
    // so a walk from the last node finds the inner chains marked first.
    // After COMPOUND is set (size_of reads it).
    static constexpr int32_t QUIET_DEPTH = 2;
    // Whether node m is a call of square-root on a leaf or a path, with no
    // probe after it: a right operand a quiet chain computes (its room
    // counted as a paren's).
    bool quiet_root_q(int32_t m) const {
        const pnode_t& o = nodes[static_cast<size_t>(m)];
        if (o.kind() != K_NATIVE || o.small() != 1 || (o.flags & PROBE) ||
            type_of(&o.value) != TYPE_native || o.value.data1 != native_number::square_root - 1)
            return false;
        const pnode_t& a = nodes[static_cast<size_t>(m) + 2];
        uint8_t k = a.kind();
        return (k == K_LOCAL || k == K_WORD || k == K_LIT || k == K_PATH) && !(a.flags & PROBE);
    }
    void quiet_chains() {
        std::vector<int32_t> depth(nodes.size(), -1);
        // The parens an operand nests (0 for a leaf or a path), -1 when not quiet.
        auto operand = [&](int32_t m, bool right) -> int32_t {
            const pnode_t& o = nodes[static_cast<size_t>(m)];
            uint8_t k = o.kind();
            if (k == K_LOCAL || k == K_WORD || k == K_LIT || k == K_PATH) return 0;
            if (right && quiet_root_q(m)) return 1;
            if (k != K_PAREN) return -1;
            const pnode_t& b = nodes[static_cast<size_t>(o.aux)];
            if (b.flags & ONE_LEAF) return 1;
            const pnode_t& c = nodes[static_cast<size_t>(o.aux) + 2];
            if (!(b.flags & ONE_EXPRESSION) || c.kind() != K_INFIX || (c.flags & PROBE) ||
                depth[static_cast<size_t>(o.aux) + 2] < 0)
                return -1;
            return depth[static_cast<size_t>(o.aux) + 2] + 1;
        };
        for (auto i = static_cast<int32_t>(nodes.size()) - 1; i > 0; i--) {
            if (nodes[static_cast<size_t>(i)].kind() != K_INFIX) continue;
            int32_t left = i + 1;
            int32_t d = operand(left, false);
            int32_t s = left + size_of(&nodes[static_cast<size_t>(left)]);
            for (uint32_t k = nodes[static_cast<size_t>(i)].small(); k > 0 && d >= 0; k--) {
                int32_t r = s + 2;
                const pnode_t& op = nodes[static_cast<size_t>(s)];
                if (op.small() == 0 &&
                    ((nodes[static_cast<size_t>(r)].kind() != K_PAREN && !quiet_root_q(r)) ||
                     nodes[static_cast<size_t>(s) + 1].aux == FAST_NONE)) {
                    d = -1;
                    break;
                }
                int32_t o = operand(r, true);
                d = o < 0 ? -1 : std::max(d, o);
                s = r + size_of(&nodes[static_cast<size_t>(r)]);
            }
            if (d < 0 || d > QUIET_DEPTH) continue;
            depth[static_cast<size_t>(i)] = d;
            nodes[static_cast<size_t>(i)].flags |= QUIET_CHAIN;
        }
    }

    // Marks BODY_RETURN the conditionals that are statements of a
    // function's body (its block is the first planned) with a branch of
    // `return leaf`. After COMPOUND is set: the statements are walked by
    // their sizes.
    void body_returns() {
        if (type_of(&fn) != TYPE_function) return;
        auto returns_leaf = [this](const pnode_t& branch) {
            auto b = static_cast<size_t>(branch.aux);
            if (!(nodes[b].flags & ONE_EXPRESSION) || nodes[b + 2].kind() != K_RETURN) return false;
            const pnode_t& a = nodes[b + 4];
            uint8_t k = a.kind();
            return (k == K_LOCAL || k == K_WORD || k == K_LIT) && !(a.flags & PROBE);
        };
        for (size_t i = 3; nodes[i].kind() != K_END; i += static_cast<size_t>(size_of(&nodes[i]))) {
            if (nodes[i].kind() != K_COND) continue;
            size_t last = i + static_cast<size_t>(nodes[i].aux) - 1;
            size_t first = last - (nodes[i].small() == EITHER_INDEX ? 1 : 0);
            for (size_t b = first; b <= last; b++)
                if (returns_leaf(nodes[b])) nodes[i + 1].flags |= BODY_RETURN;
        }
    }

    // Marks PAREN_CALL or PAREN_PATH_CALL the parens whose block is one
    // call.
    void paren_calls() {
        for (pnode_t& n : nodes) {
            if (n.kind() != K_PAREN) continue;
            auto b = static_cast<size_t>(n.aux);
            if (!(nodes[b].flags & ONE_EXPRESSION)) continue;
            if (nodes[b + 2].kind() == K_CALL) n.flags |= PAREN_CALL;
            if (nodes[b + 2].kind() == K_FIELDCALL || nodes[b + 2].kind() == K_REFCALL)
                n.flags |= PAREN_PATH_CALL;
        }
    }

    // The node of statement i whose first act reads the word at the
    // statement's position, and the flag it takes (see ANSWERS_PROBE);
    // nullptr when there is none.
    pnode_t* answering(int32_t i, uint32_t* flag) {
        pnode_t& n = nodes[static_cast<size_t>(i)];
        pnode_t& next = nodes[static_cast<size_t>(i) + 1];
        auto word = [](const pnode_t& m) { return m.kind() == K_LOCAL || m.kind() == K_WORD; };
        *flag = ANSWERS_PROBE;
        if (word(n)) return &n;
        // The lane reads its left operand first; an operator found there
        // leaves it (plan_simple_infix_other).
        if (n.kind() == K_INFIX && (n.flags & SIMPLE_INFIX) && (n.value.data1 & INFIX_LANE) &&
            word(next) && next.pos == n.pos)
            return &next;
        *flag = REF_ANSWERS_PROBE;
        if (n.kind() == K_CALL || n.kind() == K_NATIVE) return &next;
        return nullptr;
    }

    // Leaves the probe of statement first to the read that starts statement
    // second, right after it (see ANSWERS_PROBE). The first is one whose
    // runs skip only their last probe when PROBE is clear, and that leaves
    // its value where plan_answer finds it.
    void leave_probe(int32_t first, int32_t second) {
        pnode_t& a = nodes[static_cast<size_t>(first)];
        uint8_t k = a.kind();
        if (!(a.flags & PROBE) || nodes[static_cast<size_t>(second)].pos != a.end ||
            (k != K_LOCAL && k != K_WORD && k != K_CALL && k != K_NATIVE && k != K_INFIX))
            return;
        uint32_t flag = 0;
        pnode_t* reader = answering(second, &flag);
        if (reader == nullptr) return;
        a.flags &= ~(PROBE | PROBE_LOCAL);
        reader->flags |= flag;
    }

    // A block's nodes: K_BLOCK, K_SNAP, then its expressions as far as
    // their positions are known, then K_END.
    void block(const cell_t* code) {
        series_buffer_t* b = alloc::buffer(code->data2);
        b->flags |= series_flag::PLANNED;
        // A plan is of one origin: a block of the other would need the
        // other's position and marks.
        if (((b->flags & top_level::LIBRARY_SERIES) != 0) != library) failed = true;
        int32_t end = b->used() >> 4;
        int32_t head = block::head_index(code);
        if (head < 0) head = 0;
        int32_t bi = emit(make(K_BLOCK, head, end, 0, code));
        emit(make(K_SNAP, static_cast<int32_t>(snapshots.size()), end, 0, nullptr));
        const cell_t* cells = b->head_cell();
        snapshots.insert(snapshots.end(), cells, cells + end);
        int32_t pos = head;
        int32_t expressions = 0;
        int32_t previous = -1;
        bool lead = true;  // every statement before the latest a SET_LITERAL
        for (; pos >= 0 && pos < end && !failed; expressions++) {
            auto at = static_cast<int32_t>(nodes.size());
            pos = expression(cells, pos, end, false);
            if (previous >= 0) {
                neighbours.push_back({previous, at});
                if (!(nodes[static_cast<size_t>(previous)].flags & SET_LITERAL)) lead = false;
            }
            previous = at;
        }
        nodes[bi].aux = static_cast<int32_t>(nodes.size()) - bi - 2;
        // Verify mode builds these shapes too: a planned run checks every
        // block of its plan as it begins (verify_plan), so the blocks it
        // takes without the block loop are checked as well.
        if (expressions == 1) {
            nodes[bi].flags |= ONE_EXPRESSION;
            uint8_t k = nodes[static_cast<size_t>(bi) + 2].kind();
            if (k == K_LOCAL || k == K_WORD || k == K_LIT) nodes[bi].flags |= ONE_LEAF;
        } else if (expressions > 1 && lead) {
            nodes[bi].flags |= LITERAL_LEAD;
        }
        // The walk compares each node's position with its own: the
        // sentinel ends the block's nodes without a count to test.
        emit(make(K_END, -2, -2, 0, nullptr));
    }
};

// Compares the plan's blocks with their snapshots.
bool blocks_unchanged(const pnode_t* head) {
    const cell_t* cells = snapshots_of(head);
    for (int32_t i = 1; i < head->aux; i++) {
        const pnode_t* n = head + i;
        if (n->kind() != K_BLOCK) continue;
        const pnode_t* s = n + 1;
        series_buffer_t* b = alloc::buffer(n->value.data2);
        if ((b->used() >> 4) != s->end) return false;
        if (std::memcmp(b->head_cell(), cells + s->pos, static_cast<size_t>(s->end) * 16) != 0)
            return false;
    }
    return true;
}

}  // namespace

// The plan of body, fn_ctx the context whose words the runner reads in its
// frame (NO_CONTEXT: none), fn the function planned (none for a block a
// loop runs); nullptr when the body gives none. *keep takes the block that
// holds the plan's handle and its nodes' values, which the caller makes
// reachable before anything else allocates.
pnode_t* build_body(const cell_t* body, node_t fn_ctx, const cell_t* fn, node_t* keep_out) {
    // A paren: an action parse runs (its contents plan as a block's do).
    if (type_of(body) != TYPE_block && type_of(body) != TYPE_paren) return nullptr;
    builder b;
    b.fn_ctx = fn_ctx;
    b.fn = *fn;
    b.library = top_level::library_q(body->data2);
    b.emit(make(K_HEAD, 0, 0, 0, nullptr));
    if (b.library) b.nodes[0].flags |= LIBRARY_PLAN;
    b.pending.push_back({-1, *body});
    for (size_t i = 0; i < b.pending.size() && !b.failed; i++) {
        builder::pending_t p = b.pending[i];
        if (p.node >= 0) b.nodes[p.node].aux = static_cast<int32_t>(b.nodes.size());
        b.block(&p.code);
    }
    if (b.failed) return nullptr;
    b.paren_lanes();
    // After paren_lanes: which K_INFIX is a lane is known only then.
    for (auto [first, second] : b.neighbours) b.leave_probe(first, second);
    for (pnode_t& n : b.nodes) {
        if (n.kind() == K_OP) n.aux = 2;
        if (compound_kinds[n.kind()]) n.flags |= COMPOUND;
    }
    b.body_returns();
    b.paren_calls();
    b.quiet_chains();
    b.entries();
    auto count = static_cast<int32_t>(b.nodes.size());
    b.nodes[0].aux = count;
    b.nodes[0].end = static_cast<int32_t>(epoch);
    // The block first (it may collect): then nothing allocates until the
    // plan is registered and the caller holds the block.
    node_t keep = alloc::alloc_unset_cells(int64_t{count} + 2);
    size_t node_bytes = static_cast<size_t>(count) * sizeof(pnode_t);
    size_t bytes = node_bytes + b.snapshots.size() * sizeof(cell_t);
    auto* plan = static_cast<uint8_t*>(lowrt::allocate(bytes));
    std::memcpy(plan, b.nodes.data(), node_bytes);
    if (!b.snapshots.empty())
        std::memcpy(plan + node_bytes, b.snapshots.data(), b.snapshots.size() * sizeof(cell_t));
    int32_t entry = externals::add(reinterpret_cast<uintptr_t>(plan), plan_kind);
    series_buffer_t* kb = alloc::buffer(keep);
    cell_t* k = kb->head_cell();
    k[0] = cell_t{TYPE_handle, 0, 0, static_cast<uint32_t>(entry)};
    auto address = reinterpret_cast<uintptr_t>(plan);
    k[1] = cell_t{TYPE_integer, static_cast<uint32_t>(address),
                  static_cast<uint32_t>(address >> 32), 0};
    for (int32_t i = 0; i < count; i++) k[i + 2] = b.nodes[static_cast<size_t>(i)].value;
    kb->tail = kb->head + (count + 2) * 16;
    *keep_out = keep;
    return reinterpret_cast<pnode_t*>(plan);
}

bool current(pnode_t* head) {
    if (head->pos < 0) return false;
    if (static_cast<uint32_t>(head->end) == epoch) [[likely]]
        return true;
    // Some planned block was written: this plan holds if its own blocks
    // are as it saw them.
    if (blocks_unchanged(head)) {
        head->end = static_cast<int32_t>(epoch);
        return true;
    }
    // Dropped for good, but kept while its holder lives: a run of it
    // further up the stack may still be walking it.
    count(C_INVALID);
    head->pos = -1;
    return false;
}

namespace {

// Whether a library body's plan would cost more than it saves: a body of
// one expression that the plan hands partly to the interpreter (a generic
// node) pays the planned call's and the fallback's work around the
// interpreter's own (measured: also, to-word). Its plan, unreferenced,
// goes at the next collection.
bool no_gain_q(const pnode_t* plan) {
    if (!(plan->flags & LIBRARY_PLAN) || !(plan[1].flags & ONE_EXPRESSION)) return false;
    for (int32_t i = 1; i < plan->aux; i++)
        if (plan[i].kind() == K_GENERIC) return true;
    return false;
}

// Builds the plan of the function at slot into its more series; nullptr
// when the body gives none.
const pnode_t* build(const cell_t* slot) {
    cell_t body = *function::more(slot, function::MORE_BODY);
    node_t keep = 0;
    pnode_t* plan = build_body(&body, function::context_of(slot), slot, &keep);
    if (plan == nullptr || no_gain_q(plan)) return nullptr;
    *function::more(slot, function::MORE_PLAN) = cell_t{TYPE_block, 0, keep, 0};
    return plan;
}

}  // namespace

void init() {
    const char* on = platform::get_env("ZUV_PLANS");
    enabled = !general_path_only && (on == nullptr || std::strcmp(on, "0") != 0);
    eager = enabled && on != nullptr && std::strcmp(on, "eager") == 0;
    verify = platform::get_env("ZUV_PLAN_VERIFY") != nullptr;
    dumping = platform::get_env("ZUV_PLAN_DUMP") != nullptr;
    bool was_counting = counting;
    counting = platform::get_env("ZUV_PLAN_COUNTS") != nullptr;
    if (counting && !was_counting) lowrt::add_exit_hook(print_counters);
    plan_kind = static_cast<uint32_t>(externals::register_kind(0, release_plan));
    forget_blocks();
}

const pnode_t* of_function(const cell_t* slot) {
    cell_t* m = function::more(slot, function::MORE_PLAN);
    uint8_t t = type_of(m);
    if (t == TYPE_block) [[likely]] {
        pnode_t* head = held_plan(m);
        return current(head) ? head : nullptr;
    }
    if (t == TYPE_unset && !eager) {
        *m = cell_t{TYPE_integer, 0, 1, 0};
        return nullptr;
    }
    if (t != TYPE_integer && t != TYPE_unset) return nullptr;
    const pnode_t* p = build(slot);
    if (p == nullptr) {
        count(C_NOT_PLANNED);
        *function::more(slot, function::MORE_PLAN) = cell_t{TYPE_none, 0, 0, 0};
        return nullptr;
    }
    count(C_BUILD);
    if (dumping) [[unlikely]]
        dump(p);
    if (verify) [[unlikely]]
        verify_kinds(p);
    return p;
}

void verify_kinds(const pnode_t* head) {
    for (int32_t i = 0; i < head->aux; i++) {
        const pnode_t* n = head + i;
        uint8_t k = n->kind();
        const char* fault = nullptr;
        if (k >= K_COUNT) fault = "a kind not in kinds.def";
        else if (n->flags &
                 ~(k == K_WORDREF && i > 0 ? wordref_flags[n[-1].kind()] : kind_flags[k]))
            fault = "a flag its kind may not carry";
        else if (((n->flags & COMPOUND) != 0) != compound_kinds[k])
            fault = "COMPOUND not as its kind says";
        else if (small_uses[k] == SMALL_NONE && n->small() != 0)
            fault = "a small field its kind does not have";
        if (fault == nullptr) continue;
        std::fprintf(stderr, "plan verify: node %d (%s) carries %s\n", i,
                     k < K_COUNT ? kind_names[k] : "?", fault);
        std::abort();
    }
}

void verify_plan(const pnode_t* head) {
    for (int32_t i = 1; i < head->aux; i++)
        if (head[i].kind() == K_BLOCK) verify_block(head, head + i, &head[i].value);
}

void verify_block(const pnode_t* head, const pnode_t* block, const cell_t* code) {
    const cell_t* cells = snapshots_of(head);
    const pnode_t* s = block + 1;
    series_buffer_t* b = alloc::buffer(code->data2);
    bool same = code->data2 == block->value.data2 && (b->used() >> 4) == s->end &&
                std::memcmp(b->head_cell(), cells + s->pos, static_cast<size_t>(s->end) * 16) == 0;
    // A write of tracing that bypassed set_tracing lets a plan run traced.
    if (tracing) [[unlikely]] {
        std::fprintf(stderr, "plan verify: a plan ran while tracing\n");
        std::abort();
    }
    // The frames a plan marks carry the interpreted mark the builder put in.
    uint32_t mark = (head->flags & LIBRARY_PLAN) ? 0 : frame::INTERPRETED;
    if (stack::interpreted_mark != mark) [[unlikely]] {
        std::fprintf(stderr, "plan verify: a plan ran outside user code\n");
        std::abort();
    }
    if (same) return;
    std::fprintf(stderr,
                 "plan verify: a planned block changed without its stamp (block at %d, %d "
                 "cells planned, %d now)\n",
                 block->pos, s->end, b->used() >> 4);
    std::abort();
}

}  // namespace interpreter::plan
}  // namespace zuv

// The arguments cache: one block per callee, made from its spec on first
// use, that tells a call what to fetch. Entries in spec order: a typeset per
// argument (its kind in the header, see interpreter.h), a refinement! per
// refinement (word 3: its ordinal for natives and actions, its slot for
// functions), an integer! for a run of locals, and for natives and actions
// with refinements a closing integer! counting them. Word 3 of the cache
// cell holds the call summary (arguments_cache.h).
#include "interpreter/arguments_cache.h"
#include "datatypes/action.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/native.h"
#include "datatypes/none.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "interpreter/entry_arguments.h"
#include "interpreter/interpreter.h"
#include "runtime/alloc.h"
#include "runtime/collector.h"
#include "runtime/fire.h"
#include "runtime/words.h"

namespace zuv::interpreter {

namespace {

// The caches of the natives and actions of the global context as start-up
// made them, by table index. Their entries read the arguments where their
// own spec puts them and trust their types: a native or action value made
// later (make native! with any spec) calls through its entry's cache, and
// the spec it was given serves reflection only.
cell_t native_caches[native::TABLE_SLOTS];
cell_t action_caches[action::COUNT];
// The values themselves, for the fast paths' fallbacks.
cell_t native_values[native::TABLE_SLOTS];
cell_t action_values[action::COUNT];

void mark_entry_caches() {
    collector::mark_values(native_caches, native_caches + native::TABLE_SLOTS);
    collector::mark_values(action_caches, action_caches + action::COUNT);
    collector::mark_values(native_values, native_values + native::TABLE_SLOTS);
    collector::mark_values(action_values, action_values + action::COUNT);
}

// The start-up cache of the native or action callee calls, nullptr when
// there is none.
const cell_t* entry_cache(const cell_t* callee) {
    uint32_t index = callee->data1;
    const cell_t* c = nullptr;
    if (type_of(callee) == TYPE_native && index < static_cast<uint32_t>(native::TABLE_SLOTS))
        c = native_caches + index;
    else if (type_of(callee) == TYPE_action && index < static_cast<uint32_t>(action::COUNT))
        c = action_caches + index;
    return c != nullptr && type_of(c) == TYPE_block ? c : nullptr;
}

int32_t canonical(words::id w) {
    return symbol::resolve(static_cast<int32_t>(words::symbol_of(w)));
}

// The call summary of a cache. With the fast paths off every cache has an
// empty one, so every call takes the general path.
call_summary_t summarize(const cell_t* cache, bool native_like) {
    if (general_path_only) return {};
    int32_t n = block::abs_length(cache);
    uint32_t args = 0;
    uint32_t locals = 0;
    uint32_t returns = 0;
    bool any_types = true;
    bool later_blocks = true;
    bool first_any = true;
    for (int32_t i = 0; i < n; i++) {
        const cell_t* e = block::rs_abs_at(cache, i);
        uint8_t et = type_of(e);
        if (et == TYPE_refinement && native_like && locals == 0) break;
        switch (et) {
        case TYPE_typeset: {
            // A return: entry takes no argument; normal arguments after it
            // would not sit at their own entry index, so they need the walk.
            uint32_t kind = (e->header & ARG_KIND_MASK) >> ARG_KIND_SHIFT;
            if (kind == ARG_RETURN) {
                returns++;
                break;
            }
            if (locals != 0 || returns != 0 || kind != ARG_NORMAL) return {};
            bool takes_all = true;
            for (int32_t id = 1; id <= TYPE_COUNT && takes_all; id++)
                if (!((SELDOM_TYPES >> id) & 1) && !typeset::has_q(e, id)) takes_all = false;
            if (!takes_all) any_types = false;
            if (args == 0) first_any = takes_all;
            if (args > 0 && !typeset::has_q(e, TYPE_block)) later_blocks = false;
            args++;
            break;
        }
        case TYPE_integer:
            if (locals != 0 || integer::get(e) < 1 ||
                integer::get(e) > static_cast<int32_t>(call_summary::MAX_LOCALS))
                return {};
            locals = static_cast<uint32_t>(integer::get(e));
            break;
        default: return {};
        }
    }
    if (args > call_summary::MAX_ARGS) return {};
    return call_summary::simple(args, locals, any_types, later_blocks, first_any);
}

void build_cache(const cell_t* callee) {
    uint8_t t = type_of(callee);
    bool native_like = t == TYPE_native || t == TYPE_action;
    if (const cell_t* made = native_like ? entry_cache(callee) : nullptr) {
        alloc::buffer(callee->data3)->head_cell()[1] = *made;
        return;
    }
    cell_t cache;
    block::make_at(&cache, 8);
    collector::root_cell keep(&cache);
    cell_t spec;
    block::init_value(&spec, TYPE_block, callee->data2);
    collector::root_cell keep_spec(&spec);
    node_t more = callee->data3;
    const int32_t local = canonical(words::id::local);
    const int32_t return_ = canonical(words::id::return_);

    int32_t n = block::abs_length(&spec);
    int32_t refinements = 0;
    int32_t slot = 0;
    for (int32_t i = 0; i < n; i++) {
        cell_t c = *block::rs_abs_at(&spec, i);
        uint8_t ct = type_of(&c);
        uint32_t kind;
        switch (ct) {
        case TYPE_word: kind = ARG_NORMAL; break;
        case TYPE_get_word: kind = ARG_GET; break;
        case TYPE_lit_word: kind = ARG_LIT; break;
        case TYPE_set_word:
            if (symbol::resolve(word::symbol_of(&c)) != return_) fire(err::bad_func_def, &c);
            kind = ARG_RETURN;
            break;
        case TYPE_refinement: {
            if (symbol::resolve(word::symbol_of(&c)) == local) {
                // /local and the words after it, up to a set-word or the end.
                int32_t count = 1;
                int32_t j = i + 1;
                for (; j < n; j++) {
                    uint8_t lt = type_of(block::rs_abs_at(&spec, j));
                    if (lt == TYPE_set_word) break;
                    if (lt == TYPE_word) count++;
                }
                cell_t locals{TYPE_unset, 0, 0, 0};
                integer::make_at(&locals, count);
                block::rs_append(&cache, &locals);
                i = j - 1;
                continue;
            }
            refinements++;
            c.data3 = static_cast<uint32_t>(native_like ? refinements : slot);
            c.header &= HEADER_TYPE_MASK;
            block::rs_append(&cache, &c);
            slot++;
            continue;
        }
        default: continue;  // doc strings, the attribute block
        }
        if (i + 1 < n && type_of(block::rs_abs_at(&spec, i + 1)) == TYPE_block) {
            cell_t types = *block::rs_abs_at(&spec, i + 1);
            typeset::make_in_from_block(&cache, &types);
            i++;
        } else {
            typeset::make_default_in(&cache);
        }
        cell_t* entry = block::rs_tail(&cache) - 1;
        entry->header = (entry->header & ~ARG_KIND_MASK) | (kind << ARG_KIND_SHIFT);
        if (kind != ARG_RETURN) slot++;
    }
    if (native_like && refinements > 0) {
        cell_t count{TYPE_unset, 0, 0, 0};
        integer::make_at(&count, refinements);
        block::rs_append(&cache, &count);
    }
    call_summary_t summary = summarize(&cache, native_like);
    // A spec changed before the first call gives a frame that does not fill
    // the function's context: such calls take the general path, which pads it.
    if (t == TYPE_function && call_summary::simple_q(summary)) {
        int32_t frame = call_summary::args(summary) + call_summary::locals(summary);
        if (frame != _context::word_count(function::context_of(callee))) summary = {};
    }
    set_cached_summary(&cache, summary);
    alloc::buffer(more)->head_cell()[1] = cache;
}

// The descriptor of a start-up entry read from its cache. d is left empty
// when it takes more arguments than a descriptor holds, or one no entry
// has: a get-word argument, or a quoted one that may be left out.
void describe(entry_arguments* d, const cell_t* cache) {
    *d = entry_arguments{};
    int32_t n = block::abs_length(cache);
    int32_t count = 0;
    for (int32_t i = 0; i < n; i++) {
        const cell_t* e = block::rs_abs_at(cache, i);
        // The first refinement (or the closing count) ends them.
        if (type_of(e) != TYPE_typeset) break;
        uint32_t kind = (e->header & ARG_KIND_MASK) >> ARG_KIND_SHIFT;
        if (kind == ARG_RETURN) continue;
        if (count == DESCRIBED_ARGS_MAX || i > UINT8_MAX || kind == ARG_GET ||
            (kind == ARG_LIT && typeset::has_q(e, TYPE_unset))) {
            *d = entry_arguments{};
            return;
        }
        d->entry[count] = static_cast<uint8_t>(i);
        d->kind[count] = static_cast<uint8_t>(kind);
        for (int32_t id = 0; id < 64; id++)
            if (typeset::has_q(e, id)) d->types[count] |= uint64_t{1} << id;
        count++;
    }
    d->count = static_cast<uint8_t>(count);
    d->cache = cache->data2;
}

}  // namespace

entry_arguments native_arguments[native::TABLE_SLOTS];
entry_arguments action_arguments[action::COUNT];

int32_t find_refinement(node_t cache, int32_t symbol) {
    series_buffer_t* b = alloc::buffer(cache);
    int32_t n = b->used() >> 4;
    cell_t* e = b->head_cell();
    for (int32_t i = 0; i < n; i++)
        if (type_of(e + i) == TYPE_refinement && symbol::resolve(word::symbol_of(e + i)) == symbol)
            return i;
    return -1;
}

bool refinements_named(node_t cache, const cell_t* element, int32_t count, bool native_like,
                       uint64_t* on) {
    int32_t last = -1;
    for (int32_t k = 0; k < count; k++) {
        if (type_of(element + k) != TYPE_word) return false;
        int32_t r = find_refinement(cache, symbol::resolve(word::symbol_of(element + k)));
        if (r <= last || r >= 64) return false;
        if (native_like &&
            static_cast<int32_t>(alloc::buffer(cache)->head_cell()[r].data3) > MAX_REFINEMENTS)
            return false;
        last = r;
        *on |= uint64_t{1} << r;
    }
    return true;
}

cell_t* arguments_cache(const cell_t* callee) {
    cell_t* slot = alloc::buffer(callee->data3)->head_cell() + 1;
    if (type_of(slot) == TYPE_block) [[likely]]
        return slot;
    build_cache(callee);
    return alloc::buffer(callee->data3)->head_cell() + 1;
}

void forget_caches() {
    for (cell_t& c : native_caches) c = none_value;
    for (cell_t& c : action_caches) c = none_value;
    for (cell_t& c : native_values) c = none_value;
    for (cell_t& c : action_values) c = none_value;
    for (entry_arguments& d : native_arguments) d = entry_arguments{};
    for (entry_arguments& d : action_arguments) d = entry_arguments{};
}

void prepare_caches() {
    // Their entries read the arguments where their own spec puts them, but
    // spec-of gives that very block: a cache first made after a script had
    // changed it would hand them cells of other types, or none at all.
    static bool marked = false;
    if (!marked) {
        marked = true;
        collector::add_marker(mark_entry_caches);
    }
    forget_caches();
    node_t ctx = _context::global_node;
    for (int32_t i = 0; i < _context::word_count(ctx); i++) {
        cell_t v = *_context::value_at(ctx, i);
        uint8_t t = type_of(&v);
        if (t != TYPE_native && t != TYPE_action && t != TYPE_routine) continue;
        cell_t cache = *arguments_cache(&v);
        cell_t* keep = t == TYPE_native && v.data1 < static_cast<uint32_t>(native::TABLE_SLOTS)
                           ? native_caches + v.data1
                       : t == TYPE_action && v.data1 < static_cast<uint32_t>(action::COUNT)
                           ? action_caches + v.data1
                           : nullptr;
        if (keep != nullptr && type_of(keep) != TYPE_block) {
            *keep = cache;
            (t == TYPE_native ? native_values : action_values)[v.data1] = v;
            describe((t == TYPE_native ? native_arguments : action_arguments) + v.data1, &cache);
        }
    }
}

const cell_t* start_up_value(uint8_t type, uint32_t index) {
    const cell_t* c = nullptr;
    if (type == TYPE_native && index < static_cast<uint32_t>(native::TABLE_SLOTS))
        c = native_values + index;
    else if (type == TYPE_action && index < static_cast<uint32_t>(action::COUNT))
        c = action_values + index;
    return c != nullptr && type_of(c) == type ? c : nullptr;
}

}  // namespace zuv::interpreter

#include "helpers/helpers.h"

#include <initializer_list>

#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/routine.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "interpreter/interpreter.h"
#include "runtime/exits.h"
#include "runtime/fire.h"
#include "runtime/stack.h"
#include "runtime/stamp.h"

namespace zuv::helpers {

namespace {

struct helper_t {
    const char* word;
    routine::entry_t entry;
};

constexpr helper_t HELPERS[] = {
    {"pad", pad},
    {"rejoin", rejoin},
    {"split", split},
    {"cos", cos},
    {"sin", sin},
    {"tan", tan},
    {"acos", acos},
    {"asin", asin},
    {"atan", atan},
    {"atan2", atan2},
    {"sqrt", sqrt},
    {"to-json", to_json},
    {"load-json", load_json},
    {"to-csv", to_csv},
    {"load-csv", load_csv},
    {"to-integer", to_integer},
    {"to-float", to_float},
    {"to-string", to_string},
};

// The object a path of words from the global context names, or nullptr.
const cell_t* object_at(std::initializer_list<const char*> path) {
    node_t ctx = _context::global_node;
    const cell_t* value = nullptr;
    for (const char* word : path) {
        value = _context::get_in(symbol::make(word), ctx);
        if (value == nullptr || type_of(value) != TYPE_object) return nullptr;
        ctx = object::context_of(value);
    }
    return value;
}

void give_entry(cell_t* fn, routine::entry_t entry) {
    if (fn == nullptr || type_of(fn) != TYPE_function) return;
    integer::make_at(function::more(fn, function::MORE_CODE), routine::add_entry(entry));
}

}  // namespace

void attach() {
    for (const helper_t& h : HELPERS)
        give_entry(_context::get_in(symbol::make(h.word), _context::global_node), h.entry);
    if (const cell_t* tracers = object_at({"system", "tools", "tracers"})) {
        give_entry(_context::get_in(symbol::make("mold-part"), object::context_of(tracers)),
                   mold_part);
        find_collector_words(tracers);
        if (const cell_t* data = object_at({"system", "tools", "tracers", "data"}))
            give_entry(_context::get_in(symbol::make("collector"), object::context_of(data)),
                       collector);
    }
    // A plan built while the library started may have taken one of them for
    // an interpreted callee: every plan is checked again.
    stamp::epoch++;
    stamp::guard |= stamp::GUARD_MOVED;
}

void run_body() {
    const cell_t* fn = stack::arguments - 1;
    cell_t body = *function::more(fn, function::MORE_BODY);
    if (type_of(fn) != TYPE_function || !series::block_kind_q(type_of(&body))) fire(err::not_done);
    stack::set_exit_target(1);
    interpreter::eval(&body, true);
    if (!exits::pending) stack::set_exit_target(0);
}

}  // namespace zuv::helpers

#include "datatypes/port.h"

#include "datatypes/action_types.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "interpreter/interpreter.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/exits.h"
#include "runtime/fire.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

#include <string>

namespace zuv::port {

namespace {

const char* const action_texts[ACTION_COUNT + 1] = {
    "",
#define ZUV_ACTION(num, ident, word) word,
#include "datatypes/actions.def"
#undef ZUV_ACTION
};

// Symbols are looked up at each use, not kept: ports register before the
// symbol table exists, and a table made again (as each test suite does)
// gives the same names other numbers. (The field word actor and the action
// words belong in the predefined words list once it has them.)
cell_t action_word(int32_t action) { return word::make_global(symbol::make(action_texts[action])); }

inline cell_t L(bool b) {
    cell_t c{};
    logic::make_at(&c, b);
    return c;
}
inline cell_t N() { return cell_t{TYPE_none, 0, 0, 0}; }
inline cell_t V(const cell_t* c) { return c ? *c : N(); }
inline cell_t I(int32_t v) {
    cell_t c{};
    integer::make_at(&c, v);
    return c;
}

// The frame actions read their arguments from the current frame: the port
// and, after it, the action's arguments and refinement slots in spec order,
// which is the order the actor receives them in.
template <int A> void forward_frame() {
    cell_t* args = stack::arguments;
    int32_t count = static_cast<int32_t>(stack::top_slot - args) - 1;
    // Copies: the cells stay on the stack below the new frame.
    forward(A, args, args + 1, count < 0 ? 0 : count);
}

}  // namespace

cell_t* get_actor(const cell_t* port) {
    int32_t i = object::find_symbol(port, symbol::make("actor"));
    cell_t* actor = i < 0 ? nullptr : _context::value_at(object::context_of(port), i);
    if (!actor || type_of(actor) != TYPE_object) fire(err::invalid_port);
    return actor;
}

cell_t* forward(int32_t action, const cell_t* port, const cell_t* args, int32_t count) {
    cell_t word = action_word(action);
    cell_t* fn = object::select_word(get_actor(port), &word);
    if (type_of(fn) != TYPE_function) fire(err::no_port_action, &word);
    cell_t callee = *fn;
    // The actor receives the port first, then the action's arguments.
    cell_t values[MAX_FORWARDED + 1];
    if (count > MAX_FORWARDED) count = MAX_FORWARDED;
    values[0] = *port;
    for (int32_t i = 0; i < count; i++) values[i + 1] = args[i];
    cell_t result;
    if (interpreter::call_back(&callee, &word, values, count + 1, interpreter::callback::PORT,
                               &result))
        *stack::arguments = result;
    return stack::arguments;
}

// --- typed forwarders -------------------------------------------------------------

namespace {

template <int A> cell_t* unary(cell_t* p) { return forward(A, p, nullptr, 0); }

cell_t* insert_(cell_t* p, cell_t* value, int32_t part, bool only, int32_t dup, bool append_) {
    cell_t a[] = {*value,  L(part >= 0), part >= 0 ? I(part) : N(),
                  L(only), L(dup != 1),  dup != 1 ? I(dup) : N()};
    return forward(append_ ? ACT_append : ACT_insert, p, a, 6);
}
cell_t* change_(cell_t* p, cell_t* value, int32_t part, bool only, int32_t dup) {
    cell_t a[] = {*value,  L(part >= 0), part >= 0 ? I(part) : N(),
                  L(only), L(dup != 1),  dup != 1 ? I(dup) : N()};
    return forward(ACT_change, p, a, 6);
}
cell_t* copy_(cell_t* p, cell_t*, cell_t* part, bool deep, cell_t* types) {
    cell_t a[] = {L(part), V(part), L(deep), L(types), V(types)};
    return forward(ACT_copy, p, a, 5);
}
cell_t* find_(cell_t* p, cell_t* value, const find_options_t& how) {
    cell_t a[] = {*value,      L(how.part), V(how.part),    L(how.only), L(how.case_),
                  L(how.same), L(how.any),  L(how.with),    V(how.with), L(how.skip),
                  V(how.skip), L(how.last), L(how.reverse), L(how.tail), L(how.match)};
    return forward(ACT_find, p, a, 15);
}
cell_t* select_(cell_t* p, cell_t* value, const select_options_t& how) {
    cell_t a[] = {*value,      L(how.part), V(how.part),   L(how.only), L(how.case_),
                  L(how.same), L(how.any),  L(how.with),   V(how.with), L(how.skip),
                  V(how.skip), L(how.last), L(how.reverse)};
    return forward(ACT_select, p, a, 13);
}
int32_t length_(cell_t* p) {
    cell_t* r = forward(ACT_length_q, p, nullptr, 0);
    return type_of(r) == TYPE_integer ? integer::get(r) : -1;
}
cell_t* move_(cell_t* p, cell_t* target, cell_t* part) {
    cell_t a[] = {*target, L(part), V(part)};
    return forward(ACT_move, p, a, 3);
}
cell_t* pick_(cell_t* p, int32_t, cell_t* index) { return forward(ACT_pick, p, index, 1); }
cell_t* poke_(cell_t* p, int32_t, cell_t* index, cell_t* value) {
    cell_t a[] = {*index, *value};
    return forward(ACT_poke, p, a, 2);
}
cell_t* put_(cell_t* p, cell_t* key, cell_t* value, bool case_) {
    cell_t a[] = {*key, *value, L(case_)};
    return forward(ACT_put, p, a, 3);
}
cell_t* remove_(cell_t* p, cell_t* part, cell_t* key) {
    cell_t a[] = {L(part), V(part), L(key), V(key)};
    return forward(ACT_remove, p, a, 4);
}
cell_t* reverse_(cell_t* p, cell_t* part, cell_t* skip) {
    cell_t a[] = {L(part), V(part), L(skip), V(skip)};
    return forward(ACT_reverse, p, a, 4);
}
cell_t* sort_(cell_t* p, bool case_, cell_t* skip, cell_t* comparator, cell_t* part, bool all,
              bool reverse, bool stable) {
    cell_t a[] = {L(case_), L(skip), V(skip), L(comparator), V(comparator),
                  L(part),  V(part), L(all),  L(reverse),    L(stable)};
    return forward(ACT_sort, p, a, 10);
}
cell_t* swap_(cell_t* p, cell_t* other) { return forward(ACT_swap, p, other, 1); }
cell_t* take_(cell_t* p, cell_t* part, bool deep, bool last) {
    cell_t a[] = {L(part), V(part), L(deep), L(last)};
    return forward(ACT_take, p, a, 4);
}
cell_t* trim_(cell_t* p, bool head, bool tail, bool auto_, bool lines, bool all, cell_t* with) {
    cell_t a[] = {L(head), L(tail), L(auto_), L(lines), L(all), L(with), V(with)};
    return forward(ACT_trim, p, a, 7);
}
cell_t* modify_(cell_t* p, cell_t* field, cell_t* value, bool case_) {
    cell_t a[] = {*field, *value, L(case_)};
    return forward(ACT_modify, p, a, 3);
}
cell_t* open_(cell_t* p, bool new_, bool read, bool write, bool seek, cell_t* allow) {
    cell_t a[] = {L(new_), L(read), L(write), L(seek), L(allow), V(allow)};
    return forward(ACT_open, p, a, 6);
}
cell_t* rename_(cell_t* p, cell_t* to) { return forward(ACT_rename, p, to, 1); }

// Read: open for reading, copy the content, close; the copy is the result.
cell_t* read_(cell_t* p, cell_t* part, cell_t* seek, bool, bool, bool, cell_t*) {
    cell_t port_value = *p;
    collector::root_cell guard(&port_value);
    open_(&port_value, false, true, false, seek != nullptr, nullptr);
    cell_t result = *copy_(&port_value, nullptr, part, false, nullptr);
    collector::root_cell keep(&result);
    forward(ACT_close, &port_value, nullptr, 0);
    *stack::arguments = result;
    return stack::arguments;
}

// Write: open for writing, insert the data at the seek position (-1
// without one), copy the result, close.
cell_t* write_(cell_t* p, cell_t* data, bool, bool, bool, bool, cell_t*, cell_t* seek, cell_t*,
               cell_t*) {
    cell_t port_value = *p, value = *data;
    collector::root_cell g1(&port_value), g2(&value);
    int32_t at = seek && type_of(seek) == TYPE_integer ? integer::get(seek) : -1;
    open_(&port_value, false, false, true, seek != nullptr, nullptr);
    cell_t a[] = {value, L(true), I(at)};
    forward(ACT_insert, &port_value, a, 3);
    cell_t result = *copy_(&port_value, nullptr, nullptr, false, nullptr);
    collector::root_cell keep(&result);
    forward(ACT_close, &port_value, nullptr, 0);
    *stack::arguments = result;
    return stack::arguments;
}

}  // namespace

// --- make, form, mold -------------------------------------------------------------

namespace {

// The symbols of the fields and system paths a port is made from, looked up
// at each use like the action words.
int32_t sym(const char* text) { return symbol::make(text); }

// A field of an object, nullptr when the value is no object or lacks it.
cell_t* field(const cell_t* obj, int32_t symbol) {
    if (obj == nullptr || (type_of(obj) != TYPE_object && type_of(obj) != TYPE_port))
        return nullptr;
    return _context::get_in(symbol, object::context_of(obj));
}

cell_t* global(int32_t symbol) {
    return _context::global_node == 0 ? nullptr : _context::get_in(symbol, _context::global_node);
}

// system/standard/<name>, copied out; none before the system object exists.
cell_t standard(int32_t symbol) {
    cell_t* v = field(field(global(sym("system")), sym("standard")), symbol);
    return v && type_of(v) == TYPE_object ? *v : N();
}

// The spec object of a URL: what decode-url makes of it; a URL that does
// not parse keeps its scheme (the text before the first colon) and itself
// as ref, so that a scheme may read URLs of its own syntax.
void spec_of_url(const cell_t* url, cell_t* out) {
    cell_t u = *url;
    collector::root_cell keep(&u);
    cell_t* decode = global(sym("decode-url"));
    if (decode && type_of(decode) == TYPE_function) {
        cell_t callee = *decode;
        cell_t word = word::make_global(sym("decode-url"));
        cell_t arg = u;
        // Guarded before the call writes it: a collection inside the call
        // reads it as it stands.
        cell_t result = N();
        collector::root_cell keep_result(&result);
        if (!interpreter::call_back(&callee, &word, &arg, 1, interpreter::callback::NONE, &result))
            return;
        if (type_of(&result) == TYPE_object) {
            *out = result;
            return;
        }
    }
    cell_t parts = standard(sym("url-parts"));
    if (type_of(&parts) != TYPE_object) fire(err::unknown_scheme, &u);
    object::copy_into(&parts, out, false);
    int32_t length = string::rs_length_q(&u);
    int32_t head = static_cast<int32_t>(u.data1);
    int32_t colon = -1;
    for (int32_t i = 0; i < length && colon < 0; i++)
        if (string::rs_abs_at(&u, head + i) == ':') colon = i;
    if (colon > 0) {
        std::string name = unicode::to_utf8(&u, colon, false);
        cell_t w = word::make_global(symbol::make(name.c_str()));
        if (cell_t* slot = field(out, sym("scheme"))) *slot = w;
    }
    if (cell_t* slot = field(out, sym("ref"))) *slot = u;
}

// The scheme object registered under the word in system/schemes (a block of
// name/object pairs), nullptr when there is none.
cell_t* find_scheme(const cell_t* name) {
    cell_t* schemes = field(global(sym("system")), sym("schemes"));
    if (schemes == nullptr || type_of(schemes) != TYPE_block) return nullptr;
    int32_t wanted = symbol::resolve(word::symbol_of(name));
    int32_t end = block::abs_length(schemes);
    for (int32_t i = block::head_index(schemes); i + 1 < end; i += 2) {
        cell_t* key = block::rs_abs_at(schemes, i);
        if (word::any_word_q(type_of(key)) && symbol::resolve(word::symbol_of(key)) == wanted)
            return key + 1;
    }
    return nullptr;
}

}  // namespace

cell_t* make(cell_t*, cell_t* spec_in, int32_t) {
    cell_t given = *spec_in;
    collector::root_cell keep_given(&given);
    // The spec object: a copy of an object, a URL's parts, or
    // system/standard/url-parts made with the spec.
    cell_t* spec = stack::push_slot();
    cell::begin(spec);
    switch (type_of(&given)) {
    case TYPE_object: object::copy_into(&given, spec, false); break;
    case TYPE_url:
        spec_of_url(&given, spec);
        if (exits::pending_q()) return stack::arguments;
        break;
    default: {
        cell_t parts = standard(sym("url-parts"));
        if (type_of(&parts) != TYPE_object) fire(err::unknown_scheme, &given);
        object::make(&parts, &given, TYPE_object);
        if (exits::pending_q()) return stack::arguments;
        *spec = *stack::arguments;
        break;
    }
    }
    cell_t* scheme = field(spec, sym("scheme"));
    if (scheme == nullptr || !word::any_word_q(type_of(scheme))) fire(err::no_scheme, spec);
    cell_t name = *scheme;
    cell_t proto = standard(sym("port"));
    if (type_of(&proto) != TYPE_object) fire(err::unknown_scheme, spec);
    cell_t* port = stack::push_slot();
    cell::begin(port);
    object::copy_into(&proto, port, false);
    object::init_value(port, TYPE_port, object::context_of(port), CLASS_ID, port->data3);
    if (cell_t* slot = field(port, sym("spec"))) *slot = *spec;
    if (cell_t* slot = field(port, sym("scheme"))) *slot = name;
    cell_t* found = find_scheme(&name);
    if (found == nullptr || type_of(found) != TYPE_object) fire(err::unknown_scheme, spec);
    cell_t* actor = field(found, sym("actor"));
    if (actor == nullptr || (type_of(actor) != TYPE_object && type_of(actor) != TYPE_handle))
        fire(err::invalid_actor);
    cell_t a = *actor;
    if (cell_t* slot = field(port, sym("actor"))) *slot = a;
    cell_t made = *port;
    stack::pop(2);
    *stack::arguments = made;
    return stack::arguments;
}

cell_t* make_from(const cell_t* spec) {
    cell_t s = *spec;
    cell_t* slot = stack::push(&s);
    cell_t type{TYPE_datatype, TYPE_port, 0, 0};
    // make leaves the port in the current result slot: it is moved to the
    // pushed one and the result slot given back.
    cell_t saved = *stack::arguments;
    collector::root_cell keep(&saved);
    make(&type, slot, TYPE_port);
    if (exits::pending_q()) return nullptr;
    *slot = *stack::arguments;
    *stack::arguments = saved;
    return slot;
}

cell_t* open(cell_t* port, bool read, bool write) {
    return open_(port, false, read, write, false, nullptr);
}

cell_t* read(cell_t* port, cell_t* part, cell_t* seek) {
    return read_(port, part, seek, false, false, false, nullptr);
}

cell_t* write(cell_t* port, cell_t* data, cell_t* seek) {
    return write_(port, data, false, false, false, false, nullptr, seek, nullptr, nullptr);
}

int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit) {
    return mold(value, buffer, {.part = part, .limit = limit});
}

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    if (cycles::detect_q(value, buffer, &how.limit, true)) return how.limit;
    cell_t obj = *value;
    cycles::guard g(obj.data1);
    string::concatenate_literal(buffer, "make port! [");
    how.limit -= 12;
    how.limit = object::serialize(&obj, buffer, how.deeper(), true);
    string::append_char(buffer, ']');
    return how.limit - 1;
}

void init() {
    datatype::record_t r(TYPE_port, TYPE_object, "port!");
    r.own<ACT_make>(make);
    r.own<ACT_form>(form);
    r.own<ACT_mold>(mold);
    r.inherit({ACT_reflect, ACT_eval_path, ACT_compare});
    r.own<ACT_append>(insert_);
    r.own<ACT_insert>(insert_);
    r.own<ACT_at>(forward_frame<ACT_at>);
    r.own<ACT_back>(forward_frame<ACT_back>);
    r.own<ACT_head>(forward_frame<ACT_head>);
    r.own<ACT_head_q>(forward_frame<ACT_head_q>);
    r.own<ACT_index_q>(forward_frame<ACT_index_q>);
    r.own<ACT_next>(forward_frame<ACT_next>);
    r.own<ACT_skip>(forward_frame<ACT_skip>);
    r.own<ACT_tail>(forward_frame<ACT_tail>);
    r.own<ACT_tail_q>(forward_frame<ACT_tail_q>);
    r.own<ACT_change>(change_);
    r.own<ACT_clear>(unary<ACT_clear>);
    r.own<ACT_copy>(copy_);
    r.own<ACT_find>(find_);
    r.own<ACT_length_q>(length_);
    r.own<ACT_move>(move_);
    r.own<ACT_pick>(pick_);
    r.own<ACT_poke>(poke_);
    r.own<ACT_put>(put_);
    r.own<ACT_remove>(remove_);
    r.own<ACT_reverse>(reverse_);
    r.own<ACT_select>(select_);
    r.own<ACT_sort>(sort_);
    r.own<ACT_swap>(swap_);
    r.own<ACT_take>(take_);
    r.own<ACT_trim>(trim_);
    r.own<ACT_create>(unary<ACT_create>);
    r.own<ACT_close>(unary<ACT_close>);
    r.own<ACT_delete_>(unary<ACT_delete_>);
    r.own<ACT_modify>(modify_);
    r.own<ACT_open>(open_);
    r.own<ACT_query>(unary<ACT_query>);
    r.own<ACT_rename>(rename_);
    r.own<ACT_update>(unary<ACT_update>);
    r.own<ACT_read>(read_);
    r.own<ACT_write>(write_);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::port

// object!: construction, copy, reflection, mold, compare, paths, and the
// change handlers called from C++ (handlers whose body is a C++ entry).

#include <string>
#include <vector>

#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/routine.h"
#include "function_fixture.h"
#include "runtime/collector.h"
#include "runtime/ownership.h"
#include "runtime/words.h"

namespace zuv::test {
namespace {

using Objects = FunctionTest;
using ObjectEvents = FunctionTest;

int32_t field(words::id w) { return static_cast<int32_t>(words::symbol_of(w)); }

// An object from a spec of set-words and literal values, as construct makes it.
cell_t construct(const char* spec, const cell_t* proto = nullptr, bool only = false) {
    cell_t s = FunctionTest::load(spec);
    cell_t p = proto ? *proto : none_value;
    stack::clear_args();
    cell_t* out = object::construct(&s, proto ? &p : nullptr, only);
    return anchor(*out);
}

cell_t get(const cell_t& obj, const char* name) {
    cell_t w = FunctionTest::word(name);
    return *object::select_word(&obj, &w);
}

void set(const cell_t& obj, const char* name, const cell_t& value) {
    cell_t w = FunctionTest::word(name);
    int32_t i = object::find_word(&obj, &w);
    ASSERT_GE(i, 0) << name;
    *_context::value_at(obj.data1, i) = value;
}

cell_t reflect(const cell_t& v, words::id w) {
    stack::clear_args();
    cell_t* slot = stack::push(&v);
    return anchor(*actions::reflect(slot, field(w)));
}

cell_t make_object(const cell_t& proto, const cell_t& spec) {
    stack::clear_args();
    cell_t* p = stack::push(&proto);
    cell_t* s = stack::push(&spec);
    return anchor(*actions::make(p, s));
}

TEST_F(Objects, ConstructSetsRunsOfSetWordsAndLogicWords) {
    int32_t before = object::class_count();
    cell_t o = construct("[a: b: 1 c: yes d: off e: none f: 'w g:]");
    EXPECT_GT(static_cast<int32_t>(o.data2), before);
    EXPECT_EQ(object::word_count(&o), 7);
    cell_t a = get(o, "a"), b = get(o, "b");
    EXPECT_EQ(integer::get(&a), 1);
    EXPECT_EQ(integer::get(&b), 1);
    cell_t c = get(o, "c"), d = get(o, "d"), e = get(o, "e"), g = get(o, "g");
    EXPECT_EQ(type_of(&c), TYPE_logic);
    EXPECT_TRUE(logic::get(&c));
    EXPECT_EQ(type_of(&d), TYPE_logic);
    EXPECT_FALSE(logic::get(&d));
    EXPECT_EQ(type_of(&e), TYPE_none);
    EXPECT_EQ(type_of(&g), TYPE_none);
    cell_t f = get(o, "f");
    EXPECT_EQ(type_of(&f), TYPE_lit_word);

    cell_t only = construct("[c: yes e: none]", nullptr, true);
    cell_t oc = get(only, "c"), oe = get(only, "e");
    EXPECT_EQ(type_of(&oc), TYPE_word);
    EXPECT_EQ(word_text(&oc), "yes");
    EXPECT_EQ(type_of(&oe), TYPE_word);

    // With a prototype: a deep copy, then the spec's fields.
    cell_t proto = construct("[x: [1 2] y: 3]");
    cell_t derived = construct("[y: 4 z: 5]", &proto);
    EXPECT_EQ(molded(&derived, false, false, true), "make object! [x: [1 2] y: 4 z: 5]");
    EXPECT_NE(get(derived, "x").data2, get(proto, "x").data2);
    EXPECT_EQ(integer::get(&(a = get(proto, "y"))), 3);
}

TEST_F(Objects, ReflectFields) {
    cell_t o = construct("[a: 1 b: c d: [1]]");
    cell_t words = reflect(o, words::id::words);
    EXPECT_EQ(molded(&words), "[a b d]");
    for (int32_t i = 0; i < 3; i++) EXPECT_EQ(block::rs_abs_at(&words, i)->data1, o.data1);
    cell_t values = reflect(o, words::id::values);
    EXPECT_EQ(molded(&values), "[1 c [1]]");
    cell_t body = reflect(o, words::id::body);
    EXPECT_EQ(molded(&body), "[\n    a: 1\n    b: 'c\n    d: [1]\n]");
    EXPECT_EQ(type_of(block::rs_abs_at(&body, 0)), TYPE_set_word);
    EXPECT_EQ(block::rs_abs_at(&body, 0)->data1, o.data1);
    cell_t cls = reflect(o, words::id::class_);
    EXPECT_EQ(integer::get(&cls), static_cast<int32_t>(o.data2));
    cell_t owner = reflect(o, words::id::owner), events = reflect(o, words::id::events_q);
    EXPECT_FALSE(logic::get(&owner));
    EXPECT_FALSE(logic::get(&events));
    EXPECT_EQ(raised([&] { reflect(o, words::id::spec); }), err::not_done);

    // changed: nothing after making; the word after setting its field.
    cell_t changed = reflect(o, words::id::changed);
    EXPECT_EQ(molded(&changed), "[]");
    cell_t b = word("b");
    cell_t two = integer(2);
    stack::clear_args();
    object::eval_path(&o, &b, &two, &b, nullptr, nullptr, 1, false, false, true, true);
    changed = reflect(o, words::id::changed);
    EXPECT_EQ(molded(&changed), "[b]");
    // modify changed none clears the markers; anything else is refused.
    cell_t changed_word = words::word(words::id::changed);
    EXPECT_EQ(raised([&] { object::modify(&o, &changed_word, &two, false); }), err::invalid_arg);
    stack::clear_args();
    object::modify(&o, &changed_word, &none_value, false);
    changed = reflect(o, words::id::changed);
    EXPECT_EQ(molded(&changed), "[]");
}

TEST_F(Objects, MoldNestedCyclicAndFlat) {
    cell_t inner = construct("[c: 2]");
    cell_t outer = construct("[a: 1 b: none s: \"t\" w: x]");
    set(outer, "b", inner);
    EXPECT_EQ(molded(&outer), "make object! [\n    a: 1\n    b: make object! [\n        c: 2\n    "
                              "]\n    s: \"t\"\n    w: 'x\n]");
    EXPECT_EQ(molded(&outer, false, false, true),
              "make object! [a: 1 b: make object! [c: 2] s: \"t\" w: 'x]");
    EXPECT_EQ(molded(&outer, true, false, true), "a: 1 b: make object! [c: 2] s: \"t\" w: 'x");
    EXPECT_EQ(formed(&inner), "c: 2");

    // A field that holds its own object ends in the cycle marker.
    cell_t self_ref = construct("[a: 1 me: none]");
    set(self_ref, "me", self_ref);
    EXPECT_EQ(molded(&self_ref), "make object! [\n    a: 1\n    me: make object! [...]\n]");
    // Two objects that hold each other.
    cell_t x = construct("[y: none]");
    cell_t y = construct("[x: none]");
    set(x, "y", y);
    set(y, "x", x);
    EXPECT_EQ(molded(&x, false, false, true),
              "make object! [y: make object! [x: make object! [...]]]");
    EXPECT_EQ(cycles::depth(), 0);

    cell_t empty = construct("[]");
    EXPECT_EQ(molded(&empty), "make object! []");
}

TEST_F(Objects, HandlerFieldsAreMoldedOnlyWithAll) {
    cell_t o = construct("[a: 1 on-change*: none]");
    // construct evaluates nothing, so the none handler is never installed.
    EXPECT_EQ(molded(&o, false, false, true), "make object! [a: 1]");
    EXPECT_EQ(molded(&o, false, true, true), "make object! [a: 1 on-change*: #(none)]");
    EXPECT_EQ(formed(&o), "a: 1");
}

TEST_F(Objects, Compare) {
    cell_t a = construct("[x: 1 y: \"s\"]");
    cell_t b = construct("[x: 1 y: \"s\"]");
    cell_t c = construct("[x: 1 y: \"s\" z: 0]");
    cell_t d = construct("[x: 2 y: \"s\"]");
    cell_t n = integer(1);
    struct Case {
        const char* name;
        const cell_t* left;
        const cell_t* right;
        int32_t op;
        int32_t expected;
    } cases[] = {
        {"same words and values", &a, &b, actions::cmp::EQUAL, 0},
        {"itself", &a, &a, actions::cmp::SAME, 0},
        {"equal but not the same", &a, &b, actions::cmp::SAME, -1},
        {"one more field is greater", &c, &a, actions::cmp::EQUAL, 1},
        {"one field less is lesser", &a, &c, actions::cmp::EQUAL, -1},
        {"a lesser value", &a, &d, actions::cmp::EQUAL, -1},
        {"not an object", &a, &n, actions::cmp::EQUAL, -2},
    };
    for (const Case& k : cases) {
        cell_t l = *k.left, r = *k.right;
        EXPECT_EQ(object::compare(&l, &r, k.op), k.expected) << k.name;
    }
    // Objects that contain themselves compare without end.
    cell_t p = construct("[me: none]");
    cell_t q = construct("[me: none]");
    set(p, "me", p);
    set(q, "me", q);
    EXPECT_EQ(object::compare(&p, &q, actions::cmp::EQUAL), 0);
    EXPECT_EQ(cycles::depth(), 0);
}

TEST_F(Objects, ErrorsCompareWithoutRetyping) {
    stack::clear_args();
    cell_t e1 = anchor(*error::create(err::invalid_arg, &none_value));
    cell_t e2 = anchor(*error::create(err::invalid_arg, &none_value));
    EXPECT_EQ(object::compare_fields(&e1, &e2, actions::cmp::EQUAL), 0);
    EXPECT_EQ(type_of(&e1), TYPE_error);
    EXPECT_EQ(type_of(&e2), TYPE_error);
    // A comparison that raises inside leaves both operands as they were.
    cell_t o = construct("[me: none]");
    set(o, "me", o);
    cycles::push(o.data1);  // as if a walk were already inside it
    for (int i = 1; i < cycles::MAX_DEPTH - 1; i++) cycles::push(0);
    EXPECT_EQ(raised([&] { error::compare(&e1, &e2, actions::cmp::EQUAL); }), err::too_deep);
    EXPECT_EQ(type_of(&e2), TYPE_error);
}

TEST_F(Objects, MakeFromObjectSpecsAndClassIds) {
    cell_t proto = construct("[a: 1 b: [x]]");
    cell_t same_words = construct("[a: 2]");
    cell_t more_words = construct("[c: 3]");
    cell_t keeps = make_object(proto, same_words);
    EXPECT_EQ(keeps.data2, proto.data2);
    EXPECT_EQ(molded(&keeps, false, false, true), "make object! [a: 2 b: [x]]");
    // The series values are the new object's own.
    EXPECT_NE(get(keeps, "b").data2, get(proto, "b").data2);
    cell_t grows = make_object(proto, more_words);
    EXPECT_NE(grows.data2, proto.data2);
    EXPECT_EQ(molded(&grows, false, false, true), "make object! [a: 1 b: [x] c: 3]");

    // A prototype that is not an object still gets a class of its own,
    // even when the spec adds nothing.
    cell_t type;
    datatype::make_at(&type, TYPE_object);
    cell_t empty = construct("[]");
    cell_t first = make_object(type, empty);
    cell_t second = make_object(type, empty);
    EXPECT_NE(first.data2, 0u);
    EXPECT_NE(first.data2, second.data2);

    cell_t n = integer(1);
    EXPECT_EQ(raised([&] { make_object(type, n); }), err::malconstruct);
}

TEST_F(Objects, ObjectsOfOneShapeShareTheirWordsUntilOneAddsAWord) {
    auto table = [](const cell_t& o) { return _context::table_of(o.data1); };
    cell_t proto = construct("[a: 1 b: 2]");
    cell_t same = make_object(proto, anchor(load("[a: 5]")));
    cell_t copied = anchor(
        *actions::copy(stack::push(&proto), stack::push(&none_value), nullptr, false, nullptr));
    EXPECT_EQ(table(same), table(proto));
    EXPECT_EQ(table(copied), table(proto));
    cell_t grown = make_object(same, anchor(load("[c: 3]")));
    EXPECT_NE(table(grown), table(proto));
    EXPECT_EQ(object::word_count(&proto), 2);
    EXPECT_EQ(object::word_count(&grown), 3);
    // A word of a shared table is bound to the object asked about.
    cell_t w = _context::field_word(same.data1, 1);
    EXPECT_EQ(w.data1, same.data1);
    EXPECT_EQ(w.data3, 1u);

    // Objects made from one spec block share the words of the first.
    cell_t type;
    datatype::make_at(&type, TYPE_object);
    cell_t spec = anchor(load("[x: 1 y: 2]"));
    cell_t first = make_object(type, spec);
    cell_t second = make_object(type, spec);
    EXPECT_EQ(table(first), table(second));
    EXPECT_NE(first.data1, second.data1);
    EXPECT_NE(first.data2, second.data2);  // each still a class of its own
    EXPECT_EQ(molded(&second, false, false, true), "make object! [x: 1 y: 2]");
    // Once the block's set-words differ, a new table.
    cell_t other = anchor(load("[q:]"));
    *block::rs_head(&spec) = *block::rs_head(&other);
    cell_t third = make_object(type, spec);
    EXPECT_NE(table(third), table(first));
    EXPECT_EQ(molded(&third, false, false, true), "make object! [q: 1 y: 2]");
    EXPECT_EQ(molded(&first, false, false, true), "make object! [x: 1 y: 2]");
}

// An object of a shape keeps its values in its context's own series (the
// values word names the context itself). The first word it adds moves them out, and a
// collection keeps them either way.
TEST_F(Objects, AnObjectOfAShapeIsOneSeriesUntilItAddsAWord) {
    cell_t proto = construct("[a: 1 b: \"two\"]");
    cell_t same = make_object(proto, anchor(load("[]")));
    EXPECT_EQ(_context::cell_of(same.data1)->data2, same.data1);
    collector::do_cycle();
    EXPECT_EQ(molded(&same, false, false, true), "make object! [a: 1 b: \"two\"]");
    cell_t word = _context::field_word(same.data1, 0);
    cell_t c = anchor(load("[c:]"));
    cell_t v;
    integer::make_at(&v, 3);
    _context::add_value(same.data1, block::rs_head(&c), &v);
    EXPECT_NE(_context::cell_of(same.data1)->data2, same.data1);
    collector::do_cycle();
    EXPECT_EQ(molded(&same, false, false, true), "make object! [a: 1 b: \"two\" c: 3]");
    EXPECT_EQ(molded(&proto, false, false, true), "make object! [a: 1 b: \"two\"]");
    EXPECT_EQ(integer::get(_context::get(&word)), 1);
}

TEST_F(Objects, CopyAndPaths) {
    cell_t o = construct("[a: 1 b: [x [y]] s: \"t\"]");
    stack::clear_args();
    cell_t* slot = stack::push(&o);
    cell_t shallow = anchor(*actions::copy(slot, slot, nullptr, false, nullptr));
    EXPECT_NE(shallow.data1, o.data1);
    EXPECT_EQ(shallow.data2, o.data2);
    EXPECT_EQ(get(shallow, "b").data2, get(o, "b").data2);
    slot = stack::push(&o);
    cell_t deep = anchor(*actions::copy(slot, slot, nullptr, true, nullptr));
    EXPECT_NE(get(deep, "b").data2, get(o, "b").data2);
    EXPECT_NE(get(deep, "s").data2, get(o, "s").data2);
    EXPECT_EQ(molded(&deep, false, false, true), molded(&o, false, false, true));
    cell_t n = integer(1);
    EXPECT_EQ(raised([&] { actions::copy(&o, &deep, &n, false, nullptr); }),
              err::invalid_refine_arg);

    cell_t a = word("A");
    cell_t* v =
        object::eval_path(&o, &a, nullptr, &a, nullptr, nullptr, 1, false, false, true, true);
    EXPECT_EQ(integer::get(v), 1);
    EXPECT_EQ(a.data1, o.data1);  // the element is bound on the way
    cell_t missing = word("nope");
    EXPECT_EQ(raised([&] {
                  object::eval_path(&o, &missing, nullptr, &missing, nullptr, nullptr, 1, false,
                                    false, false, true);
              }),
              err::unset_path);
    EXPECT_EQ(raised([&] {
                  object::eval_path(&o, &missing, nullptr, &missing, nullptr, nullptr, 1, false,
                                    false, true, true);
              }),
              err::invalid_path);
    EXPECT_EQ(object::eval_path(&o, &missing, nullptr, &missing, nullptr, nullptr, 1, false, true,
                                true, true),
              &unset_value);
    EXPECT_EQ(raised([&] {
                  object::eval_path(&o, &n, nullptr, &n, nullptr, nullptr, 1, false, false, true,
                                    true);
              }),
              err::invalid_path);

    // put takes word keys only; select any word kind.
    cell_t key = word("a");
    cell_t nine = integer(9);
    stack::clear_args();
    object::put(&o, &key, &nine, false);
    EXPECT_EQ(integer::get(&(a = get(o, "a"))), 9);
    EXPECT_EQ(raised([&] { object::put(&o, &n, &nine, false); }), err::invalid_key_type);
    EXPECT_EQ(raised([&] { object::put(&o, &missing, &nine, false); }), err::unset_path);
    cell_t lit = word("s", TYPE_lit_word);
    cell_t* found = object::select(&o, &lit, {});
    EXPECT_EQ(type_of(found), TYPE_string);
    EXPECT_EQ(raised([&] { object::select(&o, &n, {}); }), err::invalid_type);
}

// --- change handlers ----------------------------------------------------------

struct call_t {
    std::vector<cell_t> args;
    int32_t pushed;  // cells in the frame: arguments and locals
};
std::vector<call_t> calls;

void record_call() {
    call_t c;
    c.pushed = static_cast<int32_t>(stack::top_slot - stack::arguments);
    for (int32_t i = 0; i < c.pushed; i++) c.args.push_back(anchor(stack::arguments[i]));
    calls.push_back(c);
    *stack::arguments = unset_value;
}

// A function whose body is the C++ recorder.
cell_t handler(const char* spec) {
    cell_t s = FunctionTest::load(spec);
    stack::clear_args();
    function::push(&s, nullptr, 0, routine::add_entry(record_call), 0, 0);
    return anchor(*stack::top());
}

// An object with fields a, b, a block field and the handlers given (a
// handler field that is there must hold a function).
cell_t reactive(const cell_t* on_change, const cell_t* on_deep) {
    std::string spec = "[a: 1 b: 2";
    if (on_change) spec += " on-change*: none";
    if (on_deep) spec += " on-deep-change*: none";
    spec += " list: [1 2]]";
    cell_t o = construct(spec.c_str());
    if (on_change) set(o, "on-change*", *on_change);
    if (on_deep) set(o, "on-deep-change*", *on_deep);
    stack::clear_args();
    cell_t* slot = stack::push(&o);
    object::install_handlers(slot);
    return anchor(*slot);
}

class Handlers : public FunctionTest {
public:
    void SetUp() override {
        FunctionTest::SetUp();
        calls.clear();
    }
};

TEST_F(Handlers, InstallBuildsTheRecord) {
    cell_t plain = construct("[a: 1]");
    stack::clear_args();
    cell_t* slot = stack::push(&plain);
    object::install_handlers(slot);
    EXPECT_EQ(slot->data3, 0u);

    cell_t h = handler("[word old new /local x y]");
    cell_t o = reactive(&h, nullptr);
    ASSERT_NE(o.data3, 0u);
    cell_t* record = alloc::buffer(o.data3)->head_cell();
    EXPECT_EQ(type_of(&record[0]), TYPE_pair);
    EXPECT_EQ(record[0].data2, (2u << 16) | 3u);  // slot 2, /local and two locals
    EXPECT_EQ(record[1].data2 >> 16, object::NO_HANDLER);
    EXPECT_FALSE(object::has_on_deep_change_q(&o));
    cell_t events = reflect(o, words::id::events_q);
    EXPECT_TRUE(logic::get(&events));
    EXPECT_EQ(_context::get_self_value(o.data1)->data3, o.data3);

    // A handler field holding anything but a function or routine is refused.
    cell_t bad = construct("[a: 1 on-change*: 5]");
    slot = stack::push(&bad);
    EXPECT_EQ(raised([&] { object::install_handlers(slot); }), err::bad_field_set);
}

TEST_F(Handlers, FieldChangesReachOnChange) {
    cell_t h = handler("[word old new]");
    cell_t o = reactive(&h, nullptr);
    cell_t b = word("b");
    cell_t seven = integer(7);
    stack::clear_args();
    object::eval_path(&o, &b, &seven, &b, nullptr, nullptr, 1, false, false, true, true);
    ASSERT_EQ(calls.size(), 1u);
    const call_t& c = calls[0];
    ASSERT_EQ(c.pushed, 3);
    EXPECT_EQ(word_text(&c.args[0]), "b");
    EXPECT_EQ(c.args[0].data1, o.data1);  // a word of the object
    EXPECT_EQ(integer::get(&c.args[1]), 2);
    EXPECT_EQ(integer::get(&c.args[2]), 7);
    EXPECT_EQ(integer::get(&(b = get(o, "b"))), 7);
    EXPECT_EQ(stack::frame_depth(), 0);

    // A word from elsewhere is handed over bound to the object.
    calls.clear();
    cell_t loose = word("a");
    cell_t old = integer(1), now = integer(3);
    object::fire_on_set(&o, &loose, &old, &now);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args[0].data1, o.data1);
}

TEST_F(Handlers, SetSkipsHandlerFieldsAndReportsEachField) {
    cell_t h = handler("[word old new]");
    cell_t o = reactive(&h, nullptr);
    cell_t values = load("[10 20 30 40 50]");
    stack::clear_args();
    object::set_many(&o, &values, false, false, false);
    // a, b and list (the fourth word) are set and reported; the handler's
    // slot keeps its value.
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(word_text(&calls[0].args[0]), "a");
    EXPECT_EQ(word_text(&calls[1].args[0]), "b");
    EXPECT_EQ(word_text(&calls[2].args[0]), "list");
    EXPECT_EQ(integer::get(&calls[2].args[2]), 40);
    cell_t kept = get(o, "on-change*");
    EXPECT_EQ(type_of(&kept), TYPE_function);
}

TEST_F(Handlers, SetRules) {
    struct Case {
        const char* name;
        const char* target;
        const char* value;  // a block, or "obj:" + object spec
        bool some;
        const char* expected;
    } cases[] = {
        {"short block gives none", "[a: 1 b: 2 c: 3]", "[7]", false,
         "make object! [a: 7 b: none c: none]"},
        {"some keeps the rest", "[a: 1 b: 2 c: 3]", "[7]", true, "make object! [a: 7 b: 2 c: 3]"},
        {"some skips none", "[a: 1 b: 2]", "[none 5]", true, "make object! [a: 1 b: 5]"},
        {"object: shared words only", "[a: 1 b: 2 c: 3]", "obj:[c: 9 z: 0 a: 8]", false,
         "make object! [a: 8 b: 2 c: 9]"},
        {"one value for all", "[a: 1 b: 2]", "5", false, "make object! [a: 5 b: 5]"},
    };
    for (const Case& c : cases) {
        cell_t o = construct(c.target);
        cell_t v;
        std::string text = c.value;
        if (text.rfind("obj:", 0) == 0) {
            v = construct(text.c_str() + 4);
        } else if (text[0] == '[') {
            v = load(c.value);
            // The reader makes words; set takes none as the none value.
            for (int32_t i = 0; i < block::abs_length(&v); i++)
                if (type_of(block::rs_abs_at(&v, i)) == TYPE_word)
                    *block::rs_abs_at(&v, i) = none_value;
        } else {
            v = integer(std::stoi(text));
        }
        stack::clear_args();
        object::set_many(&o, &v, false, false, c.some);
        EXPECT_EQ(molded(&o, false, false, true), c.expected) << c.name;
    }
    // An unset value is refused before anything is set, unless any.
    cell_t o = construct("[a: 1 b: 2]");
    cell_t v = load("[5 6]");
    *block::rs_abs_at(&v, 1) = unset_value;
    EXPECT_EQ(raised([&] { object::set_many(&o, &v, false, false, false); }), err::need_value);
    EXPECT_EQ(molded(&o, false, false, true), "make object! [a: 1 b: 2]");
    object::set_many(&o, &v, true, false, false);
    cell_t b = get(o, "b");
    EXPECT_EQ(type_of(&b), TYPE_unset);
}

TEST_F(Handlers, ReplacedHandlerGetsItsOwnFrameAndNonFunctionRaises) {
    cell_t h = handler("[word old new]");
    cell_t o = reactive(&h, nullptr);
    cell_t old = integer(1), now = integer(2);
    cell_t a = word("a");
    object::fire_on_set(&o, &a, &old, &now);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].pushed, 3);

    cell_t with_locals = handler("[word old new /local x y]");
    set(o, "on-change*", with_locals);
    object::fire_on_set(&o, &a, &old, &now);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].pushed, 6);  // the three arguments, the /local slot and two locals
    EXPECT_EQ(type_of(&calls[1].args[3]), TYPE_logic);
    EXPECT_EQ(type_of(&calls[1].args[5]), TYPE_none);

    set(o, "on-change*", integer(5));
    EXPECT_EQ(raised([&] { object::fire_on_set(&o, &a, &old, &now); }), err::invalid_obj_evt);
}

TEST_F(Handlers, OwnedSeriesChangesReachOnDeepChange) {
    cell_t h = handler("[owner word target action new index part]");
    cell_t o = reactive(nullptr, &h);
    EXPECT_TRUE(object::has_on_deep_change_q(&o));
    cell_t owner = reflect(o, words::id::owner);
    EXPECT_TRUE(logic::get(&owner));
    cell_t list = get(o, "list");
    ASSERT_TRUE(ownership::owned_q(&list));

    cell_t three = integer(3);
    stack::clear_args();
    cell_t* target = stack::push(&list);
    actions::append(target, &three, -1, false, 1);
    ASSERT_EQ(calls.size(), 2u);  // before and after the change
    struct Expect {
        const char* action;
        int32_t index;
        int32_t part;
    } expected[] = {{"append", 2, 1}, {"appended", 2, 1}};
    for (size_t i = 0; i < 2; i++) {
        const call_t& c = calls[i];
        ASSERT_EQ(c.pushed, 7);
        EXPECT_EQ(type_of(&c.args[0]), TYPE_object);
        EXPECT_EQ(c.args[0].data1, o.data1);
        EXPECT_EQ(word_text(&c.args[1]), "list");
        EXPECT_EQ(c.args[2].data2, list.data2);
        EXPECT_EQ(word_text(&c.args[3]), expected[i].action);
        EXPECT_EQ(integer::get(&c.args[4]), 3);
        EXPECT_EQ(integer::get(&c.args[5]), expected[i].index) << expected[i].action;
        EXPECT_EQ(integer::get(&c.args[6]), expected[i].part) << expected[i].action;
    }

    // A non-function in the slot makes deep changes silent.
    calls.clear();
    set(o, "on-deep-change*", integer(0));
    list = get(o, "list");
    target = stack::push(&list);
    actions::append(target, &three, -1, false, 1);
    EXPECT_TRUE(calls.empty());

    // An owner without a record cannot be told.
    cell_t plain = construct("[a: 1]");
    cell_t w = word("a");
    EXPECT_EQ(raised([&] { object::fire_on_deep_change(&plain, &w, &list, &w, nullptr, 0, 0); }),
              err::invalid_obj_evt);
}

TEST_F(Handlers, CopyRebuildsTheRecordAndFunctions) {
    // A handler with a body (kept for rebuilding) and compiled code.
    cell_t spec = load("[word old new]");
    cell_t body = load("[word]");
    stack::clear_args();
    function::push(&spec, &body, 0, routine::add_entry(record_call), 0, 0);
    cell_t h = anchor(*stack::top());
    cell_t o = reactive(&h, nullptr);
    stack::clear_args();
    cell_t* slot = stack::push(&o);
    cell_t copy = anchor(*actions::copy(slot, slot, nullptr, false, nullptr));
    EXPECT_NE(copy.data3, 0u);
    EXPECT_NE(copy.data3, o.data3);
    // The copy's handler is its own function, with its own context and body.
    cell_t hc = get(copy, "on-change*");
    ASSERT_EQ(type_of(&hc), TYPE_function);
    EXPECT_NE(hc.data1, h.data1);
    EXPECT_EQ(integer::get(function::more(&hc, function::MORE_OWNER)),
              static_cast<int32_t>(copy.data1));
    cell_t* copied_body = function::more(&hc, function::MORE_BODY);
    EXPECT_EQ(block::rs_abs_at(copied_body, 0)->data1, hc.data1);
    cell_t a = word("a"), old = integer(1), now = integer(2);
    object::fire_on_set(&copy, &a, &old, &now);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args[0].data1, copy.data1);

    // A function with no body (compiled only) cannot be rebuilt for a copy.
    cell_t bodiless = handler("[word old new]");
    cell_t p = reactive(&bodiless, nullptr);
    slot = stack::push(&p);
    EXPECT_EQ(raised([&] { actions::copy(slot, slot, nullptr, false, nullptr); }),
              err::bad_func_def);
}

}  // namespace
}  // namespace zuv::test

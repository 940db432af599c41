// Symbols, contexts and binding, the word kinds and issues.

#include <string>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/datatype.h"
#include "datatypes/issue.h"
#include "datatypes/word.h"
#include "molded.h"
#include "registry_fixture.h"
#include "runtime/hashtable.h"

namespace zuv::test {
namespace {

using Symbols = RegistryTest;
using Contexts = RegistryTest;
using Words = RegistryTest;

std::string name(int32_t id) { return symbol::get_utf8(id); }

cell_t word_of(const char* text, uint8_t type = TYPE_word) {
    cell_t w = word::load(text);
    cell::set_type(&w, type);
    return w;
}

std::string molded(cell_t* v) { return zuv::test::molded(v); }

TEST_F(Symbols, CaseVariantsShareOneCanonicalId) {
    int32_t lower = symbol::make("print");
    int32_t title = symbol::make("Print");
    int32_t upper = symbol::make("PRINT");
    EXPECT_NE(lower, title);
    EXPECT_NE(title, upper);
    EXPECT_EQ(symbol::alias(lower), -1);
    EXPECT_EQ(symbol::alias(title), lower);
    EXPECT_EQ(symbol::alias(upper), lower);
    for (int32_t id : {lower, title, upper}) EXPECT_EQ(symbol::resolve(id), lower);
    EXPECT_EQ(symbol::make("Print"), title);  // exact spelling: the same id again
    EXPECT_EQ(name(upper), "PRINT");

    int32_t count = symbol::count();
    EXPECT_EQ(symbol::make_case_insensitive("PRINT"), lower);
    EXPECT_EQ(symbol::make_case_insensitive("PrInT"), lower);
    EXPECT_EQ(symbol::count(), count) << "a case-insensitive search adds nothing that exists";
}

TEST_F(Symbols, FirstSpellingIsCanonical) {
    int32_t title = symbol::make("Zebra");
    int32_t lower = symbol::make("zebra");
    EXPECT_EQ(symbol::resolve(lower), title);
    EXPECT_EQ(symbol::alias(title), -1);
}

TEST_F(Symbols, OnlyAsciiLettersFold) {
    int32_t a = symbol::make("caf\xc3\xa9");  // café
    int32_t b = symbol::make("CAF\xc3\x89");  // CAFÉ
    EXPECT_NE(symbol::resolve(a), symbol::resolve(b));
    int32_t empty = symbol::make("");
    EXPECT_GT(empty, 0);
    EXPECT_EQ(symbol::utf8_length(empty), 0);
    EXPECT_EQ(symbol::make(""), empty);
}

// Past 4,000 symbols the block grows; past 12,615 entries the index
// resizes. Every name and its case variants must still be found.
TEST_F(Symbols, GrowthKeepsEverySymbol) {
    const int n = 7000;  // 7,000 names and 7,000 variants: past both limits
    std::vector<int32_t> ids(n), variants(n);
    for (int i = 0; i < n; i++) {
        std::string s = "sym" + std::to_string(i);
        ids[i] = symbol::make(s.c_str());
        std::string v = "SYM" + std::to_string(i);
        variants[i] = symbol::make(v.c_str());
    }
    EXPECT_GT(symbol::count(), 14000);
    EXPECT_GT(hashtable::record(symbol::index_node)->buckets, 16384);
    for (int i = 0; i < n; i++) {
        std::string s = "sym" + std::to_string(i);
        std::string v = "SYM" + std::to_string(i);
        std::string m = "Sym" + std::to_string(i);
        ASSERT_EQ(symbol::make(s.c_str()), ids[i]) << s;
        ASSERT_EQ(symbol::make(v.c_str()), variants[i]) << v;
        ASSERT_EQ(symbol::resolve(variants[i]), ids[i]) << v;
        ASSERT_EQ(symbol::resolve(symbol::make_case_insensitive(m.c_str())), ids[i]) << m;
        ASSERT_EQ(name(ids[i]), s);
    }
}

// The name handed to a script is a copy: changing it renames nothing.
TEST_F(Symbols, PushedNameIsACopy) {
    int32_t id = symbol::make("alpha");
    symbol::get(id);  // the cached string form exists
    cell_t* s = symbol::push_name(id);
    EXPECT_EQ(text_of(s), "alpha");
    EXPECT_NE(s->data2, symbol::cell_of(id)->data2);
    string::append_char(s, 'Z');
    EXPECT_EQ(text_of(s), "alphaZ");
    EXPECT_EQ(name(id), "alpha");
    cell_t w = word::load("alpha");
    EXPECT_EQ(molded(&w), "alpha");
}

// symbol! compares the cells of the symbol block by their names.
TEST_F(Symbols, SymbolCompareByName) {
    int32_t apple = symbol::make("apple");
    int32_t upper = symbol::make("APPLE");
    int32_t banana = symbol::make("banana");
    cell_t* pa = symbol::cell_of(apple);
    cell_t* pb = symbol::cell_of(upper);
    cell_t* pc = symbol::cell_of(banana);
    EXPECT_EQ(symbol::compare(pa, pb, actions::cmp::EQUAL), 0);
    EXPECT_NE(symbol::compare(pa, pb, actions::cmp::STRICT_EQUAL), 0);
    EXPECT_LT(symbol::compare(pa, pc, actions::cmp::LESSER), 0);
    cell_t n = none_value;
    EXPECT_EQ(symbol::compare(pa, &n, actions::cmp::EQUAL), -2);
}

TEST_F(Contexts, CaseVariantFindsTheSameSlot) {
    node_t ctx = _context::create(0, false, false, nullptr, _context::KIND_OBJECT);
    EXPECT_EQ(_context::word_count(ctx), 0);  // capacity 0 gives room for one, and no words
    cell_t w = word_of("Field");
    int32_t slot = _context::add(ctx, &w);
    cell_t v = word_of("FIELD");
    cell_t lower = word_of("field");
    EXPECT_EQ(_context::add(ctx, &v), slot);
    EXPECT_EQ(_context::find_word(ctx, symbol::make("field"), true), slot);
    EXPECT_EQ(_context::find_word(ctx, symbol::make("field"), false), -1);
    EXPECT_EQ(_context::bind_word(ctx, &lower), slot);
    EXPECT_EQ(_context::word_count(ctx), 1);

    // set-in on a case variant with an unknown index: the case-sensitive
    // search fails, the case-insensitive one finds the same slot.
    cell_t unknown = lower;
    unknown.data3 = static_cast<uint32_t>(-1);
    cell_t value = true_value;
    _context::set_in(&unknown, &value, ctx, false);
    EXPECT_EQ(static_cast<int32_t>(unknown.data3), slot);
    EXPECT_EQ(_context::word_count(ctx), 1);
    EXPECT_EQ(type_of(_context::get(&lower)), TYPE_logic);
    EXPECT_TRUE(_context::set_q(ctx, slot));
}

TEST_F(Contexts, GlobalWordsShareASlotAcrossSpellings) {
    cell_t a = word::load("Greeting");
    cell_t b = word::load("greeting");
    cell_t c = word::make_global(symbol::make("GREETING"));
    EXPECT_EQ(a.data3, b.data3);
    EXPECT_EQ(a.data3, c.data3);
    EXPECT_NE(a.data2, b.data2) << "each word keeps its own spelling";
    cell_t value = none_value;
    _context::set(&a, &value);
    EXPECT_EQ(type_of(_context::get(&c)), TYPE_none);
}

TEST_F(Contexts, SpecGivesArgumentWordsOnly) {
    cell_t spec;
    block::make_at(&spec, 8);
    cell_t a = word_of("a"), b = word_of("b", TYPE_get_word), c = word_of("c", TYPE_lit_word);
    cell_t r = word_of("only", TYPE_refinement), s = word_of("x", TYPE_set_word),
           again = word_of("A");
    for (cell_t* w : {&a, &b, &c, &r, &s, &again}) block::rs_append(&spec, w);
    node_t ctx = _context::make(&spec, false, false, _context::KIND_FUNCTION);
    EXPECT_EQ(_context::word_count(ctx), 4);
    EXPECT_EQ(alloc::buffer(_context::cell_of(ctx)->data2)->used() / 16, 4) << "one value per word";
    EXPECT_EQ(_context::find_word(ctx, symbol::make("x"), true), -1);
}

TEST_F(Contexts, BindingACyclicBlockTerminates) {
    node_t ctx = _context::create(4, false, false, nullptr, _context::KIND_OBJECT);
    cell_t known = word_of("known");
    int32_t slot = _context::add(ctx, &known);
    cell_t body;
    block::make_at(&body, 4);
    block::rs_append(&body, &known);
    block::rs_append(&body, &body);  // the block contains itself
    cell_t paren = body;
    paren.header = TYPE_paren;
    block::rs_append(&body, &paren);
    _context::bind(&body, ctx, false);
    cell_t* first = block::first_cell(&body);
    EXPECT_EQ(first->data1, ctx);
    EXPECT_EQ(static_cast<int32_t>(first->data3), slot);
}

TEST_F(Contexts, SelfReadsTheOwnerOnlyWithTheSelfOption) {
    node_t ctx = _context::create(2, false, true, nullptr, _context::KIND_OBJECT);
    *_context::get_self_value(ctx) = true_value;
    cell_t body;
    block::make_at(&body, 2);
    cell_t self = word_of("self");
    block::rs_append(&body, &self);
    _context::bind(&body, ctx, true);
    cell_t* w = block::first_cell(&body);
    EXPECT_EQ(w->data1, ctx);
    EXPECT_EQ(static_cast<int32_t>(w->data3), -1);
    EXPECT_EQ(_context::get(w), _context::get_self_value(ctx));

    // Without the option self is an ordinary word: bound only when the
    // context holds it.
    node_t plain = _context::create(2, false, false, nullptr, _context::KIND_OBJECT);
    cell_t other = word_of("self");
    cell_t body2;
    block::make_at(&body2, 2);
    block::rs_append(&body2, &other);
    _context::bind(&body2, plain, false);
    EXPECT_NE(block::first_cell(&body2)->data1, plain);
}

TEST_F(Contexts, FunctionContextValuesLiveOnTheStack) {
    node_t ctx = _context::create(2, true, false, nullptr, _context::KIND_FUNCTION);
    cell_t x = word_of("x");
    int32_t slot = _context::add(ctx, &x);
    cell_t bound = x;
    _context::bind_word(ctx, &bound);
    EXPECT_EQ(raised([&] { _context::get(&bound); }), err::not_in_context);
    EXPECT_EQ(raised([&] { word::get_local(ctx, slot); }), err::not_defined);

    stack::push(&none_value);  // keep the arguments off the bottom cell
    cell_t* args = stack::top_slot;
    stack::push(&true_value);
    _context::cell_of(ctx)->data2 = stack::index_of(args);
    EXPECT_EQ(_context::get(&bound), args);
    cell_t value = none_value;
    _context::set(&bound, &value);
    EXPECT_EQ(type_of(args), TYPE_none);
}

TEST_F(Contexts, CloneRebindsItsWords) {
    node_t ctx = _context::create(2, false, false, nullptr, _context::KIND_OBJECT);
    cell_t a = word_of("a"), b = word_of("b");
    _context::add(ctx, &a);
    _context::add(ctx, &b);
    cell_t holder{TYPE_object, ctx, 0, 0};
    node_t copy = _context::clone(&holder, _context::KIND_OBJECT);
    EXPECT_NE(copy, ctx);
    EXPECT_EQ(holder.data1, copy);
    EXPECT_EQ(_context::word_count(copy), 2);
    for (int i = 0; i < 2; i++) EXPECT_EQ(_context::get_symbol_word(copy, i)->data1, copy);
    EXPECT_EQ(_context::find_word(copy, symbol::make("B"), true), 1);
    cell_t c = word_of("c");
    _context::add(copy, &c);
    EXPECT_EQ(_context::word_count(ctx), 2) << "the clone shares nothing";
}

// The errors of reading and writing words.
TEST_F(Words, UnboundAndUnsetWordsRaise) {
    cell_t unbound;
    word::make_raw(&unbound, TYPE_word, 0, symbol::make("nowhere"), -1);
    EXPECT_EQ(raised([&] { _context::get(&unbound); }), err::no_value);
    EXPECT_EQ(raised([&] { _context::set(&unbound, &none_value); }), err::not_defined);

    cell_t fresh = word::load("fresh");  // bound, value unset
    EXPECT_EQ(raised([&] { word::get(&fresh); }), err::no_value);
    EXPECT_EQ(type_of(word::get_any(&fresh)), TYPE_unset);

    stack::arguments = stack::top_slot;
    stack::push(&fresh);
    stack::push(&unset_value);
    EXPECT_EQ(raised([] { word::set_star(); }), err::need_value);
    stack::arguments[1] = true_value;
    word::set_star();
    EXPECT_EQ(type_of(stack::arguments), TYPE_logic);
    EXPECT_EQ(type_of(word::get(&fresh)), TYPE_logic);
}

TEST_F(Words, KindsMold) {
    struct {
        uint8_t type;
        const char* text;
    } cases[] = {{TYPE_word, "a"},      {TYPE_set_word, "a:"},   {TYPE_lit_word, "'a"},
                 {TYPE_get_word, ":a"}, {TYPE_refinement, "/a"}, {TYPE_issue, "#a"}};
    for (auto& c : cases) {
        cell_t w = word_of("a", c.type);
        EXPECT_EQ(molded(&w), c.text);
        cell_t out = new_string();
        actions::form(&w, &out, false, 100);
        EXPECT_EQ(text_of(&out), "a") << c.text;
    }
}

// Forming reads the symbol through a view of its own: the symbol cell is
// untouched, not even its alias word.
TEST_F(Words, FormLeavesTheSymbolCellAlone) {
    symbol::make("case");
    int32_t variant = symbol::make("CASE");
    cell_t before = *symbol::get(variant);
    cell_t w = word_of("CASE");
    EXPECT_EQ(molded(&w), "CASE");
    cell_t after = *symbol::cell_of(variant);
    EXPECT_EQ(before.data1, after.data1);
    EXPECT_EQ(before.header, after.header);
}

TEST_F(Words, Comparisons) {
    cell_t a = word_of("abc"), upper = word_of("ABC"), lit = word_of("abc", TYPE_lit_word);
    cell_t lit_upper = word_of("ABC", TYPE_lit_word), set = word_of("abc", TYPE_set_word);
    cell_t other = word_of("abd");
    struct {
        cell_t* x;
        cell_t* y;
        int op;
        bool equal;
    } cases[] = {
        {&a, &upper, actions::cmp::EQUAL, true},
        {&a, &upper, actions::cmp::STRICT_EQUAL, false},
        {&a, &set, actions::cmp::EQUAL, true},
        {&a, &set, actions::cmp::STRICT_EQUAL, false},
        {&a, &lit, actions::cmp::FIND_LIT, true},
        {&lit, &a, actions::cmp::FIND_LIT, true},
        {&a, &lit_upper, actions::cmp::FIND_LIT, false},
        {&a, &lit_upper, actions::cmp::FIND_LIT_NOCASE, true},
        {&a, &set, actions::cmp::FIND_LIT_NOCASE, false},
        {&a, &a, actions::cmp::SAME, true},
        {&a, &upper, actions::cmp::SAME, false},
        {&a, &other, actions::cmp::EQUAL, false},
    };
    for (auto& c : cases)
        EXPECT_EQ(actions::compare(c.x, c.y, c.op), c.equal)
            << molded(c.x) << " vs " << molded(c.y) << " under " << c.op;
    EXPECT_TRUE(actions::compare(&a, &other, actions::cmp::LESSER));
    cell_t n = none_value;
    EXPECT_FALSE(actions::compare(&a, &n, actions::cmp::EQUAL));
}

TEST_F(Words, IndexQ) {
    cell_t unbound;
    word::make_raw(&unbound, TYPE_word, 0, symbol::make("loose"), -1);
    stack::arguments = stack::top_slot;
    stack::push(&unbound);
    actions::index_q();
    EXPECT_EQ(type_of(stack::arguments), TYPE_none);
    cell_t bound = word::load("tight");
    *stack::arguments = bound;
    actions::index_q();
    EXPECT_EQ(type_of(stack::arguments), TYPE_integer);
    EXPECT_EQ(stack::arguments->data2, bound.data3 + 1);
    cell_t r = word_of("tight", TYPE_refinement);
    *stack::arguments = r;
    EXPECT_EQ(raised([] { actions::index_q(); }), err::expect_arg);
}

TEST_F(Words, MakeAndTo) {
    cell_t proto;
    datatype::make_at(&proto, TYPE_word);
    cell_t spec;
    datatype::make_at(&spec, TYPE_integer);
    cell_t* r = actions::to(&proto, &spec);
    EXPECT_EQ(molded(r), "integer!");

    datatype::make_at(&proto, TYPE_word);
    cell_t t = true_value;
    r = actions::to(&proto, &t);
    EXPECT_EQ(molded(r), "true");
    EXPECT_EQ(r->data1, _context::global_node);

    cell_t sw = word_of("name", TYPE_set_word);
    datatype::make_at(&proto, TYPE_word);
    r = actions::to(&proto, &sw);
    EXPECT_EQ(type_of(r), TYPE_word);
    EXPECT_EQ(molded(r), "name");

    datatype::make_at(&proto, TYPE_word);
    cell_t n = none_value;
    EXPECT_EQ(raised([&] { actions::to(&proto, &n); }), err::bad_to_arg);
}

TEST_F(Words, IssuesCompareWithoutCaseAndNeverEqualAWord) {
    cell_t a, b;
    issue::make_at(&a, "abc");
    issue::make_at(&b, "ABC");
    EXPECT_EQ(molded(&a), "#abc");
    EXPECT_EQ(static_cast<int32_t>(a.data3), -1);
    EXPECT_TRUE(actions::compare(&a, &b, actions::cmp::EQUAL));
    EXPECT_FALSE(actions::compare(&a, &b, actions::cmp::STRICT_EQUAL));
    cell_t w = word_of("abc");
    EXPECT_EQ(issue::compare(&a, &w, actions::cmp::EQUAL), -2);
    EXPECT_EQ(word::compare(&w, &a, actions::cmp::EQUAL), -2);
    EXPECT_FALSE(actions::compare(&a, &w, actions::cmp::EQUAL));
    EXPECT_FALSE(actions::compare(&w, &a, actions::cmp::EQUAL));
}

TEST_F(Words, IssueMake) {
    cell_t proto;
    datatype::make_at(&proto, TYPE_issue);
    cell_t sw = word_of("key", TYPE_set_word);
    cell_t* r = actions::to(&proto, &sw);
    EXPECT_EQ(type_of(r), TYPE_issue);
    EXPECT_EQ(r->data1, sw.data1);
    EXPECT_EQ(r->data3, sw.data3) << "the binding is kept";
    EXPECT_EQ(molded(r), "#key");

    cell_t ch{TYPE_char_, 0, 'A', 0};
    datatype::make_at(&proto, TYPE_issue);
    r = actions::to(&proto, &ch);
    EXPECT_EQ(molded(r), "#A");
}

}  // namespace
}  // namespace zuv::test

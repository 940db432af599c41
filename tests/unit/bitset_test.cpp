// bitset!: the spec dialect, inversion, the actions and the text form.
#include "datatypes/bitset.h"
#include "interpreter_fixture.h"
#include "runtime/collector.h"

namespace zuv::test {
namespace {

class Bitsets : public InterpreterTest {
public:
    static cell_t integer_cell(int32_t n) {
        return cell_t{TYPE_integer, 0, static_cast<uint32_t>(n), 0};
    }
    static cell_t char_cell(uint32_t c) { return cell_t{TYPE_char_, 0, c, 0}; }
    static cell_t str(const char* t) {
        cell_t s;
        string::make_at(&s, 16);
        anchor(s);
        string::concatenate_literal(&s, t);
        return s;
    }
    // make bitset! from a spec: a block read from src (a leading "not"
    // word and "-" words are dialect words), with chars written as #"x".
    static cell_t charset(const std::string& src) {
        cell_t spec = load(src);
        for (int32_t i = 0; i < block::abs_length(&spec); i++) {
            cell_t* c = block::rs_abs_at(&spec, i);
            if (type_of(c) != TYPE_issue) continue;
            std::string name = symbol::get_utf8(static_cast<int32_t>(c->data2));
            *c = char_cell(static_cast<unsigned char>(name[1]));  // #"x"
        }
        cell_t proto{TYPE_datatype, TYPE_bitset, 0, 0};
        return in_frame([&] { return bitset::make(&proto, &spec, TYPE_bitset); });
    }
    static bool picked(cell_t* b, cell_t index) {
        cell_t r = in_frame([&] { return bitset::pick(b, 0, &index); });
        return r.data1 != 0;
    }
    static bool found(cell_t* b, cell_t value) {
        cell_t r = in_frame([&] { return bitset::find(b, &value, {}); });
        return type_of(&r) == TYPE_logic;
    }
    static std::string formed_bits(cell_t* b, bool part = false, int32_t limit = -1) {
        cell_t out;
        string::make_at(&out, 64);
        collector::root_cell keep_out(&out);
        bitset::form(b, &out, part, limit);
        return text_of(&out);
    }
    static cell_t bitwise(cell_t a, cell_t b, int32_t code) {
        return in_frame([&] {
            *stack::arguments = a;
            stack::push(&b);
            bitset::do_bitwise(code);
            return stack::arguments;
        });
    }
};

TEST_F(Bitsets, LengthsOfSizedSets) {
    for (auto [bits, length] : {std::pair{0, 0}, {1, 8}, {9, 16}, {10, 16}, {16, 16}}) {
        cell_t spec = integer_cell(bits);
        cell_t proto{TYPE_datatype, TYPE_bitset, 0, 0};
        cell_t b = in_frame([&] { return bitset::make(&proto, &spec, TYPE_bitset); });
        EXPECT_EQ(bitset::length_q(&b), length) << bits;
        EXPECT_FALSE(picked(&b, integer_cell(0)));
    }
}

TEST_F(Bitsets, DialectAndMembership) {
    cell_t abc = charset("\"abc\"");
    EXPECT_TRUE(picked(&abc, char_cell('b')));
    EXPECT_FALSE(picked(&abc, char_cell('d')));
    EXPECT_TRUE(found(&abc, str("ab")));
    EXPECT_FALSE(found(&abc, str("ad")));
    EXPECT_FALSE(picked(&abc, integer_cell(100000)));
    EXPECT_FALSE(picked(&abc, integer_cell(-1)));
    cell_t range = charset("#\"a - #\"c 200");
    for (char c : {'a', 'b', 'c'}) EXPECT_TRUE(picked(&range, char_cell(c)));
    EXPECT_FALSE(picked(&range, char_cell('d')));
    EXPECT_TRUE(picked(&range, integer_cell(200)));
    cell_t ints = charset("3 - 5");
    EXPECT_TRUE(picked(&ints, integer_cell(4)));
    EXPECT_FALSE(picked(&ints, integer_cell(6)));
    cell_t inverted = charset("not \"a\"");
    EXPECT_TRUE(picked(&inverted, integer_cell(100000)));
    EXPECT_FALSE(picked(&inverted, char_cell('a')));
    EXPECT_TRUE(picked(&inverted, char_cell('b')));
}

TEST_F(Bitsets, DialectErrors) {
    struct {
        const char* spec;
        err expected;
    } cases[] = {
        {"#\"c - #\"a", err::past_end},   {"#\"a -", err::past_end},
        {"#\"a - 100", err::invalid_arg}, {"-1", err::out_of_range},
        {"1.5x", err::bad_make_arg},
    };
    for (auto& c : cases)
        EXPECT_EQ(raised_clearing_stacks([&] { charset(c.spec); }), c.expected) << c.spec;
    cell_t proto{TYPE_datatype, TYPE_bitset, 0, 0};
    cell_t minus = integer_cell(-1), eight = integer_cell(8), none{TYPE_none, 0, 0, 0};
    EXPECT_EQ(raised_clearing_stacks([&] { bitset::make(&proto, &minus, TYPE_bitset); }),
              err::out_of_range);
    EXPECT_EQ(raised_clearing_stacks([&] { bitset::to(&proto, &eight, TYPE_bitset); }),
              err::bad_to_arg);
    EXPECT_EQ(raised_clearing_stacks([&] { bitset::make(&proto, &none, TYPE_bitset); }),
              err::bad_make_arg);
    EXPECT_EQ(raised_clearing_stacks([&] { bitset::to(&proto, &none, TYPE_bitset); }),
              err::bad_to_arg);
}

TEST_F(Bitsets, TextForm) {
    cell_t ab = charset("\"AB\"");
    EXPECT_EQ(formed_bits(&ab), "make bitset! #{000000000000000060}");
    cell_t not_a = charset("not \"A\"");
    EXPECT_EQ(formed_bits(&not_a), "make bitset! [not #{000000000000000040}]");
    cell_t c = in_frame([&] { return bitset::complement(&ab); });
    EXPECT_EQ(formed_bits(&c), "make bitset! [not #{000000000000000060}]");
    // A budget used up inside the bytes ends the text there.
    EXPECT_EQ(formed_bits(&ab, true, 19), "make bitset! #{0000");
}

TEST_F(Bitsets, PokeAppendRemoveAndClear) {
    cell_t s = charset("\"abc\"");
    struct {
        cell_t value;
        bool member;
    } pokes[] = {
        {cell_t{TYPE_logic, 0, 0, 0}, false},
        {cell_t{TYPE_logic, 1, 0, 0}, true},
        {integer_cell(0), false},
        {integer_cell(1), true},
        {cell_t{TYPE_none, 0, 0, 0}, false},
    };
    for (auto& p : pokes) {
        cell_t index = char_cell('a');
        cell_t v = p.value;
        in_frame([&] { return bitset::poke(&s, 0, &index, &v); });
        EXPECT_EQ(picked(&s, char_cell('a')), p.member);
    }
    // Appending far beyond the tail grows a plain set...
    cell_t far = integer_cell(5000);
    in_frame([&] { return bitset::insert(&s, &far, -1, false, 1, true); });
    EXPECT_TRUE(picked(&s, far));
    EXPECT_EQ(bitset::length_q(&s), 5008);
    // ...and changes nothing in an inverted one, whose members it already is.
    cell_t inv = charset("not \"a\"");
    int32_t before = bitset::length_q(&inv);
    in_frame([&] { return bitset::insert(&inv, &far, -1, false, 1, true); });
    EXPECT_EQ(bitset::length_q(&inv), before);
    EXPECT_TRUE(picked(&inv, far));
    EXPECT_EQ(raised_clearing_stacks([&] { bitset::remove(&s, nullptr, nullptr); }),
              err::missing_arg);
    cell_t bin;
    string::make_at(&bin, 4);
    cell::set_type(&bin, TYPE_binary);
    EXPECT_EQ(raised_clearing_stacks([&] { bitset::insert(&s, &bin, -1, false, 1, true); }),
              err::not_done);
}

// Every operation keeps to the membership of an inverted set: a stored 1 is
// a member, every bit beyond the tail is a member.
TEST_F(Bitsets, InvertedSetsBehaveAsComplements) {
    // remove takes members out.
    cell_t inv = charset("not \"a\"");
    cell_t key = char_cell('b');
    in_frame([&] { return bitset::remove(&inv, nullptr, &key); });
    EXPECT_FALSE(picked(&inv, char_cell('b')));
    EXPECT_TRUE(picked(&inv, char_cell('c')));
    cell_t far = integer_cell(3000);
    in_frame([&] { return bitset::remove(&inv, nullptr, &far); });
    EXPECT_FALSE(picked(&inv, far));
    EXPECT_TRUE(picked(&inv, integer_cell(3001)));
    // clear gives the empty set.
    in_frame([&] { return bitset::clear(&inv); });
    EXPECT_FALSE(picked(&inv, char_cell('c')));
    EXPECT_FALSE(picked(&inv, integer_cell(100000)));
    // A range reaching beyond the tail of an inverted set still sets the
    // bits inside it, and a test of it looks at those bits too.
    cell_t not_b = charset("not \"b\"");
    cell_t spec = load("97 - 1000");
    in_frame([&] { return bitset::insert(&not_b, &spec, -1, false, 1, true); });
    EXPECT_TRUE(picked(&not_b, char_cell('b')));
    cell_t not_c = charset("not \"c\"");
    cell_t test = load("97 - 2000");
    EXPECT_FALSE(found(&not_c, test));
    // The bitwise operations, on every mix of plain and inverted operands,
    // against membership computed bit by bit.
    cell_t sets[] = {charset("\"ab\""), charset("not \"bc\""), charset("\"xyz\""),
                     charset("not \"a\"")};
    struct {
        int32_t code;
        bool (*op)(bool, bool);
    } ops[] = {
        {5, [](bool a, bool b) { return a || b; }},  {6, [](bool a, bool b) { return a && b; }},
        {7, [](bool a, bool b) { return a != b; }},  {9, [](bool a, bool b) { return a || b; }},
        {10, [](bool a, bool b) { return a && b; }}, {11, [](bool a, bool b) { return a && !b; }},
        {12, [](bool a, bool b) { return a != b; }},
    };
    for (auto& o : ops)
        for (auto& a : sets)
            for (auto& b : sets) {
                cell_t r = bitwise(a, b, o.code);
                for (uint32_t c : {uint32_t{'a'}, uint32_t{'b'}, uint32_t{'c'}, uint32_t{'x'},
                                   uint32_t{'y'}, uint32_t{'z'}, uint32_t{'q'}, 5000u}) {
                    bool expected = o.op(picked(&a, char_cell(c)), picked(&b, char_cell(c)));
                    EXPECT_EQ(picked(&r, char_cell(c)), expected)
                        << "code " << o.code << " char " << c;
                }
            }
    cell_t a = sets[0];
    EXPECT_EQ(bitwise(a, sets[1], 8).data2, a.data2);
    EXPECT_EQ(raised_clearing_stacks([&] { bitwise(a, integer_cell(1), 5); }), err::invalid_type);
}

TEST_F(Bitsets, Comparison) {
    cell_t a = charset("\"a\""), a2 = charset("\"a\""), wide = charset("\"a\" 200");
    EXPECT_EQ(bitset::compare(&a, &a2, 0), 0);
    EXPECT_EQ(bitset::compare(&a, &a2, 9), 1);
    EXPECT_EQ(bitset::compare(&a, &a, 9), 0);
    // The same members in a larger buffer: unequal, the sizes decide.
    cell_t grown = charset("\"a\"");
    cell_t far = integer_cell(300), on = cell_t{TYPE_logic, 1, 0, 0},
           off = cell_t{TYPE_logic, 0, 0, 0};
    in_frame([&] { return bitset::poke(&grown, 0, &far, &on); });
    in_frame([&] { return bitset::poke(&grown, 0, &far, &off); });
    EXPECT_NE(bitset::compare(&a, &grown, 0), 0);
    EXPECT_EQ(bitset::compare(&a, &wide, 0), -1);
    cell_t n = integer_cell(1);
    EXPECT_EQ(bitset::compare(&a, &n, 0), -2);
    // An empty plain set holds nothing, an empty inverted one everything.
    cell_t empty = charset(""), everything = charset("not");
    EXPECT_NE(bitset::compare(&empty, &everything, 0), 0);
}

TEST_F(Bitsets, ModifyAndPaths) {
    cell_t s = charset("\"a\"");
    cell_t owned = global_word("owned"), other = global_word("other"), none{TYPE_none, 0, 0, 0};
    cell_t n = integer_cell(3);
    EXPECT_EQ(raised_clearing_stacks([&] { bitset::modify(&s, &owned, &n, false); }),
              err::invalid_arg);
    EXPECT_EQ(raised_clearing_stacks([&] { bitset::modify(&s, &other, &none, false); }),
              err::invalid_arg);
    cell_t r = in_frame([&] { return bitset::modify(&s, &owned, &none, false); });
    EXPECT_EQ(type_of(&r), TYPE_none);
    cell_t element = char_cell('a');
    r = in_frame([&] {
        return bitset::eval_path(&s, &element, nullptr, nullptr, nullptr, nullptr, 0, false, false,
                                 false, false);
    });
    EXPECT_EQ(r.data1, 1u);
    cell_t bad = str("a");
    EXPECT_EQ(raised_clearing_stacks([&] {
                  bitset::eval_path(&s, &bad, nullptr, nullptr, nullptr, nullptr, 0, false, false,
                                    false, false);
              }),
              err::invalid_type);
}

}  // namespace
}  // namespace zuv::test

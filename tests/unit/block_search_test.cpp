// Block find, select, sort and set operations, and the comparator calls that
// block and string sorts share.
#include "datatypes/block_search.h"
#include "datatypes/string_search.h"
#include "interpreter_fixture.h"
#include "molded.h"
#include "runtime/collector.h"

namespace zuv::test {
namespace {

class BlockSearch : public InterpreterTest {
public:
    static std::string molded(const cell_t* v) { return zuv::test::molded(v, {.flat = true}); }
    static cell_t integer_cell(int32_t n) {
        return cell_t{TYPE_integer, 0, static_cast<uint32_t>(n), 0};
    }
    // 1-based index of a find result, 0 for none.
    static int32_t index_of(const cell_t* r) {
        return type_of(r) == TYPE_none ? 0 : static_cast<int32_t>(r->data1) + 1;
    }
    // The first value of src, read as a block's only cell.
    static cell_t value(const std::string& src) {
        cell_t b = load(src);
        return *block::rs_abs_at(&b, 0);
    }
    static cell_t set_op(const std::string& a, const std::string& b, int32_t code,
                         bool case_ = false, int32_t skip = 0) {
        cell_t x = load(a), y = load(b);
        cell_t s = integer_cell(skip);
        return in_frame([&] {
            *stack::arguments = x;
            stack::push(&y);
            return block::do_set_op(case_, skip ? &s : nullptr, code);
        });
    }
};

TEST_F(BlockSearch, FindRefinements) {
    struct {
        const char* block;
        int32_t head;  // 0-based
        const char* value;
        find_options_t how;  // the refinements without arguments
        int32_t skip, part;  // 0: not given
        int32_t expected;  // 1-based index, 0 none
    } cases[] = {
        {"1 2 3 1 2 3", 0, "2", {}, 0, 0, 2},
        {"1 2 3 1 2 3", 0, "2", {.last = true}, 0, 0, 5},
        {"1 2 3 1 2 3", 0, "2", {.tail = true}, 0, 0, 3},
        {"1 2 3 1 2 3", 0, "2", {.match = true}, 0, 0, 0},
        {"1 2 3 1 2 3", 0, "1", {.match = true}, 0, 0, 1},
        {"1 2 3 1 2 3", 0, "[2 3]", {}, 0, 0, 2},
        {"1 2 3 1 2 3", 0, "[2 3]", {.tail = true}, 0, 0, 4},
        {"1 2 3 1 2 3", 0, "[2 3]", {.last = true}, 0, 0, 5},
        {"1 2 3 1 2 3", 0, "[3 4]", {}, 0, 0, 0},
        {"1 2 3 1 2 3", 0, "[]", {}, 0, 0, 0},
        {"1 [2 3] 2 3", 0, "[2 3]", {.only = true}, 0, 0, 2},
        {"1 [2 3] 2 3", 0, "[2 3]", {}, 0, 0, 3},
        {"1 2 3 1 2 3", 0, "2", {}, 2, 0, 5},
        {"1 2 3 1 2 3", 0, "1", {.tail = true}, 3, 0, 4},
        {"1 2 3 1 2 3", 0, "3", {}, 0, 2, 0},
        {"1 2 3 1 2 3", 0, "2", {}, 0, 2, 2},
        {"1 2 3 1 2 3", 0, "2", {}, 0, -1, 0},
        {"1 2 3 1 2 3", 3, "1", {.reverse = true}, 0, 0, 1},
        {"1 2 3 1 2 3", 3, "3", {.reverse = true, .tail = true}, 0, 0, 4},
        {"1 2 3 1 2 3", 3, "1", {.reverse = true, .match = true}, 0, 0, 0},
        {"1 2 3 1 2 3", 0, "1", {.reverse = true}, 0, 0, 0},
        {"1 2 3 1 2 3", 6, "3", {}, 0, 0, 0},
        {"1 2 3 1 2 3", 6, "3", {.reverse = true}, 0, 0, 6},
        {"a \"x\" 3 4", 0, "integer!", {}, 0, 0, 3},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(std::string(c.block) + " / " + c.value);
        cell_t b = load(c.block);
        block::set_head_index(&b, c.head);
        cell_t v = value(c.value);
        if (type_of(&v) == TYPE_word) v = get(c.value);  // a datatype word: its value
        cell_t skip = integer_cell(c.skip), part = integer_cell(c.part);
        cell_t r = in_frame([&] {
            find_options_t how = c.how;
            how.part = c.part ? &part : nullptr;
            how.skip = c.skip ? &skip : nullptr;
            return block::find(&b, &v, how);
        });
        EXPECT_EQ(index_of(&r), c.expected);
    }
    // With /only a datatype finds itself, not a value of its type.
    cell_t b = load("a 3 x");
    cell_t dt = get("integer!");
    *block::rs_abs_at(&b, 2) = dt;
    cell_t r = in_frame([&] { return block::find(&b, &dt, {.only = true}); });
    EXPECT_EQ(index_of(&r), 3);
}

TEST_F(BlockSearch, FindArgumentErrors) {
    cell_t b = load("1 2 3");
    cell_t v = integer_cell(2), zero = integer_cell(0), word = value("x");
    cell_t other = load("1 2");
    EXPECT_EQ(raised_clearing_stacks([&] { block::find(&b, &v, {.skip = &zero}); }),
              err::out_of_range);
    EXPECT_EQ(raised_clearing_stacks([&] { block::find(&b, &v, {.skip = &word}); }),
              err::invalid_refine_arg);
    EXPECT_EQ(raised_clearing_stacks([&] { block::find(&b, &v, {.part = &other}); }),
              err::invalid_refine_arg);
    // A position of the same block ends the range before it.
    cell_t at = b;
    block::set_head_index(&at, 1);
    cell_t r = in_frame([&] { return block::find(&b, &v, {.part = &at}); });
    EXPECT_EQ(type_of(&r), TYPE_none);
    block::set_head_index(&at, 2);
    r = in_frame([&] { return block::find(&b, &v, {.part = &at}); });
    EXPECT_EQ(index_of(&r), 2);
}

TEST_F(BlockSearch, Select) {
    struct {
        const char* block;
        const char* value;
        const char* expected;  // molded, or "none"
    } cases[] = {
        {"a 1 b 2", "b", "2"},
        {"a 1 b 2", "2", "none"},
        {"1 2 3 4", "[2 3]", "4"},
        {"1 2 3", "9", "none"},
    };
    for (auto& c : cases) {
        cell_t b = load(c.block);
        cell_t v = value(c.value);
        cell_t r = in_frame([&] { return block::select(&b, &v, {}); });
        if (std::string(c.expected) == "none") {
            EXPECT_EQ(type_of(&r), TYPE_none) << c.block;
        } else {
            EXPECT_EQ(molded(&r), c.expected) << c.block;
        }
    }
}

// --- sort -----------------------------------------------------------------------------

struct sort_case {
    const char* block;
    bool case_;
    int32_t skip;
    int32_t compare;  // integer comparator, 0 none
    int32_t part;  // 0 none
    bool all, reverse, stable;
    const char* expected;
};

TEST_F(BlockSearch, SortForms) {
    sort_case cases[] = {
        {"3 1 2", false, 0, 0, 0, false, false, false, "[1 2 3]"},
        {"3 1 2", false, 0, 0, 0, false, true, false, "[3 2 1]"},
        {"\"b\" \"A\" \"a\" \"B\"", false, 0, 0, 0, false, false, true,
         "[\"A\" \"a\" \"b\" \"B\"]"},
        {"\"b\" \"A\" \"a\" \"B\"", true, 0, 0, 0, false, false, false,
         "[\"A\" \"B\" \"a\" \"b\"]"},
        {"1 z 0 y 1 x 0 w", false, 2, 0, 0, false, false, true, "[0 y 0 w 1 z 1 x]"},
        {"1 z 0 y 1 x 0 w", false, 2, 2, 0, false, false, false, "[0 w 1 x 0 y 1 z]"},
        {"1 z 0 y 1 x 0 w", false, 2, 0, 0, true, false, false, "[0 w 0 y 1 x 1 z]"},
        {"5 4 3 2 1", false, 0, 0, 3, false, false, false, "[3 4 5 2 1]"},
        {"3 1 b 2 a", false, 0, 0, 0, false, false, false, "[1 2 3 a b]"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.block);
        cell_t b = load(c.block);
        cell_t skip = integer_cell(c.skip), cmp = integer_cell(c.compare),
               part = integer_cell(c.part);
        in_frame([&] {
            return block::sort(&b, c.case_, c.skip ? &skip : nullptr, c.compare ? &cmp : nullptr,
                               c.part ? &part : nullptr, c.all, c.reverse, c.stable);
        });
        EXPECT_EQ(molded(&b), c.expected);
    }
}

TEST_F(BlockSearch, SortNegativePartSortsBeforeTheHead) {
    cell_t b = load("5 4 3 2 1");
    block::set_head_index(&b, 3);
    cell_t part = integer_cell(-3);
    in_frame([&] { return block::sort(&b, false, nullptr, nullptr, &part, false, false, false); });
    block::set_head_index(&b, 0);
    EXPECT_EQ(molded(&b), "[3 4 5 2 1]");
}

TEST_F(BlockSearch, SortStableKeepsEqualRecordsInOrder) {
    // Many equal keys: the tags after them must keep their input order.
    std::string src;
    for (int i = 0; i < 200; i++) src += std::to_string(i % 3) + " " + std::to_string(i) + " ";
    cell_t b = load(src);
    cell_t skip = integer_cell(2);
    in_frame([&] { return block::sort(&b, false, &skip, nullptr, nullptr, false, false, true); });
    int32_t last_key = -1, last_tag = -1;
    for (int32_t i = 0; i < 400; i += 2) {
        int32_t key = integer::get(block::rs_abs_at(&b, i)),
                tag = integer::get(block::rs_abs_at(&b, i + 1));
        ASSERT_GE(key, last_key);
        if (key == last_key) {
            ASSERT_GT(tag, last_tag);
        }
        last_key = key;
        last_tag = tag;
    }
}

// Texts sort by their first characters' keys when those differ, else by the
// full comparison: the result must be the order of that comparison in every
// mode, ties kept in input order by the stable sort.
TEST_F(BlockSearch, SortTextsAgreesWithTheComparison) {
    const char* texts[] = {"abcdz",
                           "ABCDa",
                           "abcd",
                           "abc",
                           "",
                           "b",
                           "Abcd",
                           "abcde",
                           "\u00E9t\u00E9",
                           "\u00C9T\u00C9",
                           "\u00FFa",
                           "\u0178b",
                           "\u03A9mega",
                           "\u03C9MEGA",
                           "\u00B5",
                           "\u039C",
                           "a^@b",
                           "a^@a",
                           "a",
                           "zz",
                           "ZZ",
                           "abcD",
                           "abC",
                           "\U0001F600x"};
    // Without the last text every prefix has 16-bit characters.
    auto source = [&](bool unicode) {
        std::string src;
        int tag = 0;
        for (int round = 0; round < 3; round++)
            for (const char* t : texts)
                if (unicode || t != texts[std::size(texts) - 1])
                    src += "\"" + std::string(t) + "\" " + std::to_string(tag++) + " ";
        return src;
    };
    for (bool case_ : {false, true})
        for (bool reverse : {false, true})
            for (bool unicode : {false, true}) {
                SCOPED_TRACE(std::to_string(case_) + std::to_string(reverse) +
                             std::to_string(unicode));
                std::string s = source(unicode);
                cell_t b = load(s);
                cell_t skip = integer_cell(2);
                in_frame([&] {
                    return block::sort(&b, case_, &skip, nullptr, nullptr, false, reverse, true);
                });
                int32_t n = block::rs_length_q(&b);
                int32_t op = case_ ? actions::cmp::SORT_CASE : actions::cmp::SORT;
                for (int32_t i = 2; i < n; i += 2) {
                    cell_t x = *block::rs_abs_at(&b, i - 2), y = *block::rs_abs_at(&b, i);
                    int32_t r = actions::compare_value(&x, &y, op);
                    if (reverse) r = -r;
                    ASSERT_LE(r, 0) << molded(&x) << " before " << molded(&y);
                    if (r == 0) {
                        ASSERT_LT(integer::get(block::rs_abs_at(&b, i - 1)),
                                  integer::get(block::rs_abs_at(&b, i + 1)));
                    }
                }
            }
}

TEST_F(BlockSearch, SortTextsFromTheirHeads) {
    cell_t b = load("\"xb\" \"ya\" \"zc\"");
    for (int32_t i = 0; i < 3; i++) block::rs_abs_at(&b, i)->data1 = 1;
    in_frame(
        [&] { return block::sort(&b, false, nullptr, nullptr, nullptr, false, false, false); });
    for (int32_t i = 0; i < 3; i++) block::rs_abs_at(&b, i)->data1 = 0;
    EXPECT_EQ(molded(&b), "[\"ya\" \"xb\" \"zc\"]");
}

TEST_F(BlockSearch, SortArgumentErrors) {
    cell_t b = load("1 2 3 4 5 6");
    cell_t four = integer_cell(4), two = integer_cell(2), three = integer_cell(3),
           word = value("x");
    EXPECT_EQ(raised_clearing_stacks(
                  [&] { block::sort(&b, false, &four, nullptr, nullptr, false, false, false); }),
              err::invalid_refine_arg);
    EXPECT_EQ(raised_clearing_stacks(
                  [&] { block::sort(&b, false, nullptr, nullptr, nullptr, true, false, false); }),
              err::bad_refines);
    EXPECT_EQ(raised_clearing_stacks(
                  [&] { block::sort(&b, false, nullptr, &two, nullptr, false, false, false); }),
              err::bad_refines);
    EXPECT_EQ(raised_clearing_stacks(
                  [&] { block::sort(&b, false, &two, &two, nullptr, true, false, false); }),
              err::bad_refines);
    EXPECT_EQ(raised_clearing_stacks(
                  [&] { block::sort(&b, false, &two, &three, nullptr, false, false, false); }),
              err::out_of_range);
    EXPECT_EQ(raised_clearing_stacks(
                  [&] { block::sort(&b, false, nullptr, &word, nullptr, false, false, false); }),
              err::invalid_refine_arg);
    EXPECT_EQ(raised_clearing_stacks(
                  [&] { block::sort(&b, false, nullptr, nullptr, &word, false, false, false); }),
              err::invalid_refine_arg);
    EXPECT_EQ(molded(&b), "[1 2 3 4 5 6]");
}

// --- comparator functions ------------------------------------------------------------------

// A string's elements are chars and char arithmetic stays within code
// points, so the subtracting comparators are tried on a binary, whose
// elements are integers; both are texts sorted by the same code.
TEST_F(BlockSearch, ComparatorFunctionsMeanTheSameOrderForBlocksAndStrings) {
    standard_words();
    struct {
        const char* spec;
        const char* body;
        bool reverse;
        const char* block_expected;
        const char* text_expected;
    } cases[] = {
        {"a b", "a - b", false, "[1 2 3 4]", "abcd"},
        {"a b", "a - b", true, "[4 3 2 1]", "dcba"},
        {"a b", "a < b", false, "[1 2 3 4]", "abcd"},
        {"a b", "a > b", false, "[4 3 2 1]", "dcba"},
        {"a b", "a < b", true, "[4 3 2 1]", "dcba"},
        {"a b /local t", "t: a a - b", false, "[1 2 3 4]", "abcd"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(std::string(c.body) + (c.reverse ? " reverse" : ""));
        cell_t fn = make_function(c.spec, c.body);
        for (bool stable : {false, true}) {
            cell_t b = load("3 1 4 2");
            cell_t* top = stack::top_slot;
            in_frame([&] {
                return block::sort(&b, false, nullptr, &fn, nullptr, false, c.reverse, stable);
            });
            EXPECT_EQ(molded(&b), c.block_expected);
            EXPECT_EQ(stack::top_slot, top);
            bool subtracts = std::string(c.body).find('-') != std::string::npos;
            cell_t s;
            string::make_at(&s, 8);
            anchor(s);
            string::concatenate_literal(&s, "cadb");
            if (subtracts) cell::set_type(&s, TYPE_binary);
            in_frame([&] {
                return string::sort(&s, false, nullptr, &fn, nullptr, false, c.reverse, stable);
            });
            EXPECT_EQ(text_of(&s), c.text_expected);
        }
    }
}

TEST_F(BlockSearch, ComparatorSeesWholeRecordsWithAll) {
    standard_words();
    def_action("pick", "series index", ACT_pick);
    // Orders two-cell records by their second cell.
    cell_t fn = make_function("a b", "(pick a 2) - (pick b 2)");
    cell_t b = load("x 3 y 1 z 2");
    cell_t skip = integer_cell(2);
    in_frame([&] { return block::sort(&b, false, &skip, &fn, nullptr, true, false, false); });
    EXPECT_EQ(molded(&b), "[y 1 z 2 x 3]");
}

TEST_F(BlockSearch, ComparatorErrorLeavesEveryElement) {
    standard_words();
    // Subtracting a word raises once the sort meets it.
    cell_t fn = make_function("a b", "a - b");
    cell_t b = load("3 1 x 4 2");
    EXPECT_NE(raised_clearing_stacks([&] {
                  in_frame([&] {
                      return block::sort(&b, false, nullptr, &fn, nullptr, false, false, false);
                  });
              }),
              err{});
    std::string m = molded(&b);
    for (const char* e : {"1", "2", "3", "4", "x"}) EXPECT_NE(m.find(e), std::string::npos) << m;
    EXPECT_EQ(block::abs_length(&b), 5);
}

TEST_F(BlockSearch, ComparatorThatAllocatesKeepsEveryElement) {
    standard_words();
    def_action("copy", "value", ACT_copy);
    def_action("append", "series value", ACT_append);
    // Each comparison builds garbage: a copied block grown a little.
    cell_t fn =
        make_function("a b /local t", "t: copy [1 2 3 4 5 6 7 8] append t t append t t a - b");
    std::string src;
    for (int i = 0; i < 300; i++) src += std::to_string((i * 7919) % 300) + " ";
    cell_t b = load(src);
    cell_t* keep = stack::push(&b);
    cell_t* f = stack::push(&fn);
    // Collect every few allocations, so that anything the sort kept
    // unrooted or by address would be lost or moved under it.
    bool was_active = collector::active;
    uint32_t cycles_before = collector::cycles;
    collector::active = true;
    collector::stress_period = collector::stress_countdown = 5;
    for (bool stable : {true, false}) {
        in_frame(
            [&] { return block::sort(keep, false, nullptr, f, nullptr, false, false, stable); });
        EXPECT_EQ(block::abs_length(keep), 300);
        for (int32_t i = 0; i < std::min(300, block::abs_length(keep)); i++)
            EXPECT_EQ(integer::get(block::rs_abs_at(keep, i)), i);
        in_frame(
            [&] { return block::sort(keep, false, nullptr, f, nullptr, false, true, stable); });
    }
    collector::stress_period = collector::stress_countdown = 0;
    collector::active = was_active;
    EXPECT_GT(collector::cycles, cycles_before);
}

// --- set operations ---------------------------------------------------------------------------

TEST_F(BlockSearch, SetOperations) {
    struct {
        const char* a;
        const char* b;
        int32_t code;
        bool case_;
        int32_t skip;
        const char* expected;
    } cases[] = {
        {"1 1 2 3 2", "", block::SET_UNIQUE, false, 0, "[1 2 3]"},
        {"1 2 3", "3 4 1 5", block::SET_UNION, false, 0, "[1 2 3 4 5]"},
        {"1 2 3 4", "4 2 9", block::SET_INTERSECT, false, 0, "[2 4]"},
        {"1 2 3", "2", block::SET_EXCLUDE, false, 0, "[1 3]"},
        {"1 2 3", "2 3 4", block::SET_DIFFERENCE, false, 0, "[1 4]"},
        {"\"a\" \"A\" \"b\"", "", block::SET_UNIQUE, false, 0, "[\"a\" \"b\"]"},
        {"\"a\" \"A\" \"b\"", "", block::SET_UNIQUE, true, 0, "[\"a\" \"A\" \"b\"]"},
        {"[1] [1] 2 [2]", "", block::SET_UNIQUE, false, 0, "[[1] 2 [2]]"},
        {"1 a 1 b 2 c", "", block::SET_UNIQUE, false, 2, "[1 a 2 c]"},
        // With skip only the first cell of each record is a key.
        {"1 2 2 3", "", block::SET_UNIQUE, false, 2, "[1 2 2 3]"},
        {"1 a 2 b 3 c", "2 x 9 y", block::SET_EXCLUDE, false, 2, "[1 a 3 c]"},
        {"1 a 2 b", "a 2 9 y", block::SET_INTERSECT, false, 2, "[]"},
        {"1 a 2 b", "2 z 3 c", block::SET_UNION, false, 2, "[1 a 2 b 3 c]"},
        {"1 a 2 b", "2 z 3 c", block::SET_DIFFERENCE, false, 2, "[1 a 3 c]"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " | " + c.b);
        cell_t r = set_op(c.a, c.b, c.code, c.case_, c.skip);
        EXPECT_EQ(molded(&r), c.expected);
    }
    cell_t word = value("x");
    cell_t x = load("1 2"), y = load("2");
    EXPECT_EQ(raised_clearing_stacks([&] {
                  in_frame([&] {
                      *stack::arguments = x;
                      stack::push(&y);
                      return block::do_set_op(false, &word, block::SET_UNION);
                  });
              }),
              err::invalid_refine_arg);
}

}  // namespace
}  // namespace zuv::test

// The datatype registry: ids, names, parents and the resolved action matrix.

#include <unistd.h>

#include <set>
#include <sstream>

#include "datatypes/actions.h"
#include "datatypes/datatype.h"
#include "datatypes/triple.h"
#include "datatypes/unset.h"
#include "registry_fixture.h"

namespace zuv::test {
namespace {

struct row_t {
    int id;
    int parent;
    const char* own;  // action numbers and ranges, as the registration table writes them
    const char* inherited;
};

// The registration table, in registration order.
// clang-format off
const row_t matrix[] = {
    {TYPE_datatype,   0,             "5-6, 9", ""},
    {TYPE_unset,      0,             "1, 4-6, 9", ""},
    {TYPE_none,       0,             "1, 4-6, 9, 29, 31, 36, 42, 44, 50", ""},
    {TYPE_logic,      0,             "1-2, 4-6, 9, 21-24", ""},
    {TYPE_series,     0,             "2-3, 26-27, 29-30, 32-34, 36-40, 42-43, 46, 48-50, 55", ""},
    {TYPE_block,      TYPE_series,   "1, 4-7, 9, 25, 28, 30-31, 35, 41, 44-45, 47, 50-51", "2-3, 26-27, 29, 32-34, 36-40, 42-43, 46, 48-49, 55"},
    {TYPE_string,     TYPE_series,   "1, 4-7, 9, 25, 28, 31, 35, 44-45, 47, 50-51", "2-3, 26-27, 29-30, 32-34, 36-40, 42-43, 46, 48-49, 55"},
    {TYPE_binary,     TYPE_string,   "4-6, 9, 21-25, 28, 35, 51", "1-3, 7, 26-27, 29-34, 36-40, 42-50, 55"},
    {TYPE_integer,    0,             "1-2, 4-6, 9-24", ""},
    {TYPE_symbol,     0,             "9", ""},
    {TYPE_context,    0,             "", ""},
    {TYPE_word,       TYPE_symbol,   "1, 4-6, 9, 34", ""},
    {TYPE_lit_word,   TYPE_word,     "6", "1, 4-5, 9, 34"},
    {TYPE_set_word,   TYPE_word,     "6", "1, 4-5, 9, 34"},
    {TYPE_get_word,   TYPE_word,     "6", "1, 4-5, 9, 34"},
    {TYPE_refinement, TYPE_word,     "6", "1, 4-5, 9"},
    {TYPE_char_,      TYPE_integer,  "1, 4-6, 9, 11-13, 16, 18, 21, 23-24", "2, 10, 19-20"},
    {TYPE_native,     0,             "1, 3, 5-6, 9", ""},
    {TYPE_action,     TYPE_native,   "1, 5-6, 9", "3"},
    {TYPE_op,         TYPE_native,   "1, 5-6, 9", "3"},
    {TYPE_path,       TYPE_block,    "1, 4-6, 30", "3, 7, 9, 25-29, 31-44, 46-50, 55"},
    {TYPE_lit_path,   TYPE_path,     "6", "1, 3-5, 7, 9, 25-44, 46-50, 55"},
    {TYPE_set_path,   TYPE_path,     "6", "1, 3-5, 7, 9, 25-44, 46-50, 55"},
    {TYPE_get_path,   TYPE_path,     "6", "1, 3-5, 7, 9, 25-44, 46-50, 55"},
    {TYPE_function,   TYPE_context,  "1, 3, 5-6, 9", ""},
    {TYPE_routine,    TYPE_function, "5-6, 9", "3"},
    {TYPE_paren,      TYPE_block,    "6", "1-5, 7, 9, 25-50, 55"},
    {TYPE_issue,      TYPE_word,     "1, 4, 6, 9", "5"},
    {TYPE_url,        TYPE_string,   "1, 4, 6-7, 56, 59, 62", "5, 9, 25-40, 42-44, 46-50, 55"},
    {TYPE_file,       TYPE_url,      "6, 54, 58-60, 62", "1, 4-5, 7, 9, 25-40, 42-44, 46-50, 55"},
    {TYPE_object,     0,             "1, 3, 5-7, 9, 30, 41, 44, 55", ""},
    {TYPE_bitset,     0,             "1, 3-7, 9, 14, 21-25, 29-31, 35-36, 39-40, 42, 55", ""},
    {TYPE_triple,     0,             "5-6", ""},
    {TYPE_float_,     0,             "1-2, 4-6, 9-20", ""},
    {TYPE_typeset,    0,             "1, 4-6, 9, 21-24, 31", ""},
    {TYPE_error,      TYPE_object,   "1, 5-7, 9", "3, 30-31, 44"},
    {TYPE_vector,     TYPE_string,   "1, 5-6, 9, 11-13, 16, 18, 21, 23-25, 28, 35", "2-3, 7, 26-27, 29-34, 36-40, 42-46, 48-50, 55"},
    {TYPE_map,        0,             "1, 3-7, 9, 29-31, 36, 41-42, 44", ""},
    {TYPE_hash,       TYPE_block,    "1, 4, 6, 30, 45, 51", "3, 5, 7, 9, 25-29, 31-44, 46-50, 55"},
    {TYPE_pair,       0,             "1-2, 4-7, 9-14, 16-18, 21, 23-24, 39, 43", ""},
    {TYPE_percent,    TYPE_float_,   "5-6", "1-2, 4, 9-20"},
    {TYPE_tuple,      0,             "1-2, 4-7, 9, 11-13, 16, 18, 21-24, 36, 39, 43", ""},
    {TYPE_time,       TYPE_float_,   "1, 4-7, 11-13, 17-20, 39", "2, 9-10, 14, 16"},
    {TYPE_tag,        TYPE_string,   "5-6", "1, 3-4, 7, 9, 25-44, 46-50, 55"},
    {TYPE_email,      TYPE_string,   "6-7", "1, 3-5, 9, 25-44, 46-50, 55"},
    {TYPE_handle,     TYPE_integer,  "5-6, 9", ""},
    {TYPE_date,       0,             "1-2, 4-7, 9, 11, 18, 39", ""},
    {TYPE_port,       TYPE_object,   "1, 5-6, 25-56, 58-62", "3, 7, 9"},
    {TYPE_money,      0,             "1-2, 4-7, 9-14, 16-20, 39", ""},
    {TYPE_ref,        TYPE_string,   "6", "1, 3-5, 9, 26-40, 42-44, 46-50, 55"},
    {TYPE_point2d,    0,             "1-2, 4-7, 9-14, 16-18, 39, 43", ""},
    {TYPE_point3d,    0,             "1-2, 4-7, 9-14, 16-18, 39, 43", ""},
    {TYPE_image,      TYPE_series,   "1, 4-7, 9, 26, 28, 30, 36, 38-40, 46, 48-49", "27, 32-34, 55"},
    {TYPE_event,      0,             "1, 5-7, 9, 39", ""},
};
// clang-format on

std::set<int> actions_of(const char* list) {
    std::set<int> out;
    std::stringstream in(list);
    std::string item;
    while (std::getline(in, item, ',')) {
        int first = 0, last = 0;
        if (sscanf(item.c_str(), "%d-%d", &first, &last) == 2) {
            for (int a = first; a <= last; a++) out.insert(a);
        } else if (sscanf(item.c_str(), "%d", &first) == 1) {
            out.insert(first);
        }
    }
    return out;
}

action_entry_t entry(int type, int action) { return type_action_table[(type << 8) + action - 1]; }

using Registry = RegistryTest;

TEST_F(Registry, OrderTableMatchesTheRegistrationTable) {
    int count = 0;
    const datatype::order_entry_t* order = datatype::registration_order(&count);
    ASSERT_EQ(count, static_cast<int>(std::size(matrix)));
    for (int i = 0; i < count; i++) {
        EXPECT_EQ(order[i].id, matrix[i].id) << "order position " << i + 1;
        EXPECT_EQ(order[i].parent, matrix[i].parent) << "order position " << i + 1;
    }
}

// Every row against the table: own entries set, inherited entries equal to
// the parent's, everything else empty. A type whose module has not landed
// yet is registered with its name and parent and an empty row.
TEST_F(Registry, ResolvedActionMatrix) {
    datatype::register_late();
    int count = 0;
    const datatype::order_entry_t* order = datatype::registration_order(&count);
    for (int i = 0; i < count; i++) {
        const row_t& r = matrix[i];
        SCOPED_TRACE(datatype::name_of(r.id));
        ASSERT_NE(datatype::name_of(r.id), nullptr);
        if (order[i].init == nullptr) {
            for (int a = 1; a <= ACTION_COUNT; a++)
                EXPECT_EQ(entry(r.id, a), nullptr) << "action " << a;
            continue;
        }
        std::set<int> own = actions_of(r.own);
        std::set<int> inherited = actions_of(r.inherited);
        for (int a = 1; a <= ACTION_COUNT; a++) {
            action_entry_t e = entry(r.id, a);
            EXPECT_NE(e, datatype::INHERIT) << "action " << a;
            if (own.count(a)) {
                EXPECT_NE(e, nullptr) << "own action " << a;
            } else if (inherited.count(a)) {
                EXPECT_EQ(e, entry(r.parent, a)) << "inherited action " << a;
            } else {
                EXPECT_EQ(e, nullptr) << "unsupported action " << a;
            }
        }
    }
}

TEST_F(Registry, NamesLengthsAndTopId) {
    EXPECT_EQ(datatype::top_id, 53);  // event! comes later, from the library's top level
    datatype::register_late();
    EXPECT_EQ(datatype::top_id, 54);
    for (int id = 1; id <= TYPE_COUNT; id++) {
        std::string name = datatype::name_of(id);
        EXPECT_EQ(name.back(), '!');
        EXPECT_EQ(datatype::name_length(id), static_cast<int32_t>(name.size()) - 1) << name;
    }
    EXPECT_STREQ(datatype::name_of(TYPE_point2d), "point2D!");
    EXPECT_EQ(datatype::name_length(TYPE_integer), 7);
}

TEST_F(Registry, SlotEightIsEmptyInEveryRow) {
    datatype::register_late();
    for (int id = 0; id < TYPE_SLOTS; id++) EXPECT_EQ(entry(id, ACT_set_path), nullptr) << id;
}

TEST_F(Registry, InheritedEntryOfAnEmptyParentSlotStaysEmpty) {
    datatype::record_t parent(TYPE_pair, 0, "pair!");
    parent.own<ACT_form>(triple::form);
    datatype::register_type(datatype::RECORD_COUNT, parent);
    datatype::record_t child(TYPE_percent, TYPE_pair, "percent!");
    child.inherit({ACT_form, ACT_mold});
    datatype::register_type(datatype::RECORD_COUNT, child);
    EXPECT_EQ(entry(TYPE_percent, ACT_form), entry(TYPE_pair, ACT_form));
    EXPECT_EQ(entry(TYPE_percent, ACT_mold), nullptr);
}

TEST_F(Registry, TypesRegisteredAfterStartUpGetTheirWordAtOnce) {
    datatype::register_late();
    const cell_t& w = datatype::name_table[TYPE_event].word;
    EXPECT_EQ(type_of(&w), TYPE_word);
    EXPECT_STREQ(symbol::get_utf8(static_cast<int32_t>(w.data2)), "event!");
    const cell_t& i = datatype::name_table[TYPE_integer].word;
    EXPECT_STREQ(symbol::get_utf8(static_cast<int32_t>(i.data2)), "integer!");
    EXPECT_EQ(i.data1, _context::global_node);
}

TEST_F(Registry, WrongActionCountEndsTheProcessWithItsReport) {
    datatype::record_t r(TYPE_datatype, 0, "datatype!");
    EXPECT_EXIT(
        {
            dup2(STDERR_FILENO, STDOUT_FILENO);
            datatype::register_type(datatype::RECORD_COUNT - 1, r);
        },
        ::testing::ExitedWithCode(0),
        "\\*\\*\\* Datatype Error: invalid actions count for type: 1\n\\*\\*\\* Found: "
        "61\n\\*\\*\\* Expected: 62\n");
}

TEST_F(Registry, EmptyEntryRaisesExpectArg) {
    cell_t v = true_value;
    EXPECT_EQ(raised([&] { actions::length_q(&v); }), err::expect_arg);
    cell_t t;
    triple::make_at(&t, 1, 2, 3);
    cell_t spec = none_value;
    EXPECT_EQ(raised([&] { actions::make(&t, &spec); }), err::expect_arg);
}

TEST_F(Registry, MakeAndToDispatchOnTheNamedType) {
    cell_t type;
    datatype::make_at(&type, TYPE_logic);
    cell_t spec = none_value;
    cell_t* r = actions::to(&type, &spec);
    EXPECT_EQ(r, &false_value);
    cell_t example = true_value;  // an example value dispatches on its own type
    r = actions::to(&example, &spec);
    EXPECT_EQ(r, &false_value);
}

// Incomparable values are unequal; ordering them raises invalid-compare.
TEST_F(Registry, CompareCodes) {
    cell_t n = none_value;
    cell_t t = true_value;
    EXPECT_FALSE(actions::compare(&n, &t, actions::cmp::EQUAL));
    EXPECT_TRUE(actions::compare(&n, &t, actions::cmp::NOT_EQUAL));
    EXPECT_FALSE(actions::compare(&n, &t, actions::cmp::FIND));
    EXPECT_EQ(raised([&] { actions::compare(&n, &t, actions::cmp::LESSER); }),
              err::invalid_compare);
    // logic! orders only for sorting; the ordering natives refuse it.
    cell_t f = false_value;
    EXPECT_EQ(raised([&] { actions::compare(&f, &t, actions::cmp::LESSER); }),
              err::invalid_compare);
    EXPECT_EQ(actions::compare_value(&t, &f, actions::cmp::SORT), 1);
    EXPECT_EQ(actions::compare_value(&f, &t, actions::cmp::SORT_CASE), -1);
}

}  // namespace
}  // namespace zuv::test

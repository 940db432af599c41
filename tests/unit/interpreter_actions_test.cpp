// The action entry points: every action reaches the implementation of its
// first argument's type, and the entries that normalise their refinements do
// so as the callers expect.
#include <type_traits>
#include <utility>
#include <vector>

#include "datatypes/action_entries.h"
#include "datatypes/block.h"
#include "interpreter_fixture.h"
#include "molded.h"
#include "runtime/collector.h"

namespace zuv::test {
namespace {

// An id no datatype uses: its row holds recording stubs.
constexpr uint8_t TEST_TYPE = 56;
int32_t last_action = 0;

template <int N, typename F> struct stub;
template <int N, typename R, typename... A> struct stub<N, R (*)(A...)> {
    static R fn(A...) {
        last_action = N;
        if constexpr (std::is_pointer_v<R>) return stack::arguments;
        else if constexpr (!std::is_void_v<R>) return R{};
    }
};

template <int N> void install_one() {
    if constexpr (N != ACT_set_path)
        type_action_table[(TEST_TYPE << 8) + N - 1] =
            own<N>(&stub<N, typename action_signature<N>::fn>::fn);
}
template <size_t... I> void install(std::index_sequence<I...>) {
    (install_one<static_cast<int>(I) + 1>(), ...);
}

class Actions : public InterpreterTest {
public:
    void SetUp() override {
        InterpreterTest::SetUp();
        install(std::make_index_sequence<ACTION_COUNT>{});
    }
    void TearDown() override {
        for (int a = 0; a < ACTION_COUNT; a++) type_action_table[(TEST_TYPE << 8) + a] = nullptr;
        InterpreterTest::TearDown();
    }

    // Calls action `number` on args with refinement positions refs (-1 unused)
    // in a frame named by `name`; returns the result slot.
    static cell_t call(int32_t number, const std::vector<cell_t>& args,
                       std::vector<int32_t> refs = {}, const char* name = "act") {
        refs.resize(16, -1);
        cell_t w = global_word(name);
        stack::mark_native(&w);
        for (const cell_t& a : args) stack::push(&a);
        actions::table[number - 1](refs.data());
        cell_t r = *stack::arguments;
        stack::revert();
        return r;
    }
    static cell_t integer_cell(int32_t v) {
        cell_t c{TYPE_unset, 0, 0, 0};
        integer::make_at(&c, v);
        return c;
    }
    static std::string molded(const cell_t& v) { return zuv::test::molded(&v); }
};

TEST_F(Actions, EveryActionReachesItsTypesImplementation) {
    cell_t value{TEST_TYPE, 0, 0, 0};
    cell_t type{};
    datatype::make_at(&type, TEST_TYPE);
    for (int32_t n = 1; n <= ACTION_COUNT; n++) {
        if (n == ACT_set_path || n == ACT_compare) continue;
        last_action = 0;
        cell_t first = (n == ACT_make || n == ACT_to) ? type : value;
        call(n, {first, integer_cell(1), integer_cell(2), integer_cell(3)});
        EXPECT_EQ(last_action, n) << "action " << n;
    }
}

TEST_F(Actions, InheritedEntriesAreReachedToo) {
    // paren! takes block!'s series entries: length? reaches the same code.
    cell_t b = load("1 2 3");
    cell_t p = b;
    cell::set_type(&p, TYPE_paren);
    cell_t r = call(ACT_length_q, {b});
    EXPECT_EQ(integer::get(&r), 3);
    r = call(ACT_length_q, {p});
    EXPECT_EQ(integer::get(&r), 3);
}

TEST_F(Actions, MissingEntriesRaiseErrors) {
    cell_t b = load("1");
    try {
        call(ACT_add, {b, b}, {}, "add");
        ADD_FAILURE() << "nothing was raised";
    } catch (const raised_error& e) {
        EXPECT_EQ(e.id, err::expect_arg);
        EXPECT_EQ(formed(stack::top()).substr(0, 52),
                  "*** Script Error: add does not allow block! for its ");
    }
    stack::top_slot = stack::arguments = stack::bottom;
    stack::ctop = stack::cbottom;
    for (int32_t n : {ACT_set_path, ACT_compare}) {
        try {
            call(n, {b, b});
            ADD_FAILURE() << "nothing was raised by " << n;
        } catch (const raised_error& e) {
            EXPECT_EQ(e.id, err::not_done);
        }
        stack::top_slot = stack::arguments = stack::bottom;
        stack::ctop = stack::cbottom;
    }
}

TEST_F(Actions, LengthOfNoneIsNone) {
    type_action_table[(TEST_TYPE << 8) + ACT_length_q - 1] =
        own<ACT_length_q>([](cell_t*) { return -1; });
    cell_t value{TEST_TYPE, 0, 0, 0};
    cell_t r = call(ACT_length_q, {value});
    EXPECT_EQ(type_of(&r), TYPE_none);
}

TEST_F(Actions, FormAndMoldPart) {
    cell_t n = integer_cell(1234567);
    // form/part 0: empty at once; mold/part 3 cuts to three characters.
    cell_t r = call(ACT_form, {n, integer_cell(0)}, {1});
    EXPECT_EQ(text_of(&r), "");
    r = call(ACT_mold, {n, integer_cell(3)}, {-1, -1, -1, 1});
    EXPECT_EQ(text_of(&r), "123");
    r = call(ACT_form, {n});
    EXPECT_EQ(text_of(&r), "1234567");
}

TEST_F(Actions, PickWithLogicIndexes) {
    cell_t b = load("10 20");
    cell_t t{TYPE_unset, 0, 0, 0}, f{TYPE_unset, 0, 0, 0};
    logic::make_at(&t, true);
    logic::make_at(&f, false);
    cell_t r = call(ACT_pick, {b, t});
    EXPECT_EQ(integer::get(&r), 10);
    r = call(ACT_pick, {b, f});
    EXPECT_EQ(integer::get(&r), 20);
    // poke answers the new value, not the series.
    r = call(ACT_poke, {b, integer_cell(1), integer_cell(5)});
    EXPECT_EQ(integer::get(&r), 5);
    EXPECT_EQ(molded(b), "[5 20]");
}

TEST_F(Actions, AppendPartAndDup) {
    // append returns the series at its head.
    cell_t target = load("0");
    block::set_head_index(&target, 1);
    cell_t source = load("1 2 3 4");
    cell_t r = call(ACT_append, {target, source}, {-1, -1, -1});
    EXPECT_EQ(block::head_index(&r), 0);
    EXPECT_EQ(molded(r), "[0 1 2 3 4]");

    // A negative /part takes the values before the source's index.
    target = load("0");
    block::set_head_index(&source, 3);
    r = call(ACT_append, {target, source, integer_cell(-2)}, {2, -1, -1});
    EXPECT_EQ(molded(r), "[0 2 3]");
    // ... and nothing when the source is at its head.
    target = load("0");
    block::set_head_index(&source, 0);
    r = call(ACT_append, {target, source, integer_cell(-2)}, {2, -1, -1});
    EXPECT_EQ(molded(r), "[0]");
    // A series length counts to its position in the same buffer.
    cell_t upto = source;
    block::set_head_index(&upto, 2);
    target = load("0");
    r = call(ACT_append, {target, source, upto}, {2, -1, -1});
    EXPECT_EQ(molded(r), "[0 1 2]");
    // One from another buffer is refused.
    try {
        call(ACT_append, {target, source, load("9")}, {2, -1, -1});
        ADD_FAILURE() << "nothing was raised";
    } catch (const raised_error& e) {
        EXPECT_EQ(e.id, err::invalid_refine_arg);
    }
    stack::top_slot = stack::arguments = stack::bottom;
    stack::ctop = stack::cbottom;
    // /dup below 1 inserts nothing; /dup 3 three times.
    target = load("0");
    r = call(ACT_append, {target, integer_cell(7), integer_cell(0)}, {-1, -1, 2});
    EXPECT_EQ(molded(r), "[0]");
    r = call(ACT_append, {target, integer_cell(7), integer_cell(3)}, {-1, -1, 2});
    EXPECT_EQ(molded(r), "[0 7 7 7]");
}

TEST_F(Actions, CallsThroughTheInterpreter) {
    // An action value called from code, with a refinement from the path.
    def_action("append", "series value /part length /only /dup count", ACT_append);
    cell_t r = run("append/dup [1] 2 3");
    EXPECT_EQ(molded(r), "[1 2 2 2]");
    r = run("append/only [1] [2]");
    EXPECT_EQ(molded(r), "[1 [2]]");
}

}  // namespace
}  // namespace zuv::test

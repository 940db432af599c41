// The cycle stack: depth limit, detection markers and the walk guard.
#include <gtest/gtest.h>

#include "runtime/cycles.h"
#include "runtime/fire.h"

using namespace zuv;

namespace {

class Cycles : public ::testing::Test {
protected:
    void SetUp() override { cycles::reset(); }
    void TearDown() override { cycles::reset(); }
};

TEST_F(Cycles, TheThousandthEntryRaisesTooDeepAndEmpties) {
    for (node_t n = 1; n < 1000; n++) cycles::push(n);
    EXPECT_EQ(cycles::depth(), 999);
    try {
        cycles::push(1000);
        FAIL() << "no too-deep";
    } catch (const raised_error& e) {
        EXPECT_EQ(e.id, err::too_deep);
    }
    EXPECT_EQ(cycles::depth(), 0);
}

TEST_F(Cycles, PopAndFind) {
    cycles::pop();
    EXPECT_EQ(cycles::depth(), 0);
    cycles::push(5);
    cycles::push(6);
    EXPECT_TRUE(cycles::find_q(5));
    EXPECT_FALSE(cycles::find_q(7));
    cycles::pop_n(5);
    EXPECT_EQ(cycles::depth(), 0);
    EXPECT_FALSE(cycles::find_q(5));
}

TEST_F(Cycles, MarkersByTypeAndMode) {
    struct {
        uint8_t type;
        const char* mold;
    } cases[] = {{TYPE_block, "[...]"},
                 {TYPE_hash, "[...]"},
                 {TYPE_paren, "(...)"},
                 {TYPE_map, "#[...]"},
                 {TYPE_path, "..."},
                 {TYPE_set_path, "..."},
                 {TYPE_object, "make object! [...]"}};
    for (auto& c : cases) {
        EXPECT_STREQ(cycles::marker(c.type, true), c.mold) << int(c.type);
        EXPECT_STREQ(cycles::marker(c.type, false), "...") << int(c.type);
    }
}

TEST_F(Cycles, NodeOfObjectIsItsContext) {
    cell_t object{TYPE_object, 11, 0, 0}, block{TYPE_block, 0, 22, 0};
    EXPECT_EQ(cycles::node_of(&object), 11u);
    EXPECT_EQ(cycles::node_of(&block), 22u);
}

// An error that leaves a walk takes the walk's entries with it, so a later
// walk of the same series does not see a cycle.
TEST_F(Cycles, GuardPopsWhenAnErrorLeavesTheWalk) {
    auto walk = [](int depth, auto& self) -> void {
        cycles::guard g(static_cast<node_t>(100 + depth));
        if (depth == 3) fire(err::invalid_arg);
        if (depth < 3) self(depth + 1, self);
    };
    cycles::push(1);
    EXPECT_THROW(walk(0, walk), raised_error);
    EXPECT_EQ(cycles::depth(), 1);
    EXPECT_FALSE(cycles::find_q(100));
}

TEST_F(Cycles, GuardAfterTooDeepLeavesTheStackEmpty) {
    auto walk = [](node_t depth, auto& self) -> void {
        cycles::guard g(depth);
        if (depth < 2000) self(depth + 1, self);
    };
    EXPECT_THROW(walk(1, walk), raised_error);
    EXPECT_EQ(cycles::depth(), 0);
}

}  // namespace

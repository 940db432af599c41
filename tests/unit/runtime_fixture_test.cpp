#include "tests/unit/runtime_fixture.h"

#include "runtime/alloc.h"

using zuv::testing::Runtime;

// Start-up runs every initialiser in order; the runtime it leaves must hold
// its first frames and empty stacks.
TEST_F(Runtime, StartsWithFramesAndEmptyStacks) {
    EXPECT_NE(zuv::alloc::memory.s_head, nullptr);
    EXPECT_NE(zuv::alloc::memory.n_head, nullptr);
    EXPECT_EQ(zuv::stack::top_slot, zuv::stack::arguments);
}

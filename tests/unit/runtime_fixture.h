// The runtime as the process starts it, for unit tests: the one way tests
// start it (runtime::init, every step in order).
//
// Under ctest each unit test runs in a process of its own; the whole binary
// also runs as one process, where suites follow each other and a fixture
// must not find what an earlier suite left. So every fixture starts from a
// fresh memory manager: Runtime once per suite (its tests share the runtime,
// as scripts share one console, each starting with empty stacks),
// FreshRuntime once per test.
#pragma once

#include <gtest/gtest.h>

#include "console/launch.h"
#include "datatypes/block.h"
#include "datatypes/error.h"
#include "interpreter/interpreter.h"
#include "runtime/alloc.h"
#include "runtime/exits.h"
#include "runtime/fire.h"
#include "runtime/lowrt.h"
#include "runtime/stack.h"
#include "startup/runtime.h"
#include "startup/top_level.h"
#include "tests/unit/gc_anchor.h"

namespace zuv::testing {

// Ends the runtime an earlier test or suite started, then starts a new one.
inline void start_fresh_runtime() {
    test::drop_anchors();
    alloc::free_all();
    runtime::init();
    exits::pending = 0;
    stack::arguments = stack::top_slot = stack::bottom;
    stack::ctop = stack::cbottom;
}

// Gives back what the runtime holds outside its frames: the root block and
// the two stack blocks are fixed buffers, which it never releases itself.
inline void stop_runtime() {
    exits::pending = 0;
    lowrt::release(alloc::buffer(block::rs_abs_at(&block::root, block::ROOT_ARGUMENTS)->data2));
    lowrt::release(alloc::buffer(block::rs_abs_at(&block::root, block::ROOT_FRAMES)->data2));
    lowrt::release(alloc::buffer(block::root.data2));
    test::drop_anchors();
    alloc::free_all();
}

// The id of the error that body raises; a test fails when none is raised.
template <typename F> err raised(F body) {
    try {
        body();
    } catch (const raised_error& e) {
        return e.id;
    }
    ADD_FAILURE() << "no error raised";
    return err{};
}

// The same, for tests that go on with empty stacks after the error (which
// leaves its value and the frames it unwound to).
template <typename F> err raised_clearing_stacks(F body) {
    try {
        body();
    } catch (const raised_error& e) {
        stack::top_slot = stack::arguments = stack::bottom;
        stack::ctop = stack::cbottom;
        return e.id;
    }
    ADD_FAILURE() << "no error raised";
    return err{};
}

// For tests of one module below the datatypes (memory, stacks, hashing):
// the memory manager started again from nothing, with nothing left of the
// runtime an earlier test started.
inline void start_bare_memory() {
    test::drop_anchors();
    alloc::free_all();
    error::forget();
    alloc::new_node_frame(alloc::NODES_PER_FRAME);
    alloc::new_series_frame();
}

class Runtime : public ::testing::Test {
protected:
    static void SetUpTestSuite() { start_fresh_runtime(); }
    void SetUp() override {
        stack::arguments = stack::top_slot = stack::bottom;
        stack::ctop = stack::cbottom;
    }
};

class FreshRuntime : public ::testing::Test {
protected:
    void SetUp() override { start_fresh_runtime(); }
    void TearDown() override { stop_runtime(); }
};

// The runtime with the library loaded, as scripts see it: its routines,
// the boot code and the start-up caches of the natives and actions, made
// again for each suite on the fresh runtime.
class LibraryRuntime : public Runtime {
protected:
    static void SetUpTestSuite() {
        Runtime::SetUpTestSuite();
        console::define_routines();
        top_level::run();
        interpreter::prepare_caches();
    }
};

}  // namespace zuv::testing

namespace zuv::test {
using testing::raised;
using testing::raised_clearing_stacks;
}  // namespace zuv::test

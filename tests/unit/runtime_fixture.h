// The runtime as the process starts it, for unit tests.
//
// Each unit test runs in a process of its own under ctest, so the runtime is
// started once per process, exactly as `zuv` starts it. When the whole
// binary runs in one process the tests share that runtime, as scripts share
// one console; each test starts with empty stacks.
#pragma once

#include <gtest/gtest.h>

#include "runtime/fire.h"
#include "startup/runtime.h"
#include "runtime/stack.h"

namespace zuv::testing {

inline void start_runtime_once() {
    static const bool started = [] {
        runtime::init();
        return true;
    }();
    (void)started;
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

class Runtime : public ::testing::Test {
protected:
    static void SetUpTestSuite() { start_runtime_once(); }
    void SetUp() override {
        stack::arguments = stack::top_slot = stack::bottom;
        stack::ctop = stack::cbottom;
    }
};

}  // namespace zuv::testing

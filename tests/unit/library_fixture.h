// The runtime with the library started, for tests of C++ that works on
// library values (faces, actors): code runs from text, its values are kept
// in global words.
#pragma once

#include <cstring>

#include <gtest/gtest.h>

#include "console/launch.h"
#include "interpreter/interpreter.h"
#include "lexer/lexer.h"
#include "runtime/stack.h"
#include "startup/top_level.h"
#include "tests/unit/runtime_fixture.h"

namespace zuv::testing {

class Library : public Runtime {
protected:
    static void SetUpTestSuite() {
        Runtime::SetUpTestSuite();
        console::define_routines();
        top_level::run();
        interpreter::prepare_caches();
    }

    void SetUp() override {
        Runtime::SetUp();
        native_frame();
    }

    // Empty stacks but for the frame of a native, as C++ called from Zuv
    // finds them.
    static void native_frame() {
        stack::arguments = stack::top_slot = stack::bottom;
        stack::ctop = stack::cbottom;
        stack::mark_native(nullptr);
    }

    // Runs text; the copy of its last value is the answer.
    static cell_t eval(const char* text) {
        cell_t* code = stack::push_slot();
        code->header = TYPE_unset;
        lexer::scan(code, reinterpret_cast<const uint8_t*>(text),
                    static_cast<int32_t>(std::strlen(text)), {}, nullptr, nullptr, nullptr,
                    nullptr);
        interpreter::eval_here(code);
        cell_t result = *stack::top();
        native_frame();
        return result;
    }
};

}  // namespace zuv::testing

// `interpreted?` answers whether user code pushed a frame on the call stack:
// calls that library code makes count as compiled calls.
#include <cstring>

#include <gtest/gtest.h>

#include "console/launch.h"
#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "interpreter/interpreter.h"
#include "lexer/lexer.h"
#include "runtime/library_code.h"
#include "runtime/stack.h"
#include "tests/unit/runtime_fixture.h"

namespace zuv {
namespace {

class InterpretedFrames : public testing::LibraryRuntime {
protected:
    // Runs text as a block in place, as a branch runs: no eval frame of its
    // own, so only the frames the code pushes count.
    static bool eval(const char* text, bool library) {
        cell_t* code = stack::push_slot();
        code->header = TYPE_unset;
        lexer::scan(code, reinterpret_cast<const uint8_t*>(text),
                    static_cast<int32_t>(std::strlen(text)), {}, nullptr, nullptr, nullptr,
                    nullptr);
        if (library) library_code::mark_library(code);
        interpreter::eval_here(code);
        cell_t* result = stack::top();
        EXPECT_EQ(type_of(result), TYPE_logic) << text;
        return logic::get(result);
    }
};

TEST_F(InterpretedFrames, UserCodeIsInterpreted) {
    EXPECT_TRUE(eval("system/state/interpreted?", false));
    EXPECT_TRUE(eval("either true [system/state/interpreted?] [none]", false));
}

TEST_F(InterpretedFrames, LibraryCodeAloneIsCompiled) {
    EXPECT_FALSE(eval("system/state/interpreted?", true));
    EXPECT_FALSE(eval("either true [system/state/interpreted?] [none]", true));
    // `do` runs the interpreter, whoever asks for it.
    EXPECT_TRUE(eval("do [system/state/interpreted?]", true));
}

}  // namespace
}  // namespace zuv

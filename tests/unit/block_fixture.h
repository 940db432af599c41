// Shared set-up of the series, block, path and typeset tests: a fresh memory
// manager, the registered datatypes and an argument stack, with helpers that
// build blocks of integers and read them back as text.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "molded.h"
#include "runtime/alloc.h"
#include "runtime/collector.h"
#include "runtime/fire.h"
#include "runtime/stack.h"
#include "tests/unit/runtime_fixture.h"

namespace zuv::test {

class BlockTest : public testing::FreshRuntime {
public:
    void SetUp() override {
        FreshRuntime::SetUp();
        // Its tests keep values in C++ variables across allocations, as they
        // did when this fixture started no collector: the collector stays off.
        collector::stress_period = 0;
        collector::active = false;
        install_integer_text();
    }
    void TearDown() override {
        series::owner_signal = saved_signal;
        FreshRuntime::TearDown();
    }

    // Integers are the simplest values to mold; until the integer module is
    // registered the fixture gives them a decimal mold, form and compare.
    static void install_integer_text() {
        action_entry_t* row = &type_action_table[TYPE_integer << 8];
        if (row[ACT_mold - 1] == nullptr)
            row[ACT_mold - 1] = own<ACT_mold>([](cell_t* v, cell_t* buf, mold_options_t how) {
                std::string t = std::to_string(static_cast<int32_t>(v->data2));
                string::concatenate_literal(buf, t.c_str());
                return how.limit - static_cast<int32_t>(t.size());
            });
        if (row[ACT_form - 1] == nullptr)
            row[ACT_form - 1] = own<ACT_form>([](cell_t* v, cell_t* buf, bool, int32_t limit) {
                std::string t = std::to_string(static_cast<int32_t>(v->data2));
                string::concatenate_literal(buf, t.c_str());
                return limit - static_cast<int32_t>(t.size());
            });
        if (row[ACT_compare - 1] == nullptr)
            row[ACT_compare - 1] = own<ACT_compare>([](cell_t* a, cell_t* b, int32_t) {
                if (type_of(b) != TYPE_integer) return -2;
                int32_t x = static_cast<int32_t>(a->data2), y = static_cast<int32_t>(b->data2);
                return x < y ? -1 : x > y ? 1 : 0;
            });
    }

    static cell_t integer(int32_t v) {
        return cell_t{TYPE_integer, 0, static_cast<uint32_t>(v), 0};
    }

    // A block! of the integers, head at index head.
    static cell_t ints(std::initializer_list<int32_t> values, int32_t head = 0) {
        cell_t b;
        block::make_at(&b, static_cast<int32_t>(values.size()));
        for (int32_t v : values) {
            cell_t c = integer(v);
            block::rs_append(&b, &c);
        }
        block::set_head_index(&b, head);
        return b;
    }

    // The molded text of a value.
    static std::string molded(cell_t* v, bool only = false, bool flat = false, int32_t limit = -1) {
        return zuv::test::molded(v, {.only = only, .flat = flat, .limit = limit});
    }
    static std::string formed(cell_t* v) {
        cell_t buf;
        string::make_at(&buf, 64);
        actions::form(v, &buf, false, -1);
        return narrow(&buf);
    }
    static std::string narrow(cell_t* c) {
        std::string out;
        for (int32_t i = 0; i < string::rs_abs_length_q(c); i++)
            out.push_back(static_cast<char>(string::rs_abs_at(c, i)));
        return out;
    }
    // The cells from the head as text ("1 2 3"), without brackets.
    static std::string cells(cell_t* b) { return molded(b, true); }

    // Runs a frame action with the series (and an argument) as the call's
    // arguments; returns the result slot.
    template <typename F>
    static cell_t call_frame(const cell_t& series, const cell_t* arg, F action) {
        stack::clear_args();
        stack::push(&series);
        if (arg) stack::push(arg);
        action();
        return *stack::arguments;
    }
    // Puts the series in the result slot, as the dispatcher would, and
    // returns the slot for typed entries.
    static cell_t* slot(const cell_t& series) {
        stack::clear_args();
        return stack::push(&series);
    }

private:
    series::owner_signal_t saved_signal = series::owner_signal;
};

}  // namespace zuv::test

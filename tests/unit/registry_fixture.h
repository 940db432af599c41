// Shared set-up of the registry and word tests: a fresh memory manager, the
// datatype registrations, the root block, the stacks, the global context and
// the symbol index, in start-up order.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "runtime/alloc.h"
#include "runtime/case_folding.h"
#include "runtime/collector.h"
#include "runtime/fire.h"
#include "runtime/lowrt.h"
#include "runtime/stack.h"
#include "tests/unit/runtime_fixture.h"

namespace zuv::test {

class RegistryTest : public testing::FreshRuntime {
public:
    void SetUp() override {
        FreshRuntime::SetUp();
        // Its tests keep values in C++ variables across allocations, as they
        // did when this fixture started no collector: the collector stays off.
        collector::stress_period = 0;
        collector::active = false;
    }

    static std::string text_of(cell_t* s) {
        std::string out;
        series_buffer_t* b = string::buffer_of(s);
        uint32_t unit = b->unit();
        for (const uint8_t* p = string::rs_head(s); p < b->tail_ptr(); p += unit) {
            uint32_t c = string::get_char(p, unit);
            out.push_back(c < 128 ? static_cast<char>(c) : '?');
        }
        return out;
    }
    static cell_t new_string() {
        cell_t s;
        string::make_at(&s, 16);
        return s;
    }
};

}  // namespace zuv::test

// Shared set-up of the text tests: a fresh memory manager and argument
// stack, and helpers that build strings of a chosen unit and read them back.
#pragma once

#include <gtest/gtest.h>

#include "runtime/collector.h"
#include "tests/unit/runtime_fixture.h"

#include <string>

#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "runtime/alloc.h"
#include "runtime/fire.h"
#include "runtime/stack.h"

namespace zuv::test {

class TextTest : public testing::FreshRuntime {
public:
    void SetUp() override {
        FreshRuntime::SetUp();
        // Its tests keep values in C++ variables across allocations, as they
        // did when this fixture started no collector: the collector stays off.
        collector::stress_period = 0;
        collector::active = false;
    }

protected:
    // A string! holding the code points, in a buffer of the given unit.
    static cell_t text(const std::u32string& chars, int32_t unit = 1) {
        cell_t c;
        string::make_at_unit(&c, static_cast<int64_t>(chars.size()), unit);
        series_buffer_t* s = string::buffer_of(&c);
        for (char32_t ch : chars) {
            string::put_char(alloc::alloc_tail_unit(s, unit), static_cast<uint32_t>(unit), ch);
            s = string::buffer_of(&c);
        }
        return c;
    }
    static cell_t text(const char* ascii) {
        std::u32string u;
        for (const char* p = ascii; *p; p++) u.push_back(static_cast<unsigned char>(*p));
        return text(u);
    }
    // The code points from the head to the tail.
    static std::u32string chars(cell_t* c) {
        std::u32string out;
        series_buffer_t* s = string::buffer_of(c);
        uint32_t unit = s->unit();
        for (const uint8_t* p = string::rs_head(c); p < s->tail_ptr(); p += unit)
            out.push_back(static_cast<char32_t>(string::get_char(p, unit)));
        return out;
    }
    // The same, as ASCII/Latin-1 text for readable expectations.
    static std::string narrow(cell_t* c) {
        std::string out;
        for (char32_t ch : chars(c)) out.push_back(ch < 256 ? static_cast<char>(ch) : '?');
        return out;
    }
    static uint32_t unit_of(const cell_t* c) { return string::buffer_of(c)->unit(); }
};

}  // namespace zuv::test

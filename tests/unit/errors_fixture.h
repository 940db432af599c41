// Shared set-up of the error, exit and ownership tests: the whole start-up
// sequence on a fresh memory manager, so that errors are real values.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "gc_anchor.h"
#include "runtime/alloc.h"
#include "runtime/collector.h"
#include "runtime/exits.h"
#include "runtime/fire.h"
#include "runtime/stack.h"
#include "runtime/words.h"
#include "startup/runtime.h"
#include "tests/unit/runtime_fixture.h"

namespace zuv::test {

class ErrorsTest : public testing::FreshRuntime {
public:
    static std::string text_of(const cell_t* s) {
        std::string out;
        series_buffer_t* b = string::buffer_of(s);
        uint32_t unit = b->unit();
        for (int32_t i = 0; i < b->used() / static_cast<int32_t>(unit); i++) {
            uint32_t c = string::get_char(b->head_ptr() + static_cast<size_t>(i) * unit, unit);
            out.push_back(c < 128 ? static_cast<char>(c) : '?');
        }
        return out;
    }
    static cell_t integer(int32_t v) {
        cell_t c{};
        cell::begin(&c);
        integer::make_at(&c, v);
        return c;
    }
    static cell_t word(const char* text, uint8_t type = TYPE_word) {
        cell_t w;
        word::make_raw(&w, type, 0, symbol::make(text), -1);
        return w;
    }
    static cell_t text(const char* t) {
        cell_t s;
        cell::begin(&s);
        string::make_at(&s, 16);
        anchor(s);
        string::concatenate_literal(&s, t);
        return s;
    }
    static std::string word_text(const cell_t* w) { return symbol::get_utf8(word::symbol_of(w)); }

    // The text form of an error.
    static std::string formed(const cell_t* e) {
        cell_t out;
        cell::begin(&out);
        string::make_at(&out, 64);
        cell_t copy = *e;
        collector::root_cell keep_out(&out), keep_copy(&copy);
        error::form(&copy, &out, false, 0);
        return text_of(&out);
    }

    // The error that body raises: its id, and its value (the last pushed
    // cell) in *value. A test fails when nothing is raised.
    template <typename F> static err raised(F body, cell_t* value = nullptr) {
        try {
            body();
        } catch (const raised_error& e) {
            if (value) *value = *stack::top();
            return e.id;
        }
        ADD_FAILURE() << "nothing was raised";
        return err::not_done;
    }
};

}  // namespace zuv::test

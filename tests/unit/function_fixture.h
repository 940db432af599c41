// Shared set-up of the function, native and object tests: the whole start-up
// sequence, a small reader that turns source text into blocks (words are
// bound in the global context, as loaded code is), and mold/form helpers.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "gc_anchor.h"
#include "molded.h"
#include "runtime/alloc.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/exits.h"
#include "runtime/fire.h"
#include "runtime/stack.h"
#include "startup/runtime.h"
#include "tests/unit/runtime_fixture.h"

namespace zuv::test {

class FunctionTest : public testing::FreshRuntime {
public:
    void SetUp() override {
        FreshRuntime::SetUp();
        // Type blocks name types through the words the library defines.
        const struct {
            const char* name;
            int32_t id;
        } types[] = {{"integer!", TYPE_integer}, {"string!", TYPE_string}, {"block!", TYPE_block}};
        for (const auto& t : types) {
            cell_t w = word::load(t.name);
            cell_t d;
            datatype::make_at(&d, t.id);
            _context::set(&w, &d);
        }
    }
    void TearDown() override {
        cycles::reset();
        FreshRuntime::TearDown();
    }

    // Reads "[a b: 'c :d /e "text" 12 [nested] (paren)]" into a block!.
    static cell_t load(const char* text) {
        const char* p = text;
        skip_blanks(p);
        EXPECT_EQ(*p, '[') << text;
        p++;
        cell_t b = read_block(p, ']');
        return b;
    }

    static std::string text_of(const cell_t* s) {
        std::string out;
        series_buffer_t* b = string::buffer_of(s);
        uint32_t unit = b->unit();
        for (int32_t i = static_cast<int32_t>(s->data1); i < b->used() / static_cast<int32_t>(unit);
             i++) {
            uint32_t c = string::get_char(b->head_ptr() + static_cast<size_t>(i) * unit, unit);
            out.push_back(c < 128 ? static_cast<char>(c) : '?');
        }
        return out;
    }
    static std::string molded(const cell_t* v, bool only = false, bool all = false,
                              bool flat = false) {
        return zuv::test::molded(v, {.only = only, .all = all, .flat = flat});
    }
    static std::string formed(const cell_t* v) {
        cell_t out, copy = *v;
        string::make_at(&out, 64);
        collector::root_cell keep_out(&out), keep_copy(&copy);
        actions::form(&copy, &out, false, 0x7FFFFFFF);
        return text_of(&out);
    }
    static cell_t integer(int32_t v) {
        cell_t c{};
        cell::begin(&c);
        integer::make_at(&c, v);
        return c;
    }
    static cell_t word(const char* text, uint8_t type = TYPE_word) {
        cell_t w = word::load(text);
        cell::set_type(&w, type);
        return w;
    }
    static int32_t sym(const char* text) { return symbol::make(text); }
    static std::string word_text(const cell_t* w) { return symbol::get_utf8(word::symbol_of(w)); }

    // The id of the error that body raises; a test fails when none is.

private:
    static void skip_blanks(const char*& p) {
        while (*p == ' ' || *p == '\n') p++;
    }

    static cell_t read_block(const char*& p, char close) {
        cell_t b;
        block::make_at(&b, 8);
        anchor(b);
        if (close == ')') cell::set_type(&b, TYPE_paren);
        for (;;) {
            skip_blanks(p);
            if (*p == close) {
                p++;
                return b;
            }
            if (*p == 0) {
                ADD_FAILURE() << "unclosed block";
                return b;
            }
            cell_t v;
            if (*p == '[' || *p == '(') {
                char c = *p++;
                v = read_block(p, c == '[' ? ']' : ')');
            } else if (*p == '"') {
                const char* start = ++p;
                while (*p && *p != '"') p++;
                std::string t(start, p);
                if (*p) p++;
                string::make_at(&v, 16);
                anchor(v);
                string::concatenate_literal(&v, t.c_str());
            } else {
                const char* start = p;
                while (*p && *p != ' ' && *p != '\n' && *p != ']' && *p != ')' && *p != '[') p++;
                std::string t(start, p);
                if (std::isdigit(static_cast<unsigned char>(t[0])) ||
                    (t[0] == '-' && t.size() > 1)) {
                    v = integer(std::stoi(t));
                } else if (t[0] == '\'') {
                    v = word(t.c_str() + 1, TYPE_lit_word);
                } else if (t[0] == ':') {
                    v = word(t.c_str() + 1, TYPE_get_word);
                } else if (t[0] == '/') {
                    v = word(t.c_str() + 1, TYPE_refinement);
                } else if (t.back() == ':') {
                    v = word(t.substr(0, t.size() - 1).c_str(), TYPE_set_word);
                } else {
                    v = word(t.c_str());
                }
            }
            block::rs_append(&b, &v);
        }
    }
};

}  // namespace zuv::test

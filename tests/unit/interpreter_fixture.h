// Shared set-up of the interpreter tests: the whole start-up sequence, plus a
// small reader that turns whitespace-separated tokens into a block (there is
// no lexer to lean on here), and helpers that make functions, natives with
// C++ entries, actions and operators and bind them to global words.
//
// Tokens: [ ] ( ) nest; -12 integer; "text" string (no blanks); word, word:,
// :word, 'word, /word, #word; a/b/c path, a/b: set-path, :a/b get-path,
// 'a/b lit-path (path elements may be integers).
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <string>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/native.h"
#include "datatypes/op.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "gc_anchor.h"
#include "interpreter/interpreter.h"
#include "runtime/alloc.h"
#include "runtime/collector.h"
#include "runtime/exits.h"
#include "runtime/fire.h"
#include "runtime/lowrt.h"
#include "runtime/stack.h"
#include "startup/runtime.h"
#include "tests/unit/runtime_fixture.h"

namespace zuv::test {

class InterpreterTest : public testing::FreshRuntime {
public:
    static inline native_entry_t natives[native::TABLE_SLOTS] = {};

    void SetUp() override {
        FreshRuntime::SetUp();
        for (auto& n : natives) n = nullptr;
        interpreter::native_table = natives;
        // Type words read by argument type blocks.
        for (int32_t id = 1; id <= datatype::top_id; id++) {
            if (datatype::name_table[id].name == nullptr) continue;
            cell_t dt;
            datatype::make_at(&dt, id);
            _context::set(&datatype::name_table[id].word, &dt);
        }
    }
    void TearDown() override {
        interpreter::set_tracing(false);
        interpreter::trace_hook = nullptr;
        FreshRuntime::TearDown();
    }

    // --- reading -----------------------------------------------------------
    static cell_t global_word(const std::string& name, uint8_t type = TYPE_word) {
        cell_t w;
        _context::add_global(symbol::make_alt(name.c_str(), static_cast<int32_t>(name.size())),
                             false, false, &w);
        cell::set_type(&w, type);
        return w;
    }

    static std::vector<std::string> tokens(const std::string& src) {
        std::vector<std::string> out;
        std::string t;
        auto flush = [&] {
            if (!t.empty()) out.push_back(t);
            t.clear();
        };
        for (char ch : src) {
            if (std::isspace(static_cast<unsigned char>(ch))) {
                flush();
            } else if (ch == '[' || ch == ']' || ch == '(' || ch == ')') {
                flush();
                out.push_back(std::string(1, ch));
            } else {
                t.push_back(ch);
            }
        }
        flush();
        return out;
    }

    static bool integer_q(const std::string& t) {
        size_t i = (t[0] == '-' && t.size() > 1) ? 1 : 0;
        for (; i < t.size(); i++)
            if (!std::isdigit(static_cast<unsigned char>(t[i]))) return false;
        return true;
    }

    static cell_t scalar(const std::string& t) {
        cell_t c{TYPE_unset, 0, 0, 0};
        if (integer_q(t)) {
            integer::make_at(&c, std::stoi(t));
        } else if (t[0] == '"') {
            string::make_at(&c, 16);
            anchor(c);
            string::concatenate_literal(&c, t.substr(1, t.size() - 2).c_str());
        } else if (t.find('/') != std::string::npos && t.size() > 1 && t[0] != '/') {
            uint8_t type = TYPE_path;
            std::string body = t;
            if (body[0] == ':') type = TYPE_get_path, body = body.substr(1);
            else if (body[0] == '\'') type = TYPE_lit_path, body = body.substr(1);
            else if (body.back() == ':') type = TYPE_set_path, body.pop_back();
            block::make_at(&c, 4);
            anchor(c);
            size_t start = 0;
            bool first = true;
            while (start <= body.size()) {
                size_t slash = body.find('/', start);
                std::string part = body.substr(start, slash == std::string::npos ? std::string::npos
                                                                                 : slash - start);
                cell_t e = integer_q(part) ? scalar(part)
                           : first         ? global_word(part)
                                           : unbound(part.c_str());
                block::rs_append(&c, &e);
                first = false;
                if (slash == std::string::npos) break;
                start = slash + 1;
            }
            cell::set_type(&c, type);
        } else if (t[0] == '\'') {
            c = global_word(t.substr(1), TYPE_lit_word);
        } else if (t[0] == ':') {
            c = global_word(t.substr(1), TYPE_get_word);
        } else if (t[0] == '/' && t.size() > 1) {
            c = global_word(t.substr(1), TYPE_refinement);
        } else if (t[0] == '#') {
            c = global_word(t.substr(1), TYPE_issue);
        } else if (t.back() == ':' && t.size() > 1) {
            c = global_word(t.substr(0, t.size() - 1), TYPE_set_word);
        } else {
            c = global_word(t);
        }
        return c;
    }

    static cell_t unbound(const char* text) {
        cell_t w;
        word::make_raw(&w, TYPE_word, 0, symbol::make(text), -1);
        return w;
    }

    static void read_into(cell_t* b, const std::vector<std::string>& toks, size_t& i) {
        while (i < toks.size()) {
            const std::string& t = toks[i++];
            if (t == "]" || t == ")") return;
            if (t == "[" || t == "(") {
                cell_t inner;
                block::make_at(&inner, 4);
                anchor(inner);
                read_into(&inner, toks, i);
                if (t == "(") cell::set_type(&inner, TYPE_paren);
                block::rs_append(b, &inner);
            } else {
                cell_t v = scalar(t);
                block::rs_append(b, &v);
            }
        }
    }

    static cell_t load(const std::string& src) {
        cell_t b;
        block::make_at(&b, 8);
        anchor(b);
        std::vector<std::string> toks = tokens(src);
        size_t i = 0;
        read_into(&b, toks, i);
        return b;
    }

    // --- running -------------------------------------------------------------
    // Evaluates the source; the stack is back where it was afterwards.
    static cell_t run(const std::string& src) {
        cell_t b = load(src);
        cell_t* saved = stack::top_slot;
        interpreter::eval(&b, false);
        cell_t r = anchor(*stack::top());
        stack::top_slot = saved;
        return r;
    }
    static int32_t run_int(const std::string& src) {
        cell_t r = run(src);
        EXPECT_EQ(type_of(&r), TYPE_integer) << src;
        return integer::get(&r);
    }

    // The text form of the error that evaluating src raises ("" when none).
    static std::string error_of(const std::string& src) {
        try {
            run(src);
        } catch (const raised_error&) {
            cell_t e = anchor(*stack::top());
            stack::top_slot = stack::arguments = stack::bottom;
            stack::ctop = stack::cbottom;
            return formed(&e);
        }
        return "";
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
    static std::string formed(const cell_t* e) {
        cell_t out;
        string::make_at(&out, 64);
        cell_t copy = *e;
        collector::root_cell keep_out(&out), keep_copy(&copy);
        actions::form(&copy, &out, false, 0x7FFFFFFF);
        return text_of(&out);
    }
    // The first line of an error's text form.
    static std::string message_of(const std::string& src) {
        std::string t = error_of(src);
        return t.substr(0, t.find('\n'));
    }

    // --- making callables ------------------------------------------------------
    // Runs f inside a scratch native frame and returns the cell it answers.
    static cell_t in_frame(const std::function<cell_t*()>& f) {
        stack::mark_native(nullptr);
        stack::push_slot()->header = TYPE_unset;
        cell_t out = anchor(*f());
        stack::revert();
        return out;
    }
    static void set(const std::string& name, const cell_t& value) {
        cell_t w = global_word(name);
        _context::set(&w, &value);
    }
    static cell_t get(const std::string& name) {
        cell_t w = global_word(name);
        return *_context::get(&w);
    }

    static cell_t make_function(const std::string& spec_src, const std::string& body_src,
                                uint32_t flags = 0) {
        cell_t spec = load(spec_src);
        cell_t body = load(body_src);
        return in_frame([&] {
            function::validate_spec(&spec);
            function::push(&spec, &body, 0, 0, 0, flags);
            return stack::top();
        });
    }
    static void def(const std::string& name, const std::string& spec, const std::string& body) {
        set(name, make_function(spec, body));
    }
    // A native! or action! with the given spec and number.
    static cell_t make_numbered(const std::string& spec_src, int32_t number, uint8_t type) {
        cell_t made = load("[" + spec_src + "] " + std::to_string(number));
        return in_frame([&] {
            cell_t proto{TYPE_unset, 0, 0, 0};
            datatype::make_at(&proto, type);
            return native::make_numbered(&proto, &made, type);
        });
    }
    static void def_native(const std::string& name, const std::string& spec, int32_t number,
                           native_entry_t entry) {
        natives[number - 1] = entry;
        set(name, make_numbered(spec, number, TYPE_native));
    }
    static void def_action(const std::string& name, const std::string& spec, int32_t number) {
        set(name, make_numbered(spec, number, TYPE_action));
    }
    static void def_op(const std::string& name, const std::string& wrapped) {
        cell_t v = get(wrapped);
        set(name, in_frame([&] { return op::make(nullptr, &v, TYPE_op); }));
    }

    // The operators and natives most tests use: + - * over the actions,
    // = < > over comparison natives, and either.
    static void standard_words() {
        def_action("add", "value1 value2", ACT_add);
        def_action("subtract", "value1 value2", ACT_subtract);
        def_action("multiply", "value1 value2", ACT_multiply);
        def_op("+", "add");
        def_op("-", "subtract");
        def_op("*", "multiply");
        def_native("equal?", "value1 value2", 25,
                   [](int32_t, const int32_t*) { actions::compare_args(actions::cmp::EQUAL); });
        def_native("lesser?", "value1 value2", 28,
                   [](int32_t, const int32_t*) { actions::compare_args(actions::cmp::LESSER); });
        def_native("greater?", "value1 value2", 29,
                   [](int32_t, const int32_t*) { actions::compare_args(actions::cmp::GREATER); });
        def_op("=", "equal?");
        def_op("<", "lesser?");
        def_op(">", "greater?");
        def_native("either", "cond true-blk [block!] false-blk [block!]", 3,
                   [](int32_t, const int32_t*) {
                       cell_t* a = stack::arguments;
                       cell_t branch = logic::truthy(a) ? a[1] : a[2];
                       interpreter::eval(&branch, true);
                   });
    }
};

}  // namespace zuv::test

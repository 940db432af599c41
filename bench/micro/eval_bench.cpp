// The evaluator's hot paths on code built in C++ (no lexer needed): a
// recursive function (fib), a loop of integer arithmetic, and calls of a
// three-argument function. `either` and `while` are stand-ins with C++
// entries, as the natives would have. Figures per item; compare runs of
// the same build only.
#include <benchmark/benchmark.h>

#include <cctype>
#include <string>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/native.h"
#include "datatypes/op.h"
#include "datatypes/symbol.h"
#include "interpreter/interpreter.h"
#include "runtime/alloc.h"
#include "runtime/exits.h"
#include "runtime/stack.h"
#include "startup/runtime.h"

using namespace zuv;

namespace {

native_entry_t natives[native::TABLE_SLOTS];

cell_t word_of(const std::string& name, uint8_t type = TYPE_word) {
    cell_t w;
    _context::add_global(symbol::make_alt(name.c_str(), static_cast<int32_t>(name.size())), false,
                         false, &w);
    cell::set_type(&w, type);
    return w;
}

// Whitespace-separated words, set-words, integers, [ ] blocks and ( ) parens.
void read_into(cell_t* b, const std::vector<std::string>& toks, size_t& i) {
    while (i < toks.size()) {
        const std::string& t = toks[i++];
        if (t == "]" || t == ")") return;
        cell_t v{TYPE_unset, 0, 0, 0};
        if (t == "[" || t == "(") {
            block::make_at(&v, 4);
            read_into(&v, toks, i);
            if (t == "(") cell::set_type(&v, TYPE_paren);
        } else if (std::isdigit(static_cast<unsigned char>(t[0]))) {
            integer::make_at(&v, std::stoi(t));
        } else if (t.size() > 1 && t.back() == ':') {
            v = word_of(t.substr(0, t.size() - 1), TYPE_set_word);
        } else {
            v = word_of(t);
        }
        block::rs_append(b, &v);
    }
}

cell_t load(const std::string& src) {
    std::vector<std::string> toks;
    std::string t;
    for (char ch : src + " ") {
        if (ch == ' ' || ch == '[' || ch == ']' || ch == '(' || ch == ')') {
            if (!t.empty()) toks.push_back(t);
            t.clear();
            if (ch != ' ') toks.push_back(std::string(1, ch));
        } else {
            t.push_back(ch);
        }
    }
    cell_t b;
    block::make_at(&b, 8);
    size_t i = 0;
    read_into(&b, toks, i);
    return b;
}

cell_t in_frame(cell_t* (*f)(void*), void* ctx) {
    stack::mark_native(nullptr);
    stack::push_slot()->header = TYPE_unset;
    cell_t out = *f(ctx);
    stack::revert();
    return out;
}

void set(const std::string& name, cell_t value) {
    cell_t w = word_of(name);
    _context::set(&w, &value);
}

struct numbered_t {
    cell_t spec;
    uint8_t type;
};
void def_numbered(const std::string& name, const std::string& spec, int32_t number, uint8_t type) {
    numbered_t n{load("[" + spec + "] " + std::to_string(number)), type};
    set(name, in_frame(
                  [](void* p) {
                      auto* n = static_cast<numbered_t*>(p);
                      cell_t proto;
                      datatype::make_at(&proto, n->type);
                      return native::make_numbered(&proto, &n->spec, n->type);
                  },
                  &n));
}
void def_op(const std::string& name, const std::string& wrapped) {
    cell_t w = word_of(wrapped);
    cell_t v = *_context::get(&w);
    set(name,
        in_frame([](void* p) { return op::make(nullptr, static_cast<cell_t*>(p), TYPE_op); }, &v));
}
void def(const std::string& name, const std::string& spec_src, const std::string& body_src) {
    cell_t sb[2] = {load(spec_src), load(body_src)};
    set(name, in_frame(
                  [](void* p) {
                      auto* sb = static_cast<cell_t*>(p);
                      function::push(&sb[0], &sb[1], 0, 0, 0, 0);
                      return stack::top();
                  },
                  sb));
}

void setup() {
    alloc::free_all();
    runtime::init();
    interpreter::native_table = natives;
    def_numbered("add", "value1 value2", ACT_add, TYPE_action);
    def_numbered("subtract", "value1 value2", ACT_subtract, TYPE_action);
    def_numbered("multiply", "value1 value2", ACT_multiply, TYPE_action);
    def_op("+", "add");
    def_op("-", "subtract");
    def_op("*", "multiply");
    natives[27] = [](int32_t, const int32_t*) { actions::compare_args(actions::cmp::LESSER); };
    def_numbered("lesser?", "value1 value2", 28, TYPE_native);
    def_op("<", "lesser?");
    natives[2] = [](int32_t, const int32_t*) {
        cell_t* a = stack::arguments;
        cell_t branch = logic::truthy(a) ? a[1] : a[2];
        interpreter::eval(&branch, true);
    };
    def_numbered("either", "cond true-blk false-blk", 3, TYPE_native);
    natives[5] = [](int32_t, const int32_t*) {
        cell_t cond = stack::arguments[0], body = stack::arguments[1];
        for (;;) {
            interpreter::eval(&cond, false);
            if (exits::pending) return;
            bool go = logic::truthy(stack::top());
            stack::pop(1);
            if (!go) break;
            interpreter::eval(&body, false);
            if (exits::pending) return;
            stack::pop(1);
        }
        stack::set_last_keep(&unset_value);
    };
    def_numbered("while", "cond body", 6, TYPE_native);
}

void run(const cell_t& code) {
    cell_t* saved = stack::top_slot;
    interpreter::eval(&code, false);
    benchmark::DoNotOptimize(stack::top()->data2);
    stack::top_slot = saved;
}

void BM_fib(benchmark::State& state) {
    setup();
    def("fib", "n", "either n < 2 [ n ] [ ( fib n - 1 ) + ( fib n - 2 ) ]");
    cell_t code = load("fib " + std::to_string(state.range(0)));
    for (auto _ : state) run(code);
    alloc::free_all();
}

void BM_while_arithmetic(benchmark::State& state) {
    setup();
    cell_t code = load("i: 0 s: 0 while [ i < " + std::to_string(state.range(0)) +
                       " ] [ j: i * 2 + 1 s: j - s i: i + 1 ]");
    for (auto _ : state) run(code);
    state.SetItemsProcessed(state.iterations() * state.range(0));
    alloc::free_all();
}

void BM_calls_3_args(benchmark::State& state) {
    setup();
    def("f3", "a b c", "a + b + c");
    cell_t code =
        load("i: 0 while [ i < " + std::to_string(state.range(0)) + " ] [ f3 i 1 2 i: i + 1 ]");
    for (auto _ : state) run(code);
    state.SetItemsProcessed(state.iterations() * state.range(0));
    alloc::free_all();
}

}  // namespace

BENCHMARK(BM_while_arithmetic)->Arg(100000);
BENCHMARK(BM_calls_3_args)->Arg(100000);
BENCHMARK(BM_fib)->Arg(20);

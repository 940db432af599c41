// Reading a bound word's value against a plain array read. A bound word
// carries its context node and slot index, so the read is a few dependent
// loads (node slot, context cell, values buffer) with no hashing and no
// search, in the global context and in a function context whose values live
// on the argument stack alike. The three figures should stay within 3x.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "runtime/alloc.h"
#include "runtime/case_folding.h"
#include "runtime/stack.h"

using namespace zuv;

namespace {

constexpr int WORDS = 256;

void fresh_runtime() {
    alloc::free_all();
    datatype::init_tables();
    datatype::register_all();
    alloc::new_node_frame(alloc::NODES_PER_FRAME);
    alloc::new_series_frame();
    block::init_root();
    _context::init_global();
    case_folding::init();
    symbol::init_table();
    stack::init();
}

// WORDS word cells, read in a scattered order as code reads its variables.
std::vector<cell_t> global_words() {
    std::vector<cell_t> words;
    for (int i = 0; i < WORDS; i++) {
        std::string name = "var" + std::to_string(i);
        cell_t w = word::load(name.c_str());
        cell_t v{TYPE_integer, 0, static_cast<uint32_t>(i), 0};
        _context::set(&w, &v);
        words.push_back(w);
    }
    return words;
}

void BM_plain_array_read(benchmark::State& state) {
    std::vector<cell_t> values(WORDS);
    std::vector<int32_t> index(WORDS);
    for (int i = 0; i < WORDS; i++) {
        values[i] = cell_t{TYPE_integer, 0, static_cast<uint32_t>(i), 0};
        index[i] = (i * 97) % WORDS;
    }
    for (auto _ : state) {
        uint32_t sum = 0;
        for (int i = 0; i < WORDS; i++) sum += values[index[i]].data2;
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * WORDS);
}

void BM_global_word_read(benchmark::State& state) {
    fresh_runtime();
    std::vector<cell_t> words = global_words();
    std::vector<cell_t> order(WORDS);
    for (int i = 0; i < WORDS; i++) order[i] = words[(i * 97) % WORDS];
    for (auto _ : state) {
        uint32_t sum = 0;
        for (const cell_t& w : order) sum += _context::get(&w)->data2;
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * WORDS);
    alloc::free_all();
}

void BM_function_word_read(benchmark::State& state) {
    fresh_runtime();
    node_t ctx = _context::create(WORDS, true, false, nullptr, _context::KIND_FUNCTION);
    std::vector<cell_t> order(WORDS);
    stack::push(&unset_value);  // the call's arguments start above the bottom cell
    cell_t* args = stack::top_slot;
    for (int i = 0; i < WORDS; i++) {
        std::string name = "arg" + std::to_string(i);
        cell_t w = word::load(name.c_str());
        _context::add(ctx, &w);
        cell_t v{TYPE_integer, 0, static_cast<uint32_t>(i), 0};
        stack::push(&v);
    }
    _context::cell_of(ctx)->data2 = stack::index_of(args);  // as a call does
    for (int i = 0; i < WORDS; i++) order[i] = *_context::get_symbol_word(ctx, (i * 97) % WORDS);
    for (auto _ : state) {
        uint32_t sum = 0;
        for (const cell_t& w : order) sum += _context::get(&w)->data2;
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * WORDS);
    alloc::free_all();
}

}  // namespace

BENCHMARK(BM_plain_array_read);
BENCHMARK(BM_global_word_read);
BENCHMARK(BM_function_word_read);

// Hash-table put and get of 10^6 integer and string keys, beside
// std::unordered_map on the same keys.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "runtime/alloc.h"
#include "runtime/case_folding.h"
#include "runtime/hashtable.h"

using namespace zuv;

namespace {

constexpr int32_t COUNT = 1000000;

const std::vector<int32_t>& int_keys() {
    static std::vector<int32_t> keys = [] {
        std::vector<int32_t> k(COUNT);
        std::mt19937 rng(7);
        for (auto& x : k) x = static_cast<int32_t>(rng());
        return k;
    }();
    return keys;
}

const std::vector<std::string>& string_keys() {
    static std::vector<std::string> keys = [] {
        std::vector<std::string> k(COUNT);
        for (int32_t i = 0; i < COUNT; i++) k[i] = "key-" + std::to_string(int64_t{i} * 7919);
        return k;
    }();
    return keys;
}

void fresh_memory() {
    alloc::free_all();
    alloc::new_node_frame(alloc::NODES_PER_FRAME);
    alloc::new_series_frame();
    case_folding::init();
}

void BM_IntKeys_Hashtable(benchmark::State& state) {
    const auto& keys = int_keys();
    for (auto _ : state) {
        state.PauseTiming();
        fresh_memory();
        state.ResumeTiming();
        node_t t = hashtable::init(0, nullptr, hashtable::KIND_INT, 1);
        for (int32_t i = 0; i < COUNT; i++)
            hashtable::put_int_key(t, keys[i])->data2 = static_cast<uint32_t>(i);
        uint64_t sum = 0;
        for (int32_t i = 0; i < COUNT; i++) sum += hashtable::get_int_key(t, keys[i])->data2;
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * COUNT * 2);
}

void BM_IntKeys_UnorderedMap(benchmark::State& state) {
    const auto& keys = int_keys();
    for (auto _ : state) {
        std::unordered_map<int32_t, int32_t> m;
        for (int32_t i = 0; i < COUNT; i++) m[keys[i]] = i;
        uint64_t sum = 0;
        for (int32_t i = 0; i < COUNT; i++) sum += static_cast<uint32_t>(m.find(keys[i])->second);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * COUNT * 2);
}

// String keys go through the symbol index design (kind 2): names hashed with
// ASCII case folded, compared byte-wise.
void BM_StringKeys_Hashtable(benchmark::State& state) {
    const auto& keys = string_keys();
    for (auto _ : state) {
        state.PauseTiming();
        fresh_memory();
        state.ResumeTiming();
        node_t t = hashtable::init(0, nullptr, hashtable::KIND_SYMBOL, 1);
        for (int32_t i = 0; i < COUNT; i++)
            hashtable::put_string_key(t, keys[i].data(), static_cast<int32_t>(keys[i].size()),
                                      false);
        uint64_t sum = 0;
        for (int32_t i = 0; i < COUNT; i++)
            sum += static_cast<uint32_t>(hashtable::put_string_key(
                t, keys[i].data(), static_cast<int32_t>(keys[i].size()), false));
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * COUNT * 2);
}

void BM_StringKeys_UnorderedMap(benchmark::State& state) {
    const auto& keys = string_keys();
    for (auto _ : state) {
        std::unordered_map<std::string, int32_t> m;
        for (int32_t i = 0; i < COUNT; i++) m.emplace(keys[i], i + 1);
        uint64_t sum = 0;
        for (int32_t i = 0; i < COUNT; i++) sum += static_cast<uint32_t>(m.find(keys[i])->second);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * COUNT * 2);
}

}  // namespace

BENCHMARK(BM_IntKeys_Hashtable)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IntKeys_UnorderedMap)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StringKeys_Hashtable)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StringKeys_UnorderedMap)->Unit(benchmark::kMillisecond);

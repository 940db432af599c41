// The runtime's sorts against the standard library's on 10^6 records of 16
// bytes (one cell each, the common case of a block sort), random keys, and
// the same keys already ascending. Both sides call the comparison through a
// function pointer, as the runtime's sorts must; the copy of the input is
// not timed.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "runtime/sort.h"

using namespace zuv;

namespace {

struct record_t {
    uint32_t key;
    uint32_t index;
    uint64_t payload;
};
static_assert(sizeof(record_t) == 16);

constexpr size_t COUNT = 1000000;

std::vector<record_t> input(bool ordered) {
    std::mt19937 rng(42);
    std::vector<record_t> v(COUNT);
    for (size_t i = 0; i < COUNT; i++)
        v[i] = {static_cast<uint32_t>(rng()), static_cast<uint32_t>(i), i * 3};
    if (ordered)
        std::sort(v.begin(), v.end(),
                  [](const record_t& a, const record_t& b) { return a.key < b.key; });
    return v;
}

int32_t compare_records(const void* a, const void* b, uintptr_t, uintptr_t) {
    uint32_t x = static_cast<const record_t*>(a)->key;
    uint32_t y = static_cast<const record_t*>(b)->key;
    return (x > y) - (x < y);
}

// Kept out of line so that std::sort pays for an indirect call too.
using less_fn = bool (*)(const record_t&, const record_t&);
[[gnu::noinline]] bool less_records(const record_t& a, const record_t& b) { return a.key < b.key; }
less_fn volatile less_pointer = less_records;

template <class Sort> void run(benchmark::State& state, Sort sort) {
    const std::vector<record_t> source = input(state.range(0) != 0);
    std::vector<record_t> work(COUNT);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(work.data(), source.data(), COUNT * sizeof(record_t));
        state.ResumeTiming();
        sort(work);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(COUNT));
}

void BM_sort_qsort(benchmark::State& state) {
    run(state, [](std::vector<record_t>& v) {
        sort::qsort(v.data(), v.size(), 16, 0, 0, compare_records);
    });
}
void BM_std_sort(benchmark::State& state) {
    run(state, [](std::vector<record_t>& v) { std::sort(v.begin(), v.end(), less_pointer); });
}
void BM_sort_mergesort(benchmark::State& state) {
    run(state, [](std::vector<record_t>& v) {
        sort::mergesort(v.data(), v.size(), 16, 0, 0, compare_records);
    });
}
void BM_std_stable_sort(benchmark::State& state) {
    run(state,
        [](std::vector<record_t>& v) { std::stable_sort(v.begin(), v.end(), less_pointer); });
}

// Argument: 0 random keys, 1 already ascending.
BENCHMARK(BM_sort_qsort)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_std_sort)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_sort_mergesort)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_std_stable_sort)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

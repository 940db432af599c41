// Small series through the memory manager against malloc/free of the same
// sizes and count. Until the collector reclaims, a batch is dropped by
// resetting the whole manager, which is cheaper than any real reclamation:
// read the figure as a floor for allocation alone.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "runtime/alloc.h"

using namespace zuv;

namespace {

constexpr int BATCH = 100000;

std::vector<int> sizes() {
    std::vector<int> s(BATCH);
    uint32_t x = 12345;
    for (int& v : s) {
        x = x * 1103515245u + 12345u;
        v = 8 + static_cast<int>((x >> 16) % 120);  // 8..127 bytes: short strings, small blocks
    }
    return s;
}

void fresh_manager() {
    alloc::free_all();
    alloc::new_node_frame(alloc::NODES_PER_FRAME);
    alloc::new_series_frame();
}

void BM_series_alloc(benchmark::State& state) {
    std::vector<int> s = sizes();
    fresh_manager();
    for (auto _ : state) {
        for (int n : s) benchmark::DoNotOptimize(alloc::alloc_bytes(n));
        state.PauseTiming();
        fresh_manager();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * BATCH);
}
BENCHMARK(BM_series_alloc);

void BM_malloc_free(benchmark::State& state) {
    std::vector<int> s = sizes();
    std::vector<void*> blocks(BATCH);
    for (auto _ : state) {
        for (int i = 0; i < BATCH; i++) benchmark::DoNotOptimize(blocks[i] = std::malloc(s[i]));
        for (void* p : blocks) std::free(p);
    }
    state.SetItemsProcessed(state.iterations() * BATCH);
}
BENCHMARK(BM_malloc_free);

}  // namespace

// Small series through the memory manager against malloc/free of the same
// sizes and count. BM_series_alloc drops each batch by resetting the whole
// manager (a floor for allocation alone); BM_series_alloc_collected drops it
// by collection, as a running program does: the runtime is started, one
// series in a hundred stays reachable, and the collector reclaims the rest
// whenever the frames fill. Compare the latter with BM_malloc_free.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "datatypes/block.h"
#include "runtime/alloc.h"
#include "runtime/collector.h"
#include "runtime/stack.h"
#include "startup/runtime.h"

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

void BM_series_alloc_collected(benchmark::State& state) {
    std::vector<int> s = sizes();
    alloc::free_all();
    runtime::init();
    collector::active = true;
    collector::stress_period = 0;
    // The survivors live in a block on the argument stack; storing a string
    // cell into it allocates nothing.
    constexpr int KEPT = BATCH / 100;
    cell_t* keep = block::push_only_star(KEPT);
    series_buffer_t* b = alloc::buffer(keep->data2);
    for (int i = 0; i < KEPT; i++) b->head_cell()[i] = cell_t{TYPE_none, 0, 0, 0};
    b->tail = b->head + KEPT * 16;
    node_t kept = keep->data2;
    uint32_t cycles = collector::cycles;
    for (auto _ : state) {
        for (int i = 0; i < BATCH; i++) {
            node_t n = alloc::alloc_bytes(s[i]);
            if (i % 100 == 0)
                alloc::buffer(kept)->head_cell()[i / 100] = cell_t{TYPE_string, 0, n, 0};
        }
    }
    state.SetItemsProcessed(state.iterations() * BATCH);
    state.counters["collections"] = collector::cycles - cycles;
    stack::clear_args();
    collector::active = false;
    alloc::free_all();
}
BENCHMARK(BM_series_alloc_collected);

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

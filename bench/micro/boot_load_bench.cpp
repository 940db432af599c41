// The library load in-process: lexing the library's sources (the source
// boot) against decoding their Zuvbin image (the image boot), both into
// blocks of the same values. Start-up pays one of the two on every run.
#include <benchmark/benchmark.h>

#include <vector>

#include "boot/sources.h"
#include "codecs/zuvbin.h"
#include "codecs/zuvbin_format.h"
#include "datatypes/block.h"
#include "runtime/collector.h"
#include "runtime/stack.h"
#include "startup/runtime.h"
#include "startup/top_level.h"

using namespace zuv;

namespace {

void start_once() {
    static const bool started = [] {
        runtime::init();
        collector::active = true;
        return true;
    }();
    (void)started;
}

cell_t* fresh_slot() {
    stack::arguments = stack::top_slot = stack::bottom;
    cell_t* c = stack::push_slot();
    c->header = TYPE_unset;
    return c;
}

void lex_all(cell_t* into) {
    block::make_at(into, static_cast<int32_t>(boot::source_count));
    for (unsigned long i = 0; i < boot::source_count; i++) {
        cell_t* code = stack::push_slot();
        code->header = TYPE_unset;
        top_level::lex_source(boot::sources[i].text, boot::sources[i].size, code);
        block::rs_append(into, code);
        stack::pop(1);
    }
}

void BM_LexLibrary(benchmark::State& state) {
    start_once();
    for (auto _ : state) lex_all(fresh_slot());
}
BENCHMARK(BM_LexLibrary)->Unit(benchmark::kMicrosecond);

void BM_DecodeLibraryImage(benchmark::State& state) {
    start_once();
    cell_t* sources = fresh_slot();
    lex_all(sources);
    std::vector<uint8_t> image =
        zuvbin::encode_values(block::rs_abs_at(sources, 0),
                              static_cast<int32_t>(boot::source_count), true, zuvbin::BOOT_VERSION);
    for (auto _ : state) {
        cell_t* target = fresh_slot();
        block::make_at(target, static_cast<int32_t>(boot::source_count));
        zuvbin::decode(image.data(), static_cast<int64_t>(image.size()), target, false);
    }
    state.counters["image_bytes"] = static_cast<double>(image.size());
}
BENCHMARK(BM_DecodeLibraryImage)->Unit(benchmark::kMicrosecond);

}  // namespace

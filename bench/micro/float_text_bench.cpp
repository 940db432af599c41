// Formatting and reading a million doubles through the runtime's float text
// conversion. bench/float_text.py times CPython's repr and float on the very
// same numbers (both sides draw them from the same splitmix64 sequence) and
// prints the two side by side.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/dtoa.h"

using namespace zuv;

namespace {

constexpr int COUNT = 1000000;

uint64_t splitmix64(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// "bits": random finite bit patterns (every magnitude, subnormals included);
// "short": k / 1000 for k in -10^6..10^6, the numbers scripts mostly hold.
std::vector<double> numbers(bool short_decimals) {
    std::vector<double> v;
    v.reserve(COUNT);
    uint64_t state = 42;
    while (static_cast<int>(v.size()) < COUNT) {
        uint64_t r = splitmix64(state);
        double d;
        if (short_decimals) {
            d = static_cast<double>(static_cast<int64_t>(r % 2000001) - 1000000) / 1000.0;
        } else {
            if ((r >> 52 & 0x7FF) == 0x7FF) continue;
            std::memcpy(&d, &r, 8);
        }
        v.push_back(d);
    }
    return v;
}

void format(benchmark::State& state, bool short_decimals) {
    std::vector<double> v = numbers(short_decimals);
    for (auto _ : state) {
        size_t total = 0;
        for (double d : v) total += static_cast<size_t>(dtoa::format(d, 0, true).length);
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(state.iterations() * COUNT);
}

void scan(benchmark::State& state, bool short_decimals) {
    std::vector<double> v = numbers(short_decimals);
    std::vector<std::string> texts;
    texts.reserve(v.size());
    for (double d : v) texts.emplace_back(dtoa::format(d, 0, true).c_str());
    for (auto _ : state) {
        double sum = 0;
        for (const std::string& t : texts) sum += dtoa::strtod(t.data(), t.data() + t.size(), 0);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * COUNT);
}

void FloatText_format_bits(benchmark::State& s) { format(s, false); }
void FloatText_format_short(benchmark::State& s) { format(s, true); }
void FloatText_scan_bits(benchmark::State& s) { scan(s, false); }
void FloatText_scan_short(benchmark::State& s) { scan(s, true); }

}  // namespace

BENCHMARK(FloatText_format_bits)->Unit(benchmark::kMillisecond);
BENCHMARK(FloatText_format_short)->Unit(benchmark::kMillisecond);
BENCHMARK(FloatText_scan_bits)->Unit(benchmark::kMillisecond);
BENCHMARK(FloatText_scan_short)->Unit(benchmark::kMillisecond);

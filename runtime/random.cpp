#include "runtime/random.h"

#include "runtime/fire.h"
#include "runtime/hash.h"
#include "runtime/platform/platform.h"

namespace zuv::random {
namespace {

constexpr int N = 624;
constexpr int M = 397;
int32_t state[N];
int index = N;

// The hashing seed is a constant so that hashes, and with them `random/seed`
// of a series, are the same in every run.
constexpr uint32_t HASH_SEED = 0x5A75B17Eu;

inline int32_t sar(int32_t v, int bits) { return v >> bits; }  // arithmetic: C++20 defines it

void regenerate() {
    for (int k = 0; k < N; k++) {
        uint32_t y = (static_cast<uint32_t>(state[k]) & 0x80000000u) |
                     (static_cast<uint32_t>(state[(k + 1) % N]) & 0x7FFFFFFFu);
        int32_t ys = static_cast<int32_t>(y);
        uint32_t v = static_cast<uint32_t>(state[(k + M) % N]) ^ static_cast<uint32_t>(sar(ys, 1));
        if (y & 1) v ^= 0x9908B0DFu;
        state[k] = static_cast<int32_t>(v);
    }
    index = 0;
}

}  // namespace

void init() {
    srand(19650218);
    hash::seed = HASH_SEED;
}

void srand(int32_t seed) {
    state[0] = seed;
    for (int i = 1; i < N; i++) {
        uint32_t prev = static_cast<uint32_t>(state[i - 1]);
        uint32_t shifted = static_cast<uint32_t>(sar(state[i - 1], 30));
        state[i] = static_cast<int32_t>(1812433253u * (prev ^ shifted) + static_cast<uint32_t>(i));
    }
    index = 0;  // the seeded words are tempered as they are, no regeneration first
}

int32_t rand() {
    if (index >= N) regenerate();
    int32_t y = state[index++];
    y ^= sar(y, 11);
    y ^= static_cast<int32_t>((static_cast<uint32_t>(y) << 7) & 0x9D2C5680u);
    y ^= static_cast<int32_t>((static_cast<uint32_t>(y) << 15) & 0xEFC60000u);
    y ^= sar(y, 18);
    return y & 0x7FFFFFFF;
}

int32_t rand_secure() {
    uint32_t v = 0;
    if (!platform::random_bytes(&v, sizeof v)) fire(err::feature_na);
    return static_cast<int32_t>(v & 0x7FFFFFFFu);
}

int32_t int_uniform(bool secure, int32_t n) {
    if (n == 0) return 0;
    auto draw = [secure] { return secure ? rand_secure() : rand(); };
    if (n == INT32_MIN) return ~draw();
    int32_t magnitude = n < 0 ? -n : n;
    int32_t limit = (0x7FFFFFFF / magnitude) * magnitude;
    int32_t d;
    do d = draw();
    while (d >= limit);
    int32_t result = d % magnitude + 1;
    return n < 0 ? -result : result;
}

}  // namespace zuv::random

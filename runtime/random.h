// Random numbers.
//
// One process-wide generator of the Mersenne-Twister family (624 words, the
// MT19937 constants), with one deliberate difference: its words are signed
// and every right shift is arithmetic. Its sequence therefore differs from
// the published one, and scripts that seed it rely on this exact sequence.
// A secure source from the system serves `random/secure`.
#pragma once

#include <cstdint>

namespace zuv::random {

// Seeds with 19650218 and fixes the hashing seed for the whole run.
void init();
void srand(int32_t seed);
// The next draw, 0 to 2^31 - 1.
int32_t rand();
// A draw from the system's secure source, 0 to 2^31 - 1.
int32_t rand_secure();
// Uniform in 1..n (or -1..n for a negative n); 0 for 0.
int32_t int_uniform(bool secure, int32_t n);

}  // namespace zuv::random

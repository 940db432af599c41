// Hashing.
#pragma once

#include <cstdint>

namespace zuv::hash {

// Set once by random::init and never changed: every hash in a run, and in
// every run, uses the same seed.
extern uint32_t seed;

}  // namespace zuv::hash

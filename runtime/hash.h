// Hash functions.
//
// Every hash of the runtime is 32 bits and derived from MurmurHash3 (x86,
// 32-bit) with one seed that random::init fixes at start-up and that is the
// same in every run, so bucket layouts repeat from run to run. Tables never
// iterate in bucket order, so the seed's value is not visible to programs.
//
// Text is hashed case-folded (upper case) by default: a string and its other
// case variants land in the same bucket and the comparison code alone tells
// them apart. Words hash by their canonical symbol, so case variants of a word
// meet as well.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace zuv::hash {

// Set once by random::init and never changed: every hash in a run, and in
// every run, uses the same seed.
extern uint32_t seed;

// The MurmurHash3 finaliser.
inline uint32_t mix(uint32_t h) {
    h ^= h >> 16;
    h *= 0x85EBCA6Bu;
    h ^= h >> 13;
    h *= 0xC2B2AE35u;
    h ^= h >> 16;
    return h;
}

uint32_t murmur3_seeded(const void* bytes, size_t length, uint32_t seed);
inline uint32_t murmur3(const void* bytes, size_t length) {
    return murmur3_seeded(bytes, length, seed);
}

// MurmurHash3 of the bytes with ASCII A-Z lowered (names of symbols).
uint32_t ascii_lower(const char* text, size_t length);

// A string-like cell from its head to its tail (an internal part-of-string
// key, type 56 with word 3 >= 0, only over that many characters).
uint32_t string(const cell_t* value, bool case_sensitive);
// A symbol! cell by its UTF-8 name, ASCII case folded.
uint32_t symbol(const cell_t* value);
// Any cell, by its datatype.
uint32_t value(const cell_t* value, bool case_sensitive);

// Values whose hash comes from a node or context handle.
bool identity_keyed_q(const cell_t* value);

// The smallest power of two not below n (1 for 0).
inline uint32_t round_up_pow2(uint32_t n) {
    if (n <= 1) return 1;
    return 1u << (32 - __builtin_clz(n - 1));
}

// The internal type of a key that names part of a string.
constexpr uint8_t TYPE_STRING_PART = 56;

}  // namespace zuv::hash

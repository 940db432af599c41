// Zstandard frames behind the compression front end's buffer interface
// (codes and rules in codecs/compress.h), and the allocating decoder that
// compressed Zuvbin streams use.
//
// Compression always asks for its own worst case first: len + 3 bytes per
// 128 KB block (at least one) + 10 header bytes, which holds even when every
// block is stored raw. The decoder answers a size query from the frames'
// declared content sizes; frames that declare none are walked for an upper
// bound, or decoded once to count their bytes when that bound is loose.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zuv::zstd {

// The room compression asks for; may exceed what a series can hold.
uint64_t compress_bound(uint64_t len);

// Level 0 or below means 3; above 19 counts as 19.
int compress(uint8_t* dst, uint32_t* cap, const uint8_t* src, size_t len, int level);
int decompress(uint8_t* dst, uint32_t* cap, const uint8_t* src, size_t len);

// A new buffer from malloc holding the decoded data, its size stored through
// size when given; null for an empty result or bad data. Freed by
// free_buffer.
uint8_t* decompress_alloc(const uint8_t* src, size_t len, uint32_t* size);
void free_buffer(uint8_t* buffer);

// Most bytes len bytes of frames can decode to: a block of 3 header bytes
// (and one byte repeated) gives at most 128 KB. Never above a series' limit.
uint64_t decompress_limit(uint64_t len);

}  // namespace zuv::zstd

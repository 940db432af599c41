// The compression front end: one buffer interface over zlib (RFC 1950), raw
// deflate (RFC 1951), gzip (RFC 1952) and Zstandard (codecs/zstd.h).
//
// Every entry takes a destination (null for a size query), its capacity by
// address, the source and its length, and for compression a level. The
// capacity is in-out: the room on entry; on return the bytes written (DONE)
// or the bytes needed (MORE_ROOM). BAD covers corrupt framing, a failed check,
// truncated input, engine errors, and a capacity below a framing's minimum.
// The entries never raise errors and never allocate series: callers may hand
// them addresses inside series buffers.
//
// Sizes are 64-bit inside; a source or a result of 2^31 bytes or more (a
// series' limit) is BAD. A size read from the data (the gzip trailer, a
// Zstandard frame header, a counting pass) is checked against what the input
// can expand to before anyone allocates for it, so a short forged input
// never asks for gigabytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zuv::compress {

constexpr int DONE = 0;
constexpr int MORE_ROOM = 1;
constexpr int BAD = 2;

// Why the last decompression that answered BAD refused its input, so that
// the message can say which: data cut short and data over the size limit
// call for different remedies than damaged data. Set by fail(); reset by
// callers before an entry when they want the reason.
enum class failure_t { none, header, truncated, corrupt, check, length, trailing, too_large };
extern failure_t last_failure;
inline int fail(failure_t why) {
    last_failure = why;
    return BAD;
}
// A short text for a reason: "truncated", "bad header", ...
const char* failure_text(failure_t why);

// Sources and results stay below a series' limit.
constexpr uint64_t SIZE_LIMIT = 0x7FFFFFFF;

enum class method_t { none, zlib, deflate, gzip, zstd };

// Canonical symbol ids of the method words; 0 until init has run.
extern int32_t zlib_word, deflate_word, gzip_word, zstd_word;

// Step "checksum, compress, call": makes the four method words.
void init();
method_t method_of(int32_t symbol);

// Levels: 1 to 9, -1 (or any level below 0) for the default; above 9 counts
// as 9.
int zlib_compress(uint8_t* dst, uint32_t* cap, const uint8_t* src, size_t len, int level);
int zlib_decompress(uint8_t* dst, uint32_t* cap, const uint8_t* src, size_t len);
int deflate_compress(uint8_t* dst, uint32_t* cap, const uint8_t* src, size_t len, int level);
int deflate_decompress(uint8_t* dst, uint32_t* cap, const uint8_t* src, size_t len);
// Data that already starts as gzip (1F 8B 08) is copied unchanged.
int gzip_compress(uint8_t* dst, uint32_t* cap, const uint8_t* src, size_t len, int level);
// Every member is decoded and the results joined, as gzip -dc does. The size
// query (null destination) is answered from the last trailer alone: exact
// for one member; with several the decoding answers MORE_ROOM with the
// whole size.
int gzip_decompress(uint8_t* dst, uint32_t* cap, const uint8_t* src, size_t len);

// Most bytes a DEFLATE stream of len bytes can give: every bit carries at
// most 129 bytes (a 258-byte match coded in two bits), plus a little slack.
// Never above SIZE_LIMIT.
uint64_t inflate_limit(uint64_t len);

}  // namespace zuv::compress

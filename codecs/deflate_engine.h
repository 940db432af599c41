// The DEFLATE engine under the zlib, deflate and gzip framings: zlib's raw
// streams (no framing of its own), one reusable stream each way.
//
// Both directions run on while the destination is full, counting what does
// not fit into a scratch area, so that MORE_ROOM comes with the exact size.
// Results use the front end's codes (codecs/compress.h); the count is 64-bit.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zuv::deflate_engine {

// Deflates src into dst (cap bytes; dst may be null). *out: the bytes
// written, or with MORE_ROOM the whole stream's size.
int deflate(uint8_t* dst, uint64_t cap, const uint8_t* src, uint64_t len, int level, uint64_t* out);

// Inflates one raw stream that must end within src[0, len); bytes after its
// end are ignored. Output that does not fit in dst (cap bytes, dst may be
// null) is counted, not kept: MORE_ROOM with the total in *out. More than
// limit bytes in all is BAD, which also bounds the work of counting.
int inflate(uint8_t* dst, uint64_t cap, const uint8_t* src, uint64_t len, uint64_t limit,
            uint64_t* out);
// The same, also giving in *used the input bytes up to the stream's end, for
// framings that follow it with more (the gzip trailer and later members).
int inflate(uint8_t* dst, uint64_t cap, const uint8_t* src, uint64_t len, uint64_t limit,
            uint64_t* out, uint64_t* used);

}  // namespace zuv::deflate_engine

#include "codecs/deflate_engine.h"

#include <zlib.h>

#include <algorithm>

#include "codecs/compress.h"

namespace zuv::deflate_engine {

namespace {

constexpr size_t SCRATCH = 32768;

// zlib ties a deflate stream to its level: a new level means a new stream.
z_stream* deflater(int level) {
    static z_stream stream;
    static bool ready = false;
    static int stream_level;
    if (ready && stream_level == level) {
        if (deflateReset(&stream) == Z_OK) return &stream;
        deflateEnd(&stream);
        ready = false;
    }
    if (ready) deflateEnd(&stream);
    stream = z_stream{};
    ready = deflateInit2(&stream, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    stream_level = level;
    return ready ? &stream : nullptr;
}

z_stream* inflater() {
    static z_stream stream;
    static bool ready = false;
    if (ready) return inflateReset(&stream) == Z_OK ? &stream : nullptr;
    ready = inflateInit2(&stream, -MAX_WBITS) == Z_OK;
    return ready ? &stream : nullptr;
}

uInt room(uint64_t n) { return static_cast<uInt>(std::min<uint64_t>(n, UINT32_MAX)); }

// Runs a stream to its end: into dst while it has room, then into a scratch
// area, counting. step is one call of the engine.
template <typename Step>
int run(z_stream* z, uint8_t* dst, uint64_t cap, uint64_t limit, uint64_t* out, Step step) {
    using compress::fail;
    using compress::failure_t;
    if (!dst) cap = 0;
    uint8_t scratch[SCRATCH];
    bool counting = cap == 0;
    if (!counting) {
        z->next_out = dst;
        z->avail_out = room(cap);
    }
    for (;;) {
        if (counting) {
            z->next_out = scratch;
            z->avail_out = SCRATCH;
        }
        int r = step(z);
        // Past a series' limit the data may well be sound; short of it,
        // only damaged data expands beyond what its length allows.
        if (z->total_out > limit)
            return fail(limit >= compress::SIZE_LIMIT ? failure_t::too_large : failure_t::corrupt);
        if (r == Z_STREAM_END) break;
        if (r != Z_OK && r != Z_BUF_ERROR) return fail(failure_t::corrupt);
        // Stopped short of the end with room left: the input ran out.
        if (z->avail_out != 0) return fail(failure_t::truncated);
        counting = true;
    }
    *out = z->total_out;
    return z->total_out > cap ? compress::MORE_ROOM : compress::DONE;
}

}  // namespace

int deflate(uint8_t* dst, uint64_t cap, const uint8_t* src, uint64_t len, int level,
            uint64_t* out) {
    level = level < 0 ? Z_DEFAULT_COMPRESSION : std::min(level, 9);
    z_stream* z = deflater(level);
    if (!z) return compress::BAD;
    z->next_in = const_cast<Bytef*>(src);
    z->avail_in = static_cast<uInt>(len);
    return run(z, dst, cap, UINT64_MAX, out, [](z_stream* s) { return ::deflate(s, Z_FINISH); });
}

int inflate(uint8_t* dst, uint64_t cap, const uint8_t* src, uint64_t len, uint64_t limit,
            uint64_t* out, uint64_t* used) {
    z_stream* z = inflater();
    if (!z) return compress::BAD;
    z->next_in = const_cast<Bytef*>(src);
    z->avail_in = static_cast<uInt>(len);
    int r = run(z, dst, cap, limit, out, [](z_stream* s) { return ::inflate(s, Z_NO_FLUSH); });
    *used = z->total_in;
    return r;
}

int inflate(uint8_t* dst, uint64_t cap, const uint8_t* src, uint64_t len, uint64_t limit,
            uint64_t* out) {
    uint64_t used = 0;
    return inflate(dst, cap, src, len, limit, out, &used);
}

}  // namespace zuv::deflate_engine

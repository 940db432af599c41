#include "codecs/zstd.h"

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_findDecompressedSize, ZSTD_decompressBound
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>

#include "codecs/compress.h"

namespace zuv::zstd {

using compress::BAD;
using compress::DONE;
using compress::fail;
using compress::failure_t;
using compress::MORE_ROOM;
using compress::SIZE_LIMIT;

namespace {

constexpr uint64_t BLOCK = 131072;
// A frame without a declared size is decoded once to count it when the
// walk's bound is above either figure: a result allocated from that bound
// would waste too much.
constexpr uint64_t LOOSE_RATIO = 32;
constexpr uint64_t LOOSE_SIZE = 16777215;
// Frames made from input of unknown size declare windows of up to 8 MB
// whatever they hold; larger windows must be backed by enough input to fill
// them, so that a forged header cannot make the counting pass allocate
// 128 MB.
constexpr int WINDOW_LOG_FLOOR = 23;
constexpr int WINDOW_LOG_CEILING = 27;

ZSTD_CCtx* compressor() {
    static ZSTD_CCtx* c = ZSTD_createCCtx();
    return c;
}

ZSTD_DCtx* decompressor() {
    static ZSTD_DCtx* d = ZSTD_createDCtx();
    return d;
}

// The reason behind an engine error.
int fail_with(size_t code) {
    switch (ZSTD_getErrorCode(code)) {
    case ZSTD_error_srcSize_wrong: return fail(failure_t::truncated);
    case ZSTD_error_checksum_wrong: return fail(failure_t::check);
    case ZSTD_error_prefix_unknown:
    case ZSTD_error_frameParameter_unsupported: return fail(failure_t::header);
    default: return fail(failure_t::corrupt);
    }
}

// Past a series' limit the frames may well be sound; short of it, only
// damaged frames say they hold more than their length allows.
int fail_size(uint64_t limit) {
    return fail(limit >= SIZE_LIMIT ? failure_t::too_large : failure_t::corrupt);
}

// The reason a frame walk stopped: the first frame that cannot be read.
int fail_frames(const uint8_t* src, size_t len) {
    while (len > 0) {
        size_t n = ZSTD_findFrameCompressedSize(src, len);
        if (ZSTD_isError(n)) return fail_with(n);
        src += n;
        len -= n;
    }
    return fail(failure_t::corrupt);
}

int window_log_max(uint64_t limit) {
    int log = 0;
    while (log < WINDOW_LOG_CEILING && (uint64_t{1} << log) < limit) log++;
    return std::max(log, WINDOW_LOG_FLOOR);
}

// Decodes every frame without keeping the output; BAD on bad data, on
// truncation or past limit bytes.
int count(const uint8_t* src, size_t len, uint64_t limit, uint64_t* total) {
    std::unique_ptr<ZSTD_DStream, size_t (*)(ZSTD_DStream*)> stream(ZSTD_createDStream(),
                                                                    ZSTD_freeDStream);
    if (!stream || ZSTD_isError(ZSTD_DCtx_setParameter(stream.get(), ZSTD_d_windowLogMax,
                                                       window_log_max(limit))))
        return BAD;
    const size_t scratch_size = ZSTD_DStreamOutSize();
    std::unique_ptr<uint8_t[]> scratch(new (std::nothrow) uint8_t[scratch_size]);
    if (!scratch) return BAD;
    ZSTD_inBuffer in{src, len, 0};
    *total = 0;
    for (;;) {
        ZSTD_outBuffer out{scratch.get(), scratch_size, 0};
        size_t before = in.pos;
        size_t pending = ZSTD_decompressStream(stream.get(), &out, &in);
        if (ZSTD_isError(pending)) return fail_with(pending);
        *total += out.pos;
        if (*total > limit) return fail_size(limit);
        // 0: a frame ended and all of it is out.
        if (pending == 0 && in.pos == in.size) return DONE;
        // Stuck: the input was cut short.
        if (in.pos == before && out.pos == 0) return fail(failure_t::truncated);
    }
}

}  // namespace

uint64_t compress_bound(uint64_t len) {
    return len + 3 * std::max<uint64_t>(1, (len + BLOCK - 1) / BLOCK) + 10;
}

uint64_t decompress_limit(uint64_t len) { return std::min(SIZE_LIMIT, (len + 2) / 3 * BLOCK); }

int compress(uint8_t* dst, uint32_t* cap, const uint8_t* src, size_t len, int level) {
    uint64_t needed = compress_bound(len);
    if (needed > SIZE_LIMIT) return BAD;
    if (!dst || *cap < needed) {
        *cap = static_cast<uint32_t>(needed);
        return MORE_ROOM;
    }
    level = level <= 0 ? 3 : std::min(level, 19);
    ZSTD_CCtx* c = compressor();
    if (!c) return BAD;
    // The one-shot call wants the library's own bound of room, larger than
    // ours; the streaming call writes the same frame into exactly the room
    // the frame takes.
    ZSTD_CCtx_reset(c, ZSTD_reset_session_and_parameters);
    if (ZSTD_isError(ZSTD_CCtx_setParameter(c, ZSTD_c_compressionLevel, level)) ||
        ZSTD_isError(ZSTD_CCtx_setParameter(c, ZSTD_c_stableInBuffer, 1)) ||
        ZSTD_isError(ZSTD_CCtx_setPledgedSrcSize(c, len)))
        return BAD;
    ZSTD_inBuffer in{src, len, 0};
    ZSTD_outBuffer out{dst, *cap, 0};
    if (ZSTD_compressStream2(c, &out, &in, ZSTD_e_end) != 0) return BAD;
    *cap = static_cast<uint32_t>(out.pos);
    return DONE;
}

int decompress(uint8_t* dst, uint32_t* cap, const uint8_t* src, size_t len) {
    // The engine reads no input as no frames, so nothing; data holds one frame at least.
    if (len > SIZE_LIMIT) return fail(failure_t::too_large);
    if (len == 0) return fail(failure_t::truncated);
    ZSTD_DCtx* d = decompressor();
    if (!d) return BAD;
    if (dst) {
        size_t r = ZSTD_decompressDCtx(d, dst, *cap, src, len);
        if (!ZSTD_isError(r)) {
            *cap = static_cast<uint32_t>(r);
            return DONE;
        }
        if (ZSTD_getErrorCode(r) != ZSTD_error_dstSize_tooSmall) return fail_with(r);
    }
    uint64_t limit = decompress_limit(len);
    unsigned long long size = ZSTD_findDecompressedSize(src, len);
    if (size == ZSTD_CONTENTSIZE_ERROR) return fail_frames(src, len);
    if (size == ZSTD_CONTENTSIZE_UNKNOWN) {
        size = ZSTD_decompressBound(src, len);
        if (size == ZSTD_CONTENTSIZE_ERROR) return fail_frames(src, len);
        if (size > LOOSE_RATIO * len || size > LOOSE_SIZE) {
            uint64_t counted = 0;
            if (count(src, len, limit, &counted) != DONE) return BAD;
            size = counted;
        }
    }
    if (size > limit) {
        // More than the frames' bytes can give is a forged size, not a large one.
        bool possible = size <= (uint64_t{len} + 2) / 3 * BLOCK;
        return fail(possible && size > SIZE_LIMIT ? failure_t::too_large : failure_t::length);
    }
    // The decode failed with room enough: the data is at fault, not the room.
    if (dst && *cap >= size) return fail(failure_t::corrupt);
    *cap = static_cast<uint32_t>(size);
    return size == 0 ? DONE : MORE_ROOM;
}

uint8_t* decompress_alloc(const uint8_t* src, size_t len, uint32_t* size) {
    uint32_t cap = 0;
    if (decompress(nullptr, &cap, src, len) != MORE_ROOM) return nullptr;
    auto* buffer = static_cast<uint8_t*>(std::malloc(cap));
    if (!buffer) return nullptr;
    if (decompress(buffer, &cap, src, len) != DONE) {
        std::free(buffer);
        return nullptr;
    }
    if (size) *size = cap;
    return buffer;
}

void free_buffer(uint8_t* buffer) { std::free(buffer); }

}  // namespace zuv::zstd

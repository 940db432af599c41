#include "codecs/compress.h"

#include <algorithm>

#include "codecs/checksum.h"
#include "codecs/deflate_engine.h"
#include "datatypes/symbol.h"

namespace zuv::compress {

int32_t zlib_word, deflate_word, gzip_word, zstd_word;
failure_t last_failure = failure_t::none;

const char* failure_text(failure_t why) {
    switch (why) {
    case failure_t::header: return "bad header";
    case failure_t::truncated: return "truncated";
    case failure_t::corrupt: return "corrupt compressed data";
    case failure_t::check: return "checksum mismatch";
    case failure_t::length: return "length mismatch";
    case failure_t::trailing: return "bytes after the end";
    case failure_t::too_large: return "output over the size limit";
    default: return "bad data";
    }
}

void init() {
    zlib_word = symbol::resolve(symbol::make("zlib"));
    deflate_word = symbol::resolve(symbol::make("deflate"));
    gzip_word = symbol::resolve(symbol::make("gzip"));
    zstd_word = symbol::resolve(symbol::make("zstd"));
}

method_t method_of(int32_t symbol) {
    if (symbol <= 0) return method_t::none;
    int32_t s = symbol::resolve(symbol);
    if (s == zlib_word) return method_t::zlib;
    if (s == deflate_word) return method_t::deflate;
    if (s == gzip_word) return method_t::gzip;
    if (s == zstd_word) return method_t::zstd;
    return method_t::none;
}

uint64_t inflate_limit(uint64_t len) { return std::min(SIZE_LIMIT, len * 1032 + 8); }

namespace {

// The room a call may use: none without a destination.
uint64_t room_of(const uint8_t* dst, const uint32_t* cap) { return dst ? *cap : 0; }

// Records a size in the capacity, or refuses one a series cannot hold.
int answer(int code, uint32_t* cap, uint64_t size) {
    if (size > SIZE_LIMIT) return BAD;
    *cap = static_cast<uint32_t>(size);
    return code;
}

uint32_t read_be32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

}  // namespace

int deflate_compress(uint8_t* dst, uint32_t* cap, const uint8_t* src, size_t len, int level) {
    if (len > SIZE_LIMIT) return BAD;
    uint64_t out = 0;
    int r = deflate_engine::deflate(dst, room_of(dst, cap), src, len, level, &out);
    return r == BAD ? BAD : answer(r, cap, out);
}

int deflate_decompress(uint8_t* dst, uint32_t* cap, const uint8_t* src, size_t len) {
    if (len > SIZE_LIMIT) return BAD;
    uint64_t out = 0;
    int r = deflate_engine::inflate(dst, room_of(dst, cap), src, len, inflate_limit(len), &out);
    return r == BAD ? BAD : answer(r, cap, out);
}

// Two header bytes (a 32 KB window, then a level hint chosen so that the pair
// is a multiple of 31), the raw stream, and the Adler-32 of the source.
int zlib_compress(uint8_t* dst, uint32_t* cap, const uint8_t* src, size_t len, int level) {
    if (len > SIZE_LIMIT) return BAD;
    uint64_t room = room_of(dst, cap);
    if (room < 6) {
        *cap = static_cast<uint32_t>(len + 6);
        return BAD;
    }
    dst[0] = 0x78;
    dst[1] = level < 2 ? 0x01 : level < 6 ? 0x5E : level == 6 ? 0x9C : 0xDA;
    uint64_t out = 0;
    int r = deflate_engine::deflate(dst + 2, room - 2, src, len, level, &out);
    if (r == BAD) return BAD;
    if (r == MORE_ROOM || out + 6 > room) return answer(MORE_ROOM, cap, out + 6);
    uint32_t sum = checksum::adler32(src, len);
    uint8_t* p = dst + 2 + out;
    p[0] = static_cast<uint8_t>(sum >> 24);
    p[1] = static_cast<uint8_t>(sum >> 16);
    p[2] = static_cast<uint8_t>(sum >> 8);
    p[3] = static_cast<uint8_t>(sum);
    return answer(DONE, cap, out + 6);
}

int zlib_decompress(uint8_t* dst, uint32_t* cap, const uint8_t* src, size_t len) {
    // Two header bytes and the four of the Adler-32 at the least.
    if (len > SIZE_LIMIT) return fail(failure_t::too_large);
    if (len < 2) return fail(failure_t::truncated);
    uint32_t pair = uint32_t{src[0]} << 8 | src[1];
    bool deflated = (src[0] & 0x0F) == 8;
    bool window_ok = (src[0] & 0x80) == 0;
    bool dictionary = (src[1] & 0x20) != 0;
    if (pair % 31 != 0 || !deflated || !window_ok || dictionary) return fail(failure_t::header);
    if (len < 6) return fail(failure_t::truncated);
    uint64_t out = 0;
    int r = deflate_engine::inflate(dst, room_of(dst, cap), src + 2, len - 6,
                                    inflate_limit(len - 6), &out);
    if (r != DONE) return r == BAD ? BAD : answer(r, cap, out);
    if (checksum::adler32(dst, out) != read_be32(src + len - 4)) return fail(failure_t::check);
    return answer(DONE, cap, out);
}

}  // namespace zuv::compress

// Shared pieces of the compression tests: sample data, and the entries called
// as the `compress` and `decompress` natives call them (a first guess at the
// room, then one retry with the size an entry asks for).
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "codecs/compress.h"
#include "codecs/zstd.h"

namespace zuv::test {

using bytes = std::vector<uint8_t>;
using compress::BAD;
using compress::DONE;
using compress::MORE_ROOM;

using compress_entry_t = int (*)(uint8_t*, uint32_t*, const uint8_t*, size_t, int);
using decompress_entry_t = int (*)(uint8_t*, uint32_t*, const uint8_t*, size_t);

struct codec_t {
    const char* name;
    compress_entry_t compress;
    decompress_entry_t decompress;
};

inline const codec_t codecs[] = {
    {"zlib", compress::zlib_compress, compress::zlib_decompress},
    {"deflate", compress::deflate_compress, compress::deflate_decompress},
    {"gzip", compress::gzip_compress, compress::gzip_decompress},
    {"zstd", zstd::compress, zstd::decompress},
};

inline bytes random_bytes(size_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    bytes out(n);
    for (auto& b : out) b = static_cast<uint8_t>(gen());
    return out;
}

// Words drawn from a small vocabulary: compresses the way prose does.
inline bytes text_bytes(size_t n, uint32_t seed) {
    static const char* vocabulary[] = {"the ",   "quick ", "brown ", "fox ",    "jumps ",
                                       "over ",  "lazy ",  "dog ",   "and ",    "runs ",
                                       "away\n", "while ", "cats ",  "sleep. ", "A "};
    std::mt19937 gen(seed);
    bytes out;
    out.reserve(n + 8);
    while (out.size() < n) {
        const char* w = vocabulary[gen() % 15];
        out.insert(out.end(), w, w + std::char_traits<char>::length(w));
    }
    out.resize(n);
    return out;
}

struct sample_t {
    std::string name;
    bytes data;
};

inline std::vector<sample_t> samples() {
    return {
        {"empty", {}},
        {"one byte", {0x41}},
        {"text 60 KB", text_bytes(60000, 1)},
        {"random 100 KB", random_bytes(100000, 2)},
        {"zeros 1 MB", bytes(size_t{1} << 20, 0)},
    };
}

// The natives' first guess at the room compressed data needs.
inline size_t first_guess(size_t len) { return len + (len >> 11) + 32; }

// Calls entry with room of out's size; on MORE_ROOM once more with the size
// asked for.
template <typename Entry> std::optional<bytes> with_one_retry(bytes out, Entry entry) {
    for (int attempt = 0; attempt < 2; attempt++) {
        uint32_t cap = static_cast<uint32_t>(out.size());
        int r = entry(out.data(), &cap);
        if (r == DONE) {
            out.resize(cap);
            return out;
        }
        if (r != MORE_ROOM) return std::nullopt;
        out.resize(cap);
    }
    return std::nullopt;
}

inline std::optional<bytes> compress_as_native(const codec_t& c, const bytes& in, int level = -1) {
    return with_one_retry(bytes(first_guess(in.size())), [&](uint8_t* dst, uint32_t* cap) {
        return c.compress(dst, cap, in.data(), in.size(), level);
    });
}

// Asks for the size first (a null destination), as the natives do without a
// size hint.
inline std::optional<bytes> decompress_as_native(const codec_t& c, const bytes& in) {
    uint32_t cap = 0;
    int r = c.decompress(nullptr, &cap, in.data(), in.size());
    if (r == DONE) return bytes();
    if (r != MORE_ROOM) return std::nullopt;
    return with_one_retry(bytes(cap), [&](uint8_t* dst, uint32_t* size) {
        return c.decompress(dst, size, in.data(), in.size());
    });
}

}  // namespace zuv::test

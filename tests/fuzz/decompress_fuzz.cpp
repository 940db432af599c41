// libFuzzer target: the four decompressors and their size queries on
// arbitrary bytes. The first byte picks the method (bits 0-1), the room of a
// second, fixed-size attempt (bits 2-6, in steps of 64 bytes) and whether
// the rest is also compressed and read back (bit 7); the rest is the data.
// Bad data must give code 2 (or 1 with a size), never a crash, a hang, a
// sanitizer report, a leak or a result that disagrees with the size query.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codecs/compress.h"
#include "codecs/zstd.h"

using namespace zuv;

namespace {

using decompress_t = int (*)(uint8_t*, uint32_t*, const uint8_t*, size_t);
using compress_t = int (*)(uint8_t*, uint32_t*, const uint8_t*, size_t, int);

struct method_t {
    compress_t compress;
    decompress_t decompress;
};

const method_t methods[] = {
    {compress::zlib_compress, compress::zlib_decompress},
    {compress::deflate_compress, compress::deflate_decompress},
    {compress::gzip_compress, compress::gzip_decompress},
    {zstd::compress, zstd::decompress},
};

// Larger answers are legitimate (a short input may expand a lot) but not
// worth the memory here.
constexpr uint32_t ROOM_CAP = 1u << 24;

void require(bool ok) {
    if (!ok) std::abort();
}

bool same(const uint8_t* a, const std::vector<uint8_t>& b, size_t n) {
    return n == b.size() && (n == 0 || std::memcmp(a, b.data(), n) == 0);
}

// Decodes with the room the size query asks for; the output, or none.
bool decode(const method_t& m, const uint8_t* src, size_t len, std::vector<uint8_t>* out) {
    uint32_t cap = 0;
    int r = m.decompress(nullptr, &cap, src, len);
    require(r == compress::DONE || r == compress::MORE_ROOM || r == compress::BAD);
    if (r == compress::DONE) {
        require(cap == 0);
        out->clear();
        return true;
    }
    if (r == compress::BAD || cap > ROOM_CAP) return false;
    out->assign(cap, 0);
    uint32_t asked = cap;
    r = m.decompress(out->data(), &cap, src, len);
    // gzip answers the query from the last member's trailer alone, so with
    // several members the decoding may ask once more, for the whole size.
    if (r == compress::MORE_ROOM && m.decompress == compress::gzip_decompress && cap > asked) {
        if (cap > ROOM_CAP) return false;
        out->assign(cap, 0);
        asked = cap;
        r = m.decompress(out->data(), &cap, src, len);
    }
    require(r == compress::DONE || r == compress::BAD);
    if (r != compress::DONE) return false;
    require(cap <= asked);
    out->resize(cap);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const method_t& m = methods[data[0] & 3];
    const uint8_t* src = data + 1;
    size_t len = size - 1;

    std::vector<uint8_t> full;
    bool decoded = decode(m, src, len, &full);

    std::vector<uint8_t> small(((data[0] >> 2) & 31) * 64u);
    uint32_t cap = static_cast<uint32_t>(small.size());
    int r = m.decompress(small.data(), &cap, src, len);
    require(r == compress::DONE || r == compress::MORE_ROOM || r == compress::BAD);
    if (r == compress::DONE && decoded) require(same(small.data(), full, cap));

    if (m.decompress == zstd::decompress) {
        uint32_t got = 0;
        uint8_t* buffer = zstd::decompress_alloc(src, len, &got);
        if (buffer && decoded) require(same(buffer, full, got));
        zstd::free_buffer(buffer);
    }

    if (data[0] & 0x80) {
        int level = 1 + static_cast<int>(len % 9);
        std::vector<uint8_t> packed(len + (len >> 11) + 32);
        cap = static_cast<uint32_t>(packed.size());
        r = m.compress(packed.data(), &cap, src, len, level);
        if (r == compress::MORE_ROOM) {
            packed.assign(cap, 0);
            r = m.compress(packed.data(), &cap, src, len, level);
        }
        require(r == compress::DONE);
        packed.resize(cap);
        std::vector<uint8_t> back;
        bool gzip_already = m.compress == compress::gzip_compress && len > 2 && src[0] == 0x1F &&
                            src[1] == 0x8B && src[2] == 0x08;
        if (!gzip_already) {
            require(decode(m, packed.data(), packed.size(), &back));
            require(same(src, back, len));
        }
    }
    return 0;
}

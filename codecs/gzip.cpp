// The gzip framing (RFC 1952) over the DEFLATE engine: members of a 10-byte
// header, a DEFLATE stream and a trailer of the CRC-32 and the length, both
// little-endian. Writing makes one member; reading joins every member.
#include <algorithm>
#include <cstring>

#include "codecs/checksum.h"
#include "codecs/compress.h"
#include "codecs/deflate_engine.h"

namespace zuv::compress {

namespace {

constexpr uint8_t FHCRC = 2, FEXTRA = 4, FNAME = 8, FCOMMENT = 16;
constexpr uint64_t HEADER = 10, TRAILER = 8;

bool gzip_magic_q(const uint8_t* p) { return p[0] == 0x1F && p[1] == 0x8B && p[2] == 0x08; }

uint32_t read_le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

void write_le32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The end of the header's optional fields within src[0, end); 0 when they
// run past it or the header CRC does not match.
uint64_t header_end(const uint8_t* src, uint64_t end) {
    uint8_t flags = src[3];
    uint64_t pos = HEADER;
    if (flags & FEXTRA) {
        uint64_t extra = uint64_t{src[10]} | uint64_t{src[11]} << 8;
        pos += 2 + extra;
        if (pos > end) return 0;
    }
    for (uint8_t field : {FNAME, FCOMMENT}) {
        if (!(flags & field)) continue;
        const void* nul = std::memchr(src + pos, 0, end - pos);
        if (!nul) return 0;
        pos = static_cast<uint64_t>(static_cast<const uint8_t*>(nul) - src) + 1;
    }
    if (flags & FHCRC) {
        if (pos + 2 > end) return 0;
        uint32_t stored = uint32_t{src[pos]} | uint32_t{src[pos + 1]} << 8;
        if ((checksum::crc32(src, pos) & 0xFFFF) != stored) return 0;
        pos += 2;
    }
    return pos;
}

}  // namespace

int gzip_compress(uint8_t* dst, uint32_t* cap, const uint8_t* src, size_t len, int level) {
    if (len > SIZE_LIMIT) return BAD;
    uint64_t room = dst ? *cap : 0;
    if (len > 2 && gzip_magic_q(src)) {
        *cap = static_cast<uint32_t>(len);
        if (room < len) return MORE_ROOM;
        std::memcpy(dst, src, len);
        return DONE;
    }
    if (room < HEADER + TRAILER) {
        *cap = static_cast<uint32_t>(len + HEADER + TRAILER);
        return BAD;
    }
    const uint8_t header[HEADER] = {
        0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, static_cast<uint8_t>(level <= 1 ? 4 : level >= 9 ? 2 : 0),
        4};
    std::memcpy(dst, header, HEADER);
    uint64_t out = 0;
    int r = deflate_engine::deflate(dst + HEADER, room - HEADER, src, len, level, &out);
    if (r == BAD) return BAD;
    uint64_t total = out + HEADER + TRAILER;
    if (total > SIZE_LIMIT) return BAD;
    *cap = static_cast<uint32_t>(total);
    if (r == MORE_ROOM || total > room) return MORE_ROOM;
    write_le32(dst + HEADER + out, checksum::crc32(src, len));
    write_le32(dst + HEADER + out + 4, static_cast<uint32_t>(len));
    return DONE;
}

int gzip_decompress(uint8_t* dst, uint32_t* cap, const uint8_t* src, size_t len) {
    if (len > SIZE_LIMIT) return fail(failure_t::too_large);
    if (len < HEADER + TRAILER) return fail(failure_t::truncated);
    if (!gzip_magic_q(src) || src[3] >= 32) return fail(failure_t::header);
    if (!dst) {
        if (header_end(src, len - TRAILER) == 0) return fail(failure_t::header);
        // A size the input cannot hold comes from data cut short, a forged
        // trailer or output past the limit: the decoding below, counting,
        // tells which. So does a size of 0, which may be an empty member.
        uint64_t size = read_le32(src + len - 4);
        if (size > 0 && size <= inflate_limit(len - HEADER - TRAILER)) {
            *cap = static_cast<uint32_t>(size);
            return MORE_ROOM;
        }
    }
    // Member after member, each output after the last one's; what does not
    // fit is counted, and a member that did not fit whole is not checked
    // now: the call with room enough checks it.
    uint64_t room = dst ? *cap : 0, total = 0, pos = 0;
    while (pos < len) {
        const uint8_t* member = src + pos;
        uint64_t rest = len - pos;
        bool magic = rest >= 3 && gzip_magic_q(member);
        if (pos > 0 && !magic) {
            // Files written in fixed-size blocks end padded with zeros,
            // which gzip -dc and Python's reader pass over.
            if (std::all_of(member, src + len, [](uint8_t b) { return b == 0; })) break;
            return fail(failure_t::trailing);
        }
        if (rest < HEADER + TRAILER) return fail(failure_t::truncated);
        if (!magic || member[3] >= 32) return fail(failure_t::header);
        uint64_t start = header_end(member, rest - TRAILER);
        if (start == 0) return fail(failure_t::header);
        uint64_t body = rest - TRAILER - start;
        uint64_t out = 0, used = 0;
        uint64_t at = std::min(total, room);
        int r = deflate_engine::inflate(dst + at, room - at, member + start, body,
                                        inflate_limit(body), &out, &used);
        if (r == BAD) return BAD;
        if (total + out > SIZE_LIMIT) return fail(failure_t::too_large);
        const uint8_t* trailer = member + start + used;
        if (static_cast<uint32_t>(out) != read_le32(trailer + 4)) return fail(failure_t::length);
        if (r == DONE && total + out <= room &&
            checksum::crc32(dst + total, out) != read_le32(trailer))
            return fail(failure_t::check);
        total += out;
        pos += start + used + TRAILER;
    }
    *cap = static_cast<uint32_t>(total);
    return total > room ? MORE_ROOM : DONE;
}

}  // namespace zuv::compress

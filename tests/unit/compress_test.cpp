// The zlib, raw deflate and gzip framings, and what all four methods share:
// round trips through the natives' calling pattern, exact sizes on short
// room, and refusal of damaged or forged input.
#include <gtest/gtest.h>

#include <cstring>

#include "codecs/checksum.h"
#include "codecs/compress.h"
#include "codecs/zstd.h"
#include "compress_fixture.h"
#include "datatypes/symbol.h"
#include "runtime_fixture.h"

using namespace zuv;
using namespace zuv::test;

namespace {

bytes zlib_of(const bytes& in, int level = -1) { return *compress_as_native(codecs[0], in, level); }
bytes gzip_of(const bytes& in, int level = -1) { return *compress_as_native(codecs[2], in, level); }

// Decodes into room of exactly cap bytes.
int decode(decompress_entry_t entry, const bytes& in, uint32_t* cap, bytes* out) {
    out->assign(*cap, 0);
    int r = entry(out->data(), cap, in.data(), in.size());
    if (r == DONE) out->resize(*cap);
    return r;
}

void put_le32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// A gzip member around a raw stream, with the header fields given.
bytes gzip_member(const bytes& data, uint8_t flags, const bytes& fields) {
    bytes raw = *compress_as_native(codecs[1], data);
    bytes g = {0x1F, 0x8B, 0x08, flags, 0, 0, 0, 0, 0, 3};
    g.insert(g.end(), fields.begin(), fields.end());
    g.insert(g.end(), raw.begin(), raw.end());
    g.resize(g.size() + 8);
    put_le32(&g[g.size() - 8], checksum::crc32(data.data(), data.size()));
    put_le32(&g[g.size() - 4], static_cast<uint32_t>(data.size()));
    return g;
}

bytes header_crc(uint8_t flags, const bytes& fields) {
    bytes h = {0x1F, 0x8B, 0x08, flags, 0, 0, 0, 0, 0, 3};
    h.insert(h.end(), fields.begin(), fields.end());
    uint32_t crc = checksum::crc32(h.data(), h.size());
    bytes out = fields;
    out.push_back(static_cast<uint8_t>(crc));
    out.push_back(static_cast<uint8_t>(crc >> 8));
    return out;
}

class CompressWords : public zuv::testing::Runtime {};

}  // namespace

TEST_F(CompressWords, MethodWordsAnyCase) {
    struct {
        const char* word;
        compress::method_t method;
    } cases[] = {
        {"zlib", compress::method_t::zlib}, {"DEFLATE", compress::method_t::deflate},
        {"gzip", compress::method_t::gzip}, {"Zstd", compress::method_t::zstd},
        {"sha1", compress::method_t::none}, {"zip", compress::method_t::none},
    };
    for (auto& c : cases) EXPECT_EQ(compress::method_of(symbol::make(c.word)), c.method) << c.word;
    EXPECT_EQ(compress::method_of(0), compress::method_t::none);
}

TEST(Compress, RoundTripsEverySampleAtSeveralLevels) {
    for (const codec_t& c : codecs)
        for (const sample_t& s : samples())
            for (int level : {-1, 1, 6, 9}) {
                auto packed = compress_as_native(c, s.data, level);
                ASSERT_TRUE(packed) << c.name << " " << s.name << " level " << level;
                auto unpacked = decompress_as_native(c, *packed);
                ASSERT_TRUE(unpacked) << c.name << " " << s.name << " level " << level;
                EXPECT_TRUE(*unpacked == s.data) << c.name << " " << s.name << " level " << level;
            }
}

// One byte short of the room needed gives MORE_ROOM with the exact size;
// that room then suffices, and gives the same bytes.
TEST(Compress, ShortRoomReportsTheExactSize) {
    bytes text = text_bytes(20000, 3);
    for (const codec_t& c : codecs) {
        bytes packed = *compress_as_native(c, text);
        bytes out;
        uint32_t cap = static_cast<uint32_t>(text.size() - 1);
        ASSERT_EQ(decode(c.decompress, packed, &cap, &out), MORE_ROOM) << c.name;
        EXPECT_EQ(cap, text.size()) << c.name;
        ASSERT_EQ(decode(c.decompress, packed, &cap, &out), DONE) << c.name;
        EXPECT_TRUE(out == text) << c.name;
        if (c.compress == zstd::compress) continue;  // always asks for its worst case
        bytes small(packed.size() - 1);
        cap = static_cast<uint32_t>(small.size());
        ASSERT_EQ(c.compress(small.data(), &cap, text.data(), text.size(), -1), MORE_ROOM)
            << c.name;
        EXPECT_EQ(cap, packed.size()) << c.name;
        bytes exact(cap);
        ASSERT_EQ(c.compress(exact.data(), &cap, text.data(), text.size(), -1), DONE) << c.name;
        EXPECT_TRUE(exact == packed) << c.name;
    }
}

TEST(Compress, ZerosAtTheHighestRatioStillDecode) {
    bytes zeros(10 << 20, 0);
    for (int i : {0, 1, 2}) {
        bytes packed = *compress_as_native(codecs[i], zeros, 9);
        EXPECT_LT(packed.size(), zeros.size() / 1000) << codecs[i].name;
        auto back = decompress_as_native(codecs[i], packed);
        ASSERT_TRUE(back) << codecs[i].name;
        EXPECT_EQ(back->size(), zeros.size()) << codecs[i].name;
    }
}

TEST(Compress, RoomBelowTheFramingMinimumIsBad) {
    bytes data = text_bytes(100, 4);
    uint8_t room[17];
    struct {
        compress_entry_t entry;
        uint32_t cap, asked;
    } cases[] = {
        {compress::zlib_compress, 5, 106},
        {compress::zlib_compress, 0, 106},
        {compress::gzip_compress, 17, 118},
        {compress::gzip_compress, 0, 118},
    };
    for (auto& c : cases) {
        uint32_t cap = c.cap;
        EXPECT_EQ(c.entry(room, &cap, data.data(), data.size(), -1), BAD) << c.cap;
        EXPECT_EQ(cap, c.asked) << c.cap;
        cap = 1000;
        EXPECT_EQ(c.entry(nullptr, &cap, data.data(), data.size(), -1), BAD) << "null room";
    }
}

TEST(Compress, SourcesOfTwoGigabytesAreRefused) {
    // The length is checked before the source is read.
    uint8_t one[32] = {0x1F, 0x8B, 0x08};
    uint32_t cap = sizeof one;
    size_t huge = size_t{1} << 31;
    for (const codec_t& c : codecs) {
        EXPECT_EQ(c.compress(one, &cap, one, huge, -1), BAD) << c.name;
        EXPECT_EQ(c.decompress(one, &cap, one, huge), BAD) << c.name;
    }
}

TEST(ZlibFraming, HeaderPairByLevel) {
    bytes data = text_bytes(1000, 5);
    struct {
        int level;
        uint8_t second;
    } cases[] = {{-1, 0x01}, {1, 0x01}, {2, 0x5E}, {5, 0x5E}, {6, 0x9C}, {7, 0xDA}, {9, 0xDA}};
    for (auto& c : cases) {
        bytes z = zlib_of(data, c.level);
        EXPECT_EQ(z[0], 0x78) << c.level;
        EXPECT_EQ(z[1], c.second) << c.level;
        EXPECT_EQ((z[0] * 256 + z[1]) % 31, 0) << c.level;
        uint32_t sum = checksum::adler32(data.data(), data.size());
        EXPECT_EQ(z[z.size() - 4], sum >> 24) << c.level;
        EXPECT_EQ(z[z.size() - 1], sum & 0xFF) << c.level;
    }
}

TEST(ZlibFraming, ReaderChecksTheHeaderPair) {
    bytes data = text_bytes(1000, 6);
    bytes z = zlib_of(data);
    struct {
        uint8_t b0, b1;
        int expected;
        const char* why;
    } cases[] = {
        {0x78, 0x9C, DONE, "default pair"},        {0x78, 0x01, DONE, "fastest pair"},
        {0x78, 0xDA, DONE, "best pair"},           {0x48, 0x0D, DONE, "a 4 KB window declared"},
        {0x78, 0x9D, BAD, "not a multiple of 31"}, {0x77, 0x09, BAD, "method 7"},
        {0x88, 0x1C, BAD, "window field above 7"}, {0x78, 0xBB, BAD, "preset dictionary"},
    };
    for (auto& c : cases) {
        bytes v = z;
        v[0] = c.b0;
        v[1] = c.b1;
        uint32_t cap = static_cast<uint32_t>(data.size());
        bytes out;
        EXPECT_EQ(decode(compress::zlib_decompress, v, &cap, &out), c.expected) << c.why;
        cap = 0;
        EXPECT_EQ(compress::zlib_decompress(nullptr, &cap, v.data(), v.size()),
                  c.expected == DONE ? MORE_ROOM : BAD)
            << c.why;
    }
}

TEST(ZlibFraming, ShortInputAndWrongAdlerAreBad) {
    bytes empty = zlib_of({});
    ASSERT_EQ(empty.size(), 8u);  // header, an empty final block, Adler-32 of nothing
    for (size_t n = 0; n < 6; n++) {
        bytes v(empty.begin(), empty.begin() + static_cast<long>(n));
        uint32_t cap = 100;
        uint8_t room[100];
        EXPECT_EQ(compress::zlib_decompress(room, &cap, v.data(), v.size()), BAD) << n;
        EXPECT_EQ(compress::zlib_decompress(nullptr, &cap, v.data(), v.size()), BAD) << n;
    }
    bytes data = text_bytes(500, 7);
    bytes z = zlib_of(data);
    z.back() ^= 1;
    uint32_t cap = 500;
    bytes out;
    EXPECT_EQ(decode(compress::zlib_decompress, z, &cap, &out), BAD);
}

TEST(GzipFraming, HeaderBytesByLevel) {
    bytes data = text_bytes(1000, 8);
    struct {
        int level;
        uint8_t extra_flags;
    } cases[] = {{-1, 4}, {1, 4}, {2, 0}, {6, 0}, {8, 0}, {9, 2}};
    for (auto& c : cases) {
        bytes g = gzip_of(data, c.level);
        bytes header(g.begin(), g.begin() + 10);
        EXPECT_EQ(header, (bytes{0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, c.extra_flags, 4})) << c.level;
        uint32_t size = g[g.size() - 4] | g[g.size() - 3] << 8 | g[g.size() - 2] << 16 |
                        uint32_t{g[g.size() - 1]} << 24;
        EXPECT_EQ(size, data.size()) << c.level;
    }
}

TEST(GzipFraming, DataAlreadyGzipPassesThrough) {
    struct {
        bytes data;
        bool passes;
    } cases[] = {
        {{0x1F, 0x8B, 0x08}, true},
        {{0x1F, 0x8B, 0x08, 'a', 'n', 'y'}, true},
        {{0x1F, 0x8B}, false},
        {{0x1F, 0x8B, 0x09, 0}, false},
    };
    for (auto& c : cases) {
        bytes out = gzip_of(c.data);
        EXPECT_EQ(out == c.data, c.passes) << out.size();
        if (!c.passes) continue;
        bytes room(c.data.size() - 1);
        uint32_t cap = static_cast<uint32_t>(room.size());
        EXPECT_EQ(compress::gzip_compress(room.data(), &cap, c.data.data(), c.data.size(), -1),
                  MORE_ROOM);
        EXPECT_EQ(cap, c.data.size());
    }
}

TEST(GzipFraming, OptionalHeaderFieldsAreSkipped) {
    bytes data = text_bytes(3000, 9);
    const uint8_t FHCRC = 2, FEXTRA = 4, FNAME = 8, FCOMMENT = 16;
    bytes extra = {5, 0, 'A', 'B', 1, 0, 'x'};
    bytes name = {'f', 'i', 'l', 'e', '.', 't', 'x', 't', 0};
    bytes comment = {'h', 'i', 0};
    bytes all = extra;
    all.insert(all.end(), name.begin(), name.end());
    all.insert(all.end(), comment.begin(), comment.end());
    struct {
        const char* what;
        uint8_t flags;
        bytes fields;
        int expected;
    } cases[] = {
        {"extra", FEXTRA, extra, DONE},
        {"name", FNAME, name, DONE},
        {"comment", FCOMMENT, comment, DONE},
        {"all with header CRC", FEXTRA | FNAME | FCOMMENT | FHCRC,
         header_crc(FEXTRA | FNAME | FCOMMENT | FHCRC, all), DONE},
        {"header CRC alone", FHCRC, header_crc(FHCRC, {}), DONE},
        {"wrong header CRC", FHCRC, {0x12, 0x34}, BAD},
        {"reserved flag", 32, {}, BAD},
        {"extra longer than the input", FEXTRA, {0xFF, 0x7F}, BAD},
    };
    for (auto& c : cases) {
        bytes g = gzip_member(data, c.flags, c.fields);
        uint32_t cap = 0;
        int query = compress::gzip_decompress(nullptr, &cap, g.data(), g.size());
        EXPECT_EQ(query, c.expected == DONE ? MORE_ROOM : BAD) << c.what;
        auto back = decompress_as_native(codecs[2], g);
        EXPECT_EQ(back.has_value(), c.expected == DONE) << c.what;
        if (back) {
            EXPECT_TRUE(*back == data) << c.what;
        }
    }
    // A name with no NUL before the trailer.
    bytes g = gzip_member(data, FNAME, {});
    bytes unterminated = {0x1F, 0x8B, 0x08, FNAME, 0,   0,   0, 0, 0, 3, 'a', 'b',
                          'c',  'd',  'e',  'f',   'g', 'h', 1, 2, 3, 4, 5,   6};
    uint32_t cap = 0;
    EXPECT_EQ(compress::gzip_decompress(nullptr, &cap, unterminated.data(), unterminated.size()),
              BAD);
    for (size_t n = 0; n < 18; n++) {
        cap = 0;
        EXPECT_EQ(compress::gzip_decompress(nullptr, &cap, g.data(), n), BAD) << n;
    }
}

// The header CRC is checked before anything is inflated: a size query,
// which never inflates, already refuses it.
TEST(GzipFraming, WrongHeaderCrcIsBadBeforeInflating) {
    bytes data = text_bytes(2000, 10);
    bytes g = gzip_member(data, 2, header_crc(2, {}));
    uint32_t cap = 0;
    ASSERT_EQ(compress::gzip_decompress(nullptr, &cap, g.data(), g.size()), MORE_ROOM);
    g[10] ^= 0xFF;
    cap = 0;
    EXPECT_EQ(compress::gzip_decompress(nullptr, &cap, g.data(), g.size()), BAD);
}

TEST(GzipFraming, SizeQueryAnswersFromTheTrailerOverDamagedData) {
    bytes data = text_bytes(5000, 11);
    bytes g = gzip_of(data);
    for (size_t i = 10; i < g.size() - 8; i++) g[i] = 0xFF;
    uint32_t cap = 0;
    EXPECT_EQ(compress::gzip_decompress(nullptr, &cap, g.data(), g.size()), MORE_ROOM);
    EXPECT_EQ(cap, data.size());
    bytes out;
    EXPECT_EQ(decode(compress::gzip_decompress, g, &cap, &out), BAD);
}

// A trailer is believed only as far as the data between header and trailer
// could expand; a modest lie passes the query and fails the decode.
TEST(GzipFraming, ForgedTrailerSizes) {
    bytes forged = {0x1F, 0x8B, 0x08, 0, 0, 0, 0,    0,    0,    3,
                    0x03, 0x00, 0,    0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    ASSERT_EQ(forged.size(), 20u);
    uint32_t cap = 0;
    EXPECT_EQ(compress::gzip_decompress(nullptr, &cap, forged.data(), forged.size()), BAD);
    EXPECT_EQ(cap, 0u);
    bytes data = text_bytes(4000, 12);
    bytes g = gzip_of(data);
    uint32_t body = static_cast<uint32_t>(g.size() - 18);
    struct {
        uint32_t size;
        int query;
    } cases[] = {
        {body * 1032 + 8, MORE_ROOM},
        {body * 1032 + 9, BAD},
        {static_cast<uint32_t>(data.size() + 1), MORE_ROOM},
        {static_cast<uint32_t>(data.size() - 1), MORE_ROOM},
        {0x80000000u, BAD},
    };
    for (auto& c : cases) {
        bytes v = g;
        put_le32(&v[v.size() - 4], c.size);
        cap = 0;
        EXPECT_EQ(compress::gzip_decompress(nullptr, &cap, v.data(), v.size()), c.query) << c.size;
        if (c.query != MORE_ROOM) continue;
        EXPECT_EQ(cap, c.size);
        cap = static_cast<uint32_t>(std::min<size_t>(c.size, 1 << 24));
        bytes out;
        EXPECT_EQ(decode(compress::gzip_decompress, v, &cap, &out), BAD) << c.size;
    }
}

// Every prefix of a stream is refused; every single-bit flip is refused or,
// for the framings with a check, gives the original data back. A gzip
// trailer damaged into a larger size asks for room first; that room then
// shows the damage.
TEST(Compress, TruncatedAndFlippedInput) {
    bytes data = text_bytes(700, 13);
    for (const codec_t& c : codecs) {
        bytes packed = *compress_as_native(c, data);
        bool checked =
            c.decompress == compress::zlib_decompress || c.decompress == compress::gzip_decompress;
        bytes out;
        auto attempt = [&](const bytes& v) {
            uint32_t cap = 4096;
            int r = decode(c.decompress, v, &cap, &out);
            if (r == MORE_ROOM && c.decompress == compress::gzip_decompress) {
                EXPECT_GT(cap, 4096u);
                r = decode(c.decompress, v, &cap, &out);
            }
            return r;
        };
        for (size_t n = 0; n < packed.size(); n++) {
            bytes v(packed.begin(), packed.begin() + static_cast<long>(n));
            EXPECT_EQ(attempt(v), BAD) << c.name << " prefix " << n;
            uint32_t cap = 0;
            EXPECT_NE(c.decompress(nullptr, &cap, v.data(), v.size()), DONE)
                << c.name << " prefix " << n;
        }
        for (size_t bit = 0; bit < packed.size() * 8; bit++) {
            bytes v = packed;
            v[bit / 8] ^= static_cast<uint8_t>(1 << (bit % 8));
            int r = attempt(v);
            ASSERT_TRUE(r == DONE || r == BAD) << c.name << " bit " << bit;
            if (r == DONE && checked) {
                EXPECT_TRUE(out == data) << c.name << " bit " << bit;
            }
        }
        uint32_t cap = 4096;
        ASSERT_EQ(decode(c.decompress, packed, &cap, &out), DONE) << c.name;
        EXPECT_TRUE(out == data) << c.name;
    }
}

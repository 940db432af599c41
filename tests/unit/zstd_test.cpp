// Zstandard behind the buffer interface: the worst-case bound, levels, and
// the size query over frames with and without a declared size.
#include <gtest/gtest.h>

#include <zstd.h>

#include "codecs/compress.h"
#include "codecs/zstd.h"
#include "compress_fixture.h"

using namespace zuv;
using namespace zuv::test;

namespace {

const codec_t& zstd_codec = codecs[3];

// A frame as a pipe gives it: the input's size unknown when the frame
// starts, so no content size in the header and a window of the level's
// default size.
bytes frame_without_size(const bytes& data, int level = 3) {
    ZSTD_CCtx* c = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(c, ZSTD_c_compressionLevel, level);
    bytes out(ZSTD_compressBound(data.size()) + 64);
    ZSTD_outBuffer o{out.data(), out.size(), 0};
    ZSTD_inBuffer i{data.data(), data.size(), 0};
    ZSTD_compressStream2(c, &o, &i, ZSTD_e_continue);
    ZSTD_inBuffer none{nullptr, 0, 0};
    EXPECT_EQ(ZSTD_compressStream2(c, &o, &none, ZSTD_e_end), 0u);
    ZSTD_freeCCtx(c);
    out.resize(o.pos);
    EXPECT_EQ(ZSTD_getFrameContentSize(out.data(), out.size()), ZSTD_CONTENTSIZE_UNKNOWN);
    return out;
}

uint32_t size_query(const bytes& in) {
    uint32_t cap = 0;
    EXPECT_EQ(zstd::decompress(nullptr, &cap, in.data(), in.size()), MORE_ROOM);
    return cap;
}

}  // namespace

TEST(Zstd, EmptyInputAsksForThirteenBytes) {
    uint32_t cap = 0;
    EXPECT_EQ(zstd::compress(nullptr, &cap, nullptr, 0, -1), MORE_ROOM);
    EXPECT_EQ(cap, 13u);
    bytes room(13);
    cap = 12;
    EXPECT_EQ(zstd::compress(room.data(), &cap, nullptr, 0, -1), MORE_ROOM);
    EXPECT_EQ(cap, 13u);
    ASSERT_EQ(zstd::compress(room.data(), &cap, nullptr, 0, -1), DONE);
    room.resize(cap);
    cap = 0;
    EXPECT_EQ(zstd::decompress(nullptr, &cap, room.data(), room.size()), DONE);
    EXPECT_EQ(cap, 0u);
}

TEST(Zstd, IncompressibleInputFitsTheBound) {
    struct {
        uint64_t len, bound;
    } bounds[] = {{0, 13}, {1, 14}, {131071, 131084}, {131072, 131085}, {131073, 131089}};
    for (auto& b : bounds) EXPECT_EQ(zstd::compress_bound(b.len), b.bound) << b.len;
    for (size_t n : {size_t{131071}, size_t{131072}, size_t{131073}, size_t{10} << 20}) {
        bytes data = random_bytes(n, static_cast<uint32_t>(n));
        for (int level : {1, 3, 19}) {
            if (level == 19 && n > 131073) continue;
            bytes out(zstd::compress_bound(n));
            uint32_t cap = static_cast<uint32_t>(out.size());
            ASSERT_EQ(zstd::compress(out.data(), &cap, data.data(), n, level), DONE)
                << n << " level " << level;
            out.resize(cap);
            auto back = decompress_as_native(zstd_codec, out);
            ASSERT_TRUE(back) << n;
            EXPECT_TRUE(*back == data) << n;
        }
    }
}

TEST(Zstd, LevelsOutsideOneToNineteen) {
    bytes text = text_bytes(50000, 20);
    struct {
        int level, same_as;
    } cases[] = {{0, 3}, {-1, 3}, {-50, 3}, {20, 19}, {99, 19}};
    for (auto& c : cases)
        EXPECT_TRUE(*compress_as_native(zstd_codec, text, c.level) ==
                    *compress_as_native(zstd_codec, text, c.same_as))
            << c.level;
}

TEST(Zstd, SizeQueryWithoutDeclaredSize) {
    struct {
        const char* what;
        bytes data;
        uint32_t answer;  // 0: the exact size
    } cases[] = {
        {"small: the walk's bound is loose, so a counting pass", random_bytes(1000, 21), 0},
        {"two random blocks: the walk's bound serves", random_bytes(200000, 22), 262144},
        {"4 MB of zeros: counted", bytes(4 << 20, 0), 0},
    };
    for (auto& c : cases) {
        bytes frame = frame_without_size(c.data);
        uint32_t cap = size_query(frame);
        EXPECT_EQ(cap, c.answer ? c.answer : c.data.size()) << c.what;
        bytes out(cap);
        ASSERT_EQ(zstd::decompress(out.data(), &cap, frame.data(), frame.size()), DONE) << c.what;
        out.resize(cap);
        EXPECT_TRUE(out == c.data) << c.what;
        // Room already covering the answer: a failure is the data's.
        frame[frame.size() / 2] ^= 0x55;
        cap = static_cast<uint32_t>(out.size());
        int r = zstd::decompress(out.data(), &cap, frame.data(), frame.size());
        EXPECT_NE(r, MORE_ROOM) << c.what;
    }
}

TEST(Zstd, SeveralFramesAndSkippableFrames) {
    bytes a = text_bytes(3000, 23), b = random_bytes(2000, 24);
    bytes fa = *compress_as_native(zstd_codec, a), fb = frame_without_size(b);
    bytes skippable = {0x50, 0x2A, 0x4D, 0x18, 3, 0, 0, 0, 'x', 'y', 'z'};
    bytes both = fa;
    both.insert(both.end(), skippable.begin(), skippable.end());
    both.insert(both.end(), fb.begin(), fb.end());
    bytes expected = a;
    expected.insert(expected.end(), b.begin(), b.end());
    auto back = decompress_as_native(zstd_codec, both);
    ASSERT_TRUE(back);
    EXPECT_TRUE(*back == expected);
    uint32_t cap = 0;
    EXPECT_EQ(zstd::decompress(nullptr, &cap, skippable.data(), skippable.size()), DONE);
    EXPECT_EQ(cap, 0u);
}

// Declared sizes beyond what the input can give are refused before any
// allocation: 128 KB per 3 bytes of input at most.
TEST(Zstd, ForgedContentSizes) {
    struct {
        const char* what;
        bytes frame;
    } cases[] = {
        // FCS flag 3 (8 bytes), a window byte: 4 GB declared.
        {"4 GB",
         {0x28, 0xB5, 0x2F, 0xFD, 0xC0, 0x58, 0, 0, 0, 0, 1, 0, 0, 0, 0x01, 0, 0, 'a', 'b', 'c'}},
        // FCS flag 2 (4 bytes): 2^32 - 1.
        {"4 GB - 1", {0x28, 0xB5, 0x2F, 0xFD, 0x80, 0x58, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0, 0}},
        // Single segment, 4 bytes: 1 MB from 13 bytes.
        {"1 MB", {0x28, 0xB5, 0x2F, 0xFD, 0xA0, 0, 0, 0x10, 0, 0x01, 0, 0, 'z'}},
        {"truncated header", {0x28, 0xB5, 0x2F, 0xFD, 0xC0, 0x58}},
        {"bad magic", {0x28, 0xB5, 0x2F, 0xFC, 0x20, 0, 1, 0, 0}},
    };
    for (auto& c : cases) {
        uint32_t cap = 0;
        EXPECT_EQ(zstd::decompress(nullptr, &cap, c.frame.data(), c.frame.size()), BAD) << c.what;
        EXPECT_EQ(cap, 0u) << c.what;
        bytes room(64);
        cap = 64;
        EXPECT_EQ(zstd::decompress(room.data(), &cap, c.frame.data(), c.frame.size()), BAD)
            << c.what;
        uint32_t size = 7;
        EXPECT_EQ(zstd::decompress_alloc(c.frame.data(), c.frame.size(), &size), nullptr) << c.what;
        EXPECT_EQ(size, 7u) << c.what;
    }
    EXPECT_EQ(zstd::decompress_limit(20), 7u * 131072);
    EXPECT_EQ(zstd::decompress_limit(uint64_t{1} << 40), compress::SIZE_LIMIT);
}

// Without a declared size, a 10-byte frame of one 100-byte block is counted;
// the window it declares must then be one the input could fill, or 8 MB.
TEST(Zstd, CountingPassRefusesHugeWindowsOnShortInput) {
    struct {
        uint8_t window;
        int expected;
    } cases[] = {{0x68 /* 2^23 */, MORE_ROOM}, {0x88 /* 2^27 */, BAD}};
    for (auto& c : cases) {
        bytes frame = {0x28, 0xB5, 0x2F, 0xFD, 0x00, c.window, 0x23, 0x03, 0x00, 'a'};
        uint32_t cap = 0;
        EXPECT_EQ(zstd::decompress(nullptr, &cap, frame.data(), frame.size()), c.expected)
            << int{c.window};
        if (c.expected == MORE_ROOM) {
            EXPECT_EQ(cap, 100u);
        }
    }
}

TEST(Zstd, AllocatingDecoder) {
    bytes data = text_bytes(100000, 25);
    for (const bytes& frame : {*compress_as_native(zstd_codec, data), frame_without_size(data)}) {
        uint32_t size = 0;
        uint8_t* buffer = zstd::decompress_alloc(frame.data(), frame.size(), &size);
        ASSERT_NE(buffer, nullptr);
        EXPECT_TRUE(bytes(buffer, buffer + size) == data);
        zstd::free_buffer(buffer);
        buffer = zstd::decompress_alloc(frame.data(), frame.size(), nullptr);
        ASSERT_NE(buffer, nullptr);
        zstd::free_buffer(buffer);
    }
    bytes empty = *compress_as_native(zstd_codec, {});
    EXPECT_EQ(zstd::decompress_alloc(empty.data(), empty.size(), nullptr), nullptr);
    EXPECT_EQ(zstd::decompress_alloc(nullptr, 0, nullptr), nullptr);
}

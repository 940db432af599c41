#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "codecs/checksum.h"
#include "codecs/crypto.h"
#include "datatypes/symbol.h"
#include "runtime/console_output.h"
#include "runtime/fire.h"
#include "runtime/platform/platform.h"
#include "runtime/random.h"
#include "runtime_fixture.h"

using namespace zuv;

namespace {

using bytes = std::vector<uint8_t>;

bytes of(const char* text) { return bytes(text, text + std::strlen(text)); }

std::string hex(const uint8_t* p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; i++) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

std::string hex(const crypto::digest_t& d) { return hex(d.bytes, static_cast<size_t>(d.size)); }

// What a call printed on standard output.
template <typename F> std::string printed(F body) {
    ::testing::internal::CaptureStdout();
    body();
    platform::flush_console_output();
    return ::testing::internal::GetCapturedStdout();
}

class Checksum : public zuv::testing::Runtime {};

}  // namespace

TEST_F(Checksum, MethodWordsIdsAndSizes) {
    struct {
        const char* word;
        int32_t id, digest, block;
    } cases[] = {
        {"tcp", checksum::TCP, 0, 64},         {"crc32", checksum::CRC32, 0, 64},
        {"md5", checksum::MD5, 16, 64},        {"sha1", checksum::SHA1, 20, 64},
        {"sha256", checksum::SHA256, 32, 64},  {"sha384", checksum::SHA384, 48, 128},
        {"sha512", checksum::SHA512, 64, 128}, {"adler32", checksum::NO_ID, 0, 64},
        {"hash", checksum::NO_ID, 0, 64},      {"SHA256", checksum::SHA256, 32, 64},
        {"Crc32", checksum::CRC32, 0, 64},
    };
    for (auto& c : cases) {
        int32_t s = symbol::make(c.word);
        EXPECT_TRUE(checksum::method_q(s)) << c.word;
        EXPECT_EQ(checksum::method_id(s), c.id) << c.word;
        EXPECT_EQ(checksum::digest_size(c.id), c.digest) << c.word;
        EXPECT_EQ(checksum::hmac_block_size(c.id), c.block) << c.word;
    }
    for (const char* other : {"sha3", "zlib", "crc", "md4"}) {
        EXPECT_FALSE(checksum::method_q(symbol::make(other))) << other;
        EXPECT_EQ(checksum::method_id(symbol::make(other)), checksum::NO_ID) << other;
    }
    EXPECT_FALSE(checksum::method_q(0));
    for (int32_t id : {-1, 0, 1, 7, 100}) EXPECT_EQ(checksum::digest_size(id), 0) << id;
}

TEST(ChecksumSums, KnownValues) {
    bytes ff(10000, 0xFF);
    struct {
        const char* what;
        uint32_t got, expected;
    } cases[] = {
        {"crc32 of nothing", checksum::crc32(nullptr, 0), 0},
        {"adler32 of nothing", checksum::adler32(nullptr, 0), 1},
        {"tcp of nothing", checksum::tcp(nullptr, 0), 0xFFFF},
        {"tcp 01 02 03 (odd byte low)", checksum::tcp(of("\x01\x02\x03").data(), 3), 0xFEFA},
        {"tcp 01 02", checksum::tcp(of("\x01\x02").data(), 2), 0xFEFD},
        {"tcp 03", checksum::tcp(of("\x03").data(), 1), 0xFFFC},
        {"tcp FF FF FF FF (carry folded)", checksum::tcp(ff.data(), 4), 0},
        {"crc32 123456789", checksum::crc32(of("123456789").data(), 9), 0xCBF43926},
        {"adler32 Wikipedia", checksum::adler32(of("Wikipedia").data(), 9), 0x11E60398},
        {"adler32 of 10,000 FF", checksum::adler32(ff.data(), ff.size()), 0xB623EB2B},
    };
    for (auto& c : cases) EXPECT_EQ(c.got, c.expected) << c.what;
}

// The ones'-complement sum adds every carry back in; a running sum that is
// allowed to wrap loses them once the data passes 128 KB of high bytes.
TEST(ChecksumSums, InternetChecksumOfLargeDataKeepsEveryCarry) {
    for (size_t n : {size_t{131072}, size_t{262147}, size_t{1} << 22}) {
        bytes data(n);
        uint32_t x = 12345;
        for (auto& b : data) b = static_cast<uint8_t>(0xF0 | ((x = x * 1103515245 + 12345) >> 28));
        uint32_t folded = 0;  // end-around carry at every addition
        for (size_t i = 0; i < n; i += 2) {
            folded += i + 1 < n ? uint32_t{data[i]} << 8 | data[i + 1] : data[i];
            folded = (folded & 0xFFFF) + (folded >> 16);
        }
        EXPECT_EQ(checksum::tcp(data.data(), n), ~folded & 0xFFFF) << n;
    }
}

TEST(ChecksumDigests, KnownDigestsOfAbc) {
    struct {
        int32_t id;
        const char* expected;
    } cases[] = {
        {checksum::MD5, "900150983cd24fb0d6963f7d28e17f72"},
        {checksum::SHA1, "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {checksum::SHA256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {checksum::SHA384, "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086"
                           "072ba1e7cc2358baeca134c825a7"},
        {checksum::SHA512, "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192"
                           "992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
    };
    for (auto& c : cases) {
        crypto::digest_t d = crypto::get_digest(of("abc").data(), 3, c.id);
        EXPECT_EQ(d.size, checksum::digest_size(c.id));
        EXPECT_EQ(hex(d), c.expected) << c.id;
        crypto::digest_stream_t pieces(c.id);
        pieces.add(of("a").data(), 1);
        pieces.add(nullptr, 0);
        pieces.add(of("bc").data(), 2);
        EXPECT_EQ(hex(pieces.finish()), c.expected) << c.id;
    }
}

TEST(ChecksumDigests, IdWithoutDigestRaisesInvalidArg) {
    for (int32_t id : {-1, int32_t{checksum::TCP}, int32_t{checksum::CRC32}, 7}) {
        try {
            crypto::get_digest(nullptr, 0, id);
            ADD_FAILURE() << "nothing raised for id " << id;
        } catch (const raised_error& e) {
            EXPECT_EQ(e.id, err::invalid_arg) << id;
        }
    }
}

// A key longer than the block is replaced by its digest; a key of exactly
// the block's length is used as it is.
TEST_F(Checksum, HmacKeysAroundTheBlockSize) {
    bytes message = of("The quick brown fox jumps over the lazy dog");
    for (const char* word : {"md5", "sha1", "sha256", "sha384", "sha512"}) {
        int32_t method = symbol::make(word);
        int32_t id = checksum::method_id(method);
        size_t block = static_cast<size_t>(checksum::hmac_block_size(id));
        for (size_t n : {block, block + 1}) {
            bytes key(n);
            for (size_t i = 0; i < n; i++) key[i] = static_cast<uint8_t>(i * 7 + 1);
            crypto::digest_t key_digest = crypto::get_digest(key.data(), n, id);
            auto as_is = checksum::hmac(message.data(), message.size(), key.data(), n, method);
            auto by_digest = checksum::hmac(message.data(), message.size(), key_digest.bytes,
                                            static_cast<size_t>(key_digest.size), method);
            ASSERT_TRUE(as_is && by_digest);
            EXPECT_EQ(as_is->size, checksum::digest_size(id));
            if (n > block) {
                EXPECT_EQ(hex(*as_is), hex(*by_digest)) << word << " key " << n;
            } else {
                EXPECT_NE(hex(*as_is), hex(*by_digest)) << word << " key " << n;
            }
        }
    }
    // RFC 2202, test case 2.
    auto d = checksum::hmac(of("what do ya want for nothing?").data(), 28, of("Jefe").data(), 4,
                            symbol::make("sha1"));
    ASSERT_TRUE(d);
    EXPECT_EQ(hex(*d), "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79");
}

TEST_F(Checksum, NoticesForMethodsWithoutHmacAndForHash) {
    for (const char* word : {"tcp", "crc32", "adler32", "hash"}) {
        std::optional<crypto::digest_t> d;
        std::string out = printed([&] {
            d = checksum::hmac(of("data").data(), 4, of("key").data(), 3, symbol::make(word));
        });
        EXPECT_FALSE(d) << word;
        EXPECT_EQ(out, "The selected algorithm doesn't support HMAC calculation\n") << word;
    }
    EXPECT_EQ(printed([] { checksum::hash(); }),
              "** /hash support not yet implemented; algorithm TBD.\n");
}

TEST(SecureRandom, FillsWholeBuffers) {
    for (size_t n : {size_t{1}, size_t{7}, size_t{4096}, size_t{1} << 20}) {
        bytes a(n + 16, 0xAA), b(n, 0);
        crypto::gen_random(a.data(), n);
        crypto::gen_random(b.data(), n);
        for (size_t i = n; i < n + 16; i++) ASSERT_EQ(a[i], 0xAA) << "wrote past " << n;
        if (n >= 7) {
            EXPECT_NE(bytes(a.begin(), a.begin() + static_cast<long>(n)), b) << n;
        }
        if (n >= 4096) {  // every byte written: about n/256 zeros expected, not n
            size_t zeros = 0;
            for (size_t i = 0; i < n; i++) zeros += b[i] == 0;
            EXPECT_LT(zeros, n / 64) << n;
        }
    }
    crypto::gen_random(nullptr, 0);
    for (int i = 0; i < 1000; i++) ASSERT_GE(random::rand_secure(), 0);
}

TEST(SecureRandom, DeviceFallbackReadsToTheEndOrFails) {
    bytes buffer(100, 0xAA);
    EXPECT_TRUE(platform::read_random_device("/dev/zero", buffer.data(), buffer.size()));
    EXPECT_EQ(buffer, bytes(100, 0));
    EXPECT_FALSE(platform::read_random_device("/dev/null", buffer.data(), buffer.size()));
    EXPECT_FALSE(platform::read_random_device("/nonexistent/random", buffer.data(), buffer.size()));
    EXPECT_TRUE(platform::read_random_device("/dev/urandom", buffer.data(), buffer.size()));
}

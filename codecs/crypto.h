// Digests and secure random bytes.
//
// MD5 and the SHA digests come from OpenSSL's EVP interface, libcrypto loaded
// at the first digest; the random bytes from the kernel (getrandom, or
// /dev/urandom where that call is missing). Nothing is acquired at start-up.
//
// A failure, a libcrypto that cannot be loaded among them, never hands back
// stale bytes as a result: it raises internal `feature-na`.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zuv::crypto {

constexpr int32_t DIGEST_MAX = 64;

// A digest in its first size bytes.
struct digest_t {
    uint8_t bytes[DIGEST_MAX];
    int32_t size;
};

// The digest of a checksum method id (2 to 6, see codecs/checksum.h); any
// other id raises script `invalid-arg` with the id.
digest_t get_digest(const uint8_t* data, size_t length, int32_t id);

// One digest fed in several pieces, as HMAC needs.
class digest_stream_t {
public:
    explicit digest_stream_t(int32_t id);
    ~digest_stream_t();
    digest_stream_t(const digest_stream_t&) = delete;
    digest_stream_t& operator=(const digest_stream_t&) = delete;

    void add(const uint8_t* data, size_t length);
    digest_t finish();

private:
    void* context_;
};

// Fills the buffer with random bytes from the kernel's secure source
// (platform::random_bytes); a feature-not-available error without one.
void gen_random(void* buffer, size_t length);

}  // namespace zuv::crypto

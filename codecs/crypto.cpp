#include "codecs/crypto.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>

#include "codecs/checksum.h"
#include "datatypes/integer.h"
#include "runtime/fire.h"
#include "runtime/platform/dynamic_library.h"
#include "runtime/platform/platform.h"

namespace zuv::crypto {

namespace {

// libcrypto is loaded at the first digest rather than linked: loading it cost
// every start-up about 2.5M instructions, which most scripts never use.
static_assert(OPENSSL_VERSION_MAJOR == 3, "the headers must describe libcrypto.so.3");

// clang-format off
#define ZUV_CRYPTO_FUNCTIONS(X)                                                                     \
    X(EVP_md5) X(EVP_sha1) X(EVP_sha256) X(EVP_sha384) X(EVP_sha512) X(EVP_Digest)                  \
    X(EVP_MD_CTX_new) X(EVP_MD_CTX_free) X(EVP_DigestInit_ex) X(EVP_DigestUpdate)                   \
    X(EVP_DigestFinal_ex)
// clang-format on

struct crypto_api {
    ZUV_CRYPTO_FUNCTIONS(ZUV_LIBRARY_SLOT)

    static constexpr const char* SONAME = "libcrypto.so.3";
    bool bind(void* library) { return true ZUV_CRYPTO_FUNCTIONS(ZUV_LIBRARY_BIND); }
};

// The loaded library, nullptr when it cannot be had.
const crypto_api* crypto_lib() { return platform::load_library<crypto_api>(); }

[[noreturn]] void unavailable() { fire(err::feature_na); }

// A digest without the library is as unavailable as one it refuses.
const crypto_api& lib() {
    const crypto_api* api = crypto_lib();
    if (api == nullptr) unavailable();
    return *api;
}

// A known id is checked before the library is loaded.
const EVP_MD* algorithm(int32_t id) {
    switch (id) {
    case checksum::MD5: return lib().EVP_md5();
    case checksum::SHA1: return lib().EVP_sha1();
    case checksum::SHA256: return lib().EVP_sha256();
    case checksum::SHA384: return lib().EVP_sha384();
    case checksum::SHA512: return lib().EVP_sha512();
    default: {
        cell_t v{};
        integer::make_at(&v, id);
        fire(err::invalid_arg, &v);
    }
    }
}

}  // namespace

digest_t get_digest(const uint8_t* data, size_t length, int32_t id) {
    const EVP_MD* md = algorithm(id);
    digest_t d{};
    unsigned int size = 0;
    if (!md || lib().EVP_Digest(data, length, d.bytes, &size, md, nullptr) != 1) unavailable();
    d.size = static_cast<int32_t>(size);
    return d;
}

digest_stream_t::digest_stream_t(int32_t id) {
    const EVP_MD* md = algorithm(id);
    EVP_MD_CTX* c = lib().EVP_MD_CTX_new();
    if (!md || !c || lib().EVP_DigestInit_ex(c, md, nullptr) != 1) {
        lib().EVP_MD_CTX_free(c);
        unavailable();
    }
    context_ = c;
}

// A stream exists only once the library is loaded.
digest_stream_t::~digest_stream_t() {
    crypto_lib()->EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(context_));
}

void digest_stream_t::add(const uint8_t* data, size_t length) {
    if (lib().EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(context_), data, length) != 1)
        unavailable();
}

digest_t digest_stream_t::finish() {
    digest_t d{};
    unsigned int size = 0;
    if (lib().EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(context_), d.bytes, &size) != 1)
        unavailable();
    d.size = static_cast<int32_t>(size);
    return d;
}

void gen_random(void* buffer, size_t length) {
    if (!platform::random_bytes(buffer, length)) unavailable();
}

}  // namespace zuv::crypto

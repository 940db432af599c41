#include "codecs/crypto.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>

#include "codecs/checksum.h"
#include "datatypes/integer.h"
#include "runtime/fire.h"
#include "runtime/platform/dynamic_library.h"

namespace zuv::crypto {

namespace {

// libcrypto is loaded at the first digest rather than linked: loading it cost
// every start-up about 2.5M instructions, which most scripts never use.
static_assert(OPENSSL_VERSION_MAJOR == 3, "the headers must describe libcrypto.so.3");

struct crypto_api {
    decltype(&::EVP_md5) md5;
    decltype(&::EVP_sha1) sha1;
    decltype(&::EVP_sha256) sha256;
    decltype(&::EVP_sha384) sha384;
    decltype(&::EVP_sha512) sha512;
    decltype(&::EVP_Digest) digest;
    decltype(&::EVP_MD_CTX_new) md_ctx_new;
    decltype(&::EVP_MD_CTX_free) md_ctx_free;
    decltype(&::EVP_DigestInit_ex) digest_init_ex;
    decltype(&::EVP_DigestUpdate) digest_update;
    decltype(&::EVP_DigestFinal_ex) digest_final_ex;
};

// The loaded library, nullptr when it cannot be had.
const crypto_api* crypto_lib() {
    static crypto_api api{};
    static const bool loaded = [] {
        void* library = platform::open_library("libcrypto.so.3");
        if (library == nullptr) return false;
        using platform::bind_function;
        return bind_function(library, "EVP_md5", &api.md5) &&
               bind_function(library, "EVP_sha1", &api.sha1) &&
               bind_function(library, "EVP_sha256", &api.sha256) &&
               bind_function(library, "EVP_sha384", &api.sha384) &&
               bind_function(library, "EVP_sha512", &api.sha512) &&
               bind_function(library, "EVP_Digest", &api.digest) &&
               bind_function(library, "EVP_MD_CTX_new", &api.md_ctx_new) &&
               bind_function(library, "EVP_MD_CTX_free", &api.md_ctx_free) &&
               bind_function(library, "EVP_DigestInit_ex", &api.digest_init_ex) &&
               bind_function(library, "EVP_DigestUpdate", &api.digest_update) &&
               bind_function(library, "EVP_DigestFinal_ex", &api.digest_final_ex);
    }();
    return loaded ? &api : nullptr;
}

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
    case checksum::MD5: return lib().md5();
    case checksum::SHA1: return lib().sha1();
    case checksum::SHA256: return lib().sha256();
    case checksum::SHA384: return lib().sha384();
    case checksum::SHA512: return lib().sha512();
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
    if (!md || lib().digest(data, length, d.bytes, &size, md, nullptr) != 1) unavailable();
    d.size = static_cast<int32_t>(size);
    return d;
}

digest_stream_t::digest_stream_t(int32_t id) {
    const EVP_MD* md = algorithm(id);
    EVP_MD_CTX* c = lib().md_ctx_new();
    if (!md || !c || lib().digest_init_ex(c, md, nullptr) != 1) {
        lib().md_ctx_free(c);
        unavailable();
    }
    context_ = c;
}

// A stream exists only once the library is loaded.
digest_stream_t::~digest_stream_t() {
    crypto_lib()->md_ctx_free(static_cast<EVP_MD_CTX*>(context_));
}

void digest_stream_t::add(const uint8_t* data, size_t length) {
    if (lib().digest_update(static_cast<EVP_MD_CTX*>(context_), data, length) != 1) unavailable();
}

digest_t digest_stream_t::finish() {
    digest_t d{};
    unsigned int size = 0;
    if (lib().digest_final_ex(static_cast<EVP_MD_CTX*>(context_), d.bytes, &size) != 1)
        unavailable();
    d.size = static_cast<int32_t>(size);
    return d;
}

bool read_random_device(const char* path, void* buffer, size_t length) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    auto* p = static_cast<uint8_t*>(buffer);
    size_t got = 0;
    while (got < length) {
        ssize_t n = read(fd, p + got, length - got);
        if (n > 0) got += static_cast<size_t>(n);
        else if (n < 0 && errno == EINTR) continue;
        else break;
    }
    close(fd);
    return got == length;
}

void gen_random(void* buffer, size_t length) {
    auto* p = static_cast<uint8_t*>(buffer);
    size_t got = 0;
    while (got < length) {
        ssize_t n = getrandom(p + got, length - got, 0);
        if (n > 0) got += static_cast<size_t>(n);
        else if (n < 0 && errno == EINTR) continue;
        else break;  // no such call (an old kernel or a sandbox), or refused
    }
    if (got < length && !read_random_device("/dev/urandom", p + got, length - got)) unavailable();
}

}  // namespace zuv::crypto

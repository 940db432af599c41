#include "codecs/crypto.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>

#include "codecs/checksum.h"
#include "datatypes/integer.h"
#include "runtime/fire.h"

namespace zuv::crypto {

namespace {

const EVP_MD* algorithm(int32_t id) {
    switch (id) {
    case checksum::MD5: return EVP_md5();
    case checksum::SHA1: return EVP_sha1();
    case checksum::SHA256: return EVP_sha256();
    case checksum::SHA384: return EVP_sha384();
    case checksum::SHA512: return EVP_sha512();
    default: {
        cell_t v{};
        integer::make_at(&v, id);
        fire(err::invalid_arg, &v);
    }
    }
}

[[noreturn]] void unavailable() { fire(err::feature_na); }

}  // namespace

digest_t get_digest(const uint8_t* data, size_t length, int32_t id) {
    const EVP_MD* md = algorithm(id);
    digest_t d{};
    unsigned int size = 0;
    if (!md || EVP_Digest(data, length, d.bytes, &size, md, nullptr) != 1) unavailable();
    d.size = static_cast<int32_t>(size);
    return d;
}

digest_stream_t::digest_stream_t(int32_t id) {
    const EVP_MD* md = algorithm(id);
    EVP_MD_CTX* c = EVP_MD_CTX_new();
    if (!md || !c || EVP_DigestInit_ex(c, md, nullptr) != 1) {
        EVP_MD_CTX_free(c);
        unavailable();
    }
    context_ = c;
}

digest_stream_t::~digest_stream_t() { EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(context_)); }

void digest_stream_t::add(const uint8_t* data, size_t length) {
    if (EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(context_), data, length) != 1) unavailable();
}

digest_t digest_stream_t::finish() {
    digest_t d{};
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(context_), d.bytes, &size) != 1) unavailable();
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

#include "codecs/checksum.h"

#include <zlib.h>

#include <cstring>

#include "datatypes/symbol.h"
#include "runtime/console_output.h"

namespace zuv::checksum {

int32_t tcp_word, md5_word, sha1_word, crc32_word, adler32_word, sha256_word, sha384_word,
    sha512_word, hash_word;

namespace {

struct word_t {
    int32_t* symbol;
    const char* text;
    int32_t id;
};

const word_t method_words[] = {
    {&tcp_word, "tcp", TCP},           {&md5_word, "md5", MD5},
    {&sha1_word, "sha1", SHA1},        {&crc32_word, "crc32", CRC32},
    {&adler32_word, "adler32", NO_ID}, {&sha256_word, "sha256", SHA256},
    {&sha384_word, "sha384", SHA384},  {&sha512_word, "sha512", SHA512},
    {&hash_word, "hash", NO_ID},
};

const word_t* find(int32_t symbol) {
    if (symbol <= 0) return nullptr;
    int32_t s = symbol::resolve(symbol);
    for (const word_t& w : method_words)
        if (*w.symbol == s) return &w;
    return nullptr;
}

void notice(const char* text) {
    platform::print_latin1(reinterpret_cast<const uint8_t*>(text), std::strlen(text));
}

}  // namespace

void init() {
    for (const word_t& w : method_words) *w.symbol = symbol::resolve(symbol::make(w.text));
}

bool method_q(int32_t symbol) { return find(symbol) != nullptr; }

int32_t method_id(int32_t symbol) {
    const word_t* w = find(symbol);
    return w ? w->id : NO_ID;
}

int32_t digest_size(int32_t id) {
    switch (id) {
    case MD5: return 16;
    case SHA1: return 20;
    case SHA256: return 32;
    case SHA384: return 48;
    case SHA512: return 64;
    default: return 0;
    }
}

int32_t hmac_block_size(int32_t id) { return id == SHA384 || id == SHA512 ? 128 : 64; }

uint32_t crc32(const uint8_t* data, size_t length) {
    return static_cast<uint32_t>(::crc32_z(0, data, length));
}

uint32_t adler32(const uint8_t* data, size_t length) {
    return static_cast<uint32_t>(::adler32_z(1, data, length));
}

uint32_t tcp(const uint8_t* data, size_t length) {
    // 64 bits hold the sum of any series without wrapping; a 32-bit sum would
    // drop carries from 128 KB of high bytes on.
    uint64_t sum = 0;
    size_t i = 0;
    for (; i + 1 < length; i += 2) sum += uint32_t{data[i]} << 8 | data[i + 1];
    if (i < length) sum += data[i];
    while (sum >> 16) sum = (sum >> 16) + (sum & 0xFFFF);
    return ~static_cast<uint32_t>(sum) & 0xFFFF;
}

std::optional<crypto::digest_t> hmac(const uint8_t* message, size_t message_length,
                                     const uint8_t* key, size_t key_length, int32_t method) {
    int32_t id = method_id(method);
    if (digest_size(id) == 0) {
        notice("The selected algorithm doesn't support HMAC calculation");
        return std::nullopt;
    }
    const size_t block = static_cast<size_t>(hmac_block_size(id));
    crypto::digest_t short_key;
    if (key_length > block) {
        short_key = crypto::get_digest(key, key_length, id);
        key = short_key.bytes;
        key_length = static_cast<size_t>(short_key.size);
    }
    uint8_t inner_pad[128] = {}, outer_pad[128] = {};
    if (key_length) {
        std::memcpy(inner_pad, key, key_length);
        std::memcpy(outer_pad, key, key_length);
    }
    for (size_t i = 0; i < block; i++) {
        inner_pad[i] ^= 0x36;
        outer_pad[i] ^= 0x5C;
    }
    crypto::digest_stream_t inner(id);
    inner.add(inner_pad, block);
    inner.add(message, message_length);
    crypto::digest_t inner_digest = inner.finish();
    crypto::digest_stream_t outer(id);
    outer.add(outer_pad, block);
    outer.add(inner_digest.bytes, static_cast<size_t>(inner_digest.size));
    return outer.finish();
}

void hash() { notice("** /hash support not yet implemented; algorithm TBD."); }

}  // namespace zuv::checksum

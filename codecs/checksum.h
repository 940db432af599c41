// Checksums: the computations behind the `checksum` native and the checks of
// the compression framings.
//
// A method is named by a word; its symbol is compared with the nine method
// words made by init (canonical ids, so letter case does not matter). The
// methods with an id (tcp 0, crc32 1, md5 2, sha1 3, sha256 4, sha384 5,
// sha512 6) index the digest and HMAC block size tables; adler32 and hash
// have no id.
//
// CRC-32 is the reflected CRC of polynomial 0xEDB88320 (the gzip trailer's),
// Adler-32 the zlib trailer's; zlib computes both. The digests and HMAC live
// in codecs/crypto.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "codecs/crypto.h"

namespace zuv::checksum {

enum method_id_t : int32_t { TCP = 0, CRC32, MD5, SHA1, SHA256, SHA384, SHA512 };
constexpr int32_t NO_ID = -1;

// Step "checksum, compress, call": makes the nine method words.
void init();

// Canonical symbol ids of the method words; 0 until init has run.
extern int32_t tcp_word, md5_word, sha1_word, crc32_word, adler32_word, sha256_word, sha384_word,
    sha512_word, hash_word;

bool method_q(int32_t symbol);
// The id of a method word, NO_ID for adler32, hash and any other word.
int32_t method_id(int32_t symbol);
// Bytes of the digest of an id, 0 for ids without one.
int32_t digest_size(int32_t id);
// HMAC block size: 128 bytes for SHA-384 and SHA-512, 64 otherwise.
int32_t hmac_block_size(int32_t id);

uint32_t crc32(const uint8_t* data, size_t length);
// The 16-bit Internet checksum (RFC 1071), with one difference kept on
// purpose: an odd last byte is added as it is, as the low-order byte.
uint32_t tcp(const uint8_t* data, size_t length);
uint32_t adler32(const uint8_t* data, size_t length);

// HMAC (RFC 2104) of the message under the key, over the digest of the
// method word. Methods without a digest (tcp, crc32, adler32, hash) print a
// notice and give nothing.
std::optional<crypto::digest_t> hmac(const uint8_t* message, size_t message_length,
                                     const uint8_t* key, size_t key_length, int32_t method);

// The `/hash` case of the native: prints a notice, computes nothing.
void hash();

}  // namespace zuv::checksum

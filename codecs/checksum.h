// Checksums and digests: CRC-32 and Adler-32 (zlib's), the 16-bit internet
// checksum (ours), and MD5, SHA-1, SHA-256, SHA-384 and SHA-512 with HMAC
// (OpenSSL's libcrypto).
#pragma once

#include <cstddef>
#include <cstdint>

namespace zan::checksum {

// The method numbers the checksum native passes.
enum class Method : int { tcp = 0, crc32 = 1, md5 = 2, sha1 = 3, sha256 = 4, sha384 = 5, sha512 = 6, adler32 = 7 };

constexpr size_t max_digest = 64;

uint32_t crc32(const uint8_t* data, size_t length);
uint32_t adler32(const uint8_t* data, size_t length);
// The one's complement of the one's-complement sum of big-endian 16-bit
// words; an odd last byte counts as a low byte.
uint16_t tcp(const uint8_t* data, size_t length);

// Bytes of the method's digest; 0 for the integer sums.
size_t digest_size(Method method);

// The digest of the data, or with a key its HMAC, into out (room for 64
// bytes). False when the crypto library refuses the algorithm or fails.
bool digest(Method method, const uint8_t* data, size_t length, uint8_t* out);
bool hmac(Method method, const uint8_t* data, size_t length, const uint8_t* key, size_t key_length,
          uint8_t* out);

}  // namespace zan::checksum

// Checksums and digests. CRC-32 and Adler-32 come from zlib, the digests and
// HMAC from libcrypto's one-shot calls, each result checked: a provider that
// refuses an algorithm (a FIPS-only configuration refusing MD5) is reported,
// never answered with an unfilled buffer.
#include "codecs/checksum.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <zlib.h>

namespace zan::checksum {

namespace {

// libcrypto wants an address even for no bytes.
const uint8_t no_bytes[1] = {0};
const uint8_t* nonnull(const uint8_t* p) { return p ? p : no_bytes; }

const EVP_MD* algorithm(Method method) {
    switch (method) {
    case Method::md5: return EVP_md5();
    case Method::sha1: return EVP_sha1();
    case Method::sha256: return EVP_sha256();
    case Method::sha384: return EVP_sha384();
    case Method::sha512: return EVP_sha512();
    default: return nullptr;
    }
}

}  // namespace

uint32_t crc32(const uint8_t* data, size_t length) {
    return uint32_t(::crc32_z(0, nonnull(data), length));
}

uint32_t adler32(const uint8_t* data, size_t length) {
    return uint32_t(::adler32_z(1, nonnull(data), length));
}

uint16_t tcp(const uint8_t* data, size_t length) {
    // A 64-bit sum keeps every carry, however long the data.
    uint64_t sum = 0;
    size_t i = 0;
    for (; i + 1 < length; i += 2) sum += uint32_t(data[i]) << 8 | data[i + 1];
    if (i < length) sum += data[i];
    while (sum >> 16) sum = (sum >> 16) + (sum & 0xFFFF);
    return uint16_t(~sum);
}

size_t digest_size(Method method) {
    switch (method) {
    case Method::md5: return 16;
    case Method::sha1: return 20;
    case Method::sha256: return 32;
    case Method::sha384: return 48;
    case Method::sha512: return 64;
    default: return 0;
    }
}

bool digest(Method method, const uint8_t* data, size_t length, uint8_t* out) {
    const EVP_MD* md = algorithm(method);
    unsigned int size = 0;
    if (!md || EVP_Digest(nonnull(data), length, out, &size, md, nullptr) != 1) return false;
    return size == digest_size(method);
}

bool hmac(Method method, const uint8_t* data, size_t length, const uint8_t* key, size_t key_length,
          uint8_t* out) {
    const EVP_MD* md = algorithm(method);
    if (!md || key_length > size_t(INT32_MAX)) return false;
    unsigned int size = 0;
    if (!HMAC(md, nonnull(key), int(key_length), nonnull(data), length, out, &size)) return false;
    return size == digest_size(method);
}

}  // namespace zan::checksum

// The codec services of the checksum, compress and decompress natives.
#include "codecs/services.h"

#include <cstring>

#include "codecs/checksum.h"
#include "codecs/deflate.h"
#include "evaluator/natives_text.h"
#include "runtime/output.h"

namespace zan::codecs {

namespace {

int32_t sum(int method, const uint8_t* bytes, size_t length) {
    switch (checksum::Method(method)) {
    case checksum::Method::crc32: return int32_t(checksum::crc32(bytes, length));
    case checksum::Method::adler32: return int32_t(checksum::adler32(bytes, length));
    default: return checksum::tcp(bytes, length);
    }
}

bool digest(int method, const uint8_t* bytes, size_t length, const uint8_t* key, size_t key_length,
            uint8_t* out) {
    auto m = checksum::Method(method);
    return key ? checksum::hmac(m, bytes, length, key, key_length, out)
               : checksum::digest(m, bytes, length, out);
}

int32_t hash_table(const uint8_t*, size_t, int32_t) {
    static const char line[] = "** /hash support not yet implemented; algorithm TBD.";
    output::print_latin1_line(line, uint32_t(std::strlen(line)));
    return 0;
}

void compress(int method, const uint8_t* in, size_t length, ByteBuffer& out) {
    deflate::compress(deflate::Method(method), in, length, out);
}

bool decompress(int method, const uint8_t* in, size_t length, size_t hint, size_t limit,
                ByteBuffer& out) {
    return deflate::decompress(deflate::Method(method), in, length, hint, limit, out) == deflate::Result::ok;
}

}  // namespace

void install() {
    natives::TextServices s = natives::text_services();
    s.sum = sum;
    s.digest = digest;
    s.hash_table = hash_table;
    s.compress = compress;
    s.decompress = decompress;
    natives::set_text_services(s);
}

}  // namespace zan::codecs

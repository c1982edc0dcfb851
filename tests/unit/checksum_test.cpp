// Checksums and digests against values computed with Python's zlib, hashlib
// and hmac.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "codecs/checksum.h"
#include "tests/unit/evaluator_support.h"
#include "tests/unit/codec_support.h"

using namespace zan;
using checksum::Method;
using test::Bytes;
using test::hex;

TEST(Checksum, Sums) {
    struct Case {
        Bytes data;
        uint32_t crc, adler;
        uint16_t tcp;
    };
    const Case cases[] = {
        {{}, 0, 1, 0xFFFF},
        {test::bytes("abc"), 0x352441C2, 0x024D0127, 0x9E3A},
        {test::bytes("123456789"), 0xCBF43926, 0x091E01DE, 0x2EF2},
        {hex("010203"), 0x55BC801D, 0x000D0007, 0xFEFA},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(checksum::crc32(c.data.data(), c.data.size()), c.crc);
        EXPECT_EQ(checksum::adler32(c.data.data(), c.data.size()), c.adler);
        EXPECT_EQ(checksum::tcp(c.data.data(), c.data.size()), c.tcp);
    }
}

TEST(Checksum, InternetChecksumKeepsEveryCarry) {
    Bytes ones(200000, 0xFF);  // 100,000 words FFFF: a 32-bit sum would lose carries
    EXPECT_EQ(checksum::tcp(ones.data(), ones.size()), 0);
    Bytes odd = hex("FFFFFF");
    EXPECT_EQ(checksum::tcp(odd.data(), odd.size()), 0xFF00);
}

TEST(Checksum, Digests) {
    struct Case {
        Method m;
        const char* hex;
    };
    const Case cases[] = {
        {Method::md5, "900150983CD24FB0D6963F7D28E17F72"},
        {Method::sha1, "A9993E364706816ABA3E25717850C26C9CD0D89D"},
        {Method::sha256, "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"},
        {Method::sha384,
         "CB00753F45A35E8BB5A03D699AC65007272C32AB0EDED1631A8B605A43FF5BED8086072BA1E7CC2358BAECA134C825A7"},
        {Method::sha512,
         "DDAF35A193617ABACC417349AE20413112E6FA4E89A97EA20A9EEEE64B55D39A2192992A274FC1A836BA3C23A3FEEBBD"
         "454D4423643CE80E2A9AC94FA54CA49F"},
    };
    Bytes abc = test::bytes("abc");
    for (const Case& c : cases) {
        uint8_t out[checksum::max_digest];
        ASSERT_TRUE(checksum::digest(c.m, abc.data(), abc.size(), out));
        Bytes want = hex(c.hex);
        EXPECT_EQ(Bytes(out, out + checksum::digest_size(c.m)), want);
    }
    uint8_t out[checksum::max_digest];
    EXPECT_FALSE(checksum::digest(Method::crc32, abc.data(), abc.size(), out));
}

TEST(Checksum, Hmac) {
    struct Case {
        Method m;
        Bytes key;
        const char* hex;
    };
    Bytes long_key(100, 0x6B);  // longer than sha256's block, shorter than sha512's
    const Case cases[] = {
        {Method::sha256, test::bytes("key"), "9C196E32DC0175F86F4B1CB89289D6619DE6BEE699E4C378E68309ED97A1A6AB"},
        {Method::md5, {}, "DD2701993D29FDD0B032C233CEC63403"},
        {Method::sha256, long_key, "B58B2B694FDBA0DD76DA3EBE99174F728D327560F36ECE224E90867972479922"},
        {Method::sha512, long_key,
         "ED99A1284C39586942DD1E802ED67E0F54F6AFB6B62481AD16C82467EE5D09D1"
         "9DC663A134E239505C9D8E221CA98A3D513C670216C714235FEE63EDAF717CE8"},
    };
    Bytes abc = test::bytes("abc");
    for (const Case& c : cases) {
        uint8_t out[checksum::max_digest];
        ASSERT_TRUE(checksum::hmac(c.m, abc.data(), abc.size(), c.key.data(), c.key.size(), out));
        EXPECT_EQ(Bytes(out, out + checksum::digest_size(c.m)), hex(c.hex)) << int(c.m);
    }
}

// A crypto library that refuses the algorithm (here: every fetch must come
// from a FIPS provider, and none is loaded) gives a refusal, not a digest of
// whatever the buffer held; the checksum native turns it into not-here.
TEST(Checksum, RefusedAlgorithm) {
    ASSERT_EQ(EVP_set_default_properties(nullptr, "fips=yes"), 1);
    Bytes abc = test::bytes("abc");
    uint8_t out[checksum::max_digest];
    bool digested = checksum::digest(Method::sha256, abc.data(), abc.size(), out);
    bool keyed = checksum::hmac(Method::md5, abc.data(), abc.size(), abc.data(), abc.size(), out);
    test::start();
    errors::Id id = test::raised_id([] { test::eval_text("checksum \"abc\" 'sha1"); });
    ASSERT_EQ(EVP_set_default_properties(nullptr, ""), 1);
    EXPECT_FALSE(digested);
    EXPECT_FALSE(keyed);
    EXPECT_EQ(id.code(), (errors::Id{errors::Category::internal, 3}).code());  // not-here
    EXPECT_TRUE(checksum::digest(Method::sha256, abc.data(), abc.size(), out));
}

// DEFLATE, zlib and gzip: the framing byte for byte, streams made by
// Python's zlib and gzip, and a decoder that refuses every damaged stream.
#include <gtest/gtest.h>

#include <cstring>

#include "codecs/checksum.h"
#include "codecs/deflate.h"
#include "tests/unit/codec_support.h"

using namespace zan;
using deflate::Method;
using deflate::Result;
using test::Bytes;
using test::hex;

namespace {

constexpr size_t no_limit = size_t(1) << 32;

// "The quick brown fox jumps over the lazy dog. " four times.
const Bytes fox = test::repeat("The quick brown fox jumps over the lazy dog. ", 4);
// Its raw DEFLATE stream from Python's zlib at level 6.
const char* fox_raw =
    "0BC94855282CCD4CCE56482ACA2FCF5348CBAF50C82ACD2D2856C82F4B2D5228014AE72456552AA4E4A7EB29840C0EC500";
// A gzip member of it with every header field: FHCRC, FEXTRA, FNAME, FCOMMENT.
const char* fox_gzip_full =
    "1F8B081E40E20100020303006162636E616D652E747874006120636F6D6D656E7400DD9C0BC94855282CCD4CCE56482ACA"
    "2FCF5348CBAF50C82ACD2D2856C82F4B2D5228014AE72456552AA4E4A7EB29840C0EC5001B8DFF44B4000000";

Bytes packed(Method m, const Bytes& in) {
    ByteBuffer out;
    deflate::compress(m, in.data(), in.size(), out);
    return Bytes(out.begin(), out.end());
}

Result unpack(Method m, const Bytes& in, Bytes& out, size_t hint = 0, size_t limit = no_limit) {
    ByteBuffer got{7};  // not empty before: a failure must leave it empty
    Result r = deflate::decompress(m, in.data(), in.size(), hint, limit, got);
    if (r != Result::ok) EXPECT_TRUE(got.empty());
    out.assign(got.begin(), got.end());
    return r;
}

Bytes cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

TEST(Deflate, FramingByteForByte) {
    EXPECT_EQ(packed(Method::zlib, {}), hex("7801030000000001"));
    EXPECT_EQ(packed(Method::raw, {}), hex("0300"));
    EXPECT_EQ(packed(Method::raw, test::bytes("a")), hex("4B0400"));
    EXPECT_EQ(packed(Method::raw, fox), hex(fox_raw));
    Bytes gz = packed(Method::gzip, test::bytes("hello"));
    EXPECT_EQ(Bytes(gz.begin(), gz.begin() + 10), hex("1F8B0800000000000404"));
    EXPECT_EQ(Bytes(gz.end() - 8, gz.end()), hex("86A6103605000000"));  // CRC-32, length
    Bytes z = packed(Method::zlib, fox);
    EXPECT_EQ(z, cat(cat(hex("7801"), hex(fox_raw)), hex("FA60409D")));
}

TEST(Deflate, GzipInputPassesThrough) {
    Bytes gz = hex("1F8B0800000000000203CB48CDC9C9070086A6103605000000");
    EXPECT_EQ(packed(Method::gzip, gz), gz);
    Bytes two = hex("1F8B");  // too short to count as gzip
    EXPECT_NE(packed(Method::gzip, two), two);
}

TEST(Deflate, RoundTrips) {
    Bytes big = test::repeat("0123456789abcdefghijklmnopqrstuvwxyz\n", 100000);
    Bytes mixed = cat(test::noise(70000), big);
    for (Method m : {Method::zlib, Method::raw, Method::gzip})
        for (const Bytes* in : {&fox, const_cast<const Bytes*>(&big), const_cast<const Bytes*>(&mixed)}) {
            Bytes out;
            ASSERT_EQ(unpack(m, packed(m, *in), out), Result::ok) << int(m);
            EXPECT_EQ(out, *in) << int(m);
            // A wrong hint, small or large, still gives the exact output.
            for (size_t hint : {size_t(1), in->size() * 3}) {
                ASSERT_EQ(unpack(m, packed(m, *in), out, hint), Result::ok);
                EXPECT_EQ(out.size(), in->size());
            }
        }
}

TEST(Deflate, DecodesStreamsMadeElsewhere) {
    struct Case {
        const char* name;
        Method m;
        Bytes in;
        Bytes want;
    };
    Bytes hello = test::bytes("hello"), world = test::bytes(" world");
    Bytes gz_hello = hex("1F8B0800000000000203CB48CDC9C9070086A6103605000000");
    Bytes gz_world = hex("1F8B08000000000002035328CF2FCA490100CB423B4A06000000");
    const Case cases[] = {
        {"zlib level 9", Method::zlib,
         hex("78DA0BC94855282CCD4CCE56482ACA2FCF5348CBAF50C82ACD2D2856C82F4B2D5228014AE72456552AA4E4A7EB2984"
             "0C0EC500FA60409D"),
         fox},
        {"gzip with every header field", Method::gzip, hex(fox_gzip_full), fox},
        {"two gzip members", Method::gzip, cat(gz_hello, gz_world), test::bytes("hello world")},
        {"stored block", Method::raw, hex("010700F8FF73746F72656421"), test::bytes("stored!")},
        {"empty stored block, then a final one", Method::raw, hex("000000FFFF4B0400"), test::bytes("a")},
        {"raw ignores what follows", Method::raw, cat(hex("4B0400"), hex("DEADBEEF")), test::bytes("a")},
    };
    for (const Case& c : cases) {
        Bytes out;
        ASSERT_EQ(unpack(c.m, c.in, out), Result::ok) << c.name;
        EXPECT_EQ(out, c.want) << c.name;
    }
}

TEST(Deflate, RefusesDamagedStreams) {
    Bytes gz = hex("1F8B0800000000000203CB48CDC9C9070086A6103605000000");
    Bytes z = packed(Method::zlib, fox);
    struct Case {
        const char* name;
        Method m;
        Bytes in;
    };
    auto changed = [](Bytes b, size_t i, uint8_t v) { return b[i] = v, b; };
    const Case cases[] = {
        {"raw without its final block", Method::raw, hex("4B04")},
        {"raw, nothing", Method::raw, {}},
        {"raw, a non-final block only", Method::raw, hex("000000FFFF")},
        {"stored NLEN not LEN's complement", Method::raw, hex("010700F8FE73746F72656421")},
        {"stored block past the input", Method::raw, hex("010800F7FF73746F72656421")},
        {"block type 3", Method::raw, hex("07")},
        {"zlib header only", Method::zlib, hex("7801")},
        {"zlib, no data", Method::zlib, {}},
        {"zlib check bits", Method::zlib, changed(z, 1, 0x02)},
        {"zlib method 7", Method::zlib, changed(changed(z, 0, 0x77), 1, 0x09)},
        {"zlib window over 32 KiB", Method::zlib, hex("88980300000001")},
        {"zlib preset dictionary", Method::zlib, hex("78BB0300000000010300000001")},
        {"zlib trailer cut", Method::zlib, Bytes(z.begin(), z.end() - 1)},
        {"zlib byte after the trailer", Method::zlib, cat(z, hex("00"))},
        {"zlib Adler-32 wrong", Method::zlib, changed(z, z.size() - 1, z.back() ^ 1)},
        {"gzip of 17 bytes", Method::gzip, Bytes(gz.begin(), gz.begin() + 17)},
        {"gzip magic", Method::gzip, changed(gz, 1, 0x8C)},
        {"gzip method", Method::gzip, changed(gz, 2, 7)},
        {"gzip reserved flag", Method::gzip, changed(gz, 3, 0x20)},
        {"gzip name without its end", Method::gzip, changed(gz, 3, 0x08)},
        {"gzip header CRC wrong", Method::gzip, changed(hex(fox_gzip_full), 34, 0)},
        {"gzip CRC-32 wrong", Method::gzip, changed(gz, gz.size() - 8, 0)},
        {"gzip length wrong", Method::gzip, changed(gz, gz.size() - 4, 6)},
        {"gzip byte between data and trailer", Method::gzip,
         [&] { Bytes b = gz; b.insert(b.end() - 8, 0x00); return b; }()},
        {"gzip junk after the last member", Method::gzip, cat(gz, hex("00"))},
        {"gzip second member cut", Method::gzip, cat(gz, Bytes(gz.begin(), gz.end() - 1))},
    };
    for (const Case& c : cases) {
        Bytes out{1};
        EXPECT_EQ(unpack(c.m, c.in, out), Result::bad_data) << c.name;
        EXPECT_TRUE(out.empty()) << c.name;
    }
}

TEST(Deflate, CodeFaults) {
    // Hand-made blocks, each with one fault (zero bytes follow, so none is
    // refused merely for ending early).
    struct Case {
        const char* name;
        const char* hex;
    };
    const Case cases[] = {
        {"over-subscribed code-length code", "05E093244992244992000000000000000000"},
        {"a repeat as the first length", "050012000000000000000000"},
        {"lengths run past HLIT + HDIST", "050080E4FF1F0000000000000000"},
        {"incomplete literal/length code", "05E001090000008020FC7F9D0000000000000000"},
        {"length symbol 286", "1B030000"},
        {"distance symbol 30", "4B043E0000"},
        {"distance before the output", "4B04420000"},
    };
    for (const Case& c : cases) {
        Bytes out;
        EXPECT_EQ(unpack(Method::raw, hex(c.hex), out), Result::bad_data) << c.name;
    }
}

TEST(Deflate, DeclaredSizesAreOnlyHints) {
    // 18 bytes whose ISIZE claims 4 GiB: nothing that large is allocated.
    Bytes gz = hex("1F8B08000000000000000300000000000000FFFFFFFF");
    ByteBuffer out;
    EXPECT_EQ(deflate::decompress(Method::gzip, gz.data(), gz.size(), 0, no_limit, out), Result::bad_data);
    EXPECT_LT(out.capacity(), size_t(1) << 16);
    Bytes ok = packed(Method::zlib, test::bytes("a"));
    EXPECT_EQ(deflate::decompress(Method::zlib, ok.data(), ok.size(), size_t(1) << 40, no_limit, out),
              Result::ok);
    EXPECT_LT(out.capacity(), size_t(1) << 16);
    EXPECT_EQ(out.size(), 1u);
}

TEST(Deflate, OutputLimit) {
    Bytes in(100000, 'x');
    for (Method m : {Method::zlib, Method::raw, Method::gzip}) {
        Bytes p = packed(m, in), out;
        EXPECT_EQ(unpack(m, p, out, 0, in.size()), Result::ok) << int(m);
        EXPECT_EQ(out.size(), in.size());
        EXPECT_EQ(unpack(m, p, out, 0, in.size() - 1), Result::too_large) << int(m);
        EXPECT_EQ(unpack(m, p, out, in.size(), 10), Result::too_large) << int(m);
    }
}

// Every value of every byte of a small stream either is refused or, where the
// byte only informs (MTIME, XFL, OS, FLEVEL, FTEXT, padding bits), decodes to
// the same output.
TEST(Deflate, EveryByteOfSmallStreams) {
    Bytes data = test::bytes("hello hello hello, zan");
    for (Method m : {Method::zlib, Method::gzip}) {
        Bytes p = packed(m, data), want;
        ASSERT_EQ(unpack(m, p, want), Result::ok);
        for (size_t i = 0; i < p.size(); ++i)
            for (int v = 0; v < 256; ++v) {
                Bytes s = p, out;
                s[i] = uint8_t(v);
                Result r = unpack(m, s, out);
                bool informs = m == Method::gzip && i >= 4 && i <= 9;
                if (informs || (m == Method::gzip && i == 3 && v == 1)) {
                    EXPECT_EQ(r, Result::ok) << int(m) << " byte " << i << " = " << v;
                }
                if (r == Result::ok) {
                    EXPECT_EQ(out, want) << int(m) << " byte " << i << " = " << v;
                } else {
                    EXPECT_EQ(r, Result::bad_data);
                }
            }
    }
}

// The LZ codec: its exact bits on a known stream, round trips across block
// boundaries, and a decoder that refuses every malformed stream without
// reading past it or allocating what the header merely claims.
#include <gtest/gtest.h>

#include "codecs/lz.h"
#include "tests/unit/codec_support.h"

using namespace zan;
using test::Bytes;
using test::hex;

namespace {

// Writes LZ codes by hand, least-significant bit first.
struct Writer {
    Bytes out;
    uint64_t acc = 0;
    unsigned count = 0;
    void put(uint32_t v, unsigned k) {
        acc |= uint64_t(v) << count;
        count += k;
        while (count >= 8) out.push_back(uint8_t(acc)), acc >>= 8, count -= 8;
    }
    void literal(uint8_t b) { put(uint32_t(b) << 1, 9); }
    // A match of length 3-6 (prefix "1") at distance 1-8 (k = 2).
    void short_match(unsigned len, unsigned dist) {
        put(1, 1), put(1, 1), put(len - 3, 2), put(0, 4), put(dist - 1, 3);
    }
    Bytes finish() {
        if (count) out.push_back(uint8_t(acc));
        acc = 0, count = 0;
        return out;
    }
};

void put32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

// A stream of one block from hand-written codes.
Bytes stream(uint32_t size, uint32_t block, const Bytes& bits) {
    Bytes body;
    put32(body, block);
    body.insert(body.end(), bits.begin(), bits.end());
    Bytes s;
    put32(s, uint32_t(body.size()));
    put32(s, size);
    s.insert(s.end(), body.begin(), body.end());
    return s;
}

bool decodes(const Bytes& s, Bytes& out) { return lz::decompress(s.data(), s.size(), out); }

}  // namespace

TEST(Lz, RunOfOneByteIsALiteralAndOneMatch) {
    Bytes in(200, 0x61), packed, back;
    ASSERT_TRUE(lz::compress(in.data(), in.size(), packed));
    EXPECT_EQ(packed, hex("08000000C8000000C8000000C2024800"));
    ASSERT_TRUE(decodes(packed, back));
    EXPECT_EQ(back, in);
    EXPECT_EQ(lz::declared_size(packed.data(), packed.size()), 200);
}

TEST(Lz, RoundTrips) {
    struct Case {
        const char* name;
        Bytes data;
    };
    Bytes mixed = test::repeat("abcdefghij", 30000);
    Bytes tail = test::noise(5000);
    mixed.insert(mixed.end(), tail.begin(), tail.end());
    Bytes far = test::noise(200000, 7);  // a repeat near the far end of the window
    Bytes again(far.begin(), far.begin() + 70000);
    far.insert(far.end(), again.begin(), again.end());
    const Case cases[] = {
        {"text", test::repeat("The quick brown fox jumps over the lazy dog. ", 100)},
        {"exactly 128", test::repeat("ab", 64)},
        {"two blocks and a bit", test::repeat("0123456789abcdefghijklmnopqrstuvwxyz\n", 60000)},
        {"exactly one block", test::repeat("zan!", lz::max_block / 4)},
        {"text then noise", mixed},
        {"far repeat", far},
    };
    for (const Case& c : cases) {
        Bytes packed, back;
        ASSERT_TRUE(lz::compress(c.data.data(), c.data.size(), packed)) << c.name;
        EXPECT_LT(packed.size(), c.data.size()) << c.name;
        ASSERT_TRUE(decodes(packed, back)) << c.name;
        EXPECT_EQ(back, c.data) << c.name;
    }
}

TEST(Lz, RefusesShortOrIncompressibleInput) {
    Bytes out{1, 2, 3};
    Bytes short_input(127, 0);
    EXPECT_FALSE(lz::compress(short_input.data(), short_input.size(), out));
    EXPECT_TRUE(out.empty());
    Bytes random = test::noise(4096);
    EXPECT_FALSE(lz::compress(random.data(), random.size(), out));
}

TEST(Lz, DecodesHandWrittenCodes) {
    Writer w;
    w.literal('a'), w.literal('b'), w.short_match(6, 2);  // abababab
    Bytes bits = w.finish(), out;
    ASSERT_TRUE(decodes(stream(8, 8, bits), out));
    EXPECT_EQ(out, test::bytes("abababab"));
    // Bytes after the payload are never read.
    Bytes s = stream(8, 8, bits);
    s.push_back(0xFF), s.push_back(0x00);
    ASSERT_TRUE(decodes(s, out));
    EXPECT_EQ(out, test::bytes("abababab"));
}

TEST(Lz, RefusesMalformedStreams) {
    Writer ab;
    ab.literal('a'), ab.literal('b'), ab.short_match(6, 2);
    Bytes good = ab.finish();
    Writer before;
    before.literal('a'), before.short_match(3, 2);  // reaches before the block
    Writer past;
    past.literal('a'), past.short_match(6, 1);  // runs past a block of 4
    Writer cut;
    cut.literal('a');
    struct Case {
        const char* name;
        Bytes s;
    };
    Bytes huge = hex("08000000FFFFFFFF01000000C2020000");  // 16 bytes asking for 4 GiB
    Bytes wrapping = hex("08000000F8FFFFFF08000000C2024800");  // size + 8 wraps in 32 bits
    const Case cases[] = {
        {"no header", hex("080000")},
        {"payload past the input", [&] { Bytes s = stream(8, 8, good); s.pop_back(); return s; }()},
        {"block size 0", stream(8, 0, good)},
        {"block size 1,048,577", stream(8, lz::max_block + 1, good)},
        {"declared shorter than the output", stream(7, 8, good)},
        {"declared longer than the output", stream(9, 8, good)},
        {"output beyond the declared size by a block", stream(4, 8, good)},
        {"match before the block", stream(4, 4, before.finish())},
        {"match past the block", stream(4, 4, past.finish())},
        {"codes run out", stream(2, 2, cut.finish())},
        {"huge declared size", huge},
        {"wrapping declared size", wrapping},
        {"payload left over", [&] {
             Bytes s = stream(8, 8, good);
             s[0] += 2, s.push_back(0), s.push_back(0);
             return s;
         }()},
    };
    for (const Case& c : cases) {
        Bytes out{9};
        EXPECT_FALSE(decodes(c.s, out)) << c.name;
        EXPECT_TRUE(out.empty()) << c.name;
    }
}

TEST(Lz, EveryPrefixAndEveryByteChangeIsSafe) {
    Bytes in = test::repeat("Zanbin compressed data, corrupted on purpose. ", 20);
    Bytes packed, out;
    ASSERT_TRUE(lz::compress(in.data(), in.size(), packed));
    for (size_t n = 0; n < packed.size(); ++n) {
        Bytes prefix(packed.begin(), packed.begin() + n);
        prefix.shrink_to_fit();  // so the sanitizer sees a read past it
        EXPECT_FALSE(decodes(prefix, out)) << n;
    }
    for (size_t i = 0; i < packed.size(); ++i)
        for (int v = 0; v < 256; ++v) {
            Bytes s = packed;
            s[i] = uint8_t(v);
            if (decodes(s, out)) {
                EXPECT_EQ(int64_t(out.size()), lz::declared_size(s.data(), s.size()));
            }
        }
}

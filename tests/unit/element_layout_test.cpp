// Byte layouts: vector! elements (little-endian, low bytes kept, char!
// unsigned, singles rounded), the bytes of values in a binary!, and the base
// encoders and decoders on their edges.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "datatypes/binary.h"
#include "datatypes/binary_base.h"
#include "datatypes/vector.h"
#include "evaluator_support.h"

namespace zan {
namespace {

class ElementLayout : public ::testing::Test {
protected:
    void SetUp() override { test::start(); }
};

TEST_F(ElementLayout, VectorElementsAreLittleEndianLowBytes) {
    struct Case {
        Type element;
        uint32_t unit;
        Cell value;
        const char* bytes;  // as stored
        int32_t reads;      // as read back (integer or code point)
    };
    const Case cases[] = {
        {Type::integer, 1, integer_cell(200), "\xC8", -56},
        {Type::integer, 2, integer_cell(70000), "\x70\x11", 4464},
        {Type::integer, 4, integer_cell(-2), "\xFE\xFF\xFF\xFF", -2},
        {Type::char_, 1, char_cell(0xFF), "\xFF", 0xFF},
        {Type::char_, 2, char_cell(0xFFFF), "\xFF\xFF", 0xFFFF},
    };
    for (const Case& c : cases) {
        std::byte buf[8] = {};
        vector::set_value(buf, c.value, c.unit);
        EXPECT_EQ(std::memcmp(buf, c.bytes, c.unit), 0) << int(c.element) << " " << c.unit;
        Cell back = vector::get_value(buf, c.unit, c.element);
        EXPECT_EQ(type_of(back), c.element);
        EXPECT_EQ(int_of(back), c.reads) << int(c.element) << " " << c.unit;
    }
    std::byte single[4];
    vector::set_value(single, float_cell(0.1), 4);
    EXPECT_EQ(float_of(vector::get_value(single, 4, Type::float_)), double(0.1f));
    std::byte wide[8];
    vector::set_value(wide, float_cell(0.5, Type::percent), 8);
    Cell p = vector::get_value(wide, 8, Type::percent);
    EXPECT_TRUE(is(p, Type::percent));
    EXPECT_EQ(float_of(p), 0.5);
}

TEST_F(ElementLayout, ValueBytesOfBinaries) {
    struct Case {
        const char* code;
        const char* bytes;
        size_t length;
    };
    const Case cases[] = {
        {"#\"\xC3\xA9\"", "\xC3\xA9", 2},
        {"-1", "\xFF", 1},
        {"[1 \"A\" #{02} [3]]", "\x01\x41\x02\x03", 4},
        {"none", "", 0},
        {"1.2.3", "\x01\x02\x03", 3},
    };
    for (const Case& c : cases) {
        Cell v = test::eval_text(c.code);
        std::string out;
        binary::value_bytes(v, -1, false, out);
        EXPECT_EQ(out, std::string(c.bytes, c.length)) << c.code;
    }
    Cell v = test::eval_text("1.5");
    std::string out;
    binary::value_bytes(v, -1, true, out);
    EXPECT_EQ(out, "1.5");
}

TEST_F(ElementLayout, BaseCodecEdges) {
    struct Case {
        int base;
        const char* text;
        bool ok;
        const char* bytes;
        size_t length;
    };
    const Case cases[] = {
        {64, "YWJj", true, "abc", 3},      {64, "YWI=", true, "ab", 2},
        {64, "YQ==", true, "a", 1},        {64, "YW", true, "", 0},
        {64, "Y=", false, "", 0},          {64, "=", false, "", 0},
        {64, "YW Jj;x\nYQ==", true, "abca", 4},
        {16, "0a1B", true, "\x0A\x1B", 2}, {16, "0a1", true, "\x0A", 1},
        {16, "\xC1", false, "", 0},        {16, "0g", false, "", 0},
        {2, "00000001 11111111", true, "\x01\xFF", 2},
        {2, "0000001", false, "", 0},
        {58, "115Q", true, "\x00\x00\xFF", 3},
        {58, "0", false, "", 0},           {58, "S\xE9", false, "", 0},
    };
    for (const Case& c : cases) {
        binary::Text t{reinterpret_cast<const std::byte*>(c.text), std::strlen(c.text), 1};
        std::string out;
        EXPECT_EQ(binary::decode_base(c.base, t, out), c.ok) << c.base << " " << c.text;
        if (c.ok) {
            EXPECT_EQ(out, std::string(c.bytes, c.length)) << c.base << " " << c.text;
        }
    }
}

}  // namespace
}  // namespace zan

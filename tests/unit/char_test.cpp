#include <cmath>

#include <cstring>
#include <vector>

#include "datatypes/char.h"
#include "runtime/memory.h"
#include "datatypes/string.h"
#include "value_support.h"

using namespace zan;
using test::binary;
using R = actions::Row;

namespace {

Cell c(uint32_t cp) { return char_cell(cp); }
Cell i(int32_t v) { return integer_cell(v); }

Cell text(std::string_view s) {
    Node n = string::make_buffer(16, 1);
    string::append_utf8(n, s);
    return string::make_cell(n, 0, Type::string);
}

TEST(Char, ArithmeticKeepsCharacters) {
    struct Case {
        test::BinarySlot slot;
        Cell a, b;
        uint32_t expect;
    } cases[] = {
        {&R::add, c('a'), i(1), 'b'},
        {&R::subtract, c('b'), i(1), 'a'},
        {&R::subtract, c('a'), c('A'), ' '},
        {&R::divide, c('d'), i(3), '!'},
        {&R::multiply, c('a'), i(2), 194},
        {&R::add, c('a'), float_cell(1.9), 'b'},
        {&R::remainder, c('d'), i(7), 2},
        {&R::or_t, c('A'), i(0x20), 'a'},
        {&R::add, c(0x10FFFE), i(1), 0x10FFFF},
    };
    for (const auto& k : cases) {
        Cell r = binary(k.slot, k.a, k.b);
        ASSERT_TRUE(is(r, Type::char_));
        EXPECT_EQ(uint32_t(int_of(r)), k.expect);
    }
}

TEST(Char, ArithmeticErrors) {
    struct Case {
        test::BinarySlot slot;
        Cell a, b;
        errors::Id id;
    } cases[] = {
        {&R::subtract, c('a'), i(98), errors::id::overflow},
        {&R::add, c(0x10FFFF), i(1), errors::id::overflow},
        {&R::multiply, c(0x10000), i(0x10000), errors::id::overflow},
        {&R::add, c('a'), i(INT32_MAX), errors::id::overflow},
        {&R::add, c('a'), float_cell(1e12), errors::id::overflow},
        {&R::divide, c('a'), i(0), errors::id::zero_divide},
        {&R::add, c('a'), none_cell(), errors::id::invalid_type},
    };
    for (const auto& k : cases)
        EXPECT_EQ(test::raised([&] { binary(k.slot, k.a, k.b); }), k.id);
}

TEST(Char, InheritsFromInteger) {
    datatype::register_all();
    const R& row = datatype::row(Type::char_);
    EXPECT_EQ(row.even_q.fn, datatype::row(Type::integer).even_q.fn);
    EXPECT_EQ(row.absolute.fn, datatype::row(Type::integer).absolute.fn);
    EXPECT_EQ(row.negate.fn, nullptr);
    EXPECT_EQ(row.power.fn, nullptr);
    EXPECT_EQ(row.complement.fn, nullptr);
    EXPECT_TRUE(row.odd_q.fn(c('a')));
}

TEST(Char, MakeAndTo) {
    EXPECT_EQ(int_of(test::to(Type::char_, i(1114111))), 0x10FFFF);
    EXPECT_EQ(int_of(test::to(Type::char_, float_cell(65.7))), 'A');
    EXPECT_EQ(int_of(test::to(Type::char_, text("abc"))), 'a');
    EXPECT_EQ(int_of(test::make(Type::char_, text("\xC3\xA9t\xC3\xA9"))), 0xE9);
    for (Cell bad : std::initializer_list<Cell>{i(1114112), i(-1), float_cell(-1.0), float_cell(1e20), float_cell(std::nan(""))})
        EXPECT_EQ(test::raised([&] { test::to(Type::char_, bad); }), errors::id::out_of_range);
    EXPECT_EQ(test::raised([] { test::to(Type::char_, text("")); }), errors::id::bad_to_arg);
    EXPECT_EQ(test::raised([] { test::to(Type::char_, none_cell()); }), errors::id::bad_to_arg);
}

TEST(Char, MakeFromBinary) {
    auto bin = [](std::vector<uint8_t> bytes, uint32_t index) {
        Node n = memory::alloc_bytes(uint32_t(bytes.size()));
        memory::Series* s = memory::buffer(n);
        if (!bytes.empty()) std::memcpy(s->at_head(), bytes.data(), bytes.size());
        s->tail = s->head + uint32_t(bytes.size());
        return make_cell(Type::binary, index, n);
    };
    EXPECT_EQ(int_of(test::to(Type::char_, bin({0x41, 0x42}, 1))), 'B');
    EXPECT_EQ(int_of(test::to(Type::char_, bin({0xE2, 0x82, 0xAC}, 0))), 0x20AC);
    EXPECT_EQ(test::raised([&] { test::to(Type::char_, bin({0xE2, 0x82}, 0)); }),
              errors::id::bad_to_arg);
    EXPECT_EQ(test::raised([&] { test::to(Type::char_, bin({}, 0)); }), errors::id::bad_to_arg);
    EXPECT_EQ(test::raised([&] { test::to(Type::char_, bin({0xFF}, 0)); }).category,
              errors::Category::access);
}

TEST(Char, MakeFromTextAtPosition) {
    Cell s = text("ab\xE2\x82\xAC");
    s.w1 = 2;
    EXPECT_EQ(int_of(test::to(Type::char_, s)), 0x20AC);
    s.w1 = 3;
    EXPECT_EQ(test::raised([&] { test::to(Type::char_, s); }), errors::id::bad_to_arg);
}

TEST(Char, Compare) {
    EXPECT_EQ(test::compare(c('a'), i(97), 0), 0);
    EXPECT_NE(test::compare(c('a'), i(97), 2), 0);
    EXPECT_NE(test::compare(c('a'), c('A'), 0), 0);
    EXPECT_EQ(test::compare(c('a'), c('b'), 3), -1);
    EXPECT_EQ(test::compare(c('a'), float_cell(97), 0), -2);
}

TEST(Char, FormAndMold) {
    EXPECT_EQ(test::form(c('a')), "a");
    EXPECT_EQ(test::mold(c('a')), "#\"a\"");
    EXPECT_EQ(test::form(c(0xE9)), "\xC3\xA9");
    EXPECT_EQ(test::mold(c('\n')), "#\"^/\"");
}

}  // namespace

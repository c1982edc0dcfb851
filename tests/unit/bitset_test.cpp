// bitset!: the spec language, membership beyond the stored bytes, the
// bitwise operations on complemented sets, editing actions and text.
#include <gtest/gtest.h>

#include "tests/unit/strings_support.h"

using namespace zan;
using namespace zan::test;
using errors::Id;
namespace ids = errors::id;

namespace {

struct BitsetTest : ::testing::Test {
    void SetUp() override { setup_strings(); }
    Cell make_bits(Cell spec) { return test::make(Type::bitset, spec); }
    bool pick(Cell bits, Cell index) {
        Cell args[2] = {bits, index};
        bitset::pick(args, 0);
        return logic_of(args[0]);
    }
    Cell minus() { return word_value("-"); }
};

Cell chr(uint32_t c) { return char_cell(c); }

TEST_F(BitsetTest, MakeFromSpecs) {
    struct Case {
        const char* name;
        Cell spec;
        const char* mold;
    };
    Case cases[] = {
        {"string", str("ABC"), "make bitset! #{000000000000000070}"},
        {"char", chr('a'), "make bitset! #{00000000000000000000000040}"},
        {"size rounds up", integer_cell(10), "make bitset! #{0000}"},
        {"size zero", integer_cell(0), "make bitset! #{}"},
        {"empty string", str(""), "make bitset! #{}"},
        {"integer list", block({integer_cell(0), integer_cell(9)}), "make bitset! #{8040}"},
        {"not", block({word_value("not"), str("a")}), "make bitset! [not #{00000000000000000000000040}]"},
        {"not binary", block({word_value("not"), binary("\x0F")}), "make bitset! [not #{0F}]"},
        {"binary", binary("\x80\x01"), "make bitset! #{8001}"},
    };
    for (const Case& c : cases) EXPECT_EQ(mold_of(make_bits(c.spec)), c.mold) << c.name;
    EXPECT_EQ(form_of(make_bits(str("a"))), "make bitset! #{00000000000000000000000040}");
    EXPECT_EQ(mold::mold_text(make_bits(str("a")), {}, 20), "make bitset! #{00000");
}

TEST_F(BitsetTest, Membership) {
    Cell abc = make_bits(str("ABC"));
    EXPECT_EQ(bitset::length_q(abc), 72);
    EXPECT_TRUE(pick(abc, chr('B')));
    EXPECT_FALSE(pick(abc, chr('a')));
    EXPECT_FALSE(pick(abc, integer_cell(1000)));
    EXPECT_FALSE(pick(abc, integer_cell(-1)));
    EXPECT_TRUE(pick(abc, str("CAB")));
    EXPECT_FALSE(pick(abc, str("CAD")));

    Cell lower = make_bits(block({chr('a'), minus(), chr('z')}));
    for (uint32_t c = 0; c < 256; ++c)
        EXPECT_EQ(pick(lower, chr(c)), c >= 'a' && c <= 'z') << c;

    EXPECT_TRUE(pick(lower, block({chr('b'), minus(), chr('y')})));
    EXPECT_FALSE(pick(lower, block({chr('a'), minus(), chr('{')})));
    EXPECT_FALSE(pick(lower, block({chr('a'), minus(), chr(0x4E2D)})));

    Cell not_a = make_bits(block({word_value("not"), str("a")}));
    EXPECT_FALSE(pick(not_a, block({integer_cell(0), minus(), integer_cell(1000000)})));
    EXPECT_TRUE(pick(not_a, block({integer_cell(98), minus(), integer_cell(1000000)})));
    EXPECT_TRUE(pick(not_a, chr('b')));
    EXPECT_TRUE(pick(not_a, integer_cell(100000)));
    EXPECT_TRUE(pick(not_a, integer_cell(-5)));
    EXPECT_FALSE(pick(not_a, chr('a')));
    // Every character of a tested string counts, wherever it lies.
    EXPECT_FALSE(pick(not_a, str("\u00e9\u4e2da")));
    EXPECT_TRUE(pick(not_a, str("\u4e2db")));
}

TEST_F(BitsetTest, SpecErrors) {
    struct Case {
        const char* name;
        Cell spec;
        Id id;
    };
    Case cases[] = {
        {"range backwards", block({chr('z'), minus(), chr('a')}), ids::past_end},
        {"range of two types", block({chr('a'), minus(), integer_cell(122)}), ids::invalid_arg},
        {"range without end", block({chr('a'), minus()}), ids::past_end},
        {"range to a string", block({chr('a'), minus(), str("z")}), ids::past_end},
        {"negative index", block({integer_cell(-1)}), ids::out_of_range},
        {"negative size", integer_cell(-8), ids::out_of_range},
        {"binary inside a block", block({binary("a")}), ids::not_done},
        {"file spec", str("a", Type::file), ids::bad_make_arg},
        {"none spec", none_cell(), ids::bad_make_arg},
    };
    for (const Case& c : cases) EXPECT_EQ(raised([&] { make_bits(c.spec); }), c.id) << c.name;
    EXPECT_EQ(raised([&] { test::to(Type::bitset, integer_cell(8)); }), ids::bad_to_arg);
    EXPECT_EQ(raised([&] { test::to(Type::bitset, none_cell()); }), ids::bad_to_arg);
    EXPECT_EQ(raised([&] { pick(make_bits(str("a")), none_cell()); }), ids::invalid_arg);
}

TEST_F(BitsetTest, ComplementAndClear) {
    Cell empty = make_bits(integer_cell(8));
    Cell args[1] = {empty};
    bitset::complement(args);
    Cell all = args[0];
    EXPECT_TRUE(bitset::complemented(all));
    EXPECT_FALSE(bitset::complemented(empty));  // a copy was changed
    for (int i : {0, 7, 8, 65, 100000}) EXPECT_TRUE(pick(all, integer_cell(i))) << i;
    EXPECT_EQ(mold_of(all), "make bitset! [not #{00}]");

    Cell not_a = make_bits(block({word_value("not"), str("a")}));
    Cell c[1] = {not_a};
    bitset::clear(c);
    EXPECT_TRUE(bitset::complemented(not_a));
    EXPECT_TRUE(pick(not_a, chr('a')));
    EXPECT_EQ(mold_of(not_a), "make bitset! [not #{00000000000000000000000000}]");
}

TEST_F(BitsetTest, PokeAppendRemove) {
    Cell bits = make_bits(integer_cell(0));
    Cell p[3] = {bits, integer_cell(3), integer_cell(1)};
    bitset::poke(p, 0);
    EXPECT_EQ(int_of(p[0]), 1);
    EXPECT_TRUE(pick(bits, integer_cell(3)));
    for (Cell off : {integer_cell(0), none_cell(), logic_cell(false), float_cell(0.0)}) {
        Cell q[3] = {bits, integer_cell(3), off};
        bitset::poke(q, 0);
        EXPECT_FALSE(pick(bits, integer_cell(3)));
        Cell on[3] = {bits, integer_cell(3), logic_cell(true)};
        bitset::poke(on, 0);
    }
    Cell a[2] = {bits, str("\u00e9")};
    bitset::append(a, nullptr, false, nullptr);
    EXPECT_EQ(bitset::byte_count(bits), 0xE9u / 8 + 1);
    EXPECT_TRUE(pick(bits, chr(0xE9)));

    Cell r[1] = {bits};
    EXPECT_EQ(raised([&] { bitset::remove(r, nullptr, nullptr); }), ids::missing_arg);
    Cell part = chr(0xE9);
    bitset::remove(r, &part, nullptr);
    EXPECT_FALSE(pick(bits, chr(0xE9)));

    // Removing from a complemented set takes the members away too.
    Cell not_a = make_bits(block({word_value("not"), str("a")}));
    Cell rb[1] = {not_a};
    Cell b = chr('b'), far = integer_cell(5000);
    bitset::remove(rb, &b, nullptr);
    bitset::remove(rb, &far, nullptr);
    EXPECT_FALSE(pick(not_a, chr('b')));
    EXPECT_FALSE(pick(not_a, integer_cell(5000)));
    EXPECT_TRUE(pick(not_a, integer_cell(5001)));
    // Adding to a complemented set: a string reaching past the bytes still
    // adds the characters inside them.
    Cell ab[2] = {not_a, str("ab\u4e2d")};
    bitset::append(ab, nullptr, false, nullptr);
    EXPECT_TRUE(pick(not_a, chr('a')));
    EXPECT_TRUE(pick(not_a, chr('b')));
}

TEST_F(BitsetTest, Bitwise) {
    auto op = [](void (*fn)(actions::Args), Cell a, Cell b) {
        Cell args[2] = {a, b};
        fn(args);
        return args[0];
    };
    Cell x = make_bits(block({integer_cell(1), integer_cell(2)}));        // #{60}
    Cell y = make_bits(block({integer_cell(2), integer_cell(9)}));        // #{2040}
    EXPECT_EQ(mold_of(op(bitset::or_t, x, y)), "make bitset! #{6040}");
    EXPECT_EQ(mold_of(op(bitset::and_t, x, y)), "make bitset! #{20}");
    EXPECT_EQ(mold_of(op(bitset::xor_t, x, y)), "make bitset! #{4040}");
    EXPECT_EQ(raised([&] { op(bitset::or_t, x, integer_cell(1)); }), ids::invalid_type);

    // With a complemented operand the result answers membership by the same
    // operation at every index, past the bytes too.
    Cell not_x = make_bits(block({word_value("not"), integer_cell(1)}));  // all but 1
    struct Case {
        void (*fn)(actions::Args);
        bool (*expect)(bool, bool);
    };
    Case cases[] = {
        {bitset::or_t, [](bool a, bool b) { return a || b; }},
        {bitset::and_t, [](bool a, bool b) { return a && b; }},
        {bitset::xor_t, [](bool a, bool b) { return a != b; }},
    };
    for (const Case& c : cases) {
        for (auto [a, b] : {std::pair{not_x, y}, std::pair{y, not_x}}) {
            Cell r = op(c.fn, a, b);
            for (int i : {0, 1, 2, 9, 10, 200})
                EXPECT_EQ(pick(r, integer_cell(i)),
                          c.expect(pick(a, integer_cell(i)), pick(b, integer_cell(i))))
                    << i << " " << mold_of(a) << " " << mold_of(b);
        }
    }
    Cell set_args[2] = {not_x, y};
    bitset::do_bitwise(set_args, 11);  // exclude
    for (int i : {0, 1, 2, 9, 300}) EXPECT_EQ(pick(set_args[0], integer_cell(i)), i != 1 && i != 2 && i != 9) << i;
    Cell uniq[2] = {x, none_cell()};
    bitset::do_bitwise(uniq, 8);
    EXPECT_EQ(uniq[0].w2, x.w2);
}

TEST_F(BitsetTest, Compare) {
    Cell two = make_bits(integer_cell(16)), three = make_bits(integer_cell(24));
    Cell full_two = make_bits(block({integer_cell(0), minus(), integer_cell(15)}));
    EXPECT_EQ(bitset::compare(three, full_two, 3), 1);
    EXPECT_EQ(bitset::compare(two, full_two, 3), -1);
    EXPECT_EQ(bitset::compare(two, make_bits(integer_cell(16)), 0), 0);
    EXPECT_EQ(bitset::compare(two, make_bits(integer_cell(16)), 9), -1);
    EXPECT_EQ(bitset::compare(two, two, 9), 0);
    EXPECT_EQ(bitset::compare(two, integer_cell(1), 0), -2);
    // Bytes weigh from the last one back.
    Cell lo = make_bits(block({integer_cell(0)})), hi = make_bits(block({integer_cell(7)}));
    EXPECT_EQ(bitset::compare(lo, hi, 3), 1);
}

TEST_F(BitsetTest, PathAndFind) {
    Cell bits = make_bits(str("a"));
    Cell result;
    Cell element = chr('a');
    actions::PathStep step{&element, nullptr, nullptr, nullptr, nullptr, 0, false, true, true, false};
    bitset::eval_path(result, bits, step);
    EXPECT_TRUE(logic_of(result));
    Cell value = logic_cell(false);
    step.value_to_set = &value;
    bitset::eval_path(result, bits, step);
    EXPECT_FALSE(pick(bits, chr('a')));
    Cell bad = str("a");
    step.element = &bad;
    EXPECT_EQ(raised([&] { bitset::eval_path(result, bits, step); }), ids::invalid_type);

    Cell f[2] = {make_bits(str("xy")), str("yx")};
    bitset::find(f, {});
    EXPECT_TRUE(is(f[0], Type::logic));
    Cell g[2] = {make_bits(str("xy")), chr('z')};
    bitset::find(g, {});
    EXPECT_TRUE(is(g[0], Type::none));
}

TEST_F(BitsetTest, SurvivesCollections) {
    memory::set_gc_stress(3);
    collector::set_enabled(true);
    uint32_t cycles = collector::cycles();
    // The string is rooted before block() allocates: a collection may run there.
    Cell e_acute = str("\u00e9");
    collector::Root keep_string(e_acute);
    Cell spec = block({chr('a'), minus(), chr('z'), e_acute, integer_cell(3000)});
    collector::Root keep(spec);
    Cell bits = make_bits(spec);
    collector::Root keep_bits(bits);
    for (int i = 0; i < 20; ++i) {
        Cell args[2] = {bits, block({integer_cell(5000 + i * 100)})};
        collector::Root k0(args[0]), k1(args[1]);
        bitset::append(args, nullptr, false, nullptr);
        Cell other = str("filler text to move buffers");
        (void)other;
    }
    EXPECT_TRUE(pick(bits, chr('q')));
    EXPECT_TRUE(pick(bits, chr(0xE9)));
    EXPECT_TRUE(pick(bits, integer_cell(6900)));
    EXPECT_FALSE(pick(bits, integer_cell(6901)));
    EXPECT_EQ(bitset::byte_count(bits), 6900u / 8 + 1);
    EXPECT_GE(collector::cycles() - cycles, 3u);
    memory::set_gc_stress(0);
    collector::set_enabled(false);
}

}  // namespace

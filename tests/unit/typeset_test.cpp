#include <cstring>

#include "context_fixture.h"
#include "datatypes/runtime_words.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "runtime/memory.h"
#include "value_support.h"

using namespace zan;
using R = actions::Row;

namespace {

Cell of(std::initializer_list<Type> types) {
    datatype::register_all();
    Cell s = typeset::make();
    for (Type t : types) typeset::add(s, t);
    return s;
}

Cell find(Cell set, Cell value) {
    Cell args[2] = {set, value};
    test::row_of(set).find.fn(args, {});
    return args[0];
}

TEST(Typeset, MaskLayout) {
    struct Case {
        Type t;
        int byte;
        uint8_t bit;
    } cases[] = {{Type::datatype, 0, 0x40}, {Type::unset, 0, 0x20}, {Type::integer, 1, 0x10},
                 {Type::event, 6, 0x02}};
    for (const auto& c : cases) {
        Cell s = of({c.t});
        uint8_t bytes[12];
        std::memcpy(bytes, &s.w1, 4);
        std::memcpy(bytes + 4, &s.w2, 4);
        std::memcpy(bytes + 8, &s.w3, 4);
        for (int b = 0; b < 12; ++b) EXPECT_EQ(bytes[b], b == c.byte ? c.bit : 0) << int(c.t);
    }
}

TEST(Typeset, DefaultArgumentTypesetRefusesOnlyUnset) {
    Cell d = typeset::default_arg();
    for (int t = 1; t <= 54; ++t) EXPECT_EQ(typeset::has(d, Type(t)), Type(t) != Type::unset);
    Cell ok = integer_cell(1), bad = unset_cell();
    EXPECT_EQ(&interp::check_arg_type(d, 0, ok), &ok);
    EXPECT_EQ(test::raised([&] { interp::check_arg_type(d, 0, bad); }), errors::id::expect_arg);
    EXPECT_EQ(test::raised([&] { interp::check_unset(0, bad); }), errors::id::expect_arg);
}

TEST(Typeset, Find) {
    Cell s = of({Type::integer, Type::float_});
    EXPECT_TRUE(logic_of(find(s, datatype_cell(Type::integer))));
    EXPECT_FALSE(logic_of(find(s, datatype_cell(Type::string))));
    EXPECT_EQ(test::raised([&] { find(s, integer_cell(1)); }), errors::id::invalid_arg);
}

TEST(Typeset, SetOperations) {
    Cell s = of({Type::integer, Type::float_});
    Cell u = test::binary(&R::or_t, s, datatype_cell(Type::string));
    EXPECT_TRUE(typeset::has(u, Type::string));
    EXPECT_EQ(typeset::count(u), 3);
    Cell args[2] = {u, datatype_cell(Type::string)};
    typeset::do_bitwise(args, 11);
    EXPECT_FALSE(typeset::has(args[0], Type::string));
    EXPECT_EQ(typeset::count(args[0]), 2);
    Cell x = test::binary(&R::and_t, s, of({Type::float_, Type::block}));
    EXPECT_EQ(typeset::count(x), 1);
    Cell d = test::binary(&R::xor_t, s, of({Type::float_, Type::block}));
    EXPECT_TRUE(typeset::has(d, Type::integer) && typeset::has(d, Type::block));
    EXPECT_EQ(typeset::count(d), 2);
    EXPECT_EQ(test::raised([&] { test::binary(&R::or_t, s, integer_cell(1)); }),
              errors::id::invalid_arg);
}

TEST(Typeset, CompareBySetAndSortByCount) {
    Cell a = of({Type::integer, Type::float_}), b = of({Type::float_, Type::integer});
    Cell c = of({Type::string, Type::block}), big = of({Type::none, Type::logic, Type::block});
    EXPECT_EQ(test::compare(a, b, 0), 0);
    EXPECT_NE(test::compare(a, c, 0), 0);
    EXPECT_EQ(test::compare(a, c, 7), 0);
    EXPECT_EQ(test::compare(a, big, 7), -1);
    EXPECT_EQ(test::compare(big, a, 8), 1);
    EXPECT_EQ(test::compare(a, b, 3), -2);
    EXPECT_EQ(test::compare(a, integer_cell(1), 0), -2);
}

TEST(Typeset, Text) {
    Cell s = of({Type::float_, Type::integer});
    EXPECT_EQ(test::mold(s), "make typeset! [integer! float!]");
    EXPECT_EQ(test::form(s), "make typeset! [integer! float!]");
    actions::MoldFlags only;
    only.only = true;
    EXPECT_EQ(test::mold(s, only), "integer! float!");
    EXPECT_EQ(test::mold(typeset::make()), "make typeset! []");
    // Only registered types are listed, though complement sets every bit.
    Cell all = test::unary(&R::complement, typeset::make());
    EXPECT_EQ(all.w3, 0xFFFFFFFFu);
    std::string names;
    for (int t = 1; t <= datatype::type_count(); ++t) {
        if (!datatype::registered(Type(t))) continue;
        if (!names.empty()) names += ' ';
        names += datatype::name(Type(t));
    }
    EXPECT_EQ(test::mold(all, only), names);
    EXPECT_EQ(test::mold(all, only).substr(0, 30), "datatype! unset! none! logic! ");
}

TEST(Typeset, PartStopsBetweenNames) {
    datatype::register_all();
    Cell s = of({Type::integer, Type::float_, Type::logic});
    actions::MoldFlags only;
    only.only = true;
    EXPECT_EQ(mold::mold_text(s, only, 3), "log");
    EXPECT_EQ(mold::mold_text(s, only, 0), "");
}

TEST(Typeset, MakeAndTo) {
    Cell s = of({Type::integer});
    EXPECT_EQ(test::make(Type::typeset, s).w1, s.w1);
    EXPECT_EQ(test::raised([] { test::to(Type::typeset, integer_cell(1)); }),
              errors::id::bad_to_arg);
}

TEST(Typeset, AddType) {
    Cell s = typeset::make();
    typeset::add_type(s, datatype_cell(Type::integer));
    typeset::add_type(s, datatype_cell(Type::integer));
    typeset::add_type(s, of({Type::block, Type::string}));
    EXPECT_EQ(typeset::count(s), 3);
    EXPECT_EQ(test::raised([&] { typeset::add_type(s, integer_cell(3)); }), errors::id::invalid_arg);
}

}  // namespace

namespace {

TEST(Typeset, MakeFromBlock) {
    datatype::register_all();
    Node n = memory::alloc_cells(4);
    memory::Series* s = memory::buffer(n);
    Cell items[] = {datatype_cell(Type::integer), datatype_cell(Type::integer),
                    of({Type::string, Type::block}), datatype_cell(Type::float_)};
    std::memcpy(s->cells(), items, sizeof items);
    s->tail = s->head + sizeof items;
    Cell made = test::make(Type::typeset, make_cell(Type::block, 0, n));
    EXPECT_EQ(typeset::count(made), 4);
    Cell from_third = test::make(Type::typeset, make_cell(Type::block, 3, n));
    EXPECT_EQ(typeset::count(from_third), 1);
    memory::buffer(n)->cells()[1] = integer_cell(1);
    EXPECT_EQ(test::raised([&] { test::make(Type::typeset, make_cell(Type::block, 0, n)); }),
              errors::id::invalid_arg);
    EXPECT_EQ(int_of(errors::pending_arg(1)), 1);
}

}  // namespace

namespace {

TEST(Typeset, FromSpecTypeBlock) {
    datatype::register_all();
    Cell inner[] = {datatype_cell(Type::string)};
    Node in = memory::alloc_cells(1);
    std::memcpy(memory::buffer(in)->cells(), inner, sizeof inner);
    memory::buffer(in)->tail += sizeof inner;
    Cell items[] = {datatype_cell(Type::integer), make_cell(Type::block, 0, in),
                    of({Type::file, Type::url})};
    Node n = memory::alloc_cells(3);
    std::memcpy(memory::buffer(n)->cells(), items, sizeof items);
    memory::buffer(n)->tail += sizeof items;
    Cell set = typeset::from_spec(make_cell(Type::block, 0, n));
    EXPECT_EQ(set.w1, of({Type::integer, Type::file, Type::url}).w1);
    EXPECT_EQ(typeset::count(set), 3);
    memory::buffer(n)->cells()[2] = integer_cell(4);
    EXPECT_EQ(test::raised([&] { typeset::from_spec(make_cell(Type::block, 0, n)); }),
              errors::id::invalid_type_spec);
}

}  // namespace

namespace {

TEST(Typeset, WordsInBlocksStandForTheirValues) {
    testing_contexts::start_runtime();
    Cell integer_word = word::load("integer!"), float_word = word::load("float!");
    word::set_checked(integer_word, datatype_cell(Type::integer));
    word::set_checked(float_word, datatype_cell(Type::float_));
    Cell numbers = word::load("my-numbers!");
    word::set_checked(numbers, of({Type::integer, Type::float_, Type::percent}));
    testing_contexts::Kept spec(testing_contexts::block_of({numbers, datatype_cell(Type::string)}));
    Cell made = test::make(Type::typeset, spec.v);
    EXPECT_EQ(typeset::count(made), 4);
    EXPECT_TRUE(typeset::has(made, Type::percent));

    // In a function spec, a word naming a word stands for object!.
    Cell named = word::load("a-word-valued-word");
    word::set_checked(named, integer_word);
    testing_contexts::Kept types(testing_contexts::block_of({float_word, named}));
    Cell set = typeset::from_spec(types.v);
    EXPECT_TRUE(typeset::has(set, Type::float_));
    EXPECT_TRUE(typeset::has(set, Type::object));
    EXPECT_EQ(typeset::count(set), 2);
    // Made from a block, the same word is refused.
    EXPECT_EQ(test::raised([&] { test::make(Type::typeset, types.v); }), errors::id::invalid_arg);
}

TEST(Typeset, ToBlockListsTheNameWords) {
    testing_contexts::start_runtime();
    testing_contexts::Kept result(none_cell());
    typeset::to_block(of({Type::float_, Type::integer, Type::block}), result.v);
    EXPECT_EQ(test::mold(result.v), "[block! integer! float!]");
    EXPECT_TRUE(is(testing_contexts::at(result.v, 0), Type::word));
    typeset::to_block(typeset::make(), result.v);
    EXPECT_EQ(test::mold(result.v), "[]");
}

}  // namespace

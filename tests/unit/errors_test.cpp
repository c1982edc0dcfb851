#include "value_support.h"

using namespace zan;

namespace {

TEST(Errors, FireKeepsIdAndArguments) {
    Cell a = integer_cell(1), b = datatype_cell(Type::float_);
    EXPECT_EQ(test::raised([&] { errors::fire(errors::id::bad_to_arg, &a, &b); }),
              errors::id::bad_to_arg);
    EXPECT_EQ(int_of(errors::pending_arg(1)), 1);
    EXPECT_EQ(errors::pending_arg(2).w1, uint32_t(Type::float_));
    EXPECT_TRUE(is(errors::pending_arg(3), Type::unset));
    EXPECT_TRUE(is(errors::pending_arg(4), Type::unset));
}

TEST(Errors, Codes) {
    struct Case {
        errors::Id id;
        int code;
    } cases[] = {
        {errors::id::no_value, 300},     {errors::id::bad_to_arg, 354},
        {errors::id::type_limit, 346},   {errors::id::zero_divide, 400},
        {errors::id::overflow, 401},     {errors::id::too_deep, 906},
        {errors::id::invalid_type, 310}, {errors::id::not_related, 320},
    };
    for (const auto& c : cases) EXPECT_EQ(c.id.code(), c.code);
}

TEST(Errors, ExpectArgNamesTheCallThroughProviders) {
    errors::set_call_word_provider([] { return integer_cell(77); });
    errors::set_arg_word_provider([](int position) { return integer_cell(position); });
    Cell v = none_cell();
    EXPECT_EQ(test::raised([&] { errors::expect_arg(v, 2); }), errors::id::expect_arg);
    EXPECT_EQ(int_of(errors::pending_arg(1)), 77);
    EXPECT_EQ(errors::pending_arg(2).w1, uint32_t(Type::none));
    EXPECT_EQ(int_of(errors::pending_arg(3)), 2);
    errors::set_call_word_provider(nullptr);
    errors::set_arg_word_provider(nullptr);
}

}  // namespace

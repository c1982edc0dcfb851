#include <string>

#include "callable_support.h"
#include "evaluator/stack.h"

using namespace zan;
using namespace zan::test;

namespace {

class Error : public ::testing::Test {
protected:
    void SetUp() override { use_test_interpreter(); }
    void TearDown() override { error::set_form_services(nullptr, nullptr); }
};

Cell make_error(const Cell& spec) {
    Cell args[2] = {datatype_cell(Type::error), spec};
    error::make(args, Type::error);
    return args[0];
}

std::string name_of_field(const Cell& e, int f) { return word_name(*error::field_at(e, f)); }

bool starts(const std::string& text, const std::string& head) { return text.rfind(head, 0) == 0; }

TEST_F(Error, CatalogueShape) {
    const int counts[] = {5, 1, 7, 94, 3, 15, 0, 0, 1, 14};
    for (int c = 0; c < error::catalog::category_count; ++c)
        EXPECT_EQ(error::catalog::id_count(c), counts[c]) << error::catalog::category_name(c);
    EXPECT_STREQ(error::catalog::category_type(3), "Script Error");
    EXPECT_STREQ(error::catalog::category_type(1), "note");
    EXPECT_STREQ(error::catalog::id_name(3, 93), "zb-invalid-record");
    EXPECT_EQ(error::catalog::find_category("internal"), 9);
    EXPECT_EQ(error::catalog::find_id(3, "bad-make-arg"), 53);
}

TEST_F(Error, RaisedIdsNameTheirCatalogueEntries) {
    struct Case {
        errors::Id id;
        const char* name;
    } cases[] = {
        {errors::id::no_value, "no-value"},           {errors::id::need_value, "need-value"},
        {errors::id::expect_arg, "expect-arg"},       {errors::id::invalid_arg, "invalid-arg"},
        {errors::id::invalid_type, "invalid-type"},   {errors::id::invalid_type_spec, "invalid-type-spec"},
        {errors::id::out_of_range, "out-of-range"},   {errors::id::invalid_refine_arg, "invalid-refine-arg"},
        {errors::id::bad_make_arg, "bad-make-arg"},   {errors::id::bad_to_arg, "bad-to-arg"},
        {errors::id::move_bad, "move-bad"},           {errors::id::invalid_char, "invalid-char"},
        {errors::id::zero_divide, "zero-divide"},     {errors::id::no_memory, "no-memory"},
        {errors::id::stack_overflow, "stack-overflow"}, {errors::id::too_deep, "too-deep"},
        {errors::id::no_cycle, "no-cycle"},           {errors::id::not_done, "not-done"},
        {errors::id::invalid_utf8, "invalid-utf8"},   {error::ids::invalid_key_type, "invalid-key-type"},
        {error::ids::bad_op_spec, "bad-op-spec"},     {error::ids::bad_func_def, "bad-func-def"},
        {error::ids::bad_func_extern, "bad-func-extern"}, {error::ids::unset_path, "unset-path"},
        {error::ids::invalid_path, "invalid-path"},   {error::ids::invalid_path_set, "invalid-path-set"},
        {error::ids::bad_field_set, "bad-field-set"}, {error::ids::dup_vars, "dup-vars"},
        {error::ids::invalid_spec_field, "invalid-spec-field"},
        {error::ids::invalid_obj_evt, "invalid-obj-evt"}, {error::ids::malconstruct, "malconstruct"},
        {error::ids::invalid_error, "invalid-error"},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(error::catalog::id_name(int(c.id.category), c.id.index - 2), c.name);
        Cell e = error::make_from_ids(c.id);
        EXPECT_EQ(int_of(*error::field_at(e, error::field::code)), c.id.code()) << c.name;
        EXPECT_EQ(error::id_of(e), c.id) << c.name;
    }
}

TEST_F(Error, MakeFromIntegers) {
    struct Case {
        int32_t spec;
        const char* type;  // nullptr: out-of-range
        const char* id;
    } cases[] = {
        {300, "script", "no-value"}, {800, "user", "message"}, {0, "throw", "break"},
        {913, "internal", "deprecated"}, {393, "script", "zb-invalid-record"},
        {399, nullptr, nullptr}, {-1, nullptr, nullptr}, {600, nullptr, nullptr},
        {1000, nullptr, nullptr}, {105, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        Cell spec = integer_cell(c.spec);
        if (!c.type) {
            EXPECT_EQ(raised([&] { make_error(spec); }), errors::id::out_of_range) << c.spec;
            EXPECT_EQ(int_of(errors::pending_arg(1)), c.spec);
            continue;
        }
        Cell e = make_error(spec);
        EXPECT_TRUE(is(e, Type::error));
        EXPECT_EQ(e.w2, error::class_id);
        EXPECT_EQ(e.w3, 0u);
        EXPECT_EQ(int_of(*error::field_at(e, error::field::code)), c.spec);
        EXPECT_EQ(name_of_field(e, error::field::type), c.type);
        EXPECT_EQ(name_of_field(e, error::field::id), c.id);
        EXPECT_TRUE(is(*error::field_at(e, error::field::arg1), Type::none));
    }
}

TEST_F(Error, MakeFromBlocks) {
    Cell e = make_error(blk({w("script"), w("no-value")}));
    EXPECT_EQ(int_of(*error::field_at(e, error::field::code)), 300);
    Cell upper = make_error(blk({w("MATH"), w("Overflow")}));
    EXPECT_EQ(int_of(*error::field_at(upper, error::field::code)), 401);

    struct Case {
        Cell spec;
        errors::Id expected;
        const char* arg;  // the word given as arg1, when one is
    } cases[] = {
        {blk({w("script"), w("unknown")}), error::ids::invalid_spec_field, "id"},
        {blk({w("script")}), error::ids::invalid_spec_field, "id"},
        {blk({w("bogus"), w("no-value")}), error::ids::invalid_spec_field, "type"},
        {blk({w("script"), integer_cell(5)}), errors::id::invalid_arg, nullptr},
        {blk({integer_cell(1), integer_cell(2)}), error::ids::invalid_error, nullptr},
        {blk({}), error::ids::invalid_error, nullptr},
        {float_cell(1.5), errors::id::bad_make_arg, nullptr},
    };
    for (auto& c : cases) {
        Cell spec = c.spec;
        collector::Root k(spec);
        EXPECT_EQ(raised([&] { make_error(spec); }), c.expected);
        if (c.arg) {
            EXPECT_EQ(word_name(errors::pending_arg(1)), c.arg);
        }
    }
}

TEST_F(Error, MakeFromABodyOfFields) {
    Cell e = make_error(blk({sw("type"), lw("math"), sw("id"), lw("zero-divide"), sw("arg1"),
                             integer_cell(4)}));
    EXPECT_EQ(int_of(*error::field_at(e, error::field::code)), 400);
    EXPECT_EQ(int_of(*error::field_at(e, error::field::arg1)), 4);
    Cell bad_type = blk({sw("type"), lw("bogus"), sw("id"), lw("zero-divide")});
    collector::Root k(bad_type);
    EXPECT_EQ(raised([&] { make_error(bad_type); }), error::ids::invalid_spec_field);
    EXPECT_EQ(word_name(errors::pending_arg(1)), "type");
    Cell bad_id = blk({sw("type"), lw("math"), sw("id"), lw("no-value")});
    collector::Root k2(bad_id);
    EXPECT_EQ(raised([&] { make_error(bad_id); }), error::ids::invalid_spec_field);
    EXPECT_EQ(word_name(errors::pending_arg(1)), "id");
}

TEST_F(Error, FormOfAUserMessage) {
    Cell e = make_error(str("boom"));
    collector::Root k(e);
    EXPECT_EQ(int_of(*error::field_at(e, error::field::code)), 800);
    EXPECT_EQ(test::form(e), "*** User Error: boom\n*** Where: ???\n*** Near : none");
    error::set_where(e, w("foo"));
    error::set_where(e, w("bar"));  // only a none where is replaced
    EXPECT_EQ(test::form(e), "*** User Error: boom\n*** Where: foo\n*** Near : none");
}

TEST_F(Error, FormFillsTheTemplate) {
    Cell arg = w("foo");
    Cell e = error::make_from_ids(errors::id::no_value, &arg);
    collector::Root k(e);
    *error::field_at(e, error::field::where) = str("in a test");
    *error::field_at(e, error::field::near) = blk({w("x"), integer_cell(1)});
    EXPECT_EQ(test::form(e), "*** Script Error: foo has no value\n*** Where: in a test\n*** Near : x 1");

    Cell a = datatype_cell(Type::error), b = integer_cell(3);
    Cell m = error::make_from_ids(errors::id::bad_make_arg, &a, &b);
    EXPECT_TRUE(starts(test::form(m), "*** Script Error: cannot MAKE error! from: 3\n*** Where: "));
    Cell plain = error::make_from_ids(errors::id::zero_divide);
    EXPECT_TRUE(starts(test::form(plain), "*** Math Error: attempt to divide by zero\n"));
}

TEST_F(Error, SyntaxArgumentsAreFormedOthersMolded) {
    Cell a = lw("foo");
    Cell syn = error::make_from_ids(errors::Id{errors::Category::syntax, 7}, &a);  // malconstruct
    collector::Root k(syn);
    EXPECT_TRUE(starts(test::form(syn), "*** Syntax Error: foo invalid construction spec at none\n"));
    Cell script = error::make_from_ids(errors::id::no_value, &a);
    EXPECT_TRUE(starts(test::form(script), "*** Script Error: 'foo has no value\n"));
}

TEST_F(Error, LongArgumentsAreCut) {
    Cell big;
    collector::Root kb(big);
    block::make_at(big, 60);
    for (int i = 0; i < 60; ++i) block::rs_append(big, integer_cell(1000 + i));
    Cell e = error::make_from_ids(errors::id::invalid_arg, &big);
    collector::Root k(e);
    *error::field_at(e, error::field::near) = big;
    std::string text = test::form(e);
    std::string head = "*** Script Error: invalid argument: ";
    ASSERT_EQ(text.rfind(head, 0), 0u);
    size_t line_end = text.find('\n');
    EXPECT_EQ(line_end - head.size(), 80u);
    EXPECT_EQ(text.substr(head.size(), 6), "[1000 ");
    size_t near = text.find("*** Near : ");
    ASSERT_NE(near, std::string::npos);
    EXPECT_EQ(text.size() - (near + 11), 40u);
    EXPECT_EQ(text.substr(near + 11, 5), "1000 ");
}

TEST_F(Error, StackAndFilesLines) {
    Cell e = make_error(integer_cell(302));
    collector::Root k(e);
    *error::field_at(e, error::field::stack) = integer_cell(5);
    std::string without = test::form(e);
    EXPECT_EQ(without.find("*** Stack: "), std::string::npos);
    EXPECT_EQ(without.find("*** Files: "), std::string::npos);

    static uint32_t asked_position;
    error::set_form_services([] { return 1; },
                             [](int, uint32_t position) {
                                 asked_position = position;
                                 return std::string("f g");
                             });
    std::string with = test::form(e);
    EXPECT_NE(with.find("\n*** Stack: f g"), std::string::npos);
    EXPECT_EQ(asked_position, 5u);
    *error::field_at(e, error::field::stack) = blk({w("outer"), w("inner")});
    EXPECT_NE(test::form(e).find("\n*** Stack: outer inner"), std::string::npos);
    error::set_form_services([] { return 0; }, nullptr);
    EXPECT_EQ(test::form(e).find("*** Stack: "), std::string::npos);

    *error::field_at(e, error::field::files) = blk({w("a"), w("b")});
    std::string text = test::form(e);
    EXPECT_EQ(text.substr(text.size() - 15), "\n*** Files: a b");
}

TEST_F(Error, BrokenErrorsFormAsInvalidError) {
    Cell e = make_error(integer_cell(300));
    collector::Root k(e);
    *error::field_at(e, error::field::type) = w("bogus");
    EXPECT_TRUE(starts(test::form(e), "*** Internal Error: invalid error object field value: bogus\n"));
    // Forming leaves the error as it was.
    EXPECT_EQ(name_of_field(e, error::field::type), "bogus");
    Cell f = make_error(integer_cell(300));
    collector::Root kf(f);
    *error::field_at(f, error::field::id) = integer_cell(7);
    EXPECT_TRUE(starts(test::form(f), "*** Internal Error: invalid error object field value: 7\n"));
    Cell g = make_error(integer_cell(800));  // the message field holds no string
    collector::Root kg(g);
    EXPECT_TRUE(starts(test::form(g), "*** Internal Error: invalid error object field value: none\n"));
}

TEST_F(Error, FireRaisesErrorValues) {
    Cell arg = w("zz");
    EXPECT_EQ(raised([&] { errors::fire(errors::id::no_value, &arg); }), errors::id::no_value);
    Cell e = errors::pending();
    ASSERT_TRUE(is(e, Type::error));
    EXPECT_EQ(error::id_of(e), errors::id::no_value);
    EXPECT_EQ(word_name(*error::field_at(e, error::field::arg1)), "zz");
    EXPECT_EQ(word_name(errors::pending_arg(1)), "zz");

    // No memory: the error kept ready is raised, nothing is built.
    raised([] { errors::fire(errors::id::no_memory); });
    Node first = object::context_node(errors::pending());
    error::set_where(errors::pending(), w("somewhere"));
    raised([] { errors::fire(errors::id::no_memory); });
    EXPECT_EQ(object::context_node(errors::pending()), first);
    EXPECT_TRUE(is(*error::field_at(errors::pending(), error::field::where), Type::none));
    EXPECT_EQ(error::id_of(errors::pending()), errors::id::no_memory);
}

TEST_F(Error, MoldPathAndCompare) {
    Cell e = make_error(integer_cell(300));
    collector::Root k(e);
    std::string m = test::mold(e);
    EXPECT_EQ(m.rfind("make error! [\n    code: 300\n    type: 'script\n    id: 'no-value\n", 0), 0u)
        << m;
    EXPECT_EQ(m.substr(m.size() - 2), "\n]");

    Cell element = w("stack");
    Cell value = integer_cell(1);
    Cell result;
    actions::PathStep set{&element, &value, nullptr, nullptr, nullptr, 1, false, false, true, false};
    EXPECT_EQ(raised([&] { error::eval_path(result, e, set); }), error::ids::invalid_path_set);
    Cell code = w("code");
    actions::PathStep get{&code, nullptr, nullptr, nullptr, nullptr, 1, false, true, true, false};
    error::eval_path(result, e, get);
    EXPECT_EQ(int_of(result), 300);

    Cell same = make_error(integer_cell(300));
    collector::Root ks(same);
    Cell other = make_error(integer_cell(301));
    collector::Root ko(other);
    EXPECT_EQ(test::compare(e, same, 0), 0);
    EXPECT_NE(test::compare(e, other, 0), 0);
    Cell o = make_object(blk({}));
    EXPECT_EQ(test::compare(e, o, 0), -2);
    // reflect, copy and select come from object!.
    EXPECT_EQ(datatype::row(Type::error).select.fn, datatype::row(Type::object).select.fn);
    EXPECT_EQ(datatype::row(Type::error).put.fn, nullptr);
}

}  // namespace

namespace {

TEST(ErrorCallArgument, NthSpecWord) {
    use_test_interpreter();
    Cell f = func(blk({w("a"), lw("b"), str("doc"), ref("only"), gw("c")}), blk({}));
    collector::Root kf(f);
    set_global("callee", f);
    set_global("not-callable", integer_cell(1));
    Cell word = w("callee");
    EXPECT_EQ(word_name(error::get_call_argument(word, 1)), "a");
    EXPECT_EQ(word_name(error::get_call_argument(word, 2)), "b");
    EXPECT_TRUE(is(error::get_call_argument(word, 3), Type::refinement));
    EXPECT_EQ(word_name(error::get_call_argument(word, 4)), "c");
    EXPECT_TRUE(is(error::get_call_argument(word, 5), Type::none));
    EXPECT_TRUE(is(error::get_call_argument(w("not-callable"), 1), Type::none));
}

}  // namespace

namespace {

// The stack field: the call-stack position becomes the calling functions'
// words, and the text form shows them when the stack-trace level asks.
TEST(ErrorStack, CaptureAndBacktrace) {
    use_test_interpreter();
    stack::init();
    Cell outer = func(blk({}), blk({}));
    collector::Root ko(outer);
    set_global("zz-outer", outer);
    set_global("zz-inner", outer);
    set_global("zz-data", integer_cell(1));
    Node g = context::global();
    stack::mark(symbol::make("zz-outer"), g, stack::kind_bits(stack::kind::function));
    stack::mark(symbol::make("zz-data"), g, stack::kind_bits(stack::kind::function));
    stack::mark(symbol::make("zz-inner"), g, stack::kind_bits(stack::kind::function));
    Cell e = make_error(integer_cell(300));
    collector::Root ke(e);
    *error::field_at(e, error::field::stack) = stack::error_position();

    error::set_form_services([] { return 1; }, nullptr);
    std::string text = test::form(e);
    EXPECT_NE(text.find("\n*** Stack: zz-outer zz-inner "), std::string::npos) << text;

    error::capture_stack(e);
    Cell calls = *error::field_at(e, error::field::stack);
    ASSERT_TRUE(is(calls, Type::block));
    EXPECT_EQ(test::mold(calls), "[zz-outer zz-inner]");
    EXPECT_NE(test::form(e).find("\n*** Stack: zz-outer zz-inner"), std::string::npos);
    error::capture_stack(e);  // a block stays as it is
    EXPECT_EQ(series_node(*error::field_at(e, error::field::stack)), series_node(calls));
    error::set_form_services(nullptr, nullptr);
    stack::init();
}

}  // namespace

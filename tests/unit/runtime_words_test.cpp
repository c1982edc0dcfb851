#include <cstring>

#include "datatypes/runtime_words.h"
#include "datatypes/symbol.h"
#include "context_fixture.h"
#include "datatypes/context.h"
#include "runtime/collector.h"
#include "value_support.h"

using namespace zan;
using runtime_words::Sym;
using runtime_words::Word;

namespace {

void start() {
    testing_contexts::start_runtime();
    static bool done = false;
    if (done) return;
    done = true;
    datatype::make_name_words();
    runtime_words::init_words();
    runtime_words::init_refinement_words();
    runtime_words::init_issue_words();
}

TEST(RuntimeWords, SymbolsAreInternedWithTheirSpellings) {
    start();
    struct Case {
        Sym s;
        const char* text;
    } cases[] = {{Sym::spec, "spec"},     {Sym::logic_t, "logic!"}, {Sym::any_type_t, "any-type!"},
                 {Sym::bar, "|"},         {Sym::minus, "-"},        {Sym::windows, "Windows"},
                 {Sym::code, "code"},     {Sym::no_trace, "no-trace"},
                 {Sym::alt_down_q, "alt-down?"}};
    for (const auto& c : cases) {
        EXPECT_STREQ(runtime_words::spelling(c.s), c.text);
        EXPECT_EQ(symbol::name(runtime_words::symbol(c.s)), c.text);
        EXPECT_EQ(runtime_words::symbol(c.s), symbol::make(c.text));
    }
    // Letter case counts: "Linux" is its own spelling.
    EXPECT_NE(runtime_words::symbol(Sym::linux), symbol::make("linux"));
    EXPECT_EQ(size_t(Sym::count_), 112u);
}

TEST(RuntimeWords, WordsRefinementsAndIssue) {
    start();
    collector::do_cycle();
    struct Case {
        Word w;
        const char* text;
    } cases[] = {{Word::swaped, "swaped"},     {Word::body_frame, "<body>"},
                 {Word::throw_, "throw"},      {Word::on_change_star, "on-change*"},
                 {Word::put_ed, "put-ed"},     {Word::invalid_error, "invalid-error"}};
    for (const auto& c : cases) {
        const Cell& w = runtime_words::word(c.w);
        EXPECT_TRUE(is(w, Type::word)) << c.text;
        EXPECT_EQ(word_context(w), context::global()) << c.text;
        EXPECT_EQ(symbol::name(word_symbol(w)), c.text);
    }
    const Cell& part = runtime_words::refinement(runtime_words::Refinement::part);
    EXPECT_TRUE(is(part, Type::refinement));
    EXPECT_EQ(test::mold(part), "/part");
    EXPECT_EQ(test::mold(runtime_words::refinement(runtime_words::Refinement::extern_)), "/extern");
    EXPECT_TRUE(is(runtime_words::issue_ooo(), Type::issue));
    EXPECT_EQ(test::mold(runtime_words::issue_ooo()), "#ooo");
}

TEST(RuntimeWords, TypeNameWords) {
    start();
    Cell w = datatype::name_word(Type::integer);
    EXPECT_TRUE(is(w, Type::word));
    EXPECT_EQ(test::mold(w), "integer!");
    EXPECT_TRUE(is(datatype::name_word(Type::event), Type::word));
    // A type id nothing registered has no word.
    EXPECT_TRUE(is(datatype::name_word(Type(55)), Type::none));
}

TEST(RuntimeWordsDeathTest, TypesRegisteredLaterGetTheirWordAtOnce) {
    EXPECT_EXIT(
        {
            start();
            datatype::register_type(Type(55), Type::any, "late!", actions::Row{});
            Cell w = datatype::name_word(Type(55));
            std::exit(is(w, Type::word) && symbol::name(word_symbol(w)) == "late!" ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

// Arithmetic with types that cannot take part names the operation.
TEST(RuntimeWords, NotRelatedNamesTheOperation) {
    start();
    using R = actions::Row;
    struct Case {
        test::BinarySlot slot;
        Cell left, right;
        const char* word;
        Type type;
    } cases[] = {
        {&R::divide, integer_cell(1), make_cell(Type::pair), "divide", Type::integer},
        {&R::subtract, integer_cell(1), make_cell(Type::tuple), "subtract", Type::integer},
        {&R::divide, integer_cell(1), make_cell(Type::tuple), "divide", Type::integer},
        {&R::multiply, integer_cell(1), make_cell(Type::date), "subtract", Type::integer},
        {&R::subtract, float_cell(1), make_cell(Type::point2d), "subtract", Type::point2d},
        {&R::divide, float_cell(1), make_cell(Type::pair), "divide", Type::pair},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(test::raised([&] { test::binary(c.slot, c.left, c.right); }),
                  errors::id::not_related)
            << c.word;
        EXPECT_EQ(symbol::name(word_symbol(errors::pending_arg(1))), c.word);
        EXPECT_EQ(errors::pending_arg(2).w1, uint32_t(c.type));
    }
    // A type without arithmetic cannot take part at all.
    EXPECT_EQ(test::raised([] { test::binary(&R::add, integer_cell(1), make_cell(Type::image)); }),
              errors::id::invalid_type);
}

TEST(RuntimeWords, WordSpellings) {
    EXPECT_STREQ(runtime_words::spelling(Word::swaped), "swaped");
    EXPECT_STREQ(runtime_words::spelling(Word::body_frame), "<body>");
    EXPECT_STREQ(runtime_words::spelling(Word::on_deep_change_star), "on-deep-change*");
    EXPECT_STREQ(runtime_words::spelling(Word::applied_frame), "<applied>");
    EXPECT_EQ(size_t(Word::count_), 104u);
}

}  // namespace

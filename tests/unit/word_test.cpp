// The word family: loading, comparison through symbol aliases, molds of every
// kind, make/to conversions, index? and reading and writing through words.
#include <cctype>
#include <string>

#include "context_fixture.h"
#include "datatypes/string.h"

namespace zan {
namespace {

using namespace testing_contexts;

constexpr errors::Id no_error{errors::Category::throw_, 0};

// Stands in for the lexer: words are runs of letters, '-', '!' and '?', with
// the usual prefixes and suffix; digits make an integer; blanks split values.
int32_t fake_transcode(std::string_view text, Cell& first) {
    int32_t count = 0;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i] == ' ') ++i;
        if (i == text.size()) break;
        size_t start = i;
        while (i < text.size() && text[i] != ' ') ++i;
        std::string token(text.substr(start, i - start));
        if (count++ == 0) {
            if (std::isdigit(static_cast<unsigned char>(token[0]))) {
                first = integer_cell(std::stoi(token));
                continue;
            }
            Type t = Type::word;
            if (token[0] == '\'') t = Type::lit_word, token.erase(0, 1);
            else if (token[0] == ':') t = Type::get_word, token.erase(0, 1);
            else if (token[0] == '/') t = Type::refinement, token.erase(0, 1);
            else if (token.back() == ':') t = Type::set_word, token.pop_back();
            first = word::load_as(t, token.c_str());
        }
    }
    return count;
}

class Word : public Runtime {
protected:
    // The lexer's transcoder, when it is up, is given back afterwards.
    void SetUp() override {
        saved_ = word::transcode;
        word::transcode = fake_transcode;
    }
    void TearDown() override { word::transcode = saved_; }
    word::Transcode saved_ = nullptr;
};

Cell to_word(Type target, const Cell& spec) {
    Cell args[2] = {datatype_cell(target), spec};
    collector::Root keep_target(args[0]);
    collector::Root keep_spec(args[1]);
    word::make(args, target);
    return args[0];
}

TEST_F(Word, LoadAnswersTheGlobalWordAndTwinsKeepTheirSpelling) {
    Cell a = word::load("apple");
    EXPECT_TRUE(is(a, Type::word));
    EXPECT_EQ(word_context(a), context::global());
    EXPECT_EQ(word_index(a), word_index(word::load("apple")));
    Cell upper = word::load("APPLE");
    EXPECT_EQ(word_symbol(upper), symbol::make("APPLE"));
    EXPECT_EQ(word_index(upper), word_index(a));

    Cell r = word::load_as(Type::refinement, "opt");
    EXPECT_TRUE(is(r, Type::refinement));
    EXPECT_EQ(word_context(r), 0u);
}

TEST_F(Word, CompareThroughAliases) {
    Cell abc = word::load("abc"), ABC = word::load("ABC");
    Cell lit = word::load_as(Type::lit_word, "abc");
    Cell set = word::load_as(Type::set_word, "abc");
    const struct {
        Cell a, b;
        int32_t op, answer;
    } cases[] = {
        {abc, ABC, 0, 0},   {abc, ABC, 1, 0},  {abc, ABC, 12, 0}, {abc, ABC, 2, 1},
        {abc, abc, 2, 0},   {abc, lit, 2, 1},  {abc, lit, 10, 0}, {lit, abc, 10, 0},
        {abc, set, 10, 1},  {set, set, 10, 0}, {abc, set, 0, 0},  {ABC, lit, 11, 0},
        {abc, set, 11, 1},  {abc, abc, 9, 0},  {abc, ABC, 9, 1},  {abc, lit, 9, 1},
        {abc, integer_cell(1), 0, -2},
    };
    for (const auto& c : cases)
        EXPECT_EQ(word::compare(c.a, c.b, c.op), c.answer) << "op " << c.op;
    Cell issue = make_cell(Type::issue, context::global(), symbol::make("abc"), uint32_t(-1));
    EXPECT_EQ(word::compare(abc, issue, 0), -2);
}

TEST_F(Word, OrderingComparesSpellings) {
    Cell apple = word::load("apple"), Banana = word::load("Banana");
    EXPECT_LT(word::compare(apple, Banana, 3), 0);
    EXPECT_GT(word::compare(Banana, apple, 5), 0);
    EXPECT_LT(word::compare(Banana, apple, 8), 0);  // case counts: B before a
}

TEST_F(Word, MoldAndFormOfEveryKind) {
    const struct {
        Type type;
        const char* mold;
    } cases[] = {
        {Type::word, "hello"},       {Type::set_word, "hello:"},  {Type::lit_word, "'hello"},
        {Type::get_word, ":hello"},  {Type::refinement, "/hello"},
    };
    for (const auto& c : cases) {
        Cell w = word::load_as(c.type, "hello");
        EXPECT_EQ(mold::mold_text(w), c.mold);
        EXPECT_EQ(mold::form_text(w), "hello");
    }
    EXPECT_EQ(mold::mold_text(word::load("caf\xC3\xA9")), "caf\xC3\xA9");
}

TEST_F(Word, MoldBudgetCountsCharactersAndAffixes) {
    Cell w = word::load_as(Type::set_word, "abc");
    Cell s;
    string::rs_make_at(s, 16);
    Kept buffer(s);
    EXPECT_LE(word::mold_set(w, series_node(buffer.v), {}, true, 1, 0), 0);
    EXPECT_EQ(word::form(word::load("caf\xC3\xA9"), series_node(buffer.v), false, 10), 6);
}

TEST_F(Word, MakeAndTo) {
    Node ctx = context::create(1, false, false, 0, context::Kind::plain);
    collector::NodeRoot keep(ctx);
    context::add(ctx, word::load("x"));
    Cell x = context::word_at(ctx, 0);

    Cell from_type = to_word(Type::word, datatype_cell(Type::integer));
    EXPECT_EQ(word_symbol(from_type), symbol::make("integer!"));
    Cell from_logic = to_word(Type::word, logic_cell(true));
    EXPECT_EQ(word_symbol(from_logic), symbol::make("true"));

    Cell set_x = to_word(Type::set_word, x);
    EXPECT_TRUE(is(set_x, Type::set_word));
    EXPECT_EQ(word_context(set_x), ctx);  // the binding is kept
    EXPECT_EQ(word_index(set_x), 0);

    Cell ref = to_word(Type::word, word::load_as(Type::refinement, "ref"));
    EXPECT_TRUE(is(ref, Type::word));
    EXPECT_EQ(word_context(ref), context::global());
    EXPECT_GE(word_index(ref), 0);

    Cell from_char = to_word(Type::word, char_cell('q'));
    EXPECT_EQ(word_symbol(from_char), symbol::make("q"));
    EXPECT_EQ(word_context(from_char), context::global());
}

TEST_F(Word, ConversionErrors) {
    Cell two_words, digits;
    string::rs_make_at(two_words, 8);
    Kept a(two_words);
    string::append_ascii(series_node(a.v), "a b");
    string::rs_make_at(digits, 8);
    Kept b(digits);
    string::append_ascii(series_node(b.v), "1");
    Cell one;
    string::rs_make_at(one, 8);
    Kept c(one);
    string::append_ascii(series_node(c.v), "a");

    const struct {
        const Cell* spec;
        errors::Id id;
    } cases[] = {
        {&a.v, errors::id::invalid_chars},
        {&b.v, errors::id::invalid_chars},
        {&c.v, no_error},
    };
    for (const auto& k : cases)
        EXPECT_EQ(raised([&] { to_word(Type::word, *k.spec); }), k.id);
    Cell numeric_ref = make_cell(Type::refinement, 0, symbol::make("12"), uint32_t(-1));
    EXPECT_EQ(raised([&] { to_word(Type::word, numeric_ref); }), errors::id::bad_to_arg);
    EXPECT_EQ(raised([&] { to_word(Type::word, integer_cell(3)); }), errors::id::bad_to_arg);
    EXPECT_EQ(errors::pending_arg(1).w1, uint32_t(Type::word));
}

TEST_F(Word, IndexOf) {
    Node ctx = context::create(1, false, false, 0, context::Kind::plain);
    collector::NodeRoot keep(ctx);
    context::add(ctx, word::load("first"));
    Cell args[1] = {context::word_at(ctx, 0)};
    word::index_q(args);
    EXPECT_EQ(int_of(args[0]), 1);
    args[0] = make_cell(Type::word, ctx, symbol::make("first"), uint32_t(-1));
    word::index_q(args);
    EXPECT_TRUE(is(args[0], Type::none));
}

TEST_F(Word, GetAndSetChecked) {
    Cell w = word::load("checked-value");
    EXPECT_EQ(raised([&] { word::get(w); }), errors::id::no_value);
    EXPECT_EQ(raised([&] { word::set_checked(w, unset_cell()); }), errors::id::need_value);
    word::set_checked(w, integer_cell(3));
    EXPECT_EQ(int_of(word::get(w)), 3);

    Node locals = context::create(1, true, false, 0, context::Kind::locals);
    collector::NodeRoot keep(locals);
    context::add(locals, w);
    EXPECT_EQ(raised([&] { word::get_local(locals, 0); }), errors::id::not_defined);
}

TEST_F(Word, FindInContextFallsBackToTheGlobalWord) {
    Node ctx = context::create(1, false, false, 0, context::Kind::plain);
    collector::NodeRoot keep(ctx);
    context::add(ctx, word::load("here"));
    EXPECT_EQ(word_context(word::find_in_context(ctx, symbol::make("here"))), ctx);
    EXPECT_EQ(word_context(word::find_in_context(ctx, symbol::make("elsewhere"))),
              context::global());
}

TEST_F(Word, MakeInAppendsGlobalWords) {
    Cell b;
    block::make_at(b, 1);
    Kept blk(b);
    word::make_in_text("appended", blk.v);
    word::make_in_as(Type::get_word, "fetched", blk.v);
    word::make_in_as(Type::refinement, "only", blk.v);
    EXPECT_EQ(mold::mold_text(blk.v), "[appended :fetched /only]");
    EXPECT_EQ(word_context(at(blk.v, 0)), context::global());
    EXPECT_EQ(word_context(at(blk.v, 2)), 0u);
}

}  // namespace
}  // namespace zan

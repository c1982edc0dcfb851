// issue!: made from words, characters and strings, never equal to a word, and
// paren!'s row taken from block!'s.
#include "datatypes/context.h"
#include "datatypes/issue.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "series_support.h"

namespace zan {
namespace {

using blocktest::Slots;

class IssueTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { blocktest::start_runtime(); }
    const actions::Row& r = blocktest::row(Type::issue);
};

TEST_F(IssueTest, MadeFromAWordKeepsItsSymbol) {
    Slots s;
    s[0] = datatype_cell(Type::issue);
    s[1] = make_cell(Type::set_word, 0, 77, 3);
    r.make.fn(s, Type::issue);
    EXPECT_TRUE(is(s[0], Type::issue));
    EXPECT_EQ(word_symbol(s[0]), 77u);
    EXPECT_EQ(word_index(s[0]), -1);
    s[1] = make_cell(Type::refinement, 0, 78, 0);
    r.to.fn(s, Type::issue);
    EXPECT_EQ(word_symbol(s[0]), 78u);
}

TEST_F(IssueTest, BelongsToTheGlobalContext) {
    ASSERT_NE(context::global(), 0u);
    Slots s;
    s[0] = datatype_cell(Type::issue);
    s[1] = make_cell(Type::word, 0, symbol::make("abc"), uint32_t(-1));
    r.make.fn(s, Type::issue);
    EXPECT_EQ(word_context(s[0]), context::global());
    Cell a;
    issue::make_at(a, "def");
    EXPECT_EQ(word_context(a), context::global());
}

TEST_F(IssueTest, MadeFromTextAndCharacters) {
    struct Case {
        Cell spec;
        const char* name;
    };
    Slots s;
    string::make_at(s[2], 8, 1);
    string::append_utf8(series_node(s[2]), "xabc");
    s[3] = s[2];
    set_series_index(s[3], 1);
    const Case cases[] = {
        {char_cell('q'), "q"},
        {char_cell(0x3B1), "\u03B1"},
        {s[2], "xabc"},
        {s[3], "abc"},
    };
    for (const Case& c : cases) {
        s[0] = datatype_cell(Type::issue);
        s[1] = c.spec;
        r.make.fn(s, Type::issue);
        EXPECT_TRUE(is(s[0], Type::issue));
        EXPECT_EQ(symbol::name(word_symbol(s[0])), c.name);
        EXPECT_EQ(word_index(s[0]), -1);
    }
    Cell a;
    issue::make_at(a, "abc");
    EXPECT_EQ(word_symbol(a), symbol::make("abc"));
}

TEST_F(IssueTest, NeverEqualsAWord) {
    Cell a = make_cell(Type::issue, 0, 5, uint32_t(-1));
    Cell w = make_cell(Type::word, 0, 5, uint32_t(-1));
    EXPECT_EQ(r.compare.fn(a, w, 0), -2);
}

TEST_F(IssueTest, RowShape) {
    EXPECT_EQ(r.form.fn, blocktest::row(Type::word).form.fn);
    EXPECT_EQ(r.append.fn, nullptr);
    EXPECT_NE(r.mold.fn, nullptr);
}

}  // namespace
}  // namespace zan

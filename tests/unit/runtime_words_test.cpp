#include <cstring>

#include "datatypes/runtime_words.h"
#include "datatypes/symbol.h"
#include "value_support.h"

using namespace zan;
using runtime_words::Sym;
using runtime_words::Word;

namespace {

TEST(RuntimeWords, SymbolsAreInternedWithTheirSpellings) {
    runtime_words::init_symbols();
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

TEST(RuntimeWords, WordSpellings) {
    EXPECT_STREQ(runtime_words::spelling(Word::swaped), "swaped");
    EXPECT_STREQ(runtime_words::spelling(Word::body_frame), "<body>");
    EXPECT_STREQ(runtime_words::spelling(Word::on_deep_change_star), "on-deep-change*");
    EXPECT_STREQ(runtime_words::spelling(Word::applied_frame), "<applied>");
    EXPECT_EQ(size_t(Word::count_), 104u);
}

}  // namespace

#include "datatypes/mold.h"
#include "datatypes/string.h"
#include "value_support.h"

using namespace zan;

namespace {

std::string text_of(Node buffer) {
    return string::to_utf8(string::make_cell(buffer, 0, Type::string));
}

class CycleGuard : public testing::Test {
protected:
    void SetUp() override { mold::cycle_reset(); }
    void TearDown() override { mold::cycle_reset(); }
};

TEST_F(CycleGuard, PushFindPop) {
    mold::cycle_push(7);
    mold::cycle_push(9);
    EXPECT_TRUE(mold::cycle_find(7));
    EXPECT_TRUE(mold::cycle_find(9));
    EXPECT_FALSE(mold::cycle_find(8));
    mold::cycle_pop();
    EXPECT_FALSE(mold::cycle_find(9));
    mold::cycle_drop(1);
    EXPECT_EQ(mold::cycle_depth(), 0);
    mold::cycle_pop();  // empty: nothing happens
    EXPECT_EQ(mold::cycle_depth(), 0);
}

TEST_F(CycleGuard, ThousandthEntryRaisesTooDeepAndEmpties) {
    for (Node n = 1; n < 1000; ++n) mold::cycle_push(n);
    EXPECT_EQ(mold::cycle_depth(), 999);
    EXPECT_EQ(test::raised([] { mold::cycle_push(1000); }), errors::id::too_deep);
    EXPECT_EQ(mold::cycle_depth(), 0);
}

// An error in the middle of a nested walk leaves no stale entries behind.
void walk(int depth, int fail_at) {
    mold::CycleScope scope(Node(depth + 1));
    if (depth == fail_at) errors::fire(errors::id::invalid_arg);
    if (depth > 100000) return;
    walk(depth + 1, fail_at);
}

TEST_F(CycleGuard, ScopesRestoreDepthOnUnwind) {
    mold::cycle_push(500);
    EXPECT_EQ(test::raised([] { walk(0, 10); }), errors::id::invalid_arg);
    EXPECT_EQ(mold::cycle_depth(), 1);
    EXPECT_FALSE(mold::cycle_find(5));
    // too-deep empties the guard; the scopes unwinding after it must not regrow it.
    EXPECT_EQ(test::raised([] { walk(0, 5000); }), errors::id::too_deep);
    EXPECT_EQ(mold::cycle_depth(), 0);
    {
        mold::CycleScope both(3, 4);
        EXPECT_EQ(mold::cycle_depth(), 2);
    }
    EXPECT_EQ(mold::cycle_depth(), 0);
}

TEST_F(CycleGuard, DetectWritesTheCycleText) {
    struct Case {
        Cell v;
        const char* mold;
    } cases[] = {
        {make_cell(Type::block, 0, 42), "[...]"},
        {make_cell(Type::hash, 0, 42), "[...]"},
        {make_cell(Type::paren, 0, 42), "(...)"},
        {make_cell(Type::map, 0, 42), "#[...]"},
        {make_cell(Type::object, 42, 0), "make object! [...]"},
        {make_cell(Type::path, 0, 42), "..."},
    };
    mold::CycleScope scope(42);
    for (const auto& c : cases) {
        Node buffer = string::make_buffer(16, 1);
        int32_t budget = 100;
        EXPECT_TRUE(mold::cycle_detect(c.v, buffer, budget, true));
        EXPECT_EQ(text_of(buffer), c.mold);
        EXPECT_EQ(budget, 100 - int32_t(std::string_view(c.mold).size()));
        Node formed = string::make_buffer(16, 1);
        budget = 100;
        EXPECT_TRUE(mold::cycle_detect(c.v, formed, budget, false));
        EXPECT_EQ(text_of(formed), "...");
        EXPECT_EQ(budget, 97);
    }
    Node buffer = string::make_buffer(16, 1);
    int32_t budget = 10;
    EXPECT_FALSE(mold::cycle_detect(make_cell(Type::block, 0, 43), buffer, budget, true));
    EXPECT_EQ(budget, 10);
    EXPECT_EQ(text_of(buffer), "");
}

TEST(Mold, Indent) {
    Node buffer = string::make_buffer(16, 1);
    EXPECT_EQ(mold::indent(buffer, 2, 100), 92);
    EXPECT_EQ(mold::indent(buffer, 0, 100), 100);
    EXPECT_EQ(mold::indent(buffer, -1, 100), 100);
    EXPECT_EQ(text_of(buffer), "        ");
}

TEST(Mold, PartCutsTheText) {
    datatype::register_all();
    EXPECT_EQ(mold::mold_text(integer_cell(123456), {}, 3), "123");
    EXPECT_EQ(mold::form_text(float_cell(1.5), 0), "");
    EXPECT_EQ(mold::form_text(float_cell(1.5), -5), "1.5");
}

}  // namespace

#include <unistd.h>

#include "value_support.h"

using namespace zan;

namespace {

TEST(Datatype, TextAndCompare) {
    Cell t = datatype_cell(Type::integer);
    EXPECT_EQ(test::form(t), "integer");
    EXPECT_EQ(test::mold(t), "integer!");
    actions::MoldFlags all;
    all.all = true;
    EXPECT_EQ(test::mold(t, all), "#(integer!)");
    EXPECT_EQ(test::compare(t, datatype_cell(Type::integer), 0), 0);
    EXPECT_NE(test::compare(t, datatype_cell(Type::float_), 0), 0);
    EXPECT_NE(test::compare(t, integer_cell(11), 0), 0);
    EXPECT_EQ(test::compare(t, datatype_cell(Type::float_), 3), -2);
}

TEST(Datatype, NamesAndCount) {
    datatype::register_all();
    EXPECT_EQ(datatype::name(Type::integer), "integer!");
    EXPECT_EQ(datatype::name(Type::datatype), "datatype!");
    // event!, the last type id, registers at start-up with the others.
    EXPECT_TRUE(datatype::registered(Type::event));
    EXPECT_EQ(datatype::name(Type::event), "event!");
    EXPECT_GE(datatype::type_count(), int(Type::typeset));
    EXPECT_TRUE(datatype::registered(Type::float_));
    EXPECT_FALSE(datatype::registered(Type::any));
    EXPECT_STREQ(actions::slot_word(1), "make");
    EXPECT_STREQ(actions::slot_word(19), "even?");
    EXPECT_STREQ(actions::slot_word(62), "write");
    EXPECT_EQ(actions::slot_word(63), nullptr);
}

TEST(Datatype, StartUpRowsInheritFromTheirParents) {
    datatype::register_all();
    const actions::Row& paren = datatype::row(Type::paren);
    const actions::Row& block = datatype::row(Type::block);
    EXPECT_NE(paren.append.fn, nullptr);
    EXPECT_EQ(paren.append.fn, block.append.fn);
    EXPECT_EQ(paren.find.fn, block.find.fn);
    EXPECT_NE(block.trim.fn, nullptr);
    EXPECT_EQ(paren.trim.fn, nullptr);
    EXPECT_EQ(datatype::row(Type::char_).even_q.fn, datatype::row(Type::integer).even_q.fn);
    // No datatype fills slot 8 or slot 57.
    for (int t = 1; t <= datatype::type_count(); ++t) {
        EXPECT_EQ(datatype::row(Type(t)).set_path.fn, nullptr) << t;
        EXPECT_EQ(datatype::row(Type(t)).open_q.fn, nullptr) << t;
    }
}

int32_t form_a(const Cell&, Node, bool, int32_t b) { return b - 1; }
int32_t form_b(const Cell&, Node, bool, int32_t b) { return b - 2; }
void add_a(actions::Args) {}

// Registration changes process-wide tables: these run in a child process.
TEST(DatatypeDeathTest, InheritanceIsCopiedAtRegistration) {
    EXPECT_EXIT(
        {
            actions::Row parent;
            parent.form = form_a;
            parent.add = add_a;
            datatype::register_type(Type(55), Type::any, "parent!", parent);
            actions::Row child;
            child.form = decltype(child.form)::inherited();
            child.add = {};  // a 0 slot does not inherit
            datatype::register_type(Type(56), Type(55), "child!", child);
            parent.form = form_b;
            datatype::register_type(Type(55), Type::any, "parent!", parent);
            bool ok = datatype::row(Type(56)).form.fn == form_a &&
                      datatype::row(Type(56)).add.fn == nullptr &&
                      datatype::row(Type(55)).form.fn == form_b && datatype::type_count() == 56;
            std::exit(ok ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST(DatatypeDeathTest, WrongSlotCountReportsAndExits) {
    EXPECT_EXIT(
        {
            dup2(2, 1);  // the report goes to standard output
            datatype::register_type(Type(55), Type::any, "bad!", actions::Row{}, 61);
        },
        testing::ExitedWithCode(1),
        "\\*\\*\\* Datatype Error: invalid actions count for type: 55\n"
        "\\*\\*\\* Found: 61\n\\*\\*\\* Expected: 62\n");
}

TEST(DatatypeDeathTest, TypeIdOutsideTheTablesIsRefused) {
    EXPECT_EXIT(
        {
            dup2(2, 1);
            datatype::register_type(Type(57), Type::any, "far!", actions::Row{});
        },
        testing::ExitedWithCode(1), "Datatype Error: type id out of range for type: 57");
    EXPECT_EXIT(
        {
            dup2(2, 1);
            datatype::register_type(Type(40), Type(200), "orphan!", actions::Row{});
        },
        testing::ExitedWithCode(1), "parent id out of range");
}

}  // namespace

#include <gtest/gtest.h>

#include "datatypes/handle.h"
#include "datatypes/mold.h"
#include "value_support.h"

using namespace zan;

namespace {

std::string molded(const Cell& v, bool all = false, int32_t limit = -1) {
    datatype::register_all();
    actions::MoldFlags f;
    f.all = all;
    return mold::mold_text(v, f, limit);
}

TEST(Handle, Text) {
    datatype::register_all();
    Cell h = handle::make_cell_of(0x1A2B0, handle::window);
    EXPECT_EQ(mold::form_text(h), "0001A2B0h");
    EXPECT_EQ(molded(h), "handle!");
    EXPECT_EQ(molded(h, true), "#[handle! 0001A2B0h window]");
    EXPECT_EQ(molded(handle::make_cell_of(0, handle::null), true), "#[handle! 00000000h]");
    EXPECT_EQ(molded(handle::make_cell_of(0xFFFFFFFF, handle::rich_text), true),
              "#[handle! FFFFFFFFh rich-text]");
    EXPECT_EQ(molded(h, true, 12), "#[handle! 00");
}

TEST(Handle, ComparesValuesNotClasses) {
    datatype::register_all();
    auto cmp = datatype::row(Type::handle).compare.fn;
    Cell a = handle::make_cell_of(7, handle::window), b = handle::make_cell_of(7, handle::font);
    EXPECT_EQ(cmp(a, b, 0), 0);
    EXPECT_EQ(cmp(a, handle::make_cell_of(8, handle::window), 3), -1);
    EXPECT_NE(cmp(a, integer_cell(7), 0), 0);
    // Nothing but form, mold and compare.
    EXPECT_EQ(datatype::row(Type::handle).add.fn, nullptr);
    EXPECT_EQ(datatype::row(Type::handle).random.fn, nullptr);
}

TEST(Triple, Text) {
    datatype::register_all();
    Cell t = make_cell(Type::triple, 1, uint32_t(-2), 3);
    EXPECT_EQ(molded(t), "make triple! [1 -2 3]");
    EXPECT_EQ(mold::form_text(t), "make triple! [1 -2 3]");
    EXPECT_EQ(molded(make_cell(Type::triple)), "make triple! [0 0 0]");
    EXPECT_EQ(molded(make_cell(Type::triple, 0x80000000u, 0x7FFFFFFF, 0)),
              "make triple! [-2147483648 2147483647 0]");
    EXPECT_EQ(datatype::row(Type::triple).add.fn, nullptr);
    EXPECT_EQ(datatype::row(Type::triple).compare.fn, nullptr);
}

}  // namespace

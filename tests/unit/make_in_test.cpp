#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/typeset.h"
#include "runtime/collector.h"
#include "value_support.h"

using namespace zan;

namespace {

TEST(MakeIn, ScalarsAppendedToABlockMoldInOrder) {
    datatype::register_all();
    Cell block;
    block::make_at(block, 2);
    collector::Root keep(block);
    integer::make_in(block, -7);
    Cell half = float_cell(2.5);
    float_::make_in(block, half.w2, half.w3);
    character::make_in(block, 'a');
    logic::make_in(block, true);
    none::make_in(block);
    unset::make_in(block);
    datatype::make_in(block, Type::integer);
    typeset::make_in(block, typeset::make().w1 | 0x1000, 0, 0);
    EXPECT_EQ(test::mold(block),
              "[-7 2.5 #\"a\" true none unset integer! make typeset! [integer!]]");
    EXPECT_EQ(test::form(block), "-7 2.5 a true none  integer make typeset! [integer!]");
    Cell d = *typeset::make_default_in(block);
    EXPECT_FALSE(typeset::has(d, Type::unset));
}

TEST(MakeIn, NewLineMarkersAndCyclesThroughRealBlocks) {
    datatype::register_all();
    Cell block;
    block::make_at(block, 4);
    collector::Root keep(block);
    set_flag(*integer::make_in(block, 1), header::newline);
    set_flag(*integer::make_in(block, 2), header::newline);
    EXPECT_EQ(test::mold(block), "[\n    1\n    2\n]");
    actions::MoldFlags flat;
    flat.flat = true;
    EXPECT_EQ(test::mold(block, flat), "[1 2]");
    block::rs_append(block, block);
    EXPECT_EQ(test::mold(block, flat), "[1 2 [...]]");
    EXPECT_EQ(test::form(block), "1 2 ...");
    EXPECT_EQ(mold::cycle_depth(), 0);
}

}  // namespace

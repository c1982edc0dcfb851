#include <cstring>
#include <vector>

#include "datatypes/runtime_words.h"
#include "datatypes/typeset.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "value_support.h"

using namespace zan;

namespace {

Cell block_of(const std::vector<Cell>& values) {
    Node n = memory::alloc_cells(uint32_t(values.size()));
    memory::Series* s = memory::buffer(n);
    if (!values.empty()) std::memcpy(s->cells(), values.data(), values.size() * sizeof(Cell));
    s->tail = s->head + uint32_t(values.size() * sizeof(Cell));
    return make_cell(Type::block, 0, n);
}

Cell i(int32_t v) { return integer_cell(v); }

TEST(SwitchFind, Cases) {
    datatype::register_all();
    collector::set_enabled(false);  // the blocks here are held by no root
    Cell body = block_of({i(99)});
    Cell other = block_of({i(98)});
    struct Case {
        const char* what;
        Cell value;
        Cell cases;
        bool interpreted, to_block;
        Cell expect;
    } cases[] = {
        {"block found after later values", i(1), block_of({i(1), i(7), i(8), body}), true, true, body},
        {"1 does not match 1.0", i(1), block_of({float_cell(1.0), body}), true, true, none_cell()},
        {"a block value matches nothing", body, block_of({body, other}), true, true, none_cell()},
        {"no block after the match", i(1), block_of({i(1), i(2)}), true, true, none_cell()},
        {"second case", i(2), block_of({i(1), other, i(2), body}), true, true, body},
        {"compiled cells alternate", i(2), block_of({i(1), i(2), i(2), i(5)}), false, false, i(5)},
        {"compiled marker is skipped", i(5), block_of({i(1), i(5), i(2), i(6)}), false, false,
         none_cell()},
        {"match as last cell", i(3), block_of({i(1), i(2), i(3)}), true, false, i(3)},
        {"logic case", logic_cell(true), block_of({logic_cell(false), i(1), logic_cell(true), i(2)}),
         false, false, i(2)},
    };
    for (const auto& c : cases) {
        Cell r = interp::switch_find(c.value, c.cases, c.interpreted, c.to_block);
        EXPECT_EQ(r.header, c.expect.header) << c.what;
        EXPECT_EQ(r.w1, c.expect.w1) << c.what;
        EXPECT_EQ(r.w2, c.expect.w2) << c.what;
    }
}

TEST(ArgumentChecks, RefinementsAndAbsentArguments) {
    datatype::register_all();
    Cell numbers = typeset::make();
    typeset::add(numbers, Type::integer);
    Cell args[4] = {i(1), logic_cell(false), none_cell(), i(3)};
    interp::check_arg_type_at(args, 0, numbers, 0);
    interp::check_arg_type_at(args, -1, numbers, 1);  // absent: not looked at
    EXPECT_EQ(test::raised([&] { interp::check_arg_type_at(args, 2, numbers, 2); }),
              errors::id::expect_arg);
    interp::check_arg_type_opt(logic_cell(false), numbers, 2, args[2]);
    EXPECT_EQ(test::raised([&] { interp::check_arg_type_opt(logic_cell(true), numbers, 2, args[2]); }),
              errors::id::expect_arg);

    // An unused refinement clears its arguments; a used one sets its flag.
    interp::init_refinements(args, none_cell(), 1, 2);
    EXPECT_TRUE(is(args[2], Type::none) && is(args[3], Type::none));
    args[3] = i(3);
    interp::init_refinements(args, i(0), 1, 2);
    EXPECT_TRUE(logic_of(args[1]));
    EXPECT_EQ(int_of(args[3]), 3);
}

}  // namespace

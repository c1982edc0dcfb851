#include <cstring>
#include <vector>

#include "datatypes/string.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "value_support.h"

using namespace zan;

namespace {

Node cells_of(const std::vector<Cell>& values) {
    Node n = memory::alloc_cells(uint32_t(values.size()));
    memory::Series* s = memory::buffer(n);
    if (!values.empty()) std::memcpy(s->cells(), values.data(), values.size() * sizeof(Cell));
    s->tail = s->head + uint32_t(values.size() * sizeof(Cell));
    return n;
}

Cell nl(Cell c) {
    set_flag(c, header::newline);
    return c;
}

Cell i(int32_t v) { return integer_cell(v); }

std::string text_of(Node buffer) {
    return string::to_utf8(string::make_cell(buffer, 0, Type::string));
}

std::string mold_each(Node series, actions::MoldFlags f = {}, int32_t level = 0) {
    datatype::register_all();
    Node buffer = string::make_buffer(16, 1);
    mold::mold_each(series, 0, buffer, f, false, mold::no_limit, level);
    return text_of(buffer);
}

TEST(MoldEach, NewLineMarkers) {
    actions::MoldFlags flat, only;
    flat.flat = true;
    only.only = true;
    struct Case {
        std::vector<Cell> values;
        actions::MoldFlags flags;
        int32_t level;
        const char* text;
    } cases[] = {
        {{nl(i(1)), nl(i(2))}, {}, 0, "\n    1\n    2\n"},
        {{nl(i(1)), nl(i(2))}, flat, 0, "1 2"},
        {{i(1), nl(i(2))}, {}, 0, "1\n2"},
        {{i(1), nl(i(2))}, {}, 1, "1\n    2"},
        {{nl(i(1)), nl(i(2))}, only, 0, "1\n2"},
        {{nl(i(1)), i(2), i(3)}, {}, 1, "\n        1 2 3\n    "},
        {{i(1), i(2)}, {}, 0, "1 2"},
        {{}, {}, 0, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(mold_each(cells_of(c.values), c.flags, c.level), c.text);
    EXPECT_EQ(mold::cycle_depth(), 0);
}

TEST(MoldEach, PartStopsTheWalk) {
    datatype::register_all();
    std::vector<Cell> many;
    for (int k = 1; k <= 1000; ++k) many.push_back(i(k));
    Node series = cells_of(many);
    Node buffer = string::make_buffer(16, 1);
    int32_t left = mold::mold_each(series, 0, buffer, {}, true, 5, 0);
    EXPECT_LE(left, 0);
    EXPECT_EQ(text_of(buffer), "1 2 3");
    Node formed = string::make_buffer(16, 1);
    mold::form_each(series, 998, formed, true, 5);
    EXPECT_EQ(text_of(formed), "999 1000");
}

TEST(FormEach, SpacesBetweenValuesNotAfterLineBreaks) {
    datatype::register_all();
    Node series = cells_of({i(1), char_cell('\n'), i(2), char_cell('\t'), i(3), nl(i(4))});
    Node buffer = string::make_buffer(16, 1);
    mold::form_each(series, 0, buffer, false, mold::no_limit);
    EXPECT_EQ(text_of(buffer), "1 \n2 \t3 4");
    Node from_index = string::make_buffer(16, 1);
    mold::form_each(series, 4, from_index, false, mold::no_limit);
    EXPECT_EQ(text_of(from_index), "3 4");
}

// A container type of the tests' own, in a child process, since registering
// it changes process-wide tables.
constexpr Type box = Type(55);

int32_t box_mold(const Cell& v, Node buffer, actions::MoldFlags f, bool part, int32_t budget,
                 int32_t level) {
    if (mold::cycle_detect(make_cell(Type::block, 0, v.w2), buffer, budget, true)) return budget;
    if (!f.only) budget = mold::append(buffer, "[", budget);
    budget = mold::mold_each(v.w2, v.w1, buffer, f, part, budget, level);
    if (!f.only) budget = mold::append(buffer, "]", budget);
    return budget;
}

int32_t box_form(const Cell& v, Node buffer, bool part, int32_t budget) {
    if (mold::cycle_detect(v, buffer, budget, false)) return budget;
    return mold::form_each(v.w2, v.w1, buffer, part, budget);
}

void register_box() {
    datatype::register_all();
    actions::Row row;
    row.mold = box_mold;
    row.form = box_form;
    datatype::register_type(box, Type::any, "box!", row);
}

#define CHECK_OR_EXIT(cond)                                   \
    do {                                                      \
        if (!(cond)) {                                        \
            std::fprintf(stderr, "failed: %s\n", #cond);      \
            std::exit(1);                                     \
        }                                                     \
    } while (0)

TEST(MoldEachDeathTest, NestedAndSelfContaining) {
    EXPECT_EXIT(
        {
            register_box();
            Node inner = cells_of({nl(i(1)), nl(i(2))});
            Node outer = cells_of({i(0), make_cell(box, 0, inner)});
            CHECK_OR_EXIT(mold_each(outer) == "0 [\n    1\n    2\n]");
            Node nested = cells_of({nl(make_cell(box, 0, inner))});
            CHECK_OR_EXIT(mold_each(nested) == "\n    [\n        1\n        2\n    ]\n");
            Node self = cells_of({i(1), i(2)});
            memory::buffer(self)->cells()[1] = nl(make_cell(box, 0, self));
            CHECK_OR_EXIT(test::mold(make_cell(box, 0, self)) == "[1\n[...]]");
            CHECK_OR_EXIT(test::form(make_cell(box, 0, self)) == "1 ...");
            CHECK_OR_EXIT(mold::cycle_depth() == 0);
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
}

TEST(MoldEachDeathTest, ThousandNestedRaisesTooDeep) {
    EXPECT_EXIT(
        {
            register_box();
            Node n = cells_of({i(1)});
            for (int k = 0; k < 999; ++k) n = cells_of({make_cell(box, 0, n)});
            Cell deep = make_cell(box, 0, n);
            CHECK_OR_EXIT(test::raised([&] { test::mold(deep); }) == errors::id::too_deep);
            CHECK_OR_EXIT(mold::cycle_depth() == 0);
            // One level less fits.
            Cell fits = memory::buffer(n)->cells()[0];
            CHECK_OR_EXIT(test::mold(fits).size() == 999 * 2 + 1);
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
}

TEST(MoldEachDeathTest, CollectionsDuringAMold) {
    EXPECT_EXIT(
        {
            register_box();
            std::vector<Cell> values;
            for (int k = 0; k < 300; ++k) values.push_back(k % 7 ? i(k) : nl(float_cell(k + 0.5)));
            Node inner = cells_of(values);
            collector::NodeRoot keep_inner(inner);
            std::string expect = test::mold(make_cell(box, 0, inner));
            Node outer = cells_of({make_cell(box, 0, inner), i(1), make_cell(box, 0, inner)});
            collector::NodeRoot keep_outer(outer);
            collector::set_enabled(true);
            memory::set_gc_stress(1);
            uint32_t before = collector::cycles();
            std::string text = test::mold(make_cell(box, 0, outer));
            CHECK_OR_EXIT(collector::cycles() >= before + 5);
            CHECK_OR_EXIT(text == "[" + expect + " 1 " + expect + "]");
            std::string formed = test::form(make_cell(box, 0, outer));
            CHECK_OR_EXIT(formed.size() > 1000);
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
}

}  // namespace

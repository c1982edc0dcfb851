// The path family: molds and forms of every path type, make and to, copy,
// cycles and the /part budget.
#include "context_fixture.h"
#include "datatypes/path.h"

namespace zan {
namespace {

using namespace testing_contexts;

constexpr errors::Id no_error{errors::Category::throw_, 0};

class Path : public Runtime {};

Cell abc(Type t) { return block_of({word_of("a"), word_of("b"), word_of("c")}, t); }

Cell made(Type target, const Cell& spec, bool to = false) {
    Cell args[2] = {datatype_cell(target), spec};
    collector::Root keep_target(args[0]);
    collector::Root keep_spec(args[1]);
    if (to)
        path::to(args, target);
    else
        path::make(args, target);
    return args[0];
}

uint32_t room(const Cell& series) { return memory::buffer(series_node(series))->capacity / 16; }

TEST_F(Path, MoldAndFormOfEveryType) {
    const struct {
        Type type;
        const char* mold;
    } cases[] = {
        {Type::path, "a/b/c"},
        {Type::lit_path, "'a/b/c"},
        {Type::set_path, "a/b/c:"},
        {Type::get_path, ":a/b/c"},
    };
    for (const auto& c : cases) {
        Kept p(abc(c.type));
        EXPECT_EQ(mold::mold_text(p.v), c.mold);
        EXPECT_EQ(mold::form_text(p.v), "a/b/c");
    }
}

TEST_F(Path, ToFromABlockGivesEachPathType) {
    Kept spec(abc(Type::block));
    const struct {
        Type type;
        const char* mold;
    } cases[] = {
        {Type::set_path, "a/b/c:"},
        {Type::lit_path, "'a/b/c"},
        {Type::get_path, ":a/b/c"},
    };
    for (const auto& c : cases) {
        Kept p(made(c.type, spec.v, true));
        EXPECT_TRUE(is(p.v, c.type));
        EXPECT_EQ(mold::mold_text(p.v), c.mold);
        EXPECT_NE(series_node(p.v), series_node(spec.v));  // a copy
    }
    // From the spec's head, not its buffer start.
    Cell tail_view = spec.v;
    tail_view.w1 = 1;
    Kept p(made(Type::path, tail_view));
    EXPECT_EQ(mold::mold_text(p.v), "b/c");
}

TEST_F(Path, ValuesMoldAsThemselves) {
    Kept inner(block_of({integer_cell(1), integer_cell(2)}));
    Kept p(block_of({word_of("a"), inner.v}, Type::path));
    EXPECT_EQ(mold::mold_text(p.v), "a/[1 2]");
    Kept refine(block_of({word_of("f"), word_of("only", Type::refinement)}, Type::path));
    EXPECT_EQ(mold::mold_text(refine.v), "f//only");
}

TEST_F(Path, PathsInsideBlocks) {
    Kept set(abc(Type::set_path));
    Kept get(abc(Type::get_path));
    Kept outer(block_of({word_of("x"), set.v, get.v, word_of("y")}));
    for (int i = 0; i < 20; ++i) block::rs_append(outer.v, set.v);  // grows and moves
    std::string expected = "[x a/b/c: :a/b/c y";
    for (int i = 0; i < 20; ++i) expected += " a/b/c:";
    EXPECT_EQ(mold::mold_text(outer.v), expected + "]");
}

TEST_F(Path, MakeFromNumbersGivesEmptyPathsWithRoom) {
    const struct {
        Cell spec;
        uint32_t at_least;
    } cases[] = {
        {integer_cell(10), 10},
        {float_cell(2.9), 2},
        {float_cell(3.0, Type::percent), 3},
    };
    for (const auto& c : cases) {
        Kept p(made(Type::path, c.spec));
        EXPECT_TRUE(is(p.v, Type::path));
        EXPECT_EQ(block::rs_length(p.v), 0);
        EXPECT_GE(room(p.v), c.at_least);
    }
    Kept negative(made(Type::get_path, integer_cell(-4)));
    EXPECT_TRUE(is(negative.v, Type::get_path));
    EXPECT_EQ(block::rs_length(negative.v), 0);
}

TEST_F(Path, MakeFromOtherValuesFails) {
    const Cell specs[] = {logic_cell(true), none_cell(), char_cell('x')};
    for (const Cell& s : specs)
        EXPECT_EQ(raised([&] { made(Type::path, s); }), errors::id::bad_make_arg);
    EXPECT_EQ(raised([&] { made(Type::path, integer_cell(2)); }), no_error);
}

TEST_F(Path, ToWrapsObjectsTypesetsAndMaps) {
    const Type wrapped[] = {Type::object, Type::typeset, Type::map};
    for (Type t : wrapped) {
        Cell v = make_cell(t, 0, 0, 0);
        Kept p(made(Type::path, v, true));
        ASSERT_EQ(block::rs_length(p.v), 1);
        EXPECT_TRUE(is(at(p.v, 0), t));
    }
}

TEST_F(Path, CopyKeepsThePathType) {
    Kept p(abc(Type::get_path));
    Cell args[1] = {p.v};
    collector::Root keep(args[0]);
    path::copy(args, nullptr, false, nullptr);
    EXPECT_TRUE(is(args[0], Type::get_path));
    EXPECT_NE(series_node(args[0]), series_node(p.v));
    EXPECT_EQ(mold::mold_text(args[0]), ":a/b/c");
}

TEST_F(Path, SelfContainingPathMoldsTheCycleText) {
    Kept p(block_of({word_of("a")}, Type::path));
    block::rs_append(p.v, p.v);
    EXPECT_EQ(mold::mold_text(p.v), "a/...");
    EXPECT_EQ(mold::form_text(p.v), "a/...");
}

TEST_F(Path, PartStopsBetweenValues) {
    Kept p(abc(Type::path));
    EXPECT_EQ(mold::mold_text(p.v, {}, 3), "a/b");
    EXPECT_EQ(mold::form_text(p.v, 1), "a");
}

TEST_F(Path, SurvivesCollections) {
    Kept p(abc(Type::set_path));
    collector::collect();
    Kept copy(made(Type::path, p.v));
    collector::collect();
    EXPECT_EQ(mold::mold_text(copy.v), "a/b/c");
}

}  // namespace
}  // namespace zan

namespace zan {
namespace {

using namespace testing_contexts;

class Registrations : public Runtime {};

TEST_F(Registrations, PathsInheritTheSeriesSlotsOfBlocks) {
    for (Type t : {Type::path, Type::lit_path, Type::set_path, Type::get_path}) {
        const actions::Row& r = datatype::row(t);
        EXPECT_EQ(r.length_q.fn, datatype::row(Type::block).length_q.fn) << int(t);
        EXPECT_EQ(r.pick.fn, datatype::row(Type::block).pick.fn) << int(t);
        EXPECT_EQ(r.copy.fn, path::copy) << int(t);
        EXPECT_EQ(r.make.fn, path::make) << int(t);
        EXPECT_EQ(r.sort.fn, nullptr) << int(t);
        EXPECT_EQ(r.trim.fn, nullptr) << int(t);
    }
    EXPECT_EQ(datatype::row(Type::set_path).mold.fn, path::mold_set);
}

TEST_F(Registrations, WordsShareAllButMold) {
    for (Type t : {Type::set_word, Type::lit_word, Type::get_word, Type::refinement}) {
        const actions::Row& r = datatype::row(t);
        EXPECT_EQ(r.compare.fn, word::compare) << int(t);
        EXPECT_EQ(r.to.fn, word::make) << int(t);
        EXPECT_NE(r.mold.fn, word::mold) << int(t);
    }
    EXPECT_EQ(datatype::row(Type::get_word).index_q.fn, word::index_q);
    EXPECT_EQ(datatype::row(Type::refinement).index_q.fn, nullptr);
    EXPECT_EQ(datatype::row(Type::word).append.fn, nullptr);
    EXPECT_EQ(datatype::name(Type::lit_word), "lit-word!");
}

}  // namespace
}  // namespace zan

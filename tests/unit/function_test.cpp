#include "callable_support.h"
#include "runtime/errors.h"
#include "runtime/unwind.h"

using namespace zan;
using namespace zan::test;

namespace {

class Function : public ::testing::Test {
protected:
    void SetUp() override {
        use_test_interpreter();
        define_type_words();
    }
};

std::vector<std::string> names_of(const Cell& block) {
    std::vector<std::string> out;
    int32_t n = block::rs_length(block);
    for (int32_t i = 0; i < n; ++i)
        out.push_back(word_name(*block::rs_abs_at(block, int32_t(series_index(block)) + i)));
    return out;
}

TEST_F(Function, SpecRules) {
    struct Case {
        const char* what;
        Cell spec;
        errors::Id expected;  // not-done: valid
    } cases[] = {
        {"type block before doc", blk({w("a"), blk({w("integer!")}), str("doc")}), errors::id::not_done},
        {"doc before type block", blk({w("a"), str("doc"), blk({w("integer!")})}), error::ids::bad_func_def},
        {"return: after /local",
         blk({w("a"), w("b"), ref("local"), w("c"), sw("return"), blk({w("integer!")})}),
         error::ids::bad_func_def},
        {"return: before /local",
         blk({w("a"), sw("return"), blk({w("integer!")}), ref("local"), w("c")}), errors::id::not_done},
        {"argument after return:", blk({sw("return"), blk({w("integer!")}), w("a")}),
         error::ids::bad_func_def},
        {"return: twice",
         blk({sw("return"), blk({w("integer!")}), sw("return"), blk({w("integer!")})}),
         error::ids::bad_func_def},
        {"return: without a block", blk({sw("return"), w("a")}), error::ids::bad_func_def},
        {"other set-word", blk({sw("x"), blk({})}), error::ids::bad_func_def},
        {"duplicate in another case", blk({w("a"), w("A")}), error::ids::dup_vars},
        {"duplicate refinement and word", blk({w("ref"), ref("ref")}), error::ids::dup_vars},
        {"lit-word after /local", blk({ref("local"), lw("a")}), error::ids::bad_func_def},
        {"refinement after /local", blk({ref("local"), w("a"), ref("only")}), error::ids::bad_func_def},
        {"refinement followed by a number", blk({ref("only"), integer_cell(1)}), error::ids::bad_func_def},
        {"number in the spec", blk({w("a"), integer_cell(1)}), error::ids::bad_func_def},
        {"non-word attribute", blk({blk({integer_cell(1)}), w("a")}), error::ids::bad_func_def},
        {"type entry of another type", blk({w("a"), blk({integer_cell(1)})}), errors::id::invalid_type_spec},
        {"type word without value", blk({w("a"), blk({w("no-such-type!")})}), errors::id::no_value},
        {"arguments of every kind", blk({w("a"), lw("b"), gw("c"), ref("d"), w("e"), str("doc")}),
         errors::id::not_done},
    };
    for (auto& c : cases) {
        Cell spec = c.spec;
        collector::Root keep(spec);
        EXPECT_EQ(raised([&] { function::validate_spec(spec); }), c.expected) << c.what;
    }
}

TEST_F(Function, DupVarsNamesTheSecondWord) {
    Cell spec = blk({w("a"), w("A")});
    ASSERT_EQ(raised([&] { function::validate_spec(spec); }), error::ids::dup_vars);
    EXPECT_EQ(word_name(errors::pending_arg(1)), "A");
}

TEST_F(Function, AttributeFlags) {
    Cell trace = blk({blk({w("trace")}), w("a")});
    EXPECT_EQ(function::validate_spec(trace), function::attr::trace);
    Cell both = blk({blk({w("no-trace"), w("other")})});
    EXPECT_EQ(function::validate_spec(both), function::attr::no_trace);
    Cell f = func(trace, blk({}));
    EXPECT_TRUE(has_flag(f, function::attr::trace));
}

TEST_F(Function, MakeCopiesAndBindsTheBody) {
    Cell spec = blk({w("a")});
    Cell body = blk({w("a"), blk({w("a")})});
    collector::Root k0(spec), k1(body);
    Cell f = func(spec, body);
    collector::Root kf(f);
    Cell copy = *function::more_at(f, function::more::body);
    ASSERT_TRUE(is(copy, Type::block));
    EXPECT_NE(series_node(copy), series_node(body));
    Node ctx = function::context_node(f);
    EXPECT_EQ(word_context(*block::rs_abs_at(copy, 0)), ctx);
    Cell inner = *block::rs_abs_at(copy, 1);
    EXPECT_NE(series_node(inner), series_node(*block::rs_abs_at(body, 1)));
    EXPECT_EQ(word_context(*block::rs_abs_at(inner, 0)), ctx);
    // The original is untouched.
    EXPECT_EQ(word_context(*block::rs_abs_at(body, 0)), context::global());
    // The owner cell leads back to the function; the cache cells start unset.
    EXPECT_EQ(context::owner(ctx).w3, f.w3);
    EXPECT_TRUE(is(*function::more_at(f, function::more::arity), Type::unset));
    EXPECT_TRUE(is(*function::more_at(f, function::more::code), Type::unset));
    EXPECT_TRUE(is(*function::more_at(f, function::more::owner), Type::unset));
}

TEST_F(Function, MakeRejectsBadDefinitions) {
    Cell cases[] = {
        integer_cell(1),
        blk({blk({w("a")})}),
        blk({integer_cell(1), blk({})}),
        blk({blk({w("a")}), integer_cell(2)}),
    };
    for (Cell& c : cases) {
        Cell args[2] = {datatype_cell(Type::function), c};
        EXPECT_EQ(raised([&] { function::make(args, Type::function); }), error::ids::bad_func_def);
    }
}

TEST_F(Function, SpecNotAtItsHeadIsCopied) {
    Cell spec = blk({w("x"), w("a")});
    collector::Root keep(spec);
    spec.w1 = 1;
    Cell f = function::push(spec, blk({}), 0, 0, 0, 0);
    EXPECT_NE(function::spec_node(f), series_node(spec));
    EXPECT_EQ(test::mold(f), "func [a] []");
}

TEST_F(Function, Mold) {
    EXPECT_EQ(test::mold(func(blk({w("a")}), blk({w("a")}))), "func [a] [a]");
    Cell no_body = function::push(blk({w("a")}), none_cell(), 0, 0, 0, 0);
    EXPECT_EQ(test::mold(no_body), "func [a] none");
    EXPECT_EQ(test::form(no_body), "?function?");
}

TEST_F(Function, Reflect) {
    Cell f = func(blk({w("a"), ref("b"), w("c")}), blk({w("a")}));
    collector::Root keep(f);
    uint32_t spec = symbol::make("spec"), body = symbol::make("body"), words = symbol::make("words");
    Cell args[1] = {f};
    function::reflect(args, spec);
    EXPECT_EQ(series_node(args[0]), function::spec_node(f));  // shared, not copied
    args[0] = f;
    function::reflect(args, body);
    EXPECT_EQ(test::mold(args[0]), "[a]");
    EXPECT_NE(series_node(args[0]), series_node(*function::more_at(f, function::more::body)));
    args[0] = f;
    function::reflect(args, words);
    EXPECT_EQ(test::mold(args[0]), "[a b c]");
    EXPECT_EQ(word_context(*block::rs_abs_at(args[0], 2)), function::context_node(f));
    args[0] = f;
    EXPECT_EQ(raised([&] { function::reflect(args, symbol::make("class")); }), errors::id::not_done);
}

TEST_F(Function, CompareBySameness) {
    Cell f = func(blk({}), blk({}));
    collector::Root k(f);
    Cell g = func(blk({}), blk({}));
    collector::Root kg(g);
    EXPECT_EQ(test::compare(f, f, 0), 0);
    EXPECT_NE(test::compare(f, g, 0), 0);
    EXPECT_EQ(test::compare(f, g, 3), -2);
    EXPECT_EQ(test::compare(f, integer_cell(1), 0), -2);
}

TEST_F(Function, CollectsSetWordsAndLoopWords) {
    // [x: 1 foreach [k v] s [y: 2] z: 3]
    Cell body = blk({sw("x"), integer_cell(1), w("foreach"), blk({w("k"), w("v")}), w("s"),
                     blk({sw("y"), integer_cell(2)}), sw("z"), integer_cell(3)});
    Cell spec = blk({w("a")});
    collector::Root k0(body), k1(spec);
    Cell locals = function::collect_words(spec, body);
    EXPECT_EQ(names_of(locals), (std::vector<std::string>{"x", "k", "v", "y", "z"}));
    EXPECT_EQ(test::mold(spec), "[a /local x k v y z]");
}

TEST_F(Function, CollectorSkipsSpecWordsAndRepeats) {
    Cell body = blk({sw("a"), integer_cell(1), sw("b"), w("repeat"), w("i"), integer_cell(3),
                     blk({sw("b"), integer_cell(1)}), w("remove-each"), w("j"), w("s"),
                     blk({}), blk({blk({sw("deep"), integer_cell(1)})}),
                     make_cell(Type::paren, 0, 0, 0)});
    collector::Root k0(body);
    // The paren cell above is a placeholder; give it a real buffer.
    Cell paren = blk({sw("p"), integer_cell(1)});
    set_type(paren, Type::paren);
    *block::rs_abs_at(body, block::rs_length(body) - 1) = paren;
    Cell spec = blk({w("a"), ref("local"), w("c")});
    collector::Root k1(spec);
    Cell locals = function::collect_words(spec, body);
    EXPECT_EQ(names_of(locals), (std::vector<std::string>{"b", "i", "j", "deep", "p"}));
    EXPECT_EQ(test::mold(spec), "[a /local c b i j deep p]");
}

TEST_F(Function, CollectorWithExtern) {
    Cell spec = blk({w("a"), ref("extern"), w("b")});
    Cell body = blk({sw("b"), integer_cell(1), sw("c"), integer_cell(2), sw("local"), integer_cell(3)});
    collector::Root k0(spec), k1(body);
    Cell locals = function::collect_words(spec, body);
    EXPECT_EQ(names_of(locals), (std::vector<std::string>{"c"}));
    EXPECT_EQ(test::mold(spec), "[a /local c]");
}

TEST_F(Function, CollectorKeepsLocalsAfterExtern) {
    Cell spec = blk({w("a"), ref("extern"), w("b"), ref("local"), w("d")});
    Cell body = blk({sw("b"), integer_cell(1), sw("d"), integer_cell(2)});
    collector::Root k0(spec), k1(body);
    Cell locals = function::collect_words(spec, body);
    EXPECT_EQ(names_of(locals), (std::vector<std::string>{"d"}));
    EXPECT_EQ(test::mold(spec), "[a /local d]");
}

TEST_F(Function, CollectorNothingToCollectLeavesTheSpec) {
    Cell spec = blk({w("a")});
    Cell body = blk({w("a")});
    collector::Root k0(spec), k1(body);
    EXPECT_EQ(block::rs_length(function::collect_words(spec, body)), 0);
    EXPECT_EQ(test::mold(spec), "[a]");
}

TEST_F(Function, CollectorBadExternValue) {
    Cell spec = blk({w("a"), integer_cell(1), ref("extern"), w("b")});
    Cell body = blk({});
    collector::Root k0(spec), k1(body);
    EXPECT_EQ(raised([&] { function::collect_words(spec, body); }), error::ids::bad_func_extern);
    Cell plain = blk({w("a"), integer_cell(1)});
    collector::Root k2(plain);
    EXPECT_EQ(raised([&] { function::collect_words(plain, body); }), errors::id::not_done);
}

TEST_F(Function, CountLocals) {
    Cell spec = blk({w("a"), ref("local"), w("b"), w("c")});
    collector::Root k(spec);
    EXPECT_EQ(function::count_locals(series_node(spec), 0, true), 3);
    Cell none = blk({w("a")});
    collector::Root k2(none);
    EXPECT_EQ(function::count_locals(series_node(none), 0, true), -1);
    EXPECT_EQ(function::count_locals(series_node(none), 0, false), 0);
}

TEST_F(Function, Routine) {
    Cell spec = blk({w("a"), w("b"), ref("only"), w("c")});
    Cell body = blk({w("x")});
    collector::Root k0(spec), k1(body);
    Cell r = routine::push(spec, body, 7, -1, true);
    collector::Root kr(r);
    EXPECT_TRUE(is(r, Type::routine));
    EXPECT_EQ(routine::get_arity(r), 3);
    EXPECT_TRUE(has_flag(r, function::attr::routine_flag));
    EXPECT_EQ(int_of(*function::more_at(r, function::more::code)), 7);
    EXPECT_EQ(int_of(*function::more_at(r, function::more::owner)), -1);
    EXPECT_EQ(series_node(*function::more_at(r, function::more::body)), series_node(body));
    EXPECT_EQ(test::form(r), "?routine?");
    EXPECT_EQ(test::mold(r), "routine [a b /only c] [x]");
    EXPECT_EQ(test::compare(r, r, 0), 0);
    Cell f = func(blk({}), blk({}));
    EXPECT_EQ(test::compare(r, f, 0), -2);
    EXPECT_EQ(test::compare(f, r, 0), -2);
    // Scripts cannot make routines: make routine! raises internal routines.
    Cell args[2] = {datatype_cell(Type::routine), blk({blk({}), blk({})})};
    std::string raised;
    try {
        datatype::row(Type::routine).make.fn(args, Type::routine);
    } catch (const unwind::Thrown& t) {
        errors::Id id = errors::pending_id();
        if (t.code == unwind::error)
            raised = error::catalog::id_name(int(id.category), id.index - 2);
    }
    EXPECT_EQ(raised, "routines");
}

}  // namespace

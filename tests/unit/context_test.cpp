// Contexts: word lookup, get/set, binding (shallow, deep, cyclic and very deep),
// contexts made from specs, clones, stack-held values and the collector.
#include <string>
#include <vector>

#include "context_fixture.h"

namespace zan {
namespace {

using namespace testing_contexts;
using context::Kind;

constexpr errors::Id no_error{errors::Category::throw_, 0};

class Context : public Runtime {};

Node plain_context(std::initializer_list<const char*> names) {
    Node ctx = context::create(uint32_t(names.size()), false, false, 0, Kind::plain);
    collector::NodeRoot keep(ctx);
    for (const char* n : names) context::add(ctx, word_of(n));
    return ctx;
}

TEST_F(Context, WordsGetIndexesInOrderAndStayParallelToValues) {
    Node ctx = plain_context({"alpha", "beta", "gamma"});
    collector::NodeRoot keep(ctx);
    EXPECT_EQ(context::length(ctx), 3u);
    EXPECT_EQ(memory::buffer(context::values(ctx))->length(), 3u);
    EXPECT_EQ(context::check(ctx), nullptr);
    const struct {
        const char* name;
        bool any_case;
        int32_t index;
    } cases[] = {
        {"alpha", false, 0}, {"beta", false, 1},  {"gamma", true, 2},
        {"BETA", true, 1},   {"BETA", false, -1}, {"delta", true, -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(context::find_word(ctx, symbol::make(c.name), c.any_case), c.index) << c.name;
    for (int32_t i = 0; i < 3; ++i) {
        const Cell& rec = context::word_at(ctx, i);
        EXPECT_TRUE(is(rec, Type::word));
        EXPECT_EQ(word_context(rec), ctx);
        EXPECT_EQ(word_index(rec), i);
    }
}

// A new symbol that the table does not find at the index once the record
// there holds it: a symbol whose probe sequence passes that record's bucket
// would be found there, and the context would be sound. Which symbols do
// depends on the symbol ids handed out before the test.
uint32_t misplaced_symbol(Node ctx, int32_t index) {
    Cell saved = context::word_at(ctx, index);
    for (int i = 0;; ++i) {
        uint32_t s = symbol::make(("three" + std::to_string(i)).c_str());
        context::word_at(ctx, index).w2 = s;
        bool found_there = context::find_word(ctx, s, false) == index;
        context::word_at(ctx, index) = saved;
        if (!found_there) return s;
    }
}

TEST_F(Context, CheckFindsBrokenContexts) {
    Node ctx = plain_context({"one", "two"});
    collector::NodeRoot keep(ctx);
    Cell saved = context::word_at(ctx, 1);
    const struct {
        uint32_t Cell::*field;
        uint32_t value;
    } breaks[] = {
        {&Cell::w3, 0},                        // shares the slot of another word
        {&Cell::w1, context::global()},        // bound elsewhere
        {&Cell::w2, misplaced_symbol(ctx, 1)},  // not where the table finds it
    };
    for (const auto& b : breaks) {
        context::word_at(ctx, 1).*b.field = b.value;
        EXPECT_NE(context::check(ctx), nullptr);
        context::word_at(ctx, 1) = saved;
    }
    EXPECT_EQ(context::check(ctx), nullptr);
    memory::buffer(context::values(ctx))->tail -= 16;
    EXPECT_NE(context::check(ctx), nullptr);
}

TEST_F(Context, AddWordAnswersTheExistingIndexOrMinusOne) {
    Node ctx = plain_context({"x"});
    collector::NodeRoot keep(ctx);
    int32_t index = 99;
    EXPECT_EQ(context::add_word(ctx, symbol::make("x"), true, index), 0);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(context::add_word(ctx, symbol::make("y"), true, index), -1);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(context::add(ctx, word_of("X")), 0);  // any case: the same word
    EXPECT_EQ(context::length(ctx), 2u);
}

TEST_F(Context, GrowsFarPastItsCapacity) {
    Node ctx = context::create(1, false, false, 0, Kind::object);
    collector::NodeRoot keep(ctx);
    for (int i = 0; i < 300; ++i) {
        std::string name = "field-" + std::to_string(i);
        EXPECT_EQ(context::add(ctx, word_of(name.c_str())), i);
    }
    EXPECT_EQ(context::check(ctx), nullptr);
}

// A context made from its words at once answers as one grown word by word:
// same records, same lookups in either case mode, room to grow afterwards.
TEST_F(Context, MadeWithItsWordsAtOnceMatchesOneBuiltWordByWord) {
    const struct {
        std::vector<const char*> names;
        bool on_stack;
    } rows[] = {
        {{}, false},
        {{"only"}, false},
        {{"a", "b", "c"}, true},
        {{"a", "A", "self", "Self"}, false},  // case variants are distinct words
    };
    std::vector<std::string> many;
    for (int i = 0; i < 500; ++i) many.push_back("w" + std::to_string(i));
    std::vector<const char*> many_names;
    for (const auto& n : many) many_names.push_back(n.c_str());
    auto check_row = [](const std::vector<const char*>& names, bool on_stack) {
        std::vector<uint32_t> syms;
        for (const char* n : names) syms.push_back(symbol::make(n));
        Node bulk = context::create_with_words(syms.data(), uint32_t(syms.size()), on_stack, false,
                                               Kind::object);
        collector::NodeRoot keep_bulk(bulk);
        Node step = context::create(uint32_t(syms.size()), on_stack, false, 0, Kind::object);
        collector::NodeRoot keep_step(step);
        for (uint32_t s : syms) {
            int32_t index;
            context::add_word(step, s, false, index);
        }
        std::string row = names.empty() ? "(none)" : names[0];
        EXPECT_EQ(context::check(bulk), nullptr) << row;
        ASSERT_EQ(context::length(bulk), context::length(step)) << row;
        EXPECT_EQ(context::values_on_stack(bulk), on_stack) << row;
        EXPECT_EQ(context::kind_of(bulk), Kind::object) << row;
        if (!on_stack) {
            EXPECT_EQ(memory::buffer(context::values(bulk))->length(), syms.size()) << row;
            for (uint32_t i = 0; i < syms.size(); ++i)
                EXPECT_TRUE(is(*context::value_at(bulk, int32_t(i)), Type::unset)) << row;
        }
        for (uint32_t i = 0; i < syms.size(); ++i) {
            const Cell& rec = context::word_at(bulk, int32_t(i));
            EXPECT_TRUE(is(rec, Type::word));
            EXPECT_EQ(word_context(rec), bulk);
            EXPECT_EQ(word_symbol(rec), syms[i]);
            EXPECT_EQ(word_index(rec), int32_t(i));
            for (bool any_case : {false, true})
                EXPECT_EQ(context::find_word(bulk, syms[i], any_case),
                          context::find_word(step, syms[i], any_case))
                    << names[i] << " any_case " << any_case;
        }
        for (const char* other : {"missing", "ONLY", "B"}) {
            uint32_t s = symbol::make(other);
            for (bool any_case : {false, true})
                EXPECT_EQ(context::find_word(bulk, s, any_case), context::find_word(step, s, any_case))
                    << row << " " << other;
        }
        // Growing afterwards keeps every word findable.
        for (int i = 0; i < 40; ++i) {
            std::string name = "later-" + std::to_string(i);
            context::add(bulk, word_of(name.c_str()));
        }
        EXPECT_EQ(context::check(bulk), nullptr) << row;
        for (uint32_t i = 0; i < syms.size(); ++i)
            EXPECT_EQ(context::find_word(bulk, syms[i], false), int32_t(i)) << names[i];
    };
    for (const auto& r : rows) check_row(r.names, r.on_stack);
    check_row(many_names, false);
}

TEST_F(Context, GetAndSetThroughBoundWords) {
    Node ctx = plain_context({"a", "b"});
    collector::NodeRoot keep(ctx);
    Cell a = word_of("a"), b = word_of("B");
    ASSERT_EQ(context::bind_word(ctx, a), 0);
    ASSERT_EQ(context::bind_word(ctx, b), 1);
    EXPECT_TRUE(is(*context::get(a), Type::unset));
    context::set(a, integer_cell(10));
    context::set(b, integer_cell(20));
    EXPECT_EQ(int_of(*context::get(a)), 10);
    EXPECT_EQ(int_of(*context::get_by_symbol(symbol::make("b"), ctx)), 20);

    Cell absent = word_of("nowhere");
    Cell before = absent;
    EXPECT_EQ(context::bind_word(ctx, absent), -1);
    EXPECT_EQ(absent.w1, before.w1);
    EXPECT_EQ(absent.w3, before.w3);
}

TEST_F(Context, MakingTheGlobalContextAgainKeepsItsWords) {
    Node before = context::global();
    Cell w = context::add_global(symbol::make("kept-by-restart"), false, false);
    context::set(w, integer_cell(42));
    context::make_global();
    EXPECT_EQ(context::global(), before);
    Cell again = context::add_global(symbol::make("kept-by-restart"), false, false);
    EXPECT_EQ(int_of(*context::get(again)), 42);
}

TEST_F(Context, AddValueAndPut) {
    Node ctx = plain_context({"a"});
    collector::NodeRoot keep(ctx);
    EXPECT_EQ(context::add_value(ctx, word_of("a"), integer_cell(1)), nullptr);
    Cell* slot = context::add_value(ctx, word_of("b"), integer_cell(2));
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(int_of(*slot), 2);
    context::put(ctx, word_of("a"), integer_cell(3));
    context::put(ctx, word_of("c"), integer_cell(4));
    const struct {
        const char* name;
        int32_t value;
    } cases[] = {{"a", 3}, {"b", 2}, {"c", 4}};
    for (const auto& c : cases)
        EXPECT_EQ(int_of(*context::get_by_symbol(symbol::make(c.name), ctx)), c.value) << c.name;
}

TEST_F(Context, CollectSetWordsTakesOnlyTopLevelSetWords) {
    Node ctx = plain_context({"a"});
    collector::NodeRoot keep(ctx);
    Kept inner(block_of({word_of("inner", Type::set_word)}));
    Kept kept_body(block_of({word_of("a", Type::set_word), integer_cell(1),
                             word_of("p", Type::set_word), word_of("q"), inner.v}));
    const Cell& body = kept_body.v;
    EXPECT_TRUE(context::collect_set_words(ctx, body));
    EXPECT_EQ(context::length(ctx), 2u);
    EXPECT_EQ(context::find_word(ctx, symbol::make("inner"), true), -1);
    EXPECT_FALSE(context::collect_set_words(ctx, body));
}

TEST_F(Context, ErrorsOfGetAndSet) {
    Node ctx = plain_context({"a"});
    collector::NodeRoot keep(ctx);
    Node stack_ctx = context::create(2, true, false, 0, Kind::locals);
    collector::NodeRoot keep_stack(stack_ctx);
    context::add(stack_ctx, word_of("x"));

    Cell unresolved = make_cell(Type::word, ctx, symbol::make("a"), uint32_t(-1));
    Cell on_stack = make_cell(Type::word, stack_ctx, symbol::make("x"), 0);
    EXPECT_EQ(raised([&] { context::get(unresolved); }), errors::id::no_value);
    EXPECT_EQ(raised([&] { context::get(on_stack); }), errors::id::not_in_context);
    EXPECT_EQ(raised([&] { context::set(on_stack, integer_cell(1)); }), errors::id::not_defined);
    // An unresolved word being set takes its index from the context.
    EXPECT_EQ(raised([&] { context::set(unresolved, integer_cell(5)); }), no_error);
    EXPECT_EQ(word_index(unresolved), 0);
    EXPECT_EQ(int_of(*context::get(unresolved)), 5);
}

TEST_F(Context, StackHeldValuesAreFoundThroughTheEvaluatorsHook) {
    static Cell frame[4];
    context::stack_slots = [](uint32_t position) { return &frame[position - 1]; };
    Node ctx = context::create(2, true, false, 0, Kind::locals);
    collector::NodeRoot keep(ctx);
    context::add(ctx, word_of("p"));
    context::add(ctx, word_of("q"));
    EXPECT_EQ(context::values(ctx), 0u);
    context::set_stack_position(ctx, 2);  // the frame's slots start at frame[1]
    Cell q = context::word_at(ctx, 1);
    context::set(q, integer_cell(7));
    EXPECT_EQ(int_of(frame[2]), 7);
    EXPECT_EQ(int_of(*context::get(q)), 7);
    context::stack_slots = nullptr;
}

TEST_F(Context, CaseTwinsShareTheGlobalSlot) {
    Cell foo = word::load("Foo");
    Cell lower = word::load("foo");
    EXPECT_NE(word_symbol(foo), word_symbol(lower));
    EXPECT_EQ(word_index(foo), word_index(lower));
    context::set(lower, integer_cell(42));
    EXPECT_EQ(int_of(*context::get(foo)), 42);
    // The exactly interned twin gets its own record, pointing at the same slot.
    Cell exact = word::load_symbol(symbol::make("FOO"));
    EXPECT_EQ(word_symbol(exact), symbol::make("FOO"));
    EXPECT_EQ(int_of(*context::get(exact)), 42);
    EXPECT_EQ(context::check(context::global()), nullptr);
}

TEST_F(Context, BindReachesEveryWordFamilyValueButIssues) {
    Node ctx = plain_context({"a", "b", "c", "d", "e", "f", "g", "h", "i"});
    collector::NodeRoot keep(ctx);
    Cell issue = make_cell(Type::issue, context::global(), symbol::make("i"), uint32_t(-1));
    Kept paren_c(block_of({word_of("c")}, Type::paren));
    Kept block_b(block_of({word_of("b"), paren_c.v}));
    Kept path_de(block_of({word_of("d"), word_of("e")}, Type::path));
    Kept kept_body(block_of({word_of("a"), block_b.v, path_de.v, word_of("f", Type::lit_word),
                             word_of("g", Type::get_word), word_of("h", Type::refinement), issue}));
    const Cell& body = kept_body.v;
    context::bind(body, ctx, false);

    const Cell& inner = at(body, 1);
    const Cell& paren = at(inner, 1);
    const Cell& path = at(body, 2);
    const Cell* bound[] = {&at(body, 0), &at(inner, 0), &at(paren, 0), &at(path, 0),
                           &at(path, 1), &at(body, 3),  &at(body, 4),  &at(body, 5)};
    for (const Cell* w : bound) {
        EXPECT_EQ(word_context(*w), ctx);
        EXPECT_EQ(word_index(*w), context::find_word(ctx, word_symbol(*w), false));
    }
    EXPECT_EQ(word_context(at(body, 6)), context::global());
    EXPECT_EQ(word_index(at(body, 6)), -1);
}

TEST_F(Context, SelfReadsTheOwnerOnlyWithTheSelfFlag) {
    Node ctx = context::create(1, false, true, 0, Kind::object);
    collector::NodeRoot keep(ctx);
    context::add(ctx, word_of("a"));
    context::owner(ctx) = make_cell(Type::object, ctx);
    Cell body = block_of({word_of("self"), word_of("a")});
    collector::Root keep_body(body);

    context::bind(body, ctx, true);
    EXPECT_EQ(word_context(at(body, 0)), ctx);
    EXPECT_EQ(word_index(at(body, 0)), -1);
    const Cell* owner = context::get(at(body, 0));
    EXPECT_TRUE(is(*owner, Type::object));
    EXPECT_EQ(owner->w1, ctx);

    Cell plain = block_of({word_of("self")});
    collector::Root keep_plain(plain);
    context::bind(plain, ctx, false);
    EXPECT_EQ(word_context(at(plain, 0)), context::global());
}

TEST_F(Context, ObjectAssignmentMarksTheField) {
    Node ctx = plain_context({});
    collector::NodeRoot keep(ctx);
    Node obj = context::create(2, false, true, 0, Kind::object);
    collector::NodeRoot keep_obj(obj);
    context::add(obj, word_of("f"));
    context::add(obj, word_of("g"));
    Cell g = context::word_at(obj, 1);
    context::set(g, integer_cell(1));
    EXPECT_FALSE(has_flag(context::word_at(obj, 0), header::field_assigned));
    EXPECT_TRUE(has_flag(context::word_at(obj, 1), header::field_assigned));
}

TEST_F(Context, SelfContainingBlockIsBoundOnce) {
    Node ctx = plain_context({"loop"});
    collector::NodeRoot keep(ctx);
    Cell body = block_of({word_of("loop")});
    collector::Root keep_body(body);
    block::rs_append(body, body);  // [loop <itself>]
    Cell view = body;
    view.w1 = 1;
    block::rs_append(body, view);  // and a view of itself from its second value
    context::bind(body, ctx, false);
    EXPECT_EQ(word_context(at(body, 0)), ctx);
    EXPECT_EQ(word_index(at(body, 0)), 0);
}

TEST_F(Context, SharedBlocksAreWalkedOnceFromTheirLowestIndex) {
    Node ctx = plain_context({"a", "b", "shared"});
    collector::NodeRoot keep(ctx);
    // Each level holds the one below twice: walked per occurrence, this would
    // take 2^60 steps.
    Kept level(block_of({word_of("shared")}));
    Kept bottom(level.v);
    for (int i = 0; i < 60; ++i) level.v = block_of({level.v, level.v});
    // A view of [a b] from its second value comes before the block itself.
    Kept ab(block_of({word_of("a"), word_of("b")}));
    Cell ab_tail = ab.v;
    ab_tail.w1 = 1;
    Kept outer(block_of({ab_tail, level.v, ab.v}));
    context::bind(outer.v, ctx, false);
    EXPECT_EQ(word_context(at(bottom.v, 0)), ctx);
    EXPECT_EQ(word_context(at(ab.v, 0)), ctx);
    EXPECT_EQ(word_context(at(ab.v, 1)), ctx);
}

TEST_F(Context, VeryDeepBlocksAreBoundWithoutNativeRecursion) {
    constexpr int depth = 200000;
    Node ctx = plain_context({"deep"});
    collector::NodeRoot keep(ctx);
    Cell innermost = block_of({word_of("deep")});
    collector::Root keep_inner(innermost);
    Cell outer = innermost;
    collector::Root keep_outer(outer);
    // Stress collection would walk the whole chain at every block added to it.
    uint32_t stress = memory::gc_stress();
    memory::set_gc_stress(0);
    for (int i = 0; i < depth; ++i) outer = block_of({outer});
    memory::set_gc_stress(stress);
    context::bind(outer, ctx, false);
    EXPECT_EQ(word_context(at(innermost, 0)), ctx);
}

TEST_F(Context, SpecGivesArgumentAndRefinementWords) {
    Kept types(block_of({word_of("integer!")}));
    Kept kept_spec(block_of({word_of("a"), word_of("b"), word_of("c", Type::refinement),
                             word_of("d"), word_of("ret", Type::set_word), types.v,
                             word_of("e", Type::lit_word), word_of("f", Type::get_word),
                             word_of("A")}));
    const Cell& spec = kept_spec.v;
    Node ctx = context::make_from_spec(spec, false, false, Kind::plain);
    collector::NodeRoot keep(ctx);
    const char* expected[] = {"a", "b", "c", "d", "e", "f"};
    ASSERT_EQ(context::length(ctx), 6u);
    for (int32_t i = 0; i < 6; ++i)
        EXPECT_EQ(word_symbol(context::word_at(ctx, i)), symbol::make(expected[i]));
    EXPECT_EQ(context::check(ctx), nullptr);

    Node locals = context::make_from_spec(spec, true, false, Kind::locals);
    EXPECT_EQ(context::values(locals), 0u);
    EXPECT_EQ(context::kind_of(locals), Kind::locals);
    EXPECT_TRUE(context::values_on_stack(locals));
}

// Whatever the spec's size and repeats: each argument or refinement word
// once, at its first spelling, in order; values one per word.
TEST_F(Context, SpecWordsComeOnceInOrderWhateverTheSpecRepeats) {
    std::vector<std::string> long_spec;
    for (int i = 0; i < 40; ++i) long_spec.push_back("arg" + std::to_string(i));
    std::vector<std::string> long_repeat = long_spec;
    long_repeat.push_back("ARG3");
    const std::vector<std::vector<std::string>> specs = {
        {},
        {"x"},
        {"a", "b", "/c", "d"},
        {"a", "b", "A"},
        {"same", "/same"},
        long_spec,
        long_repeat,
    };
    for (const auto& names : specs) {
        std::vector<Cell> cells;
        std::vector<std::string> expected;
        for (const std::string& n : names) {
            bool ref = n[0] == '/';
            std::string name = ref ? n.substr(1) : n;
            cells.push_back(word_of(name.c_str(), ref ? Type::refinement : Type::word));
            bool seen = false;
            for (const std::string& e : expected)
                if (symbol::resolve(symbol::make(e.c_str())) == symbol::resolve(symbol::make(name.c_str())))
                    seen = true;
            if (!seen) expected.push_back(name);
        }
        std::string row = names.empty() ? "(empty)" : names.front() + "..." + names.back();
        Kept spec(block_of({}));
        for (const Cell& c : cells) block::rs_append(spec.v, c);
        for (bool on_stack : {false, true}) {
            Node ctx = context::make_from_spec(spec.v, on_stack, false, Kind::plain);
            collector::NodeRoot keep(ctx);
            EXPECT_EQ(context::check(ctx), nullptr) << row;
            ASSERT_EQ(context::length(ctx), expected.size()) << row;
            for (uint32_t i = 0; i < expected.size(); ++i) {
                uint32_t sym = symbol::make(expected[i].c_str());
                EXPECT_EQ(word_symbol(context::word_at(ctx, int32_t(i))), sym) << row;
                EXPECT_EQ(context::find_word(ctx, sym, true), int32_t(i)) << row;
            }
            if (!on_stack)
                EXPECT_EQ(memory::buffer(context::values(ctx))->length(), expected.size()) << row;
        }
    }
}

TEST_F(Context, CloneRebindsItsWordsAndLeavesTheSourceAlone) {
    Node source = context::create(3, false, true, 0, Kind::object);
    collector::NodeRoot keep_source(source);
    context::add(source, word_of("m"));
    context::add(source, word_of("n"));
    Cell holder = make_cell(Type::object, source);
    collector::Root keep_holder(holder);
    Node copy = context::clone(holder, Kind::object);
    collector::NodeRoot keep_copy(copy);

    EXPECT_EQ(holder.w1, copy);
    EXPECT_NE(copy, source);
    EXPECT_TRUE(context::has_self(copy));
    ASSERT_EQ(context::length(copy), 2u);
    for (int32_t i = 0; i < 2; ++i) {
        EXPECT_EQ(word_context(context::word_at(copy, i)), copy);
        EXPECT_EQ(word_context(context::word_at(source, i)), source);
    }
    // The copy's table is its own.
    context::add(copy, word_of("o"));
    EXPECT_EQ(context::find_word(copy, symbol::make("o"), true), 2);
    EXPECT_EQ(context::find_word(source, symbol::make("o"), true), -1);
    EXPECT_EQ(context::check(copy), nullptr);
    EXPECT_EQ(context::check(source), nullptr);
}

TEST_F(Context, ContextsSurviveCollectionsThroughBoundWords) {
    Cell w;
    {
        Node ctx = plain_context({"kept"});
        collector::NodeRoot keep(ctx);
        w = context::word_at(ctx, 0);
    }
    collector::Root keep_word(w);
    context::set(w, integer_cell(77));
    for (int i = 0; i < 3; ++i) {
        collector::collect();
        block_of({integer_cell(i)});  // churn
    }
    EXPECT_EQ(int_of(*context::get(w)), 77);
    EXPECT_EQ(context::check(word_context(w)), nullptr);
}

TEST_F(Context, GlobalContextGrowsPastItsFirstCapacity) {
    Node g = context::global();
    uint32_t before = context::length(g);
    for (int i = 0; i < 5000; ++i) {
        std::string name = "grow-" + std::to_string(i);
        Cell w = word::load(name.c_str());
        context::set(w, integer_cell(i));
    }
    EXPECT_EQ(context::length(g), before + 5000);
    EXPECT_EQ(context::check(g), nullptr);
    for (int i = 0; i < 5000; i += 499) {
        std::string name = "GROW-" + std::to_string(i);  // a twin reads the same slot
        EXPECT_EQ(int_of(*context::get(word::load(name.c_str()))), i) << name;
    }
}

TEST_F(Context, GlobalContextSurvivesCollections) {
    Cell w = word::load("survivor");
    context::set(w, integer_cell(5));
    collector::collect();
    EXPECT_EQ(int_of(*context::get(word::load("survivor"))), 5);
}

}  // namespace
}  // namespace zan

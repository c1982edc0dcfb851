#include "callable_support.h"
#include "runtime/ownership.h"

using namespace zan;
using namespace zan::test;

namespace {

class Object : public ::testing::Test {
protected:
    void SetUp() override { use_test_interpreter(); }
};

Cell handler3() { return func(blk({w("w"), w("o"), w("n")}), blk({})); }

Cell set_path(const Cell& object, const char* name, const Cell& value) {
    Cell result;
    Cell element = w(name);
    actions::PathStep s{&element, &value, nullptr, nullptr, nullptr, 1, false, false, true, false};
    object::eval_path(result, object, s);
    return result;
}

Cell get_path(const Cell& object, const Cell& element) {
    Cell result;
    actions::PathStep s{&element, nullptr, nullptr, nullptr, nullptr, 1, false, true, true, false};
    object::eval_path(result, object, s);
    return result;
}

Cell reflect(const Cell& object, const char* field) {
    Cell args[1] = {object};
    object::reflect(args, symbol::make(field));
    return args[0];
}

TEST_F(Object, MakeFromABlock) {
    Cell o = make_object(blk({sw("a"), integer_cell(1), sw("b"), sw("c"), integer_cell(2)}));
    collector::Root k(o);
    EXPECT_TRUE(is(o, Type::object));
    EXPECT_EQ(int_of(field(o, "a")), 1);
    EXPECT_EQ(int_of(field(o, "b")), 2);
    EXPECT_EQ(int_of(field(o, "c")), 2);
    EXPECT_GT(object::class_of(o), object::first_class_id);
    EXPECT_EQ(object::hooks_node(o), 0u);
    // The owner cell leads back to the object.
    EXPECT_EQ(context::owner(object::context_node(o)).w1, o.w1);
    EXPECT_EQ(test::mold(o), "make object! [\n    a: 1\n    b: 2\n    c: 2\n]");
    actions::MoldFlags flat;
    flat.flat = true;
    EXPECT_EQ(test::mold(o, flat), "make object! [a: 1 b: 2 c: 2]");
    EXPECT_EQ(test::form(o), "a: 1\nb: 2\nc: 2");
}

TEST_F(Object, ClassIds) {
    uint32_t first = object::new_class_id();
    EXPECT_GT(first, 1000000u);
    EXPECT_EQ(object::new_class_id(), first + 1);
    Cell proto = make_object(blk({sw("a"), integer_cell(1)}));
    collector::Root k(proto);
    Cell same = make_object(blk({sw("a"), integer_cell(2)}), &proto);
    collector::Root k2(same);
    Cell same2 = make_object(blk({}), &proto);
    collector::Root k3(same2);
    EXPECT_EQ(object::class_of(same), object::class_of(proto));
    EXPECT_EQ(object::class_of(same2), object::class_of(proto));
    EXPECT_EQ(int_of(field(same2, "a")), 1);
    Cell more = make_object(blk({sw("b"), integer_cell(2)}), &proto);
    EXPECT_GT(object::class_of(more), object::class_of(proto));
    EXPECT_EQ(int_of(field(more, "a")), 1);
    EXPECT_EQ(int_of(field(more, "b")), 2);
}

TEST_F(Object, MakeFromAnotherObjectMerges) {
    Cell a = make_object(blk({sw("x"), integer_cell(1)}));
    collector::Root ka(a);
    Cell b = make_object(blk({sw("x"), integer_cell(5)}));
    collector::Root kb(b);
    Cell c = make_object(blk({sw("y"), integer_cell(7)}));
    collector::Root kc(c);
    Cell args[2] = {a, b};
    object::make(args, Type::object);
    EXPECT_EQ(int_of(field(args[0], "x")), 5);
    EXPECT_EQ(object::class_of(args[0]), object::class_of(a));
    Cell args2[2] = {a, c};
    object::make(args2, Type::object);
    EXPECT_NE(object::class_of(args2[0]), object::class_of(a));
    EXPECT_EQ(int_of(field(args2[0], "y")), 7);
}

TEST_F(Object, MakeFromOtherSpecsIsMalconstruct) {
    Cell args[2] = {datatype_cell(Type::object), integer_cell(3)};
    EXPECT_EQ(raised([&] { object::make(args, Type::object); }), error::ids::malconstruct);
}

TEST_F(Object, SeriesAreNotSharedWithThePrototype) {
    Cell inner = blk({integer_cell(1)});
    collector::Root ki(inner);
    Cell proto = make_object(blk({sw("s"), inner}));
    collector::Root kp(proto);
    Cell child = make_object(blk({}), &proto);
    EXPECT_NE(series_node(field(child, "s")), series_node(field(proto, "s")));
    EXPECT_EQ(test::mold(field(child, "s")), "[1]");
}

TEST_F(Object, CopyShallowDeepAndTyped) {
    Cell inner_obj = make_object(blk({sw("v"), integer_cell(1)}));
    collector::Root k0(inner_obj);
    Cell s = blk({integer_cell(1)});
    collector::Root k1(s);
    Cell o = make_object(blk({sw("s"), s, sw("o"), inner_obj}));
    collector::Root k2(o);

    Cell args[1] = {o};
    object::copy(args, nullptr, false, nullptr);
    EXPECT_NE(object::context_node(args[0]), object::context_node(o));
    EXPECT_EQ(object::class_of(args[0]), object::class_of(o));
    EXPECT_EQ(series_node(field(args[0], "s")), series_node(field(o, "s")));

    args[0] = o;
    object::copy(args, nullptr, true, nullptr);
    EXPECT_NE(series_node(field(args[0], "s")), series_node(field(o, "s")));
    EXPECT_EQ(object::context_node(field(args[0], "o")), object::context_node(inner_obj));

    Cell types = datatype_cell(Type::object);
    args[0] = o;
    object::copy(args, nullptr, true, &types);
    EXPECT_NE(object::context_node(field(args[0], "o")), object::context_node(inner_obj));
    EXPECT_EQ(int_of(field(field(args[0], "o"), "v")), 1);

    Cell part = integer_cell(1);
    args[0] = o;
    EXPECT_EQ(raised([&] { object::copy(args, &part, false, nullptr); }), errors::id::invalid_refine_arg);
}

TEST_F(Object, TypedCopyRefusesCycles) {
    Cell o = make_object(blk({sw("me"), none_cell()}));
    collector::Root k(o);
    *context::value_at(object::context_node(o), 0) = o;
    Cell types = datatype_cell(Type::object);
    Cell args[1] = {o};
    EXPECT_EQ(raised([&] { object::copy(args, nullptr, false, &types); }), errors::id::no_cycle);
}

TEST_F(Object, MethodsAreReboundToTheCopy) {
    Cell method = func(blk({}), blk({w("self")}));
    collector::Root km(method);
    Cell o = make_object(blk({sw("m"), method, sw("x"), integer_cell(1)}));
    collector::Root k(o);
    Cell args[1] = {o};
    object::copy(args, nullptr, false, nullptr);
    Cell m = field(args[0], "m");
    EXPECT_NE(function::more_node(m), function::more_node(field(o, "m")));
    EXPECT_TRUE(is(*function::more_at(m, function::more::code), Type::unset));
}

TEST_F(Object, MethodWithoutBodyCannotBeCopied) {
    Cell no_body = function::push(blk({}), none_cell(), 0, 0, 0, 0);
    collector::Root kb(no_body);
    Cell args[1];
    EXPECT_EQ(raised([&] { object::rebind_function(no_body, context::global()); }),
              error::ids::bad_func_def);
    (void)args;
}

TEST_F(Object, OnChangeFiresWithWordOldAndNew) {
    Cell h = handler3();
    collector::Root kh(h);
    Cell o = make_object(blk({sw("a"), integer_cell(1), sw("on-change*"), h}));
    collector::Root k(o);
    ASSERT_NE(object::hooks_node(o), 0u);
    EXPECT_TRUE(handler_calls().empty());  // making does not fire

    set_path(o, "a", integer_cell(2));
    ASSERT_EQ(handler_calls().size(), 1u);
    const HandlerCall& c = handler_calls()[0];
    EXPECT_EQ(c.name, "on-change*");
    ASSERT_EQ(c.args.size(), 3u);
    EXPECT_EQ(word_name(c.args[0]), "a");
    EXPECT_TRUE(is(c.args[0], Type::word));
    EXPECT_EQ(word_context(c.args[0]), object::context_node(o));
    EXPECT_EQ(int_of(c.args[1]), 1);
    EXPECT_EQ(int_of(c.args[2]), 2);
    EXPECT_EQ(c.locals, 0);
    EXPECT_EQ(int_of(field(o, "a")), 2);  // stored before the handler runs

    // An assignment through a bound word fires too.
    Cell word = make_cell(Type::set_word, object::context_node(o), symbol::make("a"), 0);
    context::set_in(word, integer_cell(3), object::context_node(o), true);
    ASSERT_EQ(handler_calls().size(), 2u);
    EXPECT_EQ(int_of(handler_calls()[1].args[1]), 2);
    EXPECT_EQ(int_of(handler_calls()[1].args[2]), 3);
}

TEST_F(Object, HandlerLocalsAreCounted) {
    Cell h = func(blk({w("w"), w("o"), w("n"), ref("local"), w("x"), w("y")}), blk({}));
    collector::Root kh(h);
    Cell o = make_object(blk({sw("a"), integer_cell(1), sw("on-change*"), h}));
    collector::Root k(o);
    set_path(o, "a", integer_cell(2));
    ASSERT_EQ(handler_calls().size(), 1u);
    EXPECT_EQ(handler_calls()[0].locals, 3);
}

TEST_F(Object, SetManySkipsTheHandlerFields) {
    Cell h = handler3();
    collector::Root kh(h);
    Cell o = make_object(blk({sw("a"), integer_cell(1), sw("on-change*"), h, sw("b"), integer_cell(2)}));
    collector::Root k(o);
    Cell src = blk({integer_cell(10), integer_cell(11), integer_cell(12)});
    collector::Root ks(src);
    object::set_many(o, src, false, false, false);
    ASSERT_EQ(handler_calls().size(), 2u);
    EXPECT_EQ(word_name(handler_calls()[0].args[0]), "a");
    EXPECT_EQ(word_name(handler_calls()[1].args[0]), "b");
    EXPECT_TRUE(is(field(o, "on-change*"), Type::function));
    EXPECT_EQ(int_of(field(o, "b")), 12);
}

TEST_F(Object, SetManyRules) {
    Cell o = make_object(blk({sw("a"), integer_cell(1), sw("b"), integer_cell(2)}));
    collector::Root k(o);
    Cell with_unset = blk({integer_cell(5), unset_cell()});
    collector::Root ku(with_unset);
    EXPECT_EQ(raised([&] { object::set_many(o, with_unset, false, false, false); }), errors::id::need_value);
    EXPECT_EQ(int_of(field(o, "a")), 1);
    object::set_many(o, with_unset, true, false, false);
    EXPECT_TRUE(is(field(o, "b"), Type::unset));
    Cell short_block = blk({none_cell()});
    collector::Root ks(short_block);
    object::set_many(o, short_block, false, false, true);  // some: none skipped
    EXPECT_EQ(int_of(field(o, "a")), 5);
    object::set_many(o, short_block, false, false, false);
    EXPECT_TRUE(is(field(o, "a"), Type::none));
    object::set_many(o, integer_cell(9), false, false, false);
    EXPECT_EQ(int_of(field(o, "a")), 9);
    EXPECT_EQ(int_of(field(o, "b")), 9);
}

TEST_F(Object, BadHandlerField) {
    Cell body = blk({sw("on-change*"), integer_cell(1)});
    collector::Root kb(body);
    EXPECT_EQ(raised([&] { make_object(body); }), error::ids::bad_field_set);
    EXPECT_EQ(word_name(errors::pending_arg(1)), "on-change*");
    EXPECT_EQ(errors::pending_arg(2).w1, uint32_t(Type::integer));
}

TEST_F(Object, HandlerReplacedByANonFunction) {
    Cell h = handler3();
    collector::Root kh(h);
    Cell o = make_object(blk({sw("a"), integer_cell(1), sw("on-change*"), h}));
    collector::Root k(o);
    *context::value_at(object::context_node(o), 1) = integer_cell(0);
    EXPECT_EQ(raised([&] { set_path(o, "a", integer_cell(2)); }), error::ids::invalid_obj_evt);
}

TEST_F(Object, DeepChangeThroughOwnership) {
    Cell h = func(blk({w("owner"), w("word"), w("target"), w("action"), w("new"), w("index"),
                       w("part")}),
                  blk({}));
    collector::Root kh(h);
    Cell s = blk({integer_cell(1)});
    collector::Root ks(s);
    Cell o = make_object(blk({sw("s"), s, sw("on-deep-change*"), h}));
    collector::Root k(o);
    EXPECT_TRUE(object::has_deep_handler(o));
    Cell series = field(o, "s");
    Cell action = w("append");
    EXPECT_TRUE(ownership::check(series, action, 1, 1));
    ASSERT_EQ(handler_calls().size(), 1u);
    const HandlerCall& c = handler_calls()[0];
    EXPECT_EQ(c.name, "on-deep-change*");
    ASSERT_EQ(c.args.size(), 7u);
    EXPECT_EQ(object::context_node(c.args[0]), object::context_node(o));
    EXPECT_EQ(word_name(c.args[1]), "s");
    EXPECT_EQ(series_node(c.args[2]), series_node(series));
    EXPECT_EQ(word_name(c.args[3]), "append");
    EXPECT_EQ(int_of(c.args[5]), 1);
    EXPECT_EQ(int_of(c.args[6]), 1);

    Cell plain = make_object(blk({sw("x"), integer_cell(1)}));
    collector::Root kp(plain);
    EXPECT_EQ(raised([&] {
                  object::fire_on_deep_change(plain, w("x"), s, action, none_cell(), 0, 0);
              }),
              error::ids::invalid_obj_evt);
}

TEST_F(Object, PathErrors) {
    Cell o = make_object(blk({sw("a"), integer_cell(1), sw("u"), unset_cell()}));
    collector::Root k(o);
    EXPECT_EQ(int_of(get_path(o, w("A"))), 1);  // any letter case
    EXPECT_EQ(raised([&] { get_path(o, w("missing")); }), error::ids::unset_path);
    EXPECT_EQ(raised([&] { get_path(o, w("u")); }), error::ids::unset_path);
    EXPECT_EQ(raised([&] { get_path(o, integer_cell(1)); }), error::ids::invalid_path);
    EXPECT_EQ(raised([&] { set_path(o, "missing", integer_cell(1)); }), error::ids::invalid_path);
}

TEST_F(Object, SelectAndPut) {
    Cell o = make_object(blk({sw("a"), integer_cell(1)}));
    collector::Root k(o);
    Cell args[3] = {o, lw("a"), none_cell()};
    object::select(args, {});
    EXPECT_EQ(int_of(args[0]), 1);
    args[0] = o;
    args[1] = w("zz");
    object::select(args, {});
    EXPECT_TRUE(is(args[0], Type::none));
    args[0] = o;
    args[1] = integer_cell(1);
    EXPECT_EQ(raised([&] { object::select(args, {}); }), errors::id::invalid_type);

    Cell put_args[3] = {o, w("a"), integer_cell(7)};
    object::put(put_args, false);
    EXPECT_EQ(int_of(put_args[0]), 7);
    EXPECT_EQ(int_of(field(o, "a")), 7);
    Cell bad[3] = {o, lw("a"), integer_cell(7)};
    EXPECT_EQ(raised([&] { object::put(bad, false); }), error::ids::invalid_key_type);
}

TEST_F(Object, ReflectFields) {
    Cell o = make_object(blk({sw("a"), integer_cell(1), sw("b"), w("a")}));
    collector::Root k(o);
    EXPECT_EQ(test::mold(reflect(o, "words")), "[a b]");
    EXPECT_EQ(test::mold(reflect(o, "values")), "[1 1]");
    EXPECT_EQ(int_of(reflect(o, "class")), int32_t(object::class_of(o)));
    EXPECT_EQ(test::mold(reflect(o, "changed")), "[]");
    EXPECT_FALSE(logic_of(reflect(o, "events?")));
    EXPECT_FALSE(logic_of(reflect(o, "owner")));
    set_path(o, "b", w("x"));
    EXPECT_EQ(test::mold(reflect(o, "changed")), "[b]");
    EXPECT_EQ(test::mold(reflect(o, "body")), "[\n    a: 1\n    b: 'x\n]");
    EXPECT_EQ(raised([&] { reflect(o, "spec"); }), errors::id::not_done);

    Cell args[3] = {o, w("changed"), none_cell()};
    object::modify(args, false);
    EXPECT_EQ(test::mold(reflect(o, "changed")), "[]");
    args[2] = integer_cell(1);
    EXPECT_EQ(raised([&] { object::modify(args, false); }), errors::id::invalid_arg);
}

TEST_F(Object, MoldHidesHandlersAndStopsAtCycles) {
    Cell h = handler3();
    collector::Root kh(h);
    Cell o = make_object(blk({sw("a"), none_cell(), sw("on-change*"), h}));
    collector::Root k(o);
    *context::value_at(object::context_node(o), 0) = o;
    actions::MoldFlags flat;
    flat.flat = true;
    EXPECT_EQ(test::mold(o, flat), "make object! [a: make object! [...]]");
    Cell empty = make_object(blk({}));
    EXPECT_EQ(test::mold(empty), "make object! []");
}

TEST_F(Object, NestedMoldIndents) {
    Cell inner = make_object(blk({sw("x"), integer_cell(1)}));
    collector::Root ki(inner);
    Cell outer = make_object(blk({sw("in"), inner}));
    EXPECT_EQ(test::mold(outer),
              "make object! [\n    in: make object! [\n        x: 1\n    ]\n]");
}

TEST_F(Object, Compare) {
    Cell a = make_object(blk({sw("x"), integer_cell(1)}));
    collector::Root ka(a);
    Cell b = make_object(blk({sw("x"), integer_cell(1)}));
    collector::Root kb(b);
    Cell c = make_object(blk({sw("x"), integer_cell(2)}));
    collector::Root kc(c);
    Cell d = make_object(blk({sw("x"), integer_cell(1), sw("y"), integer_cell(1)}));
    collector::Root kd(d);
    EXPECT_EQ(test::compare(a, a, 9), 0);
    EXPECT_EQ(test::compare(a, b, 0), 0);
    EXPECT_EQ(test::compare(a, b, 9), -1);
    EXPECT_EQ(test::compare(a, c, 0), -1);
    EXPECT_EQ(test::compare(d, a, 0), 1);
    EXPECT_EQ(test::compare(a, integer_cell(1), 0), -2);
    EXPECT_EQ(mold::cycle_depth(), 0);
    // Objects that hold themselves compare without looping.
    *context::value_at(object::context_node(a), 0) = a;
    *context::value_at(object::context_node(b), 0) = b;
    EXPECT_EQ(test::compare(a, b, 0), 0);
}

TEST_F(Object, Construct) {
    Cell body = blk({sw("a"), sw("b"), w("yes"), sw("c"), w("none"), sw("d")});
    collector::Root kb(body);
    Cell o = object::construct(nullptr, body, false);
    collector::Root k(o);
    EXPECT_TRUE(logic_of(field(o, "a")));
    EXPECT_TRUE(logic_of(field(o, "b")));
    EXPECT_TRUE(is(field(o, "c"), Type::none));
    EXPECT_TRUE(is(field(o, "d"), Type::none));
    Cell only = object::construct(nullptr, body, true);
    EXPECT_TRUE(is(field(only, "a"), Type::word));
}

TEST_F(Object, SurvivesCollections) {
    Cell h = handler3();
    collector::Root kh(h);
    Cell o = make_object(blk({sw("s"), blk({integer_cell(1)}), sw("on-change*"), h}));
    collector::Root k(o);
    collector::do_cycle();
    collector::do_cycle();
    EXPECT_EQ(test::mold(field(o, "s")), "[1]");
    set_path(o, "s", integer_cell(2));
    EXPECT_EQ(handler_calls().size(), 1u);
}

}  // namespace

namespace {

// Every allocation collects: whatever these routines hold across an
// allocation must be rooted, or the results below come out wrong.
TEST(CallablesUnderStress, EveryAllocationCollects) {
    use_test_interpreter();
    define_type_words();
    memory::set_gc_stress(1);
    struct Off {
        ~Off() { memory::set_gc_stress(0); }
    } off;
    Cell h = func(blk({w("w"), w("o"), w("n"), ref("local"), w("t")}), blk({w("w"), blk({w("o")})}));
    collector::Root kh(h);
    Cell o = make_object(blk({sw("s"), blk({integer_cell(1), blk({integer_cell(2)})}), sw("m"), h,
                              sw("on-change*"), h}));
    collector::Root k(o);
    Cell args[1] = {o};
    object::copy(args, nullptr, true, nullptr);
    Cell c = args[0];
    collector::Root kc(c);
    EXPECT_EQ(test::mold(field(c, "s")), "[1 [2]]");
    EXPECT_EQ(test::mold(field(c, "m")), "func [w o n /local t] [w [o]]");
    Cell v = integer_cell(5);
    Cell element = w("s");
    Cell result;
    actions::PathStep s{&element, &v, nullptr, nullptr, nullptr, 1, false, false, true, false};
    object::eval_path(result, c, s);
    ASSERT_EQ(handler_calls().size(), 1u);
    EXPECT_TRUE(is(handler_calls()[0].args[1], Type::block));  // the old value
    EXPECT_EQ(int_of(handler_calls()[0].args[2]), 5);
    EXPECT_EQ(handler_calls()[0].locals, 2);

    Cell arg = blk({w("a"), integer_cell(1)});
    collector::Root ka(arg);
    Cell e = error::make_from_ids(errors::id::invalid_arg, &arg);
    collector::Root ke(e);
    // A stack line follows when a booted system asks for one.
    std::string text = test::form(e);
    EXPECT_EQ(text.substr(0, text.find("\n*** Stack:")),
              "*** Script Error: invalid argument: [a 1]\n*** Where: ???\n*** Near : none");

    Cell body = blk({sw("x"), integer_cell(1), w("foreach"), blk({w("k"), w("v")}), w("s"),
                     blk({sw("y"), integer_cell(2)})});
    Cell spec = blk({w("a")});
    collector::Root k0(body), k1(spec);
    function::collect_words(spec, body);
    EXPECT_EQ(test::mold(spec), "[a /local x k v y]");
}

}  // namespace

namespace {

TEST(ObjectStartUp, InitPushAttachHooksAndClassTests) {
    use_test_interpreter();
    Node ctx = context::create(3, false, true, 0, context::Kind::object);
    collector::NodeRoot keep_ctx(ctx, collector::NodeRoot::As::context);
    context::add(ctx, w("a"));
    context::add(ctx, w("on-change*"));
    // Start-up code may hand over a context whose values are not there yet.
    memory::buffer(context::values(ctx))->tail = memory::buffer(context::values(ctx))->head;
    Cell o = object::init_push(ctx, 42);
    collector::Root k(o);
    EXPECT_EQ(object::class_of(o), 42u);
    EXPECT_EQ(memory::buffer(object::get_values(o))->length(), 2u);
    EXPECT_TRUE(is(*context::value_at(ctx, 0), Type::unset));
    EXPECT_EQ(context::owner(ctx).w2, 42u);

    Cell h = func(blk({w("w"), w("o"), w("n"), ref("local"), w("t")}), blk({}));
    *context::value_at(ctx, 1) = h;
    *context::value_at(ctx, 0) = integer_cell(1);
    object::attach_hooks(o, 1, 2, -1, 0);
    EXPECT_FALSE(object::has_deep_handler(o));
    EXPECT_EQ(context::owner(ctx).w3, o.w3);
    object::set_field(o, w("a"), integer_cell(2));
    ASSERT_EQ(handler_calls().size(), 1u);
    EXPECT_EQ(handler_calls()[0].locals, 2);

    Cell holder = make_object(blk({sw("inner"), o, sw("n"), integer_cell(0)}));
    collector::Root kh(holder);
    EXPECT_TRUE(object::class_at(object::context_node(holder), 0, 42));
    EXPECT_FALSE(object::class_at(object::context_node(holder), 0, 43));
    EXPECT_FALSE(object::class_at(object::context_node(holder), 1, 42));
    Cell bound = make_cell(Type::word, object::context_node(holder), symbol::make("inner"), 0);
    EXPECT_TRUE(object::word_of_class(bound, 42));
}

}  // namespace

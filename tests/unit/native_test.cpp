#include "callable_support.h"
#include "datatypes/native.h"

using namespace zan;
using namespace zan::test;

namespace {

class Native : public ::testing::Test {
protected:
    void SetUp() override {
        use_test_interpreter();
        native::forget_made_arities();
    }
    void TearDown() override {
        native::set_tables({});
        native::forget_made_arities();
    }
};

Cell make_of(Type t, const Cell& spec) {
    Cell args[2] = {datatype_cell(t), spec};
    datatype::row(t).make.fn(args, t);
    return args[0];
}

Cell two_args() { return blk({w("a"), w("b")}); }

TEST_F(Native, MakeChecksTheSpecAndTheIndex) {
    struct Case {
        Type type;
        Cell spec;
        bool ok;
    } cases[] = {
        {Type::native, blk({two_args(), integer_cell(1)}), true},
        {Type::native, blk({two_args(), integer_cell(107)}), true},
        {Type::native, blk({two_args(), integer_cell(0)}), false},
        {Type::native, blk({two_args(), integer_cell(121)}), false},
        // The table's empty entries cannot be made into values.
        {Type::native, blk({two_args(), integer_cell(108)}), false},
        {Type::native, blk({two_args(), integer_cell(120)}), false},
        {Type::action, blk({two_args(), integer_cell(62)}), true},
        {Type::action, blk({two_args(), integer_cell(63)}), false},
        {Type::action, blk({two_args(), integer_cell(8)}), false},
        {Type::native, blk({two_args()}), false},
        {Type::native, blk({two_args(), integer_cell(1), integer_cell(2)}), false},
        {Type::native, blk({integer_cell(1), two_args()}), false},
        {Type::native, integer_cell(1), false},
    };
    for (auto& c : cases) {
        errors::Id got = raised([&] { make_of(c.type, c.spec); });
        if (c.ok) {
            EXPECT_EQ(got, errors::id::not_done) << test::mold(c.spec);
        } else {
            EXPECT_EQ(got, errors::id::bad_make_arg) << test::mold(c.spec);
            EXPECT_EQ(errors::pending_arg(1).w1, uint32_t(c.type));
        }
    }
}

TEST_F(Native, SpecArityMustMatchTheRegisteredNative) {
    native::Tables t;
    t.native_arity = [](int index) { return index == 5 ? 2 : -1; };
    native::set_tables(t);
    EXPECT_EQ(raised([] { make_of(Type::native, blk({two_args(), integer_cell(5)})); }),
              errors::id::not_done);
    Cell three = blk({w("a"), w("b"), w("c"), ref("only"), w("d")});
    EXPECT_EQ(raised([&] { make_of(Type::native, blk({three, integer_cell(5)})); }),
              errors::id::bad_make_arg);
    EXPECT_EQ(raised([&] { make_of(Type::native, blk({three, integer_cell(6)})); }),
              errors::id::not_done);
}

TEST_F(Native, LaterMakesKeepTheFirstArity) {
    EXPECT_EQ(raised([] { make_of(Type::native, blk({two_args(), integer_cell(50)})); }),
              errors::id::not_done);
    Cell one = blk({w("a"), ref("only"), w("b")});
    EXPECT_EQ(raised([&] { make_of(Type::native, blk({one, integer_cell(50)})); }),
              errors::id::bad_make_arg);
    Cell other_names = blk({w("x"), w("y"), ref("only")});
    EXPECT_EQ(raised([&] { make_of(Type::native, blk({other_names, integer_cell(50)})); }),
              errors::id::not_done);
}

TEST_F(Native, ValueLayoutAndCache) {
    Cell spec = blk({w("series"), w("value"), ref("only")});
    collector::Root k(spec);
    Cell n = make_of(Type::native, blk({spec, integer_cell(4)}));
    collector::Root kn(n);
    EXPECT_EQ(native::code_index(n), 4);
    EXPECT_EQ(native::spec_node(n), series_node(spec));
    memory::Series* cache = memory::buffer(native::cache_node(n));
    ASSERT_EQ(cache->length(), 2u);
    EXPECT_TRUE(is(cache->cells()[0], Type::context));
    EXPECT_TRUE(is(cache->cells()[1], Type::none));
}

TEST_F(Native, FormMoldReflect) {
    Cell spec = two_args();
    collector::Root k(spec);
    Cell n = make_of(Type::native, blk({spec, integer_cell(1)}));
    collector::Root kn(n);
    Cell a = make_of(Type::action, blk({spec, integer_cell(25)}));
    collector::Root ka(a);
    EXPECT_EQ(test::form(n), "?native?");
    EXPECT_EQ(test::form(a), "?action?");
    EXPECT_EQ(test::mold(n), "make native! [[a b]]");
    EXPECT_EQ(test::mold(a), "make action! [[a b]]");

    Cell args[1] = {n};
    native::reflect(args, symbol::make("body"));
    EXPECT_EQ(int_of(args[0]), 1);
    args[0] = a;
    native::reflect(args, symbol::make("body"));
    EXPECT_EQ(int_of(args[0]), 25);
    args[0] = n;
    native::reflect(args, symbol::make("spec"));
    EXPECT_EQ(series_node(args[0]), series_node(spec));
    args[0] = n;
    EXPECT_EQ(raised([&] { native::reflect(args, symbol::make("words")); }), errors::id::not_done);
    // action! inherits reflect.
    EXPECT_EQ(datatype::row(Type::action).reflect.fn, datatype::row(Type::native).reflect.fn);
}

TEST_F(Native, CompareByCode) {
    Cell spec = two_args();
    collector::Root k(spec);
    Cell n1 = make_of(Type::native, blk({spec, integer_cell(1)}));
    collector::Root k1(n1);
    Cell n1b = make_of(Type::native, blk({blk({w("x"), w("y")}), integer_cell(1)}));
    collector::Root k2(n1b);
    Cell n2 = make_of(Type::native, blk({spec, integer_cell(2)}));
    collector::Root k3(n2);
    Cell a1 = make_of(Type::action, blk({spec, integer_cell(1)}));
    EXPECT_EQ(test::compare(n1, n1b, 0), 0);
    EXPECT_EQ(test::compare(n1, n2, 0), -1);
    EXPECT_EQ(test::compare(n2, n1, 9), 1);
    EXPECT_EQ(test::compare(n1, n2, 3), -2);
    EXPECT_EQ(test::compare(n1, a1, 0), -2);
}

TEST_F(Native, OpSpecRule) {
    struct Case {
        Cell spec;
        bool ok;
    } cases[] = {
        {blk({w("a"), w("b")}), true},
        {blk({w("a"), w("b"), ref("local"), w("c")}), true},
        {blk({w("a"), gw("b")}), true},
        {blk({w("a"), str("doc"), w("b"), blk({})}), true},
        {blk({w("a"), w("b"), w("c")}), false},
        {blk({gw("a"), w("b")}), false},
        {blk({lw("a"), w("b")}), false},
        {blk({w("a"), w("b"), ref("only")}), false},
        {blk({w("a")}), false},
    };
    for (auto& c : cases) {
        Cell spec = c.spec;
        collector::Root k(spec);
        EXPECT_EQ(op::spec_ok(spec), c.ok) << test::mold(spec);
        Cell f = function::push(spec, blk({}), 0, 0, 0, 0);
        collector::Root kf(f);
        errors::Id got = raised([&] { make_of(Type::op, f); });
        EXPECT_EQ(got, c.ok ? errors::id::not_done : error::ids::bad_op_spec);
    }
}

TEST_F(Native, OpFromEachSource) {
    Cell spec = two_args();
    collector::Root k(spec);
    Cell n = make_of(Type::native, blk({spec, integer_cell(3)}));
    collector::Root kn(n);
    Cell op = make_of(Type::op, n);
    EXPECT_TRUE(is(op, Type::op));
    EXPECT_EQ(op_source(op), Type::native);
    EXPECT_EQ(op.w1, n.w1);
    EXPECT_EQ(op.w3, n.w3);
    EXPECT_EQ(test::form(op), "?op?");
    EXPECT_EQ(test::mold(op), "make op! [[a b]]");
    Cell args[1] = {op};
    native::reflect(args, symbol::make("body"));
    EXPECT_EQ(int_of(args[0]), 3);

    Cell f = func(spec, blk({w("a")}));
    collector::Root kf(f);
    Cell fop = make_of(Type::op, f);
    collector::Root kfop(fop);
    EXPECT_EQ(op_source(fop), Type::function);
    EXPECT_EQ(test::mold(fop), "make op! func [a b] [a]");
    // The more block keeps the source function.
    EXPECT_EQ(function::more_at(f, function::more::op_source)->w3, f.w3);
    args[0] = fop;
    native::reflect(args, symbol::make("body"));
    EXPECT_EQ(test::mold(args[0]), "[a]");

    Cell r = routine::push(spec, none_cell(), 1, -1, false);
    collector::Root kr(r);
    Cell rop = make_of(Type::op, r);
    EXPECT_EQ(op_source(rop), Type::routine);

    Cell bad = integer_cell(1);
    EXPECT_EQ(raised([&] { make_of(Type::op, bad); }), errors::id::invalid_type);
    EXPECT_EQ(errors::pending_arg(1).w1, uint32_t(Type::integer));
}

}  // namespace

namespace {

// The interpreter's cache in cell 1 holds refinement records whose first
// payload word is a slot number: the collector must not take it for a
// context (a debug build aborts on marking a node that is not in use).
class NativeCache : public Native {};

TEST_F(NativeCache, InterpreterCacheIsNotScannedForNodes) {
    Cell spec = blk({w("a"), ref("only")});
    collector::Root k(spec);
    Cell args[2] = {datatype_cell(Type::native), blk({spec, integer_cell(9)})};
    native::make(args, Type::native);
    Cell n = args[0];
    collector::Root kn(n);
    Cell f = func(blk({w("a"), ref("only")}), blk({w("a")}));
    collector::Root kf(f);
    for (Cell* owner : {&n, &f}) {
        Cell cache = blk({make_cell(Type::refinement, 0x7FFFFFF0u, symbol::make("only"), 1)});
        memory::buffer(owner->w3)->cells()[1] = cache;
    }
    collector::do_cycle();
    collector::do_cycle();
    EXPECT_EQ(block::rs_length(memory::buffer(n.w3)->cells()[1]), 1);
    EXPECT_EQ(test::mold(f), "func [a /only] [a]");
}

}  // namespace

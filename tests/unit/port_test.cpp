// port!: a handle! actor names a native table, whose routines the action
// dispatch calls directly; an action the table lacks raises no-port-action.
#include <gtest/gtest.h>

#include "datatypes/context.h"
#include "datatypes/port.h"
#include "evaluator_support.h"

namespace zan {
namespace {

int opened = 0;

void native_open(actions::Args args, const actions::OpenRefs& r) {
    ++opened;
    args[0] = integer_cell(r.write ? 2 : 1);
}

int32_t native_length(const Cell&) { return 7; }

class PortTest : public ::testing::Test {
protected:
    void SetUp() override { test::start(); }
};

TEST_F(PortTest, NativeActorRoutinesRunDirectly) {
    static void* table[port::native_slots] = {};
    table[int(actions::Slot::open) - port::first_slot] = reinterpret_cast<void*>(&native_open);
    table[int(actions::Slot::length_q) - port::first_slot] = reinterpret_cast<void*>(&native_length);
    Cell actor = port::register_native_actor(table);
    Cell* slot = stack::push(actor);
    test::eval_text("native-actor: none");
    Cell w = test::eval_text("'native-actor");
    context::set(w, *slot);
    test::eval_text(
        "append system/schemes reduce ['native make system/standard/scheme [name: 'native actor: native-actor]]"
        " np: make port! [scheme: 'native]");
    opened = 0;
    EXPECT_EQ(int_of(test::eval_text("open np")), 1);
    EXPECT_EQ(int_of(test::eval_text("open/write np")), 2);
    EXPECT_EQ(opened, 2);
    EXPECT_EQ(int_of(test::eval_text("length? np")), 7);
    EXPECT_EQ(test::raised_id([] { test::eval_text("close np"); }), errors::id::no_port_action);
}

}  // namespace
}  // namespace zan

// Helpers for tests of the value kernel: start-up registration, calling slots
// through the registry, and catching raised errors.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "datatypes/datatype.h"
#include "datatypes/mold.h"
#include "runtime/errors.h"
#include "runtime/unwind.h"

namespace zan::test {

inline const actions::Row& row_of(const Cell& c) {
    datatype::register_all();
    return datatype::row(type_of(c));
}

// The id raised by body, or not-done when it raised nothing.
inline errors::Id raised(const std::function<void()>& body) {
    try {
        body();
    } catch (const unwind::Thrown& t) {
        EXPECT_EQ(t.code, unwind::error);
        return errors::pending_id();
    }
    return errors::id::not_done;
}

// Two-operand slot (add, subtract, and~ ...): answers the result slot.
using BinarySlot = actions::SlotValue<actions::Fn_add> actions::Row::*;
inline Cell binary(BinarySlot slot, Cell a, Cell b) {
    Cell args[2] = {a, b};
    auto fn = (row_of(a).*slot).fn;
    EXPECT_NE(fn, nullptr);
    fn(args);
    return args[0];
}

inline Cell unary(BinarySlot slot, Cell a) {
    Cell args[1] = {a};
    (row_of(a).*slot).fn(args);
    return args[0];
}

inline Cell to(Type target, Cell spec) {
    datatype::register_all();
    Cell args[2] = {datatype_cell(target), spec};
    datatype::row(target).to.fn(args, target);
    return args[0];
}

inline Cell make(Type target, Cell spec) {
    datatype::register_all();
    Cell args[2] = {datatype_cell(target), spec};
    datatype::row(target).make.fn(args, target);
    return args[0];
}

inline Cell round(Cell v, actions::RoundRefs r = {}) {
    Cell args[2] = {v, none_cell()};
    row_of(v).round.fn(args, r);
    return args[0];
}

// Comparison through the first value's slot.
inline int32_t compare(Cell a, Cell b, int32_t op) { return row_of(a).compare.fn(a, b, op); }

inline std::string mold(Cell v, actions::MoldFlags f = {}) {
    datatype::register_all();
    return mold::mold_text(v, f);
}
inline std::string form(Cell v) {
    datatype::register_all();
    return mold::form_text(v);
}

}  // namespace zan::test

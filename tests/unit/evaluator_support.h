// Helpers for the evaluator's unit tests: a started runtime with its boot
// scripts, code loaded from text, and the error id a body raised.
#pragma once

#include <gtest/gtest.h>

#include <string_view>

#include "boot/init.h"
#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/unwind.h"

namespace zan::test {

inline void start() {
    boot::init();
    stack::s.top = stack::s.base = stack::s.bottom;
    stack::s.frame_top = stack::s.frame_bottom;
}

// The error id body raised (the stacks put back as they were), or not-done
// when it raised nothing.
template <typename Body>
errors::Id raised_id(Body&& body) {
    Cell* base = stack::s.base;
    Cell* top = stack::s.top;
    stack::Frame* frames = stack::s.frame_top;
    try {
        body();
    } catch (const unwind::Thrown& t) {
        EXPECT_EQ(t.code, unwind::error);
        stack::s.base = base;
        stack::s.top = top;
        stack::s.frame_top = frames;
        return errors::pending_id();
    }
    return errors::id::not_done;
}

// Evaluates text as a block; answers its value (pushed and popped again).
inline Cell eval_text(std::string_view text) {
    Cell code = boot::load_text(text);
    Cell* held = stack::push(code);
    stack::Status st = interp::eval_block(*held, false);
    EXPECT_EQ(st, stack::ok);
    Cell result = stack::s.top[-1];
    stack::s.top = held;
    return result;
}

}  // namespace zan::test

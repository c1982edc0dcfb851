// Shared set-up of the context, word and path tests: a started runtime and
// small builders for blocks of words.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/mold.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/unwind.h"

namespace zan::testing_contexts {

inline void start_runtime() {
    static bool done = false;
    collector::set_enabled(true);
    if (done) return;
    done = true;
    memory::init();
    if (!is(block::root(), Type::block)) block::init_root();
    datatype::register_all();
    symbol::make_table();
    if (!context::global()) context::make_global();
    collector::set_enabled(true);
}

inline Cell word_of(const char* name, Type t = Type::word) { return word::load_as(t, name); }

// A cell kept alive and up to date across collections for its whole scope.
struct Kept {
    Cell v;
    collector::Root root{v};
    explicit Kept(const Cell& c) : v(c) {}
    Kept(const Kept&) = delete;
    Kept& operator=(const Kept&) = delete;
};

// A new block holding copies of the values. Words need no root (the global
// context keeps them); series among the values must be rooted by the caller.
inline Cell block_of(std::initializer_list<Cell> values, Type t = Type::block) {
    Cell b;
    block::make_at(b, int32_t(values.size()));
    collector::Root keep(b);
    for (const Cell& v : values) block::rs_append(b, v);
    return set_type(b, t);
}

inline Cell& at(const Cell& block, int32_t i) { return *block::rs_abs_at(block, i); }

// The error id an action raised, or none when it returned.
template <typename Fn>
errors::Id raised(Fn&& fn) {
    try {
        fn();
    } catch (const unwind::Thrown& t) {
        if (t.code == unwind::error) return errors::pending_id();
        throw;
    }
    return errors::Id{errors::Category::throw_, 0};
}

class Runtime : public ::testing::Test {
protected:
    static void SetUpTestSuite() { start_runtime(); }
};

}  // namespace zan::testing_contexts

// Shared helpers of the block and series tests: building blocks of integers,
// reading them back, calling actions through the registry's rows, and catching
// the id of a raised error.
#pragma once

#include <gtest/gtest.h>

#include <climits>
#include <initializer_list>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/mold.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/unwind.h"

namespace zan::blocktest {

inline void start_runtime() {
    memory::init();
    datatype::register_all();
    if (!is(block::root(), Type::block)) block::init_root();
    symbol::make_table();
    if (!context::global()) context::make_global();
    collector::set_enabled(true);
}

// Operand slots of an action call, kept alive and current across collections.
struct Slots {
    Cell v[4]{};
    collector::Root r0{v[0]}, r1{v[1]}, r2{v[2]}, r3{v[3]};
    Cell& operator[](int i) { return v[i]; }
    operator Cell*() { return v; }
};

inline Cell block_of(std::initializer_list<int> values) {
    Cell b;
    collector::Root keep(b);
    block::make_at(b, int32_t(values.size()));
    for (int v : values) block::rs_append(b, integer_cell(v));
    return b;
}

inline Cell block_of_cells(std::initializer_list<Cell> values) {
    Cell b;
    collector::Root keep(b);
    block::make_at(b, int32_t(values.size()));
    for (const Cell& v : values) block::rs_append(b, v);
    return b;
}

// Integers of a block from its head; other values read as INT_MIN.
inline std::vector<int> ints(const Cell& b) {
    std::vector<int> out;
    Cell* c = memory::buffer(series_node(b))->cells();
    int32_t total = int32_t(memory::buffer(series_node(b))->length());
    for (int32_t i = int32_t(series_index(b)); i < total; ++i)
        out.push_back(is(c[i], Type::integer) ? int_of(c[i]) : INT_MIN);
    return out;
}

inline const actions::Row& row(Type t) { return datatype::row(t); }

// The id of the error the call raises; not_done's opposite (throw_ 0) when none.
template <typename F>
errors::Id raised(F&& f) {
    try {
        f();
    } catch (const unwind::Thrown& t) {
        EXPECT_EQ(t.code, uint32_t(unwind::error));
        return errors::pending_id();
    }
    return errors::Id{errors::Category::throw_, 0};
}
constexpr errors::Id no_error{errors::Category::throw_, 0};

inline std::string molded(const Cell& v) { return mold::mold_text(v); }

}  // namespace zan::blocktest

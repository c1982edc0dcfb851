// The interpreter: evaluates blocks of values expression by expression.
//
// Every routine here pushes its result on the value stack (one value) or, for
// the block-level routines, leaves it in the caller's result slot. Routines
// answer a stack::Status: ok, or the code of a break, continue, return, exit
// or throw in flight. A non-ok status means the exit search has already set
// the stacks up for its target: every level on the way returns the status at
// once and touches nothing. Errors are C++ exceptions (unwind::Thrown); their
// catchers cut the stacks back themselves (stack::cut_back).
//
// A position in a block is a cell index from the buffer's start; buffers may
// move on any allocation, so values are read by index and copied out before
// anything else runs.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "evaluator/stack.h"
#include "runtime/memory.h"

namespace zan::interp {

using stack::Status;

// An evaluation cursor over a block.
struct Code {
    Node node;      // the block's buffer
    uint32_t pos;   // next value to evaluate
    uint32_t end;   // past the last value
    Cell block;     // the block value itself, for trace events and errors
    // The buffer as last read, valid while the memory manager's moves epoch
    // still reads `epoch`.
    mutable memory::Series* series = nullptr;
    mutable uint32_t epoch = 0;
    uint32_t start = 0;  // where the expression being evaluated began (an error's near)
};
// Inline: every block and paren evaluated starts here.
[[gnu::always_inline]] inline Code code_of(const Cell& block) {
    Node n = series_node(block);
    memory::Series* s = memory::buffer(n);
    uint32_t len = (s->tail - s->head) / sizeof(Cell);
    uint32_t pos = series_index(block);
    return Code{n, pos > len ? len : pos, len, block, s, memory::moves()};
}
// The value at a position, or nullptr past the end (or past a shrunk tail).
[[gnu::always_inline]] inline const Cell* value_at(const Code& c, uint32_t pos) {
    if (pos >= c.end) return nullptr;
    if (c.epoch != memory::moves()) [[unlikely]] {
        c.series = memory::buffer(c.node);
        c.epoch = memory::moves();
    }
    memory::Series* s = c.series;
    if (pos >= (s->tail - s->head) / sizeof(Cell)) return nullptr;
    return s->cells() + pos;
}

// Apply modes of invoke and fetch_args.
namespace mode {
constexpr int word = 0;   // calls through a word or a path
constexpr int all = 1;    // apply/all
constexpr int named = 2;  // apply without /all
constexpr int safer = 4;  // apply/safer
}  // namespace mode

void init();

// native!, action!, function! or routine!: what call() and invoke() can run.
inline bool is_callable(Type t) {
    return t == Type::native || t == Type::action || t == Type::function || t == Type::routine;
}

// Sets a word's value as a set-word does: a plain store where nothing can
// hear of it, else through context::set (errors and change hooks included).
void set_word(Cell& word, const Cell& value);

// Evaluates a whole block. chain: the result goes into the caller's result
// slot; otherwise it is left pushed as one value.
Status eval_block(const Cell& block, bool chain);

// Evaluates one expression at c.pos (operator look-ahead unless no_infix) and
// pushes its value; c.pos moves past it.
Status eval_expression(Code& c, bool no_infix, bool no_call);
// The same for a value the caller has just read at c.pos.
Status eval_value(Code& c, Cell value, bool no_infix, bool no_call);

// One expression of a block at its index (do/next): answers the new index
// through `next`; at the tail the result is unset and the index stays.
Status eval_next_index(const Cell& block, uint32_t& next);

// Calls a native!, action!, function! or routine! with its arguments taken
// from c (null: no block, arguments completed by refinements and apply
// rules). path and path_pos name the refinements of a call through a path.
// The result is pushed.
Status invoke(const Cell& callable, Code* c, const Cell& name, const Cell* path, uint32_t path_pos,
              const Cell* owner, int mode, bool infix);

// Runs a function whose arguments are in place in the top frame.
Status exec_function(const Cell& fn, Node owner, const Cell& name);

// Runs a callable with the given argument values (refinements absent): the
// road the runtime takes to call script functions back from C++. The frame is
// named by `name` (a symbol id; 0 for <anon>); tracing is off during the call.
// The result is pushed. Missing arguments are none. The argument cells must
// stay reachable by the collector while the call runs (on the value stack,
// for instance): they are copied only once the frame is open.
Status call(const Cell& callable, const Cell* args, uint32_t count, uint32_t name = 0);

// Installs the lexer's callback hooks (the <lexer-callback> calls).
void install_lexer_hooks();

// Builds (once) and answers the arity cache of a callable.
Node arity_cache(const Cell& callable);

// The spec word of entry `index` of a callable's arity cache (arguments and
// refinements in spec order), for error reports.
Cell spec_word(const Cell& callable, uint32_t index);

// Path evaluation: with set, the value to assign is `value`; with get,
// callables are answered, not called. The result is pushed.
//
// With a resume record (four value-stack cells, the first with w1 = 0 when
// fresh) a paren item is not evaluated: the walk stops before it, keeps its
// state in the record (cell 0: w1 the item's index + 1, w2 the kind, w3 the
// position; cell 1 the current value; cell 2 the parent) and answers with the
// top at cell 3. The caller evaluates the paren, leaves its value on the top
// and calls again with the record to go on from that item.
// case_sensitive: keys are compared with letter case (get/case).
Status eval_path(const Cell& path, Code* c, bool set, bool get, const Cell* value,
                 Cell* resume = nullptr, bool case_sensitive = false);

// Kinds of a resume record's current value.
namespace resume_kind {
constexpr uint32_t head = 0;     // the head word's value, fetched again
constexpr uint32_t on_stack = 1; // a value-stack slot (position + 1)
constexpr uint32_t element = 2;  // a cell of the parent's buffer (index)
constexpr uint32_t copy = 4;     // the copy kept in cell 1
}  // namespace resume_kind

// The block and position evaluated now (an error's near field).
extern Code* current;

}  // namespace zan::interp

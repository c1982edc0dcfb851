// Stand-ins for the function! and object! services the function natives use,
// until those datatypes land: push goes through the interpreter's callable
// stand-in, spec checks are left to the arity cache, objects are not done.
// Every definition is weak, so the datatypes' own ones take over as they land.
#include <vector>

#include "datatypes/block.h"
#include "datatypes/symbol.h"
#include "evaluator/callable_stub.h"
#include "evaluator/natives_functions.h"
#include "evaluator/stack.h"
#include "runtime/errors.h"
#include "runtime/memory.h"

namespace zan::function {

[[gnu::weak]] uint32_t validate_spec(const Cell&) { return 0; }

[[gnu::weak]] Cell push(const Cell& spec, const Cell& body, Node, int32_t, Node, uint32_t) {
    Cell* mark = stack::s.top;
    Cell fn = callable::function_push(spec, body);
    stack::s.top = mark;
    return fn;
}

namespace {

bool same_word(const Cell& a, const Cell& b) {
    return symbol::resolve(word_symbol(a)) == symbol::resolve(word_symbol(b));
}

bool listed(const Cell& block, const Cell& w) {
    for (int32_t i = 0, n = block::rs_length(block); i < n; ++i) {
        const Cell& v = *block::rs_abs_at(block, int32_t(series_index(block)) + i);
        Type t = type_of(v);
        if ((t == Type::word || t == Type::refinement) && same_word(v, w)) return true;
    }
    return false;
}

bool word_like(Type t) {
    return t == Type::word || t == Type::set_word || t == Type::get_word || t == Type::lit_word;
}

}  // namespace

// Set-words of the body and the words of foreach, remove-each and repeat
// become locals; words after /extern in the spec never do.
[[gnu::weak]] Cell collect_words(const Cell& spec, const Cell& body) {
    Cell* result = stack::push(none_cell());
    block::make_at(*result, 8);
    Cell* ignore = stack::push(block::clone(spec, false, false));
    uint32_t sym_extern = symbol::resolve(symbol::make("extern"));
    uint32_t sym_local = symbol::resolve(symbol::make("local"));
    uint32_t loop_words[3] = {symbol::resolve(symbol::make("foreach")),
                              symbol::resolve(symbol::make("remove-each")),
                              symbol::resolve(symbol::make("repeat"))};
    // Cut the spec at /extern, keeping the words of a /local after them.
    int32_t n = block::rs_length(spec);
    for (int32_t i = 0; i < n; ++i) {
        Cell v = *block::rs_abs_at(spec, int32_t(series_index(spec)) + i);
        if (!is(v, Type::refinement) || symbol::resolve(word_symbol(v)) != sym_extern) continue;
        int32_t j = i + 1;
        while (j < n && is(*block::rs_abs_at(spec, int32_t(series_index(spec)) + j), Type::word)) ++j;
        if (j < n) {
            Cell r = *block::rs_abs_at(spec, int32_t(series_index(spec)) + j);
            if (is(r, Type::refinement) && symbol::resolve(word_symbol(r)) == sym_local)
                for (++j; j < n; ++j) {
                    Cell w = *block::rs_abs_at(spec, int32_t(series_index(spec)) + j);
                    if (is(w, Type::word)) block::rs_append(*result, w);
                }
        }
        block::rs_truncate(spec, int32_t(series_index(spec)) + i);
        break;
    }
    for (int32_t i = 0, m = block::rs_length(*ignore); i < m; ++i) {
        Cell& v = *block::rs_abs_at(*ignore, int32_t(series_index(*ignore)) + i);
        if (word_like(type_of(v)) || is(v, Type::refinement)) set_type(v, Type::word);
    }
    auto collect = [&](Cell w) {
        set_type(w, Type::word);
        if (listed(*ignore, w)) return;
        w.header &= header::type_mask;
        block::rs_append(*ignore, w);
        block::rs_append(*result, w);
    };
    std::vector<Node> walked;
    std::vector<Cell> todo{body};
    while (!todo.empty()) {
        Cell b = todo.back();
        todo.pop_back();
        bool seen = false;
        for (Node x : walked) seen |= x == series_node(b);
        if (seen) continue;
        walked.push_back(series_node(b));
        for (int32_t i = 0; i < block::rs_length(b); ++i) {
            Cell v = *block::rs_abs_at(b, int32_t(series_index(b)) + i);
            Type t = type_of(v);
            if (t == Type::set_word) {
                collect(v);
            } else if (t == Type::word && i + 1 < block::rs_length(b)) {
                uint32_t s = symbol::resolve(word_symbol(v));
                if (s != loop_words[0] && s != loop_words[1] && s != loop_words[2]) continue;
                Cell next = *block::rs_abs_at(b, int32_t(series_index(b)) + i + 1);
                if (word_like(type_of(next))) {
                    collect(next);
                } else if (is(next, Type::block)) {
                    for (int32_t k = 0; k < block::rs_length(next); ++k) {
                        Cell w = *block::rs_abs_at(next, int32_t(series_index(next)) + k);
                        Type wt = type_of(w);
                        if (wt == Type::word || wt == Type::get_word || wt == Type::lit_word) collect(w);
                    }
                }
            } else if (t == Type::block || t == Type::paren) {
                todo.push_back(v);
            }
        }
    }
    if (block::rs_length(*result) > 0) {
        bool has_local = false;
        for (int32_t i = 0, m = block::rs_length(spec); i < m; ++i) {
            Cell v = *block::rs_abs_at(spec, int32_t(series_index(spec)) + i);
            has_local |= is(v, Type::refinement) && symbol::resolve(word_symbol(v)) == sym_local;
        }
        if (!has_local)
            block::rs_append(spec, make_cell(Type::refinement, 0, symbol::make("local"), uint32_t(-1)));
        for (int32_t i = 0; i < block::rs_length(*result); ++i) {
            Cell w = *block::rs_abs_at(*result, i);
            if (symbol::resolve(word_symbol(w)) != sym_local) block::rs_append(spec, w);
        }
    }
    Cell r = *result;
    stack::s.top = result;
    return r;
}

}  // namespace zan::function

namespace zan::object {

[[gnu::weak]] void set_many(const Cell&, const Cell&, bool, bool, bool) { errors::fire(errors::id::not_done); }
[[gnu::weak]] Cell construct(const Cell*, const Cell&, bool) { errors::fire(errors::id::not_done); }

}  // namespace zan::object

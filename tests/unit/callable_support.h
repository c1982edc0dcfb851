// Helpers for the tests of native!, function!, object! and error!: building
// blocks and words by hand (no lexer here), a small evaluator for object
// bodies (set-words followed by a value) and a recorder of handler calls.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/mold.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "runtime/collector.h"
#include "value_support.h"

namespace zan::test {

// A word of the type, bound to the global context (refinements unbound).
inline void register_blocks();
inline Cell word_as(Type t, const char* name) {
    register_blocks();
    uint32_t s = symbol::make(name);
    if (t == Type::refinement) return make_cell(t, 0, s, uint32_t(-1));
    Node g = context::global();
    Cell w = make_cell(Type::word, g, s, uint32_t(-1));
    int32_t i = context::add(g, w);
    return make_cell(t, g, s, uint32_t(i));
}
inline Cell w(const char* name) { return word_as(Type::word, name); }
inline Cell sw(const char* name) { return word_as(Type::set_word, name); }
inline Cell gw(const char* name) { return word_as(Type::get_word, name); }
inline Cell lw(const char* name) { return word_as(Type::lit_word, name); }
inline Cell ref(const char* name) { return word_as(Type::refinement, name); }

inline Cell str(const char* text) {
    Node n = string::make_buffer(16, 1);
    collector::NodeRoot keep(n, collector::NodeRoot::As::buffer);
    string::append_utf8(n, text);
    return string::make_cell(n, 0, Type::string);
}

// A new block holding the cells. Tests run without collections in between,
// but the cells are rooted while the block grows anyway.
inline Cell blk(std::initializer_list<Cell> cells) {
    std::vector<Cell> held(cells);
    Cell b;
    collector::Root keep(b);
    block::make_at(b, int32_t(held.size()));
    for (const Cell& c : held) block::rs_append(b, c);
    return b;
}

// Sets a global word's value (integer! and the other datatype words).
inline void set_global(const char* name, const Cell& value) {
    Cell word = w(name);
    context::put(context::global(), word, value);
}

inline void define_type_words() {
    set_global("integer!", datatype_cell(Type::integer));
    set_global("string!", datatype_cell(Type::string));
    set_global("block!", datatype_cell(Type::block));
}

// The value of a word in its context.
inline Cell value_of(const Cell& word) {
    Cell* slot = context::get(word);
    return slot ? *slot : unset_cell();
}

// The tiny evaluator: runs of set-words take the next value; a word value
// stands for its own value, a lit-word for the word.
inline void eval_sets(const Cell& block_in) {
    Cell body = block_in;
    collector::Root keep(body);
    std::vector<Cell> pending;
    int32_t n = block::rs_length(body);
    for (int32_t i = 0; i < n; ++i) {
        Cell v = *block::rs_abs_at(body, int32_t(series_index(body)) + i);
        if (is(v, Type::set_word)) {
            pending.push_back(v);
            continue;
        }
        if (is(v, Type::word)) v = value_of(v);
        if (is(v, Type::lit_word)) set_type(v, Type::word);
        for (Cell& s : pending) context::set_in(s, v, word_context(s), true);
        pending.clear();
    }
}

struct HandlerCall {
    std::string name;
    std::vector<Cell> args;
    int32_t locals;
};
inline std::vector<HandlerCall>& handler_calls() {
    static std::vector<HandlerCall> calls;
    return calls;
}
inline void record_call(const Cell&, const Cell&, uint32_t name, const Cell* args, int count,
                        int32_t locals) {
    handler_calls().push_back(
        {std::string(symbol::name(name)), std::vector<Cell>(args, args + count), locals});
}

// The start-up the tests need: the registrations and the global context.
inline void register_blocks() {
    datatype::register_all();
    if (!context::global()) context::make_global();
}

inline void use_test_interpreter() {
    register_blocks();
    object::set_interpreter(eval_sets, record_call);
    handler_calls().clear();
}

// make object! from a body block.
inline Cell make_object(const Cell& body, const Cell* proto = nullptr) {
    Cell args[2] = {proto ? *proto : datatype_cell(Type::object), body};
    object::make(args, Type::object);
    return args[0];
}

inline Cell field(const Cell& object, const char* name) {
    return object::select_word(object, w(name));
}

// A function from a spec and a body, as `make function!` builds it.
inline Cell func(const Cell& spec, const Cell& body) {
    Cell args[2] = {datatype_cell(Type::function), blk({spec, body})};
    function::make(args, Type::function);
    return args[0];
}

inline std::string word_name(const Cell& word) { return std::string(symbol::name(word_symbol(word))); }

}  // namespace zan::test

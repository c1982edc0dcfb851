// C++ bodies of hot library functions. Each is a function! with its Zan spec
// and body; the C++ body takes the common cases and answers false for the
// rest, which the Zan body then runs, so both always agree. The bodies are
// attached to the functions at the end of start-up (finish_boot).
#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/mold.h"
#include "evaluator/interpreter.h"
#include "evaluator/routines.h"
#include "evaluator/stack.h"
#include "library/library.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"

namespace zan::library {

namespace {

// mod and modulo of two integers whose magnitudes add up without overflow
// (the Zan body's sums would raise overflow otherwise).
bool small_pair(const Cell& a, const Cell& b) {
    if (!is(a, Type::integer) || !is(b, Type::integer)) return false;
    int64_t sum = std::llabs(int64_t(int_of(a))) + std::llabs(int64_t(int_of(b)));
    return sum <= INT32_MAX;
}

int32_t int_mod(int32_t a, int32_t b) {
    if (b == 0) errors::fire(errors::id::zero_divide);
    int32_t r = a % b;
    if (r < 0) r += b;
    // |r| < |b|, so r never equals b: the precision step leaves r.
    return r;
}

int32_t mod_body(Cell* args) {
    if (!small_pair(args[0], args[1])) return -1;
    args[0] = integer_cell(int_mod(int_of(args[0]), int_of(args[1])));
    return 0;
}

int32_t modulo_body(Cell* args) {
    if (!small_pair(args[0], args[1])) return -1;
    int32_t b = int_of(args[1]);
    args[0] = integer_cell(int_mod(int_of(args[0]), b < 0 ? -b : b));
    return 0;
}

// split of a string! on a char! or string! delimiter made of ASCII characters
// that have no other case (find would match the other case of a letter).
bool caseless_ascii(uint32_t cp) {
    return cp < 128 && !((cp >= 'a' && cp <= 'z') || (cp >= 'A' && cp <= 'Z'));
}

int32_t split_body(Cell* args) {
    const Cell& series = args[0];
    const Cell& dlm = args[1];
    if (!is(series, Type::string)) return -1;
    uint32_t delim[64];
    uint32_t width = 0;
    if (is(dlm, Type::char_)) {
        delim[width++] = dlm.w2;
    } else if (is(dlm, Type::string)) {
        uint32_t len = string::length(dlm);
        if (len == 0 || len > 64) return -1;
        for (uint32_t i = 0; i < len; ++i) delim[width++] = string::char_at(series_node(dlm), series_index(dlm) + i);
    } else {
        return -1;
    }
    for (uint32_t i = 0; i < width; ++i)
        if (!caseless_ascii(delim[i])) return -1;

    Node text = series_node(series);
    uint32_t start = series_index(series);
    uint32_t end = string::buffer_length(text);
    uint32_t unit = memory::buffer(text)->unit();
    // Where the next delimiter starts, or end. The buffer is looked up on
    // each call: allocations in between may move it.
    auto next_delim = [&](uint32_t from) {
        const std::byte* data = memory::buffer(text)->at_head();
        for (uint32_t i = from; i + width <= end; ++i) {
            if (string::get_char(data + i * unit, unit) != delim[0]) continue;
            uint32_t k = 1;
            while (k < width && string::get_char(data + (i + k) * unit, unit) == delim[k]) ++k;
            if (k == width) return i;
        }
        return end;
    };
    // One scan counts the pieces, so the block is made at its final size and
    // filled in place; a second scan cuts them.
    uint32_t count = 1;
    for (uint32_t pos = start; pos < end;) {
        uint32_t found = next_delim(pos);
        if (found >= end) break;
        ++count;
        pos = found + width;
    }
    Cell pieces;
    collector::Root keep_pieces(pieces);
    block::make_at(pieces, int32_t(count));
    // A piece keeps the text's character width and is copied bytewise. The
    // block's tail covers only pieces already stored, so a collection while
    // the next one is made sees no stale cell.
    uint32_t pos = start;
    for (uint32_t k = 0; k < count; ++k) {
        uint32_t to = k + 1 < count ? next_delim(pos) : std::max(pos, end);
        uint32_t bytes = (to - pos) * unit;
        Node n = memory::alloc_series(to - pos + 1, unit);
        memory::Series* dst = memory::buffer(n);
        std::memcpy(dst->at_tail(), memory::buffer(text)->at_head() + pos * unit, bytes);
        dst->tail += bytes;
        memory::Series* b = memory::buffer(series_node(pieces));
        reinterpret_cast<Cell*>(b->at_tail())[0] = string::make_cell(n, 0, Type::string);
        b->tail += sizeof(Cell);
        pos = to + width;
    }
    args[0] = pieces;
    return 0;
}

// first and last of a block or a string: the value at a position, none
// past the tail; other series are left to the Zan body's pick.
int32_t pick_at(Cell* args, bool last) {
    const Cell& s = args[0];
    Type t = type_of(s);
    if (t != Type::block && t != Type::string) return -1;
    uint32_t len = memory::buffer(series_node(s))->length();
    uint32_t index = series_index(s);
    if (last) {
        if (index >= len) {
            args[0] = none_cell();
            return 0;
        }
        index = len - 1;
    }
    if (index >= len)
        args[0] = none_cell();
    else if (t == Type::block)
        args[0] = memory::buffer(series_node(s))->cells()[index];
    else
        args[0] = char_cell(string::char_at(series_node(s), index));
    return 0;
}
int32_t first_body(Cell* args) { return pick_at(args, false); }
int32_t last_body(Cell* args) { return pick_at(args, true); }

int32_t empty_body(Cell* args) {
    const Cell& d = args[0];
    Type t = type_of(d);
    if (t == Type::none) {
        args[0] = logic_cell(true);
        return 0;
    }
    if (t != Type::block && t != Type::paren && t != Type::string && t != Type::binary) return -1;
    args[0] = logic_cell(series_index(d) >= memory::buffer(series_node(d))->length());
    return 0;
}

// A script may have given the word string! another datatype: the Zan body
// converts to whatever the word holds.
int32_t to_string_body(Cell* args) {
    if (!is(args[0], Type::integer)) return -1;
    // The word's place in the global context never changes: found once.
    static int32_t slot = -1;
    Node global = context::global();
    if (slot < 0) {
        int32_t pos = context::find_word(global, symbol::make("string!"), true);
        if (pos < 0) return -1;
        slot = word_index(context::word_at(global, pos));
    }
    const Cell* target = context::value_at(global, slot);
    if (!target || !is(*target, Type::datatype) || datatype_of(*target) != Type::string) return -1;
    char digits[16];
    auto [stop, ec] = std::to_chars(digits, digits + sizeof digits, int_of(args[0]));
    (void)ec;
    uint32_t len = uint32_t(stop - digits);
    Node n = memory::alloc_series(len + 1, 1);
    memory::Series* b = memory::buffer(n);
    std::memcpy(b->at_tail(), digits, len);
    b->tail += len;
    args[0] = string::make_cell(n, 0, Type::string);
    return 0;
}

// rejoin: the block is reduced one expression at a time. When the first
// value is a string! or no series at all, the text is built here: each value
// formed onto it in turn, as append of the rest of the values does. Any other first value leaves the call to
// the Zan body, given a block of that value (already evaluated, so it is not
// evaluated again) followed by the expressions not yet evaluated.
bool self_evaluating(Type t) {
    switch (t) {
        case Type::word: case Type::get_word: case Type::lit_word: case Type::set_word:
        case Type::path: case Type::get_path: case Type::lit_path: case Type::set_path:
        case Type::paren: case Type::native: case Type::action: case Type::op:
        case Type::function: case Type::routine: case Type::unset:
            return false;
        default:
            return true;
    }
}

int32_t rejoin_body(Cell* args) {
    interp::Code c = interp::code_of(args[0]);
    if (!interp::value_at(c, c.pos)) {
        block::make_at(args[0], 1);
        return 0;
    }
    stack::mark(stack::sym_body, 0, stack::kind_bits(stack::kind::native));
    Cell* mark = stack::s.top;
    if (stack::Status st = interp::eval_expression(c, false, false)) return int32_t(st);
    Cell first = *mark;
    clear_newline(first);
    stack::s.top = mark;
    // off the stack now: the allocations below must not collect it
    collector::Root keep_first(first);
    Type t = type_of(first);
    bool series = t == Type::block || t == Type::paren || t == Type::hash || t == Type::path ||
                  t == Type::lit_path || t == Type::set_path || t == Type::get_path || t == Type::file ||
                  t == Type::url || t == Type::tag || t == Type::email || t == Type::ref ||
                  t == Type::binary || t == Type::vector || t == Type::image;
    if (series) {
        Cell rest;
        collector::Root keep_rest(rest);
        block::make_at(rest, int32_t(c.end - c.pos + 2));
        // a path or paren would be evaluated again: quote keeps it as it is
        if (!self_evaluating(t)) block::rs_append(rest, context::add_global(symbol::make("quote"), true, false));
        block::rs_append(rest, first);
        for (uint32_t i = c.pos; i < c.end; ++i) block::rs_append(rest, memory::buffer(c.node)->cells()[i]);
        stack::unwind_drop();
        args[0] = rest;
        return -1;
    }
    // room for a typical joined line: growing it copies the text
    Node buffer = string::make_buffer(40, 1);
    Cell* text = stack::push(string::make_cell(buffer, 0, Type::string));
    mold::form_value(first, buffer, false, mold::no_limit);
    while (interp::value_at(c, c.pos)) {
        Cell* at = stack::s.top;
        if (stack::Status st = interp::eval_expression(c, false, false)) return int32_t(st);
        Cell v = *at;
        collector::Root keep(v);
        stack::s.top = at;
        mold::form_value(v, series_node(*text), false, mold::no_limit);
    }
    Cell result = *text;
    stack::unwind_drop();
    args[0] = result;
    return 0;
}

}  // namespace

void register_bodies() {
    routines::add_body("rejoin", rejoin_body);
    routines::add_body("first", first_body);
    routines::add_body("last", last_body);
    routines::add_body("empty?", empty_body);
    routines::add_body("to-string", to_string_body);
    routines::add_body("mod", mod_body);
    routines::add_body("modulo", modulo_body);
    routines::add_body("split", split_body);
}

}  // namespace zan::library

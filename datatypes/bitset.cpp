// bitset!: storage, the spec language and the action slots.
//
// The stored bytes always hold membership directly: a complemented bitset is
// one whose indexes beyond the bytes count as present, nothing more. So an
// operation that adds indexes sets bits and one that takes them away clears
// bits, whatever the flag; the flag only decides what lies past the bytes
// (and what growth fills with).
//
// Buffers move on allocation: the spec walkers keep the bitset as a cell and
// re-read the bytes after every growth.
#include "datatypes/bitset.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/mold.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"

namespace zan::bitset {

namespace {

memory::Series* buf(const Cell& bits) { return memory::buffer(series_node(bits)); }

Node alloc(uint32_t bytes, bool complemented) {
    Node n = memory::alloc_bytes_filled(bytes, complemented ? 0xFF : 0);
    memory::Series* s = memory::buffer(n);
    s->tail = s->head + bytes;
    if (complemented) s->flags |= complement_flag;
    return n;
}

Cell word_cell(const char* name) {
    return zan::make_cell(Type::word, 0, symbol::make(name), uint32_t(-1));
}

bool word_is(const Cell& c, const char* name) {
    Type t = type_of(c);
    if (t != Type::word && t != Type::lit_word && t != Type::get_word) return false;
    return symbol::resolve(word_symbol(c)) == symbol::resolve(symbol::make(name));
}

// Reports a change to the bitset's owner as series changes are reported.
template <typename Body>
void notify(const Cell& bits, series::Change change, Body&& body) {
    Cell held = bits;
    collector::Root keep(held);
    series::with_notify(held, change, 0, 0, body);
}

int64_t index_of(const Cell& spec) {
    if (is(spec, Type::float_)) return integer::number_to_integer(spec);
    return is(spec, Type::char_) ? int64_t(spec.w2) : int64_t(int_of(spec));
}

bool is_index(const Cell& c) {
    Type t = type_of(c);
    return t == Type::char_ || t == Type::integer || t == Type::float_;
}

void put_bit(const Cell& bits, int64_t i, bool on) {
    uint8_t* p = rs_head(bits) + i / 8;
    uint8_t mask = uint8_t(0x80u >> (i % 8));
    *p = on ? uint8_t(*p | mask) : uint8_t(*p & ~mask);
}

// One index by the set/test/clear rules: setting beyond the bytes of a
// complemented bitset and clearing beyond those of a plain one change nothing.
int64_t process_index(const Cell* bits, int64_t i, Op op, const Cell& spec) {
    if (op == Op::test) return has(*bits, i) ? 1 : 0;
    if (i < 0) errors::fire(errors::id::out_of_range, &spec);
    if (op == Op::measure) return i / 8 + 1;
    bool beyond = out_of_range_q(*bits, i);
    if (beyond && complemented(*bits) == (op == Op::set)) return 0;
    if (beyond) grow_to_bit(*bits, i);
    put_bit(*bits, i, op == Op::set);
    return 0;
}

int64_t process_string(const Cell& spec, const Cell* bits, Op op) {
    Node n = series_node(spec);
    uint32_t len = string::buffer_length(n);
    uint32_t from = std::min(series_index(spec), len);
    if (op == Op::measure) {
        int64_t high = -1;
        for (uint32_t i = from; i < len; ++i) high = std::max<int64_t>(high, string::char_at(n, i));
        return high < 0 ? 0 : high / 8 + 1;
    }
    // Setting can grow the bitset once, to the highest code point, up front.
    if (op != Op::test) {
        int64_t high = -1;
        for (uint32_t i = from; i < len; ++i) high = std::max<int64_t>(high, string::char_at(n, i));
        bool grows = (op == Op::set) != complemented(*bits);
        if (high >= 0 && grows && out_of_range_q(*bits, high)) grow_to_bit(*bits, high);
    }
    for (uint32_t i = from; i < string::buffer_length(n); ++i) {
        int64_t r = process_index(bits, string::char_at(n, i), op, spec);
        if (op == Op::test && r == 0) return 0;
    }
    return op == Op::test ? 1 : 0;
}

[[noreturn]] void bad_spec(const Cell& spec, Caller caller) {
    Cell type = datatype_cell(Type::bitset);
    switch (caller) {
        case Caller::make: errors::fire(errors::id::bad_make_arg, &type, &spec);
        case Caller::to: errors::fire(errors::id::bad_to_arg, &type, &spec);
        default: errors::fire(errors::id::invalid_arg, &spec);
    }
}

int64_t process_block(const Cell& spec, const Cell* bits, Op op, Caller caller) {
    Cell block = spec;
    collector::Root keep(block);
    Node n = series_node(block);
    int64_t answer = op == Op::test ? 1 : 0;
    auto at = [n](uint32_t i) { return memory::buffer(n)->cells()[i]; };
    for (uint32_t i = series_index(block); i < memory::buffer(n)->length(); ++i) {
        Cell item = at(i);
        uint32_t len = memory::buffer(n)->length();
        bool ranged = (is(item, Type::char_) || is(item, Type::integer)) && i + 1 < len &&
                      is(at(i + 1), Type::word) && word_is(at(i + 1), "-");
        int64_t r;
        if (ranged) {
            if (i + 2 >= len) errors::fire(errors::id::past_end);
            Cell end = at(i + 2);
            if (!is_index(end)) errors::fire(errors::id::past_end);
            if (type_of(end) != type_of(item)) errors::fire(errors::id::invalid_arg, &end);
            int64_t low = index_of(item), high = index_of(end);
            if (high < low) errors::fire(errors::id::past_end);
            if (low < 0 && op != Op::test) errors::fire(errors::id::out_of_range, &item);
            r = process_range(bits, low, high, op);
            i += 2;
        } else if (is(item, Type::binary)) {
            errors::fire(errors::id::not_done);
        } else {
            r = process(item, bits, op, caller);
        }
        if (op == Op::test && r == 0) return 0;
        if (op == Op::measure) answer = std::max(answer, r);
    }
    return answer;
}

}  // namespace

// --- storage ------------------------------------------------------------------------

Cell make_cell(Node n) { return zan::make_cell(Type::bitset, 0, n, 0); }

bool complemented(const Cell& bits) { return (buf(bits)->flags & complement_flag) != 0; }

uint32_t byte_count(const Cell& bits) {
    memory::Series* s = buf(bits);
    return s->tail - s->head;
}

uint8_t* rs_head(const Cell& bits) { return reinterpret_cast<uint8_t*>(buf(bits)->at_head()); }

bool has(const Cell& bits, int64_t index) {
    if (out_of_range_q(bits, index)) return complemented(bits);
    return (rs_head(bits)[index / 8] & (0x80u >> (index % 8))) != 0;
}

bool out_of_range_q(const Cell& bits, int64_t index) {
    return index < 0 || index / 8 >= int64_t(byte_count(bits));
}

namespace {
// length? answers the bytes times 8 as an integer!: a bitset whose length it
// could not report is out of range.
uint32_t reportable_bytes(int64_t bytes, const Cell& spec) {
    if (bytes > int64_t(INT32_MAX) / 8) errors::fire(errors::id::out_of_range, &spec);
    return uint32_t(bytes);
}
}  // namespace

uint8_t* grow_to_bit(const Cell& bits, int64_t index) {
    Node n = series_node(bits);
    uint64_t need = uint64_t(index) / 8 + 1;
    // length? answers the bytes times 8 as an integer!: no bitset may grow past that.
    if (need > uint64_t(INT32_MAX) / 8) {
        Cell at = integer_cell(int32_t(std::min<int64_t>(index, INT32_MAX)));
        errors::fire(errors::id::out_of_range, &at);
    }
    if (need > memory::max_capacity) errors::fire(errors::id::no_memory);
    memory::Series* s = memory::buffer(n);
    uint32_t have = s->tail - s->head;
    if (need <= have) return rs_head(bits);
    if (need > s->capacity - s->head) s = memory::expand_series_copy(n, need);
    uint8_t fill = (s->flags & complement_flag) ? 0xFF : 0;
    std::memset(s->at_head() + have, fill, need - have);
    s->tail = s->head + uint32_t(need);
    return reinterpret_cast<uint8_t*>(s->at_head());
}

void invert_bytes(Node n) {
    memory::Series* s = memory::buffer(n);
    for (std::byte* p = s->at_head(); p < s->at_tail(); ++p) *p = ~*p;
}

int32_t form_bytes(const Cell& bits, Node buffer, bool part, int32_t budget, bool invert) {
    Cell held = bits;
    collector::Root keep(held);
    for (uint32_t i = 0; i < byte_count(held); ++i) {
        if (part && budget < 0) break;
        uint8_t b = rs_head(held)[i];
        budget = mold::append(buffer, string::byte_to_hex(invert ? uint8_t(~b) : b), budget);
    }
    return budget;
}

// --- the spec language ----------------------------------------------------------------

int64_t process(const Cell& spec, const Cell* bits, Op op, Caller caller) {
    switch (type_of(spec)) {
        case Type::char_:
        case Type::integer:
        case Type::float_: return process_index(bits, index_of(spec), op, spec);
        case Type::string: return process_string(spec, bits, op);
        case Type::block: return process_block(spec, bits, op, caller);
        case Type::binary: errors::fire(errors::id::not_done);
        default: bad_spec(spec, caller);
    }
}

int64_t process_range(const Cell* bits, int64_t low, int64_t high, Op op) {
    if (op == Op::measure) return high / 8 + 1;
    if (op == Op::test) {
        // Indexes outside the bytes all answer the flag: test them once.
        int64_t stored = int64_t(byte_count(*bits)) * 8;
        if ((low < 0 || high >= stored) && !complemented(*bits)) return 0;
        for (int64_t i = std::max<int64_t>(low, 0); i <= std::min(high, stored - 1); ++i)
            if (!has(*bits, i)) return 0;
        return 1;
    }
    bool grows = (op == Op::set) != complemented(*bits);
    if (grows && out_of_range_q(*bits, high)) grow_to_bit(*bits, high);
    int64_t last = std::min<int64_t>(high, int64_t(byte_count(*bits)) * 8 - 1);
    for (int64_t i = low; i <= last; ++i) put_bit(*bits, i, op == Op::set);
    return 0;
}

Cell make_from(const Cell& given, Caller caller) {
    Cell spec = given;
    collector::Root keep_spec(spec);
    bool negated = false;
    if (is(spec, Type::block)) {
        Node n = series_node(spec);
        uint32_t i = series_index(spec);
        if (i < memory::buffer(n)->length() && word_is(memory::buffer(n)->cells()[i], "not")) {
            negated = true;
            spec.w1 = i + 1;
            if (i + 1 < memory::buffer(n)->length() &&
                is(memory::buffer(n)->cells()[i + 1], Type::binary))
                spec = memory::buffer(n)->cells()[i + 1];
        }
    }
    switch (type_of(spec)) {
        case Type::integer:
        case Type::float_: {
            if (caller == Caller::to) bad_spec(spec, caller);
            int32_t size = integer::number_to_integer(spec);
            if (size < 0) errors::fire(errors::id::out_of_range, &spec);
            return make_cell(alloc(reportable_bytes((int64_t(size) + 7) / 8, spec), false));
        }
        case Type::bitset: {
            Node n = memory::copy_series(series_node(spec));
            if (negated) {
                invert_bytes(n);
                memory::buffer(n)->flags ^= complement_flag;
            }
            return make_cell(n);
        }
        case Type::binary: {
            Node n = memory::copy_series(series_node(spec));
            memory::Series* s = memory::buffer(n);
            s->flags &= ~complement_flag;
            if (s->head != 0 || series_index(spec) != 0) {
                // From the value's position on.
                uint32_t from = std::min(series_index(spec), s->tail - s->head);
                std::memmove(s->data(), s->at_head() + from, s->tail - s->head - from);
                s->tail = s->tail - s->head - from;
                s->head = 0;
            }
            if (negated) {
                invert_bytes(n);
                memory::buffer(n)->flags |= complement_flag;
            }
            return make_cell(n);
        }
        default: break;
    }
    int64_t bytes = process(spec, nullptr, Op::measure, caller);
    Cell result = make_cell(alloc(reportable_bytes(bytes, spec), negated));
    collector::Root keep(result);
    process(spec, &result, negated ? Op::clear : Op::set, caller);
    return result;
}

void do_bitwise(Args args, int32_t code) {
    if (code == 8) return;
    if (!is(args[1], Type::bitset)) {
        Cell type = datatype_cell(type_of(args[1]));
        errors::fire(errors::id::invalid_type, &type);
    }
    auto combine = [code](uint32_t a, uint32_t b) -> uint32_t {
        switch (code) {
            case 5:
            case 9: return a | b;
            case 6:
            case 10: return a & b;
            case 7:
            case 12: return a ^ b;
            case 11: return a & ~b;
            default: runtime::quit(runtime::fatal::no_switch, runtime::caller_address());
        }
    };
    const Cell &a = args[0], &b = args[1];
    bool fa = complemented(a), fb = complemented(b);
    uint32_t la = byte_count(a), lb = byte_count(b);
    // Each operand reads past its bytes as its own fill; the flag of the result
    // is the same operation on the flags, so membership beyond the bytes agrees.
    bool flag = combine(fa, fb) & 1;
    uint32_t len = std::max(la, lb);
    if (code == 6 && !fa && !fb) len = std::min(la, lb);
    Node n = alloc(len, false);
    if (flag) memory::buffer(n)->flags |= complement_flag;
    uint8_t* out = reinterpret_cast<uint8_t*>(memory::buffer(n)->at_head());
    const uint8_t *pa = rs_head(a), *pb = rs_head(b);
    for (uint32_t i = 0; i < len; ++i) {
        uint32_t x = i < la ? pa[i] : fa ? 0xFF : 0;
        uint32_t y = i < lb ? pb[i] : fb ? 0xFF : 0;
        out[i] = uint8_t(combine(x, y));
    }
    args[0] = make_cell(n);
}

// --- actions ------------------------------------------------------------------------

void make(Args args, Type) { args[0] = make_from(args[1], Caller::make); }

void to(Args args, Type) { args[0] = make_from(args[1], Caller::to); }

void reflect(Args args, uint32_t field_symbol) {
    if (symbol::resolve(field_symbol) != symbol::resolve(symbol::make("owned")))
        errors::fire(errors::id::not_done);
    Cell* owner = ownership::get_owner(series_node(args[0]));
    args[0] = owner ? *owner : none_cell();
}

void modify(Args args, bool) {
    Cell value = args[2];
    if (word_is(args[1], "owned")) {
        if (is(value, Type::none)) {
            ownership::unbind(args[0]);
        } else if (is(value, Type::block)) {
            Node n = series_node(value);
            uint32_t i = series_index(value);
            if (i + 1 < memory::buffer(n)->length()) {
                Cell owner = memory::buffer(n)->cells()[i];
                Cell word = memory::buffer(n)->cells()[i + 1];
                collector::Root k1(owner), k2(word);
                ownership::bind(args[0], owner, word);
            }
        }
    }
    args[0] = value;
}

int32_t form(const Cell& value, Node buffer, bool part, int32_t budget) {
    return mold(value, buffer, {}, part, budget, 0);
}

int32_t mold(const Cell& value, Node buffer, actions::MoldFlags, bool part, int32_t budget,
             int32_t) {
    bool negated = complemented(value);
    budget = mold::append(buffer, negated ? "make bitset! [not #{" : "make bitset! #{", budget);
    budget = form_bytes(value, buffer, part, budget, negated);
    return mold::append(buffer, negated ? "}]" : "}", budget);
}

void eval_path(Cell& result, const Cell& parent, const actions::PathStep& s) {
    const Cell& element = *s.element;
    if (!is(element, Type::integer) && !is(element, Type::char_)) {
        Cell type = datatype_cell(type_of(element));
        errors::fire(errors::id::invalid_type, &type);
    }
    Cell args[3] = {parent, element, s.value_to_set ? *s.value_to_set : none_cell()};
    collector::Root k0(args[0]), k1(args[1]), k2(args[2]);
    if (s.value_to_set)
        poke(args, 0);
    else
        pick(args, 0);
    result = args[0];
}

int32_t compare(const Cell& a, const Cell& b, int32_t op) {
    if (!is(b, Type::bitset)) return -2;
    if (op == 9) return series_node(a) == series_node(b) ? 0 : -1;
    uint32_t la = byte_count(a), lb = byte_count(b);
    if (la != lb) return la < lb ? -1 : 1;
    if (la == 0) return 0;
    bool fa = complemented(a), fb = complemented(b);
    if (fa != fb) return fa ? 1 : -1;
    const uint8_t *pa = rs_head(a), *pb = rs_head(b);
    for (uint32_t i = la; i-- > 0;)
        if (pa[i] != pb[i]) return pa[i] < pb[i] ? -1 : 1;
    return 0;
}

void complement(Args args) {
    Node n = memory::copy_series(series_node(args[0]));
    invert_bytes(n);
    memory::buffer(n)->flags ^= complement_flag;
    args[0] = make_cell(n);
}

void negate(Args args) { complement(args); }
void and_t(Args args) { do_bitwise(args, 6); }
void or_t(Args args) { do_bitwise(args, 5); }
void xor_t(Args args) { do_bitwise(args, 7); }

void append(Args args, const Cell*, bool, const Cell*) {
    notify(args[0], series::Change::append,
           [&] { process(args[1], &args[0], Op::set, Caller::other); });
}

void clear(Args args) {
    notify(args[0], series::Change::clear, [&] {
        memory::Series* s = buf(args[0]);
        std::memset(s->at_head(), (s->flags & complement_flag) ? 0xFF : 0, s->tail - s->head);
    });
}

void copy(Args args, const Cell*, bool, const Cell*) {
    args[0] = make_cell(memory::copy_series(series_node(args[0])));
}

void find(Args args, const actions::FindRefs&) {
    bool found = process(args[1], &args[0], Op::test, Caller::other) == 1;
    args[0] = found ? logic_cell(true) : none_cell();
}

int32_t length_q(const Cell& value) { return int32_t(byte_count(value) * 8); }

void pick(Args args, int32_t) {
    args[0] = logic_cell(process(args[1], &args[0], Op::test, Caller::other) == 1);
}

void poke(Args args, int32_t) {
    const Cell& v = args[2];
    bool off = is(v, Type::none) || (is(v, Type::logic) && !logic_of(v)) ||
               (is(v, Type::integer) && int_of(v) == 0) ||
               (is(v, Type::float_) && float_of(v) == 0.0);
    notify(args[0], series::Change::poke,
           [&] { process(args[1], &args[0], off ? Op::clear : Op::set, Caller::other); });
    args[0] = args[2];
}

// Removing takes the indexes away on a complemented bitset as on a plain one.
void remove(Args args, const Cell* part, const Cell*) {
    if (!part) {
        Cell word = word_cell("remove");
        errors::fire(errors::id::missing_arg, &word);
    }
    notify(args[0], series::Change::remove,
           [&] { process(*part, &args[0], Op::clear, Caller::other); });
}

void init() {
    actions::Row row;
    row.make = &make;
    row.reflect = &reflect;
    row.to = &to;
    row.form = &form;
    row.mold = &mold;
    row.eval_path = &eval_path;
    row.compare = &compare;
    row.negate = &negate;
    row.and_t = &and_t;
    row.complement = &complement;
    row.or_t = &or_t;
    row.xor_t = &xor_t;
    row.append = &append;
    row.clear = &clear;
    row.copy = &copy;
    row.find = &find;
    row.insert = &append;
    row.length_q = &length_q;
    row.pick = &pick;
    row.poke = &poke;
    row.remove = &remove;
    row.modify = &modify;
    datatype::register_type(Type::bitset, Type::any, "bitset!", row);
}

}  // namespace zan::bitset

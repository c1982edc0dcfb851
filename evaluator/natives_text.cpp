// Set, text and encoding natives.
//
// Each native settles its arguments, the method or base words it accepts and
// its errors, then hands the work on: to the set operations of block!,
// string!, bitset! and typeset!, to the case and percent routines of the
// string types, to the lexer and the parse engine, and to the codec services
// (binary! encodings, checksums, compression) that their owners install.
//
// print keeps one shared buffer block: a block argument is reduced onto its
// tail and the part it used is cut off again afterwards, also when an error
// or a throw leaves the reduction, so a print nested inside another one's
// reduction stacks above it and cleans up after itself.
#include "evaluator/natives_text.h"

#include "evaluator/natives_control.h"

#include <malloc.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>
#include <string_view>
#include <vector>

#include "datatypes/date.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/block_sort.h"
#include "datatypes/context.h"
#include "datatypes/file.h"
#include "datatypes/mold.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/string_search.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/url.h"
#include "evaluator/dispatch.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/parse.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/unicode.h"

namespace zan::natives {

using stack::Status;

namespace {

constexpr errors::Id not_same_type{errors::Category::script, 20};
constexpr errors::Id too_long{errors::Category::script, 61};
constexpr errors::Id not_here{errors::Category::internal, 3};

[[noreturn]] void service_missing() { errors::fire(errors::id::not_done); }

TextServices services;

// A new empty string! pushed on the value stack, so it stays rooted.
Cell* push_string(uint32_t capacity) {
    Cell* s = stack::push(none_cell());
    string::rs_make_at(*s, capacity);
    return s;
}

// Case-insensitive match of a word's spelling.
bool spelled(const Cell& word, std::string_view text) {
    std::string_view name = symbol::name(word_symbol(word));
    if (name.size() != text.size()) return false;
    for (size_t i = 0; i < name.size(); ++i) {
        char a = name[i], b = text[i];
        if (a >= 'A' && a <= 'Z') a = char(a + 32);
        if (a != b) return false;
    }
    return true;
}

// The bytes of a binary! from its position.
std::string binary_bytes(const Cell& bin) {
    memory::Series* s = memory::buffer(series_node(bin));
    uint32_t len = s->length();
    uint32_t i = std::min(series_index(bin), len);
    const char* p = reinterpret_cast<const char*>(s->at_head());
    return std::string(p + i, p + len);
}

// Bytes to hand to a codec: a binary! in place from its position (valid only
// until the next series allocation), or bytes the caller owns.
struct ByteView {
    const uint8_t* data = nullptr;
    size_t size = 0;
    static ByteView of(const std::string& s) {
        return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
    }
};

ByteView view_bytes(const Cell& bin) {
    memory::Series* s = memory::buffer(series_node(bin));
    uint32_t len = s->length();
    uint32_t i = std::min(series_index(bin), len);
    return {reinterpret_cast<const uint8_t*>(s->at_head()) + i, len - i};
}

// Bytes of a string (as UTF-8) or a binary!.
std::string bytes_of(const Cell& value) {
    if (is(value, Type::binary)) return binary_bytes(value);
    return string::to_utf8(value);
}

}  // namespace

void set_text_services(const TextServices& s) { services = s; }
const TextServices& text_services() { return services; }

Cell make_binary(const uint8_t* bytes, size_t length) {
    Node n = string::make_buffer(series::checked_size(length, 1), 1);
    memory::Series* s = memory::buffer(n);
    if (length) std::memcpy(s->at_head(), bytes, length);
    s->tail = s->head + uint32_t(length);
    return series_cell(Type::binary, n);
}

// --- print and prin -----------------------------------------------------------------

namespace {

Cell print_buffer = {};
bool last_newline = false;

void mark_print_buffer() { collector::mark_cell(print_buffer); }

void ensure_print_buffer() {
    if (is(print_buffer, Type::block)) return;
    block::make_at(print_buffer, 16);
    collector::register_marker(mark_print_buffer);
}

// Cuts the print buffer back to where this print found it, whichever way the
// print ends.
struct PrintMark {
    int32_t tail;
    ~PrintMark() { block::rs_truncate(print_buffer, tail); }
};

Status print_value(bool newline) {
    Cell value = *arg(0);
    stack::keep();
    if (is(value, Type::block)) {
        ensure_print_buffer();
        PrintMark mark{series::buffer_length(print_buffer)};
        interp::Code c = interp::code_of(value);
        while (interp::value_at(c, c.pos)) {
            Cell* slot = stack::s.top;
            if (Status st = interp::eval_expression(c, false, false)) return st;
            Cell r = *slot;
            stack::s.top = slot;
            clear_newline(r);
            block::rs_append(print_buffer, r);
        }
        Cell reduced = print_buffer;
        set_series_index(reduced, uint32_t(mark.tail));
        Cell* text = push_string(16);
        dispatch::form(reduced, series_node(*text), false, mold::no_limit);
        memory::Series* s = memory::buffer(series_node(*text));
        output::print_units(s->at_head(), s->tail - s->head, s->unit(), newline);
        output::fire_value_hooks(reduced, newline);
    } else if (is(value, Type::string)) {
        uint32_t index = string::rs_head_index(value);
        memory::Series* s = memory::buffer(series_node(value));
        uint32_t skip = index * s->unit();
        output::print_units(s->at_head() + skip, s->tail - s->head - skip, s->unit(), newline);
        output::fire_value_hooks(value, newline);
    } else {
        Cell* text = push_string(16);
        dispatch::form(value, series_node(*text), false, mold::no_limit);
        memory::Series* s = memory::buffer(series_node(*text));
        output::print_units(s->at_head(), s->tail - s->head, s->unit(), newline);
        output::fire_value_hooks(value, newline);
    }
    last_newline = newline;
    return finish(unset_cell());
}

}  // namespace

bool last_print_newline() { return last_newline; }

Status n_print(int32_t, const int32_t*) { return print_value(true); }
Status n_prin(int32_t, const int32_t*) { return print_value(false); }

// --- stats --------------------------------------------------------------------------

namespace {

Cell number_cell(double d) {
    return d > 2147483647.0 ? float_cell(d) : integer_cell(int32_t(d));
}

// [[free used count] ...] of node frames, [[free used size] ...] of series
// frames, [size ...] of big frames, the bytes in use, the heap's bytes.
Cell detailed_stats() {
    Cell* info = stack::push(none_cell());
    block::make_at(*info, 5);
    Cell* parts = stack::push(none_cell());
    Cell* big = stack::push(none_cell());
    Cell* series_frames = stack::push(none_cell());
    block::make_at(*parts, 4);
    block::make_at(*series_frames, 4);
    block::make_at(*big, 4);
    struct Figures {
        int kind;
        memory::FrameFigures f;
    };
    std::vector<Figures> all;
    memory::for_each_frame(
        [](int kind, const memory::FrameFigures& f, void* ctx) {
            static_cast<std::vector<Figures>*>(ctx)->push_back({kind, f});
        },
        &all);
    for (const Figures& x : all) {
        if (x.kind == 2) {
            block::rs_append(*big, number_cell(double(x.f.size)));
            continue;
        }
        Cell row;
        block::make_at(row, 3);
        Cell* held = stack::push(row);
        block::rs_append(*held, number_cell(double(x.f.free)));
        block::rs_append(*held, number_cell(double(x.f.used)));
        block::rs_append(*held, number_cell(double(x.f.size)));
        block::rs_append(x.kind == 0 ? *parts : *series_frames, *held);
        stack::pop(1);
    }
    block::rs_append(*info, *parts);
    block::rs_append(*info, *series_frames);
    block::rs_append(*info, *big);
    block::rs_append(*info, number_cell(memory::used_bytes()));
    block::rs_append(*info, number_cell(double(mallinfo2().uordblks)));
    Cell result = *info;
    stack::pop(4);
    return result;
}

}  // namespace

Status n_stats(int32_t, const int32_t* refs) {
    bool show = given(refs, 0), info = given(refs, 1);
    if (!show && !info) return finish(number_cell(memory::used_bytes()));
    Cell data = detailed_stats();
    if (!show) return finish(data);
    stack::keep();
    Cell* held = stack::push(data);
    uint32_t sym = symbol::make("show-memory-stats");
    Cell* fn = context::get_by_symbol(sym, context::global());
    if (!fn || !(is(*fn, Type::function) || is(*fn, Type::routine) || is(*fn, Type::native))) {
        Cell word = symbol::get(sym);
        errors::fire(errors::id::no_value, &word);
    }
    Cell callable = *fn;
    if (Status st = interp::call(callable, held, 1)) return st;
    return finish(unset_cell());
}

// --- set operations ---------------------------------------------------------------------

namespace {

Status set_op(block::SetOp op, const int32_t* refs) {
    Cell* args = arg(0);
    Type t1 = type_of(args[0]);
    if (op != block::SetOp::unique) {
        Type t2 = type_of(args[1]);
        bool lists = t1 == Type::block || t1 == Type::hash;
        bool fits = lists ? (t2 == Type::block || t2 == Type::hash) : t2 == t1;
        if (!fits) {
            Cell a = datatype_cell(t1), b = datatype_cell(t2);
            errors::fire(errors::id::expect_val, &a, &b);
        }
    }
    bool case_ = given(refs, 0);
    const Cell* skip = given(refs, 1) ? arg(uint32_t(refs[1])) : nullptr;
    switch (t1) {
        case Type::block:
        case Type::hash: block::do_set_op(args, case_, skip, op); break;
        case Type::string: string::do_set_op(args, case_, skip, string::SetOp(int32_t(op))); break;
        case Type::bitset:
            if (op == block::SetOp::unique) errors::expect_arg(args[0], 1);
            bitset::do_bitwise(args, int32_t(op));
            break;
        case Type::typeset:
            if (op == block::SetOp::unique) errors::expect_arg(args[0], 1);
            typeset::do_bitwise(args, int32_t(op));
            break;
        case Type::date:
            if (op != block::SetOp::difference) errors::expect_arg(args[0], 1);
            args[0] = date::difference(args[0], args[1]);
            break;
        default: errors::expect_arg(args[0], 1);
    }
    return finish(args[0]);
}

}  // namespace

Status n_union(int32_t check, const int32_t* refs) {
    check_args(check, 41, refs);
    return set_op(block::SetOp::union_, refs);
}
Status n_intersect(int32_t check, const int32_t* refs) {
    check_args(check, 42, refs);
    return set_op(block::SetOp::intersect, refs);
}
Status n_unique(int32_t check, const int32_t* refs) {
    check_args(check, 43, refs);
    return set_op(block::SetOp::unique, refs);
}
Status n_difference(int32_t check, const int32_t* refs) {
    check_args(check, 44, refs);
    return set_op(block::SetOp::difference, refs);
}
Status n_exclude(int32_t check, const int32_t* refs) {
    check_args(check, 45, refs);
    return set_op(block::SetOp::exclude, refs);
}

Status n_complement_q(int32_t check, const int32_t* refs) {
    check_args(check, 46, refs);
    if (!is(*arg(0), Type::bitset)) errors::expect_arg(*arg(0), 1);
    return finish(logic_cell(bitset::complemented(*arg(0))));
}

// --- percent and base encodings ---------------------------------------------------------

Status n_dehex(int32_t check, const int32_t* refs) {
    check_args(check, 47, refs);
    Cell value = *arg(0);
    Cell* out = push_string(string::length(value));
    url::percent_decode(value, series_node(*out));
    return finish(*out);
}

Status n_enhex(int32_t check, const int32_t* refs) {
    check_args(check, 48, refs);
    Cell value = *arg(0);
    Cell* out = push_string(string::length(value));
    // A string! escapes all but the unreserved characters; the path-like types
    // keep their path-safe ones.
    url::percent_encode(value, series_node(*out), is(value, Type::string) ? 254 : 0);
    return finish(*out);
}

namespace {

int base_of(const int32_t* refs) {
    if (!given(refs, 0)) return 64;
    Cell b = *arg(uint32_t(refs[0]));
    int32_t base = int_of(b);
    if (base != 2 && base != 16 && base != 58 && base != 64) errors::fire(errors::id::invalid_arg, &b);
    return base;
}

}  // namespace

Status n_debase(int32_t check, const int32_t* refs) {
    check_args(check, 84, refs);
    int base = base_of(refs);
    if (!services.decode_base) service_missing();
    Cell result = none_cell();
    services.decode_base(base, *arg(0), result);  // the argument slot keeps the text
    return finish(result);
}

Status n_enbase(int32_t check, const int32_t* refs) {
    check_args(check, 91, refs);
    int base = base_of(refs);
    // A binary's bytes are read where they lie, from after the string is made.
    bool binary = is(*arg(0), Type::binary);
    std::string bytes = binary ? std::string() : string::to_utf8(*arg(0));
    auto source = [&](uint64_t* n) {
        if (!binary) {
            *n = bytes.size();
            return reinterpret_cast<const uint8_t*>(bytes.data());
        }
        memory::Series* s = memory::buffer(series_node(*arg(0)));
        uint32_t len = s->length();
        uint32_t i = std::min(series_index(*arg(0)), len);
        *n = len - i;
        return reinterpret_cast<const uint8_t*>(s->at_head() + i);
    };
    uint64_t n = 0;
    source(&n);
    uint64_t size = base == 64 ? (n + 2) / 3 * 4 : base == 58 ? n * 138 / 100 + 1 : base == 16 ? n * 2 : n * 8;
    // Every length is checked before anything is allocated.
    if (size > uint64_t(INT32_MAX)) errors::fire(too_long);
    if (!services.encode_base) service_missing();
    Cell* out = push_string(uint32_t(size));
    // Encoding into the string made to size allocates nothing more.
    std::optional<memory::Pin> pin;
    if (binary) pin.emplace(series_node(*arg(0)));
    const uint8_t* at = source(&n);
    services.encode_base(base, at, size_t(n), series_node(*out));
    return finish(*out);
}

// --- case ---------------------------------------------------------------------------------

namespace {

Status change_case(bool upper, const int32_t* refs) {
    Cell value = *arg(0);
    if (is(value, Type::char_)) {
        unicode::change_case(value, nullptr, upper);
        return finish(value);
    }
    Cell limit;
    const Cell* part = nullptr;
    if (given(refs, 0)) {
        limit = *arg(uint32_t(refs[0]));
        if (is(limit, Type::float_) || is(limit, Type::percent)) {
            double d = float_of(limit);
            limit = integer_cell(d != d ? 0 : d >= 2147483647.0 ? INT32_MAX : d <= -2147483648.0 ? INT32_MIN : int32_t(d));
        } else if (!is(limit, Type::integer) &&
                   (type_of(limit) != type_of(value) || series_node(limit) != series_node(value))) {
            series::fire_refine_arg("part", limit);
        }
        part = &limit;
    }
    // The count is clamped to the characters there are.
    uint32_t head = string::rs_head_index(value);
    int64_t count = string::length(value);
    if (part && is(*part, Type::integer)) count = std::min<int64_t>(count, int_of(*part));
    else if (part) count = std::min<int64_t>(count, int64_t(series_index(*part)) - head);
    if (count < 0) count = 0;
    Cell clamped = integer_cell(int32_t(count));
    series::with_notify(value, series::Change::change, int32_t(head), int32_t(count),
                        [&] { unicode::change_case(value, &clamped, upper); });
    return finish(*arg(0));
}

}  // namespace

Status n_uppercase(int32_t check, const int32_t* refs) {
    check_args(check, 71, refs);
    return change_case(true, refs);
}
Status n_lowercase(int32_t check, const int32_t* refs) {
    check_args(check, 72, refs);
    return change_case(false, refs);
}

Status n_to_local_file(int32_t check, const int32_t* refs) {
    check_args(check, 85, refs);
    Cell path = *arg(0);
    Cell* out = push_string(string::length(path) + 1);
    file::to_local_path(path, series_node(*out), given(refs, 0));
    return finish(*out);
}

// --- checksum -------------------------------------------------------------------------------

namespace {

struct Method {
    const char* word;
    int id;
    int digest;  // bytes of the digest; 0 for the integer sums
};
constexpr Method methods[] = {
    {"tcp", 0, 0},     {"crc32", 1, 0},   {"md5", 2, 16},     {"sha1", 3, 20},    {"sha256", 4, 32},
    {"sha384", 5, 48}, {"sha512", 6, 64}, {"adler32", 7, 0}, {"hash", 8, 0},
};
constexpr int method_hash = 8;

const Method* find_method(const Cell& word) {
    if (!is(word, Type::word) && !is(word, Type::lit_word)) return nullptr;
    for (const Method& m : methods)
        if (spelled(word, m.word)) return &m;
    return nullptr;
}

[[noreturn]] void with_not_allowed(const Cell* spec) {
    Cell w = series::refinement_word("with");
    errors::fire(errors::id::invalid_refine_arg, &w, spec);
}

}  // namespace

Status n_checksum(int32_t check, const int32_t* refs) {
    check_args(check, 87, refs);
    Cell data = *arg(0), method_word = *arg(1);
    if (!is(data, Type::file) && !is(data, Type::string) && !is(data, Type::binary))
        errors::fire(errors::id::invalid_arg, &data);
    const Method* m = find_method(method_word);
    if (!m) errors::fire(errors::id::invalid_arg, &method_word);
    bool with = given(refs, 0);
    Cell spec = with ? *arg(uint32_t(refs[0])) : none_cell();
    bool sum = m->digest == 0 && m->id != method_hash;
    if (sum && with) with_not_allowed(nullptr);
    if (!sum && with && !is(spec, Type::string) && !is(spec, Type::binary) && !is(spec, Type::integer))
        errors::fire(errors::id::invalid_arg, &spec);
    if (!sum && with && is(spec, Type::integer)) {
        if (!services.hash_table) service_missing();
        return finish(integer_cell(services.hash_table(nullptr, 0, int_of(spec))));
    }
    if (m->id == method_hash) with_not_allowed(with ? &spec : nullptr);
    if (sum ? !services.sum : !services.digest) service_missing();
    // Everything that allocates comes first: a binary! is then read in place.
    std::string owned, key;
    if (is(data, Type::file)) {
        if (!services.read_file) service_missing();
        owned = services.read_file(data);
    } else if (is(data, Type::string)) {
        owned = string::to_utf8(data);
    }
    if (with) key = bytes_of(spec);
    ByteView in = is(data, Type::binary) ? view_bytes(data) : ByteView::of(owned);
    if (sum) return finish(integer_cell(services.sum(m->id, in.data, in.size)));
    uint8_t out[64];
    const auto* k = reinterpret_cast<const uint8_t*>(key.data());
    if (!services.digest(m->id, in.data, in.size, with ? k : nullptr, key.size(), out))
        errors::fire(not_here, &method_word);
    return finish(make_binary(out, size_t(m->digest)));
}

// --- compression ----------------------------------------------------------------------------

namespace {

int compression_method(const Cell& word) {
    const char* names[] = {"zlib", "deflate", "gzip"};
    if (is(word, Type::word) || is(word, Type::lit_word))
        for (int i = 0; i < 3; ++i)
            if (spelled(word, names[i])) return i;
    errors::fire(errors::id::invalid_arg, &word);
}

// The longest binary! a series can hold.
constexpr size_t largest_binary = UINT32_MAX - 64;

}  // namespace

Status n_compress(int32_t check, const int32_t* refs) {
    check_args(check, 103, refs);
    Cell data = *arg(0);
    int method = compression_method(*arg(1));
    if (!services.compress) service_missing();
    std::string text;
    if (!is(data, Type::binary)) text = string::to_utf8(data);
    ByteView in = is(data, Type::binary) ? view_bytes(data) : ByteView::of(text);
    ByteBuffer out;
    try {
        services.compress(method, in.data, in.size, out);
    } catch (const std::bad_alloc&) {
        errors::fire(errors::id::no_memory);
    }
    return finish(make_binary(out.data(), out.size()));
}

Status n_decompress(int32_t check, const int32_t* refs) {
    check_args(check, 104, refs);
    Cell data = *arg(0);
    int method = compression_method(*arg(1));
    bool sized = given(refs, 0);
    Cell sz = sized ? *arg(uint32_t(refs[0])) : none_cell();
    if (sized && int_of(sz) < 0) errors::fire(errors::id::invalid_arg, &sz);
    if (!services.decompress) service_missing();
    // The size is only a hint for the first allocation: the data decides.
    size_t hint = sized ? size_t(int_of(sz)) : 0;
    ByteView in = view_bytes(data);
    ByteBuffer out;
    bool ok = false;
    try {
        ok = services.decompress(method, in.data, in.size, hint, largest_binary, out);
    } catch (const std::bad_alloc&) {
        errors::fire(errors::id::no_memory);
    }
    if (!ok) errors::fire(errors::id::invalid_data);
    return finish(make_binary(out.data(), out.size()));
}

// --- lexer and parse front ends -----------------------------------------------------------------

Status n_transcode(int32_t check, const int32_t* refs) {
    check_args(check, 106, refs);
    Cell src = *arg(0);
    lexer::TranscodeRefs r;
    r.next = given(refs, 0);
    r.one = given(refs, 1);
    r.prescan = given(refs, 2);
    r.scan = given(refs, 3);
    if (given(refs, 4)) {
        r.part = true;
        r.part_arg = *arg(uint32_t(refs[4]));
        if (!is(r.part_arg, Type::integer) && type_of(r.part_arg) != type_of(src)) {
            Cell a = datatype_cell(type_of(src)), b = datatype_cell(type_of(r.part_arg));
            errors::fire(not_same_type, &a, &b);
        }
    }
    if (given(refs, 5)) r.into = arg(uint32_t(refs[5]));
    if (given(refs, 6)) {
        r.trace = arg(uint32_t(refs[6]));
        // The spec leaves the callback untyped; anything but a function would
        // be called blind on the first event.
        if (!interp::is_callable(type_of(*r.trace))) errors::expect_arg(*r.trace, 11);
    }
    Cell result = lexer::transcode(src, r);
    return finish(result);
}

Status n_parse(int32_t check, const int32_t* refs) {
    check_args(check, 40, refs);
    return parse::native(check, refs);
}

}  // namespace zan::natives

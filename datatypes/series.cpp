// series!: routines shared by every series datatype, whatever its unit size.
//
// A series value holds its head index (in elements) in w1 and its buffer node in
// w2. The buffer's used part runs from its head offset to its tail offset, so
// element p lies at head + p x unit. A value's head may stand past the tail when
// another value of the same buffer removed elements: readers clamp, they never
// trust the index. Buffers move on any allocation, so nothing here keeps a
// Series* across a call that may allocate; it keeps the node and re-reads.
#include "datatypes/series.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/datatype.h"
#include "datatypes/series_services.h"
#include "datatypes/string.h"
#include "datatypes/vector.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/hashtable.h"

namespace zan::series {

namespace {

int32_t index_of(const Cell& s) { return int32_t(series_index(s)); }

bool same_buffer(const Cell& a, const Cell& b) {
    return type_of(a) == type_of(b) && series_node(a) == series_node(b);
}

}  // namespace

// --- helpers ---------------------------------------------------------------------

memory::Series* buffer_of(const Cell& s) { return memory::buffer(series_node(s)); }
uint32_t unit_of(const Cell& s) { return buffer_of(s)->unit(); }

int32_t buffer_length(const Cell& s) { return int32_t(buffer_of(s)->length()); }

bool rs_tail_q(const Cell& s) { return index_of(s) >= buffer_length(s); }

bool rs_skip(Cell& s, int32_t n) {
    int64_t to = int64_t(index_of(s)) + n;
    int32_t len = buffer_length(s);
    if (to >= 0 && to <= len) set_series_index(s, uint32_t(to));
    return to >= len;
}

int32_t get_length(Cell& s, bool absolute) {
    int32_t start = absolute ? 0 : std::max(index_of(s), 0);
    int32_t total = buffer_length(s);
    if (total < start) {
        set_series_index(s, uint32_t(total));
        return 0;
    }
    return total - start;
}

void get_position(Args args, int32_t base) {
    Cell& s = args[0];
    const Cell& offset = args[1];
    if (!is(offset, Type::integer)) errors::fire(errors::id::invalid_arg, &offset);
    int32_t n = int_of(offset);
    if (base == 1 && n < 1) base = 0;
    int64_t to = int64_t(index_of(s)) + n - base;
    to = std::clamp<int64_t>(to, 0, buffer_length(s));
    set_series_index(s, uint32_t(to));
}

bool is_block_like(Type t) {
    switch (t) {
    case Type::block: case Type::paren: case Type::hash: case Type::path:
    case Type::lit_path: case Type::set_path: case Type::get_path:
        return true;
    default:
        return false;
    }
}

bool is_string_like(Type t) {
    switch (t) {
    case Type::string: case Type::file: case Type::url: case Type::tag:
    case Type::email: case Type::ref:
        return true;
    default:
        return false;
    }
}

bool is_series(Type t) {
    return is_block_like(t) || is_string_like(t) || t == Type::binary || t == Type::vector ||
           t == Type::image;
}

Cell element_at(const Cell& s, int32_t p) {
    memory::Series* b = buffer_of(s);
    std::byte* at = b->at_head() + size_t(p) * b->unit();
    Type t = type_of(s);
    if (b->unit() == 16) {
        Cell c;
        std::memcpy(&c, at, sizeof c);
        return c;
    }
    if (t == Type::binary) return integer_cell(int32_t(uint8_t(*at)));
    if (is_string_like(t)) {
        uint32_t cp = 0;
        switch (b->unit()) {
        case 1: cp = uint8_t(*at); break;
        case 2: { uint16_t v; std::memcpy(&v, at, 2); cp = v; break; }
        default: std::memcpy(&cp, at, 4); break;
        }
        return char_cell(cp);
    }
    if (t == Type::vector) return vector::element_at(s, uint32_t(p));
    errors::fire(errors::id::not_done);
}

Cell refinement_word(const char* name) {
    return make_cell(Type::refinement, 0, services::symbol_of(name), uint32_t(-1));
}

void fire_refine_arg(const char* refinement, const Cell& arg) {
    Cell word = refinement_word(refinement);
    errors::fire(errors::id::invalid_refine_arg, &word, &arg);
}

int32_t part_count(const Cell& s, const Cell& limit, const char* refinement) {
    if (is(limit, Type::integer)) return int_of(limit);
    if (same_buffer(s, limit)) return index_of(limit) - index_of(s);
    fire_refine_arg(refinement, limit);
}

uint32_t checked_size(uint64_t count, uint64_t unit) {
    uint64_t bytes = count * unit;  // both below 2^32: no wrap in 64 bits
    if (bytes > UINT32_MAX - 64) errors::fire(errors::id::no_memory);
    return uint32_t(bytes);
}

memory::Series* ensure_room(Node n, uint64_t extra, bool doubling) {
    memory::Series* b = memory::buffer(n);
    if (uint64_t(b->tail) + extra <= b->capacity) return b;
    // The grown buffer starts its data at the head.
    uint64_t need = uint64_t(b->tail - b->head) + extra;
    uint64_t size = doubling ? need * 2 : need;
    if (need > UINT32_MAX - 64) errors::fire(errors::id::no_memory);
    if (size > UINT32_MAX - 64) size = need;
    memory::expand_series_copy(n, size);
    return memory::buffer(n);
}

memory::Series* open_gap(Node n, uint32_t at, uint32_t bytes, bool doubling) {
    memory::Series* b = ensure_room(n, bytes, doubling);
    std::byte* p = b->at_head() + at;
    std::memmove(p + bytes, p, b->tail - b->head - at);
    b->tail += bytes;
    return b;
}

void close_gap(Node n, uint32_t at, uint32_t bytes) {
    memory::Series* b = memory::buffer(n);
    uint32_t used = b->tail - b->head;
    if (at >= used) return;
    bytes = std::min(bytes, used - at);
    std::byte* p = b->at_head() + at;
    std::memmove(p, p + bytes, used - at - bytes);
    b->tail -= bytes;
}

Cell copy_range(const Cell& s, int32_t start, int32_t count) {
    Node from = series_node(s);
    uint32_t unit = memory::buffer(from)->unit();
    uint32_t bytes = checked_size(uint64_t(std::max(count, 0)), unit);
    Node to = memory::alloc_series(uint32_t(std::max(count, 1)), unit);
    // The copy keeps the source's own flags, but not its owner.
    uint32_t kept = ~(memory::flag::allocator_bits | memory::flag::owned |
                      memory::flag::head_room | memory::flag::unit_mask);
    memory::set_series_flags(to, memory::buffer(from)->flags & kept);
    memory::Series* src = memory::buffer(from);
    memory::Series* dst = memory::buffer(to);
    if (bytes) std::memcpy(dst->at_head(), src->at_head() + size_t(start) * unit, bytes);
    dst->tail = dst->head + bytes;
    Cell c = series_cell(type_of(s), to, 0, type_of(s) == Type::vector ? series_extra(s) : 0);
    c.header |= s.header & header::newline;
    return c;
}

Node hash_table_of(const Cell& s) { return is(s, Type::hash) ? Node(series_extra(s)) : 0; }

void reindex(const Cell& s) {
    if (Node t = hash_table_of(s)) hashtable::resize(t, uint32_t(buffer_length(s)));
}

void index_appended(const Cell& s, int32_t from) {
    Node t = hash_table_of(s);
    if (!t) return;
    hashtable::TableRoot keep(t);
    for (int32_t p = from; p < buffer_length(s); ++p) hashtable::put(t, uint32_t(p));
}

std::byte* fill_repeat(std::byte* buf, uint32_t size, uint32_t count) {
    uint64_t total = uint64_t(size) * count;
    if (total == 0) return buf;
    uint64_t filled = size;
    while (filled <= total / 2) {
        std::memcpy(buf + filled, buf, filled);
        filled *= 2;
    }
    std::memcpy(buf + filled, buf, total - filled);
    return buf + total;
}

// --- change reports ---------------------------------------------------------------

namespace {
struct ChangeWords {
    const char* before;
    const char* after;
};
constexpr ChangeWords change_words[] = {
    {"random", "randomized"}, {"clear", "cleared"},   {"remove", "removed"},
    {"reverse", "reversed"},  {"take", "taken"},      {"poke", "poked"},
    {"move", "moved"},        {"append", "appended"}, {"insert", "inserted"},
    {"change", "changed"},    {"put", "put-ed"},      {"sort", "sorted"},
    {"swap", "swaped"},       {"trim", "trimmed"},
};
}  // namespace

const char* change_word(Change c, bool after) {
    const ChangeWords& w = change_words[int(c)];
    return after ? w.after : w.before;
}

bool notify_before(const Cell& s, Change c, int32_t index, int32_t count, const Cell* value) {
    return services::ownership_check(s, change_word(c, false), index, count, value);
}

void notify_after(const Cell& s, Change c, int32_t index, int32_t count, const Cell* value) {
    services::ownership_check(s, change_word(c, true), index, count, value);
}

// --- navigation --------------------------------------------------------------------

void head(Args args) { set_series_index(args[0], 0); }
void tail(Args args) { set_series_index(args[0], uint32_t(buffer_length(args[0]))); }
void head_q(Args args) { args[0] = logic_cell(index_of(args[0]) == 0); }
void tail_q(Args args) { args[0] = logic_cell(rs_tail_q(args[0])); }
void index_q(Args args) { args[0] = integer_cell(index_of(args[0]) + 1); }

int32_t length_q(const Cell& value) {
    Cell s = value;
    return get_length(s);
}

void next(Args args) {
    if (index_of(args[0]) < buffer_length(args[0])) set_series_index(args[0], index_of(args[0]) + 1);
}

void back(Args args) {
    if (index_of(args[0]) > 0) set_series_index(args[0], index_of(args[0]) - 1);
}

void at(Args args) { get_position(args, 1); }
void skip(Args args) { get_position(args, 0); }

// --- pick and poke --------------------------------------------------------------------

namespace {
// The absolute position of a pick or poke index; -1 when out of range.
int32_t pick_position(const Cell& s, int32_t index) {
    if (index == 0) return -1;
    int64_t p = int64_t(index_of(s)) + (index > 0 ? index - 1 : index);
    if (p < 0 || p >= buffer_length(s)) return -1;
    return int32_t(p);
}

void store_element(const Cell& s, int32_t p, const Cell& value) {
    memory::Series* b = buffer_of(s);
    std::byte* at = b->at_head() + size_t(p) * b->unit();
    Type t = type_of(s);
    if (b->unit() == 16) {
        std::memcpy(at, &value, sizeof value);
        return;
    }
    if (t == Type::binary) {
        binary::set_byte(s, uint32_t(p), value);
        return;
    }
    if (is_string_like(t)) {
        if (!is(value, Type::char_)) errors::fire(errors::id::invalid_arg, &value);
        string::poke_char(series_node(s), uint32_t(p), uint32_t(int_of(value)));  // may widen
        return;
    }
    if (t == Type::vector) return vector::store_element(s, uint32_t(p), value);
    errors::fire(errors::id::not_done);
}
}  // namespace

void pick(Args args, int32_t index) {
    int32_t p = pick_position(args[0], index);
    args[0] = p < 0 ? none_cell() : element_at(args[0], p);
}

void poke(Args args, int32_t index) {
    const Cell& s = args[0];
    int32_t p = pick_position(s, index);
    if (p < 0) {
        Cell i = integer_cell(index);
        errors::fire(errors::id::out_of_range, &i);
    }
    with_notify(s, Change::poke, p, 1, [&] {
        services::ownership_release(s, p, 1);
        store_element(s, p, args[2]);
        services::ownership_adopt(s, p, 1);
        reindex(s);
    });
    args[0] = args[2];
}

// --- removal ------------------------------------------------------------------------

void clear(Args args) {
    Cell& s = args[0];
    int32_t index = index_of(s);
    int32_t total = buffer_length(s);
    if (index >= total) return;
    with_notify(s, Change::clear, index, total - index, [&] {
        services::ownership_release(s, index, total - index);
        memory::Series* b = buffer_of(s);
        b->tail = b->head + uint32_t(index) * b->unit();
        reindex(s);
    });
}

void remove(Args args, const Cell* part, const Cell* key) {
    Cell& s = args[0];
    int32_t count = part ? part_count(s, *part, "part") : 1;
    if (count < 1) return;
    int32_t start = index_of(s);
    if (key) {
        Cell found[2] = {s, *key};
        collector::Root r0(found[0]), r1(found[1]);
        auto find = datatype::row(type_of(s)).find.fn;
        if (!find) errors::fire(errors::id::not_done);
        find(found, actions::FindRefs{});
        if (is(found[0], Type::none)) {
            args[0] = none_cell();
            return;
        }
        start = index_of(found[0]);
        count += 1;
    }
    int32_t total = buffer_length(s);
    if (start >= total) return;
    count = std::min(count, total - start);
    with_notify(s, Change::remove, start, count, [&] {
        services::ownership_release(s, start, count);
        uint32_t unit = unit_of(s);
        close_gap(series_node(s), uint32_t(start) * unit, uint32_t(count) * unit);
        reindex(s);
    });
}

void reverse(Args args, const Cell* part, const Cell* skip) {
    Cell& s = args[0];
    int32_t start = std::min(index_of(s), buffer_length(s));
    int32_t rest = buffer_length(s) - start;
    int32_t len = part ? std::min(part_count(s, *part, "part"), rest) : rest;
    int32_t step = 1;
    if (skip) {
        if (!is(*skip, Type::integer)) fire_refine_arg("skip", *skip);
        step = int_of(*skip);
        if (step == len) return;
        if (step < 1) errors::fire(errors::id::out_of_range, skip);
        if (len < step || len % step != 0) fire_refine_arg("skip", *skip);
    }
    if (len <= step) return;
    with_notify(s, Change::reverse, start, len, [&] {
        uint32_t unit = unit_of(s);
        size_t record = size_t(step) * unit;
        std::vector<std::byte> temp(record);
        std::byte* base = buffer_of(s)->at_head() + size_t(start) * unit;
        std::byte* lo = base;
        std::byte* hi = base + size_t(len - step) * unit;
        while (lo < hi) {
            std::memcpy(temp.data(), lo, record);
            std::memcpy(lo, hi, record);
            std::memcpy(hi, temp.data(), record);
            lo += record;
            hi -= record;
        }
        reindex(s);
    });
}

// --- take ------------------------------------------------------------------------------

void take(Args args, const Cell* part, bool, bool last) {
    Cell s = args[0];
    collector::Root keep(s);
    int32_t index = std::min(index_of(s), buffer_length(s));
    int32_t rest = buffer_length(s) - index;
    if (rest < 1) {
        args[0] = none_cell();
        return;
    }
    int32_t start;
    int32_t count = 1;
    if (part) {
        int32_t n;
        if (is(*part, Type::integer)) {
            n = int_of(*part);
        } else if (same_buffer(s, *part)) {
            int32_t at = index_of(*part);
            n = at < index ? 0 : last ? buffer_length(s) - at : at - index;
        } else {
            fire_refine_arg("part", *part);
        }
        // Nothing to take (a zero count, a limit before the head, or a negative
        // count from the tail end): an empty series of the same type.
        if (n == 0 || (n < 0 && last)) {
            args[0] = copy_range(s, index, 0);
            return;
        }
        if (n < 0) {
            count = int32_t(std::min(-int64_t(n), int64_t(index)));
            start = index - count;
            if (count == 0) {
                args[0] = copy_range(s, index, 0);
                return;
            }
        } else {
            count = std::min(n, rest);
            start = last ? buffer_length(s) - count : index;
        }
    } else {
        start = last ? buffer_length(s) - 1 : index;
    }
    with_notify(s, Change::take, start, count, [&] {
        Cell taken = part ? copy_range(s, start, count) : element_at(s, start);
        collector::Root keep_taken(taken);
        services::ownership_release(s, start, count);
        uint32_t unit = unit_of(s);
        close_gap(series_node(s), uint32_t(start) * unit,
                  uint32_t(count) * unit);
        reindex(s);
        args[0] = taken;
    });
}

// --- copy ---------------------------------------------------------------------------------

void copy(Args args, const Cell* part, bool, const Cell*) {
    Cell& s = args[0];
    int32_t total = buffer_length(s);
    int32_t start = std::min(index_of(s), total);
    int32_t count = total - start;
    if (part) {
        if (is(*part, Type::pair)) {
            int32_t x = pair_x(*part), y = pair_y(*part);
            int32_t from = x < 0 ? index_of(s) + x : index_of(s) + x - 1;
            start = std::clamp(from, 0, total);
            count = y < x ? 0 : int32_t(std::min(int64_t(y) - x, int64_t(INT32_MAX)));
        } else {
            count = part_count(s, *part, "part");
        }
        if (count < 0) {
            count = int32_t(std::min(-int64_t(count), int64_t(start)));
            start -= count;
        }
        count = std::min(count, total - start);
    }
    args[0] = copy_range(s, start, count);
}

// --- move --------------------------------------------------------------------------------

void move(Args args, const Cell* part) {
    Cell& src = args[0];
    Cell& dst = args[1];
    if (!is_series(type_of(dst))) {
        Cell t = datatype_cell(type_of(dst));
        errors::fire(errors::id::expect_arg, &t);
    }
    int32_t from = index_of(src);
    int32_t src_len = buffer_length(src);
    if (from >= src_len) {
        args[0] = dst;
        return;
    }
    int32_t count = part ? part_count(src, *part, "part") : 1;
    count = std::min(count, src_len - from);
    if (count < 1) {
        args[0] = dst;
        return;
    }
    Node sn = series_node(src), dn = series_node(dst);
    if (sn == dn) {
        int32_t to = std::min(index_of(dst), src_len);
        if (to == from) {
            args[0] = dst;
            return;
        }
        // A target inside the moved range stays where it is.
        if (to > from && to < from + count) return;
        // Moved towards the tail, the elements land count places before the target:
        // the after-report gives where they now lie, never a position past them.
        int32_t at = to > from ? to - count : to;
        bool owned = notify_before(dst, Change::move, to, count);
        uint32_t unit = unit_of(src);
        size_t bytes = size_t(count) * unit;
        // Room first: once taken out, the moved cells are seen by no marker.
        memory::Series* b = ensure_room(sn, bytes);
        std::vector<std::byte> temp(bytes);
        std::memcpy(temp.data(), b->at_head() + size_t(from) * unit, bytes);
        close_gap(sn, uint32_t(from) * unit, uint32_t(bytes));
        b = memory::buffer(sn);
        b = open_gap(sn, uint32_t(at) * unit, uint32_t(bytes));
        std::memcpy(b->at_head() + size_t(at) * unit, temp.data(), bytes);
        reindex(dst);
        if (owned) notify_after(dst, Change::move, at, count);
        args[0] = dst;
        return;
    }
    Type st = type_of(src), dt = type_of(dst);
    bool src_cells = is_block_like(st), dst_cells = is_block_like(dt);
    uint32_t su = unit_of(src), du = unit_of(dst);
    bool texts = is_string_like(st) && is_string_like(dt);
    if (src_cells != dst_cells || (su != du && !texts)) {
        Cell a = datatype_cell(st), b = datatype_cell(dt);
        errors::fire(errors::id::move_bad, &a, &b);
    }
    if (su != du) {
        // Text of another width is converted on the way.
        with_notify(dst, Change::move, index_of(dst), count, [&] {
            Cell from_value = src, to_value = dst;
            collector::Root k1(from_value), k2(to_value);
            string::move_chars(from_value, to_value, uint32_t(count));
        });
        args[0] = dst;
        return;
    }
    int32_t to = std::min(index_of(dst), buffer_length(dst));
    with_notify(dst, Change::move, to, count, [&] {
        size_t bytes = size_t(count) * su;
        memory::Series* d = memory::buffer(dn);
        d = open_gap(dn, uint32_t(to) * su, uint32_t(bytes));
        memory::Series* sb = memory::buffer(sn);
        std::memcpy(d->at_head() + size_t(to) * su, sb->at_head() + size_t(from) * su, bytes);
        close_gap(sn, uint32_t(from) * su, uint32_t(bytes));
        services::ownership_adopt(dst, to, count);
        reindex(src);
        reindex(dst);
    });
    args[0] = dst;
}

// --- random ---------------------------------------------------------------------------------

void random(Args args, bool seed, bool secure, bool only) {
    Cell& s = args[0];
    int32_t index = std::min(index_of(s), buffer_length(s));
    int32_t len = buffer_length(s) - index;
    uint32_t unit = unit_of(s);
    if (seed) {
        memory::Series* b = buffer_of(s);
        services::random_seed(services::murmur3(b->at_head() + size_t(index) * unit,
                                                size_t(len) * unit));
        args[0] = unset_cell();
        return;
    }
    if (only) {
        if (len < 1) {
            args[0] = none_cell();
            return;
        }
        int32_t r = services::random_int_range(secure, len);
        args[0] = element_at(s, index + r - 1);
        return;
    }
    with_notify(s, Change::random, index, len, [&] {
        std::vector<std::byte> temp(unit);
        for (int32_t p = index; p < index + len; ++p) {
            int32_t k = index + len - p;
            int32_t r = services::random_int_range(secure, k);
            std::byte* base = buffer_of(s)->at_head();
            std::byte* a = base + size_t(p) * unit;
            std::byte* b = base + size_t(p + r - 1) * unit;
            std::memcpy(temp.data(), a, unit);
            std::memcpy(a, b, unit);
            std::memcpy(b, temp.data(), unit);
        }
        reindex(s);
    });
}

// --- owner field -------------------------------------------------------------------------------

void reflect(Args args, uint32_t field_symbol) {
    if (field_symbol != services::symbol_of("owned")) errors::fire(errors::id::not_done);
    const Cell* owner = services::owner_of(series_node(args[0]));
    args[0] = owner ? *owner : none_cell();
}

void modify(Args args, bool) {
    const Cell& field = args[1];
    const Cell& value = args[2];
    if (word_symbol(field) == services::symbol_of("owned")) {
        if (is(value, Type::none)) {
            services::ownership_unbind(args[0]);
        } else if (is(value, Type::block) && get_length(args[2]) >= 2) {
            Cell owner = element_at(value, index_of(value));
            Cell word = element_at(value, index_of(value) + 1);
            services::ownership_bind(args[0], owner, word);
        }
    }
    args[0] = value;
}

// --- registration ---------------------------------------------------------------------------------

void init() {
    actions::Row r;
    r.random = random;
    r.reflect = reflect;
    r.at = at;
    r.back = back;
    r.clear = clear;
    r.copy = copy;
    r.head = head;
    r.head_q = head_q;
    r.index_q = index_q;
    r.length_q = length_q;
    r.move = move;
    r.next = next;
    r.pick = pick;
    r.poke = poke;
    r.remove = remove;
    r.reverse = reverse;
    r.skip = skip;
    r.tail = tail;
    r.tail_q = tail_q;
    r.take = take;
    r.modify = modify;
    datatype::register_type(Type::series, Type::any, "series!", r);
}

}  // namespace zan::series

// The Zanbin writers: one value and all it reaches as compact or fixed records.
//
// The walk reads cells straight from their buffers and allocates nothing on
// the collector's heap until the result is made, so no buffer moves under it;
// its table of written nodes is still a collector root (and has its handles
// rewritten when a collection relocates nodes), since the boot writer keeps
// the table between its calls.
//
// Positions: every record takes the next position of the container it is
// written in; a series, context or error opens a container level of its own
// whose records count from 0. The first time a node is written its path (the
// positions from the root down to its record) is kept; the next time, the
// record holds that path instead of the contents.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>

#include "codecs/zanbin.h"
#include "codecs/zanbin_internal.h"
#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/image_backend.h"
#include "datatypes/native.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "evaluator/routines.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"

namespace zan::zanbin {

using namespace detail;

namespace {

[[noreturn]] void fire_no_codec(const Cell& v) { errors::fire(no_codec(), &v); }

// --- the written-node table -------------------------------------------------------------

// A written node and where: the level it was written in (an entry of its
// own, -1 for the top) and its position there. Paths are kept as this tree,
// so that deep nesting costs a constant per node.
struct Written {
    Node node;
    int32_t parent;
    uint32_t position;
};

class NodeTable {
public:
    // The entry of a node written before, or -1.
    int32_t find(Node n) {
        refresh();
        auto it = index_.find(n);
        return it == index_.end() ? -1 : int32_t(it->second);
    }
    int32_t add(Node n, int32_t parent, uint32_t position) {
        refresh();
        index_.emplace(n, uint32_t(entries_.size()));
        entries_.push_back(Written{n, parent, position});
        return int32_t(entries_.size() - 1);
    }
    // The positions from the top down to the entry.
    void path(int32_t entry, std::vector<uint32_t>& out) const {
        out.clear();
        for (int32_t e = entry; e >= 0; e = entries_[e].parent) out.push_back(entries_[e].position);
        std::reverse(out.begin(), out.end());
    }
    void mark() {
        for (Written& w : entries_) collector::mark_node(w.node);
    }
    uint32_t size() const { return uint32_t(entries_.size()); }
    void truncate(uint32_t n) {
        if (n >= entries_.size()) return;
        entries_.resize(n);
        rebuild();
    }

private:
    // Handles may have changed in a collection that relocated nodes.
    void refresh() {
        if (cycles_ != collector::node_cycles()) rebuild();
    }
    void rebuild() {
        cycles_ = collector::node_cycles();
        index_.clear();
        for (uint32_t i = 0; i < entries_.size(); ++i) index_.emplace(entries_[i].node, i);
    }
    std::vector<Written> entries_;
    std::unordered_map<Node, uint32_t> index_;
    uint32_t cycles_ = 0;
};

// --- output -----------------------------------------------------------------------------

struct Out {
    std::vector<uint8_t> b;
    void u8(uint8_t v) { b.push_back(v); }
    void u32(uint32_t v) {
        uint8_t x[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
        b.insert(b.end(), x, x + 4);
    }
    void leb(uint32_t v) {
        while (v >= 0x80) {
            b.push_back(uint8_t(v | 0x80));
            v >>= 7;
        }
        b.push_back(uint8_t(v));
    }
    void bytes(const void* p, size_t n) {
        auto* s = static_cast<const uint8_t*>(p);
        b.insert(b.end(), s, s + n);
    }
    void pad(size_t multiple) {
        while (b.size() % multiple) b.push_back(0);
    }
};

const Cell* cells_of(Node n) { return memory::buffer(n)->cells(); }
uint32_t cells_in(Node n) { return memory::buffer(n)->length(); }

}  // namespace

// --- the writer ---------------------------------------------------------------------------

class Writer {
public:
    explicit Writer(bool compact, bool boot = false) : compact_(compact), boot_(boot) {}

    // Words bound to these contexts name them by root index (boot mode).
    std::unordered_map<Node, uint32_t> root_contexts;

    void record(const Cell& v, bool advance = true);
    void definition(const Cell& word, const Cell& value);
    void context_root(Node ctx);
    std::vector<uint8_t> finish(uint8_t version_byte);
    void mark() { table_.mark(); }
    uint32_t counter() const { return counter_; }

private:
    // --- flavour-neutral pieces
    void head(Type t, const Cell& v, bool ref, bool variant, uint32_t fixed_bits = 0) {
        if (compact_) {
            if (has_flag(v, header::newline)) out_.u8(head::newline);
            if (ref) out_.u8(head::reference);
            out_.u8(uint8_t(uint32_t(t) | (variant ? head::variant : 0)));
        } else {
            uint32_t h = uint32_t(t) | fixed_bits;
            if (has_flag(v, header::newline)) h |= fixed::newline;
            if (ref) h |= fixed::reference;
            out_.u32(h);
        }
    }
    void count(uint32_t n) { compact_ ? out_.leb(n) : out_.u32(n); }
    void sint(int32_t n) { compact_ ? out_.leb(zigzag(n)) : out_.u32(uint32_t(n)); }
    // The head index: compact only when not 0 (the variant flag says so).
    void head_index(uint32_t index) {
        if (!compact_ || index) count(index);
    }
    void path(int32_t entry) {
        table_.path(entry, scratch_path_);
        uint32_t n = uint32_t(scratch_path_.size());
        // A reader takes paths of at most max_reference_path steps: refuse rather
        // than write a buffer that cannot be read back.
        if (n > max_reference_path) errors::fire(errors::id::too_deep);
        if (compact_) {
            out_.leb(n);
            for (uint32_t i : scratch_path_) out_.leb(i);
        } else {
            out_.u32(fixed::reference_type);
            out_.u32(n);
            for (uint32_t i : scratch_path_) out_.u32(i);
        }
    }
    uint32_t symbol_number(uint32_t id);
    // The reference step: the entry of a node written before, else -1.
    int32_t seen(Node n) { return table_.find(n); }
    // Records the node at the current position and opens its level.
    void enter(Node n) {
        int32_t parent = levels_.empty() ? -1 : levels_.back();
        levels_.push_back(table_.add(n, parent, counter_));
        counters_.push_back(counter_);
        counter_ = 0;
    }
    void close() {
        counter_ = counters_.back();
        counters_.pop_back();
        levels_.pop_back();
    }

    // --- rows
    void scalar(const Cell& v);
    void number(const Cell& v, Type t);
    void series(const Cell& v);
    void word(const Cell& v);
    void object_body(const Cell& v);
    void function_body(const Cell& v);
    void error_body(const Cell& v);
    void context_body(Node ctx, bool with_values);
    void owner_inline(const Cell& owner);
    void block_record(Node n);
    void native(const Cell& v);
    void routine(const Cell& v);
    void op(const Cell& v);
    void image(const Cell& v);

    bool compact_;
    bool boot_;
    Out out_;
    std::vector<uint32_t> counters_;  // of the enclosing levels
    std::vector<int32_t> levels_;     // their table entries
    std::vector<uint32_t> scratch_path_;
    uint32_t counter_ = 0;
    NodeTable table_;
    std::unordered_map<uint32_t, uint32_t> symbols_;
    std::vector<uint32_t> symbol_ids_;
    std::string strings_;
    std::vector<uint32_t> offsets_;
};

uint32_t Writer::symbol_number(uint32_t id) {
    auto [it, fresh] = symbols_.emplace(id, uint32_t(symbol_ids_.size()));
    if (fresh) {
        symbol_ids_.push_back(id);
        offsets_.push_back(uint32_t(strings_.size()));
        strings_ += symbol::name(id);
        strings_ += '\0';
        if (!compact_)
            while (strings_.size() % 8) strings_ += '\0';
    }
    return it->second;
}

void Writer::record(const Cell& v, bool advance) {
    Depth depth;
    Type t = type_of(v);
    bool boot_routine = boot_ && t == Type::routine;
    if ((unserialisable(t) && !boot_routine) || !datatype::registered(t)) fire_no_codec(v);
    switch (t) {
        case Type::routine:
            routine(v);
            break;
        case Type::block: case Type::paren: case Type::path: case Type::lit_path:
        case Type::set_path: case Type::get_path: case Type::hash: case Type::map:
        case Type::string: case Type::file: case Type::url: case Type::tag: case Type::email:
        case Type::ref: case Type::binary: case Type::bitset: case Type::vector:
            series(v);
            break;
        case Type::image:
            image(v);
            break;
        case Type::word: case Type::set_word: case Type::lit_word: case Type::get_word:
        case Type::refinement:
            word(v);
            break;
        case Type::object: case Type::function: case Type::error: {
            Node ctx = v.w1;
            if (int32_t p = seen(ctx); p >= 0) {
                bool variant = t == Type::object && object::hooks_node(v);
                head(t, v, true, variant, variant ? fixed::hooks : 0);
                path(p);
                break;
            }
            enter(ctx);
            if (t == Type::object) object_body(v);
            else if (t == Type::function) function_body(v);
            else error_body(v);
            close();
            break;
        }
        case Type::native: case Type::action:
            native(v);
            break;
        case Type::op:
            op(v);
            break;
        default:
            scalar(v);
    }
    if (advance) ++counter_;
}

void Writer::scalar(const Cell& v) {
    Type t = type_of(v);
    switch (t) {
        case Type::unset: case Type::none:
            head(t, v, false, false);
            return;
        case Type::datatype:
            head(t, v, false, false);
            count(v.w1);
            return;
        case Type::logic:
            if (compact_) {
                if (has_flag(v, header::newline)) out_.u8(head::newline);
                out_.u8(logic_of(v) ? head::true_ : head::false_);
            } else {
                head(t, v, false, false);
                out_.u32(logic_of(v) ? 1 : 0);
            }
            return;
        case Type::integer: {
            int32_t i = int_of(v);
            if (compact_ && i >= 0 && i <= 63) {
                if (has_flag(v, header::newline)) out_.u8(head::newline);
                out_.u8(uint8_t(head::small_int + i));
                return;
            }
            head(t, v, false, false);
            sint(i);
            return;
        }
        case Type::char_:
            head(t, v, false, false);
            count(v.w2);
            return;
        case Type::float_: case Type::time: case Type::percent:
            number(v, t);
            return;
        case Type::issue:
            head(t, v, false, false);
            count(symbol_number(word_symbol(v)));
            return;
        case Type::typeset: {
            uint8_t bytes[12];
            std::memcpy(bytes, &v.w1, 4);
            std::memcpy(bytes + 4, &v.w2, 4);
            std::memcpy(bytes + 8, &v.w3, 4);
            head(t, v, false, false);
            if (compact_) {
                int n = 12;
                while (n > 0 && bytes[n - 1] == 0) --n;
                out_.u8(uint8_t(n));
                out_.bytes(bytes, size_t(n));
            } else {
                out_.u32(v.w1);
                out_.u32(v.w2);
                out_.u32(v.w3);
            }
            return;
        }
        case Type::context:
            context_body(v.w1, true);
            return;
        case Type::pair:
            head(t, v, false, false);
            sint(pair_x(v));
            sint(pair_y(v));
            return;
        case Type::point2d: case Type::point3d:
            head(t, v, false, false);
            out_.u32(v.w1);
            out_.u32(v.w2);
            if (t == Type::point3d) out_.u32(v.w3);
            return;
        case Type::tuple: {
            int n = tuple_length(v);
            uint8_t bytes[12];
            tuple_bytes(v, bytes);
            if (compact_) {
                head(t, v, false, n != 3);
                if (n != 3) out_.u8(uint8_t(n));
                out_.bytes(bytes, size_t(n));
            } else {
                head(t, v, false, false, uint32_t(n) << fixed::tuple_shift);
                out_.bytes(bytes, 12);
            }
            return;
        }
        case Type::date: {
            bool timed = date_word(v) & date_time_flag;
            if (!compact_) out_.pad(8);
            head(t, v, false, timed);
            out_.u32(date_word(v));
            if (compact_) {
                if (timed) {
                    out_.u32(v.w2);
                    out_.u32(v.w3);
                }
            } else {
                out_.u32(v.w3);
                out_.u32(v.w2);
            }
            return;
        }
        case Type::money: {
            bool negative = has_flag(v, header::money_negative);
            uint8_t bytes[12];
            bytes[0] = money_currency(v);
            money_packed(v, bytes + 1);
            head(t, v, false, negative, negative ? fixed::negative : 0);
            out_.bytes(bytes, 12);
            return;
        }
        default:
            fire_no_codec(v);
    }
}

// float!, time!, percent!: a whole number fits the short form.
void Writer::number(const Cell& v, Type t) {
    double d = float_of(v);
    if (compact_) {
        bool small = false;
        int32_t i = 0;
        if (t == Type::percent) {
            if (d >= -21474836.0 && d <= 21474836.0) {
                double scaled = std::round(d * 100.0);
                i = int32_t(scaled);
                small = double(i) / 100.0 == d && !(d == 0 && std::signbit(d));
            }
        } else if (d >= -2147483000.0 && d <= 2147483000.0 && d == std::trunc(d) &&
                   !(d == 0 && std::signbit(d))) {
            i = int32_t(d);
            small = true;
        }
        head(t, v, false, small);
        if (small) {
            out_.leb(zigzag(i));
        } else {
            out_.u32(v.w2);
            out_.u32(v.w3);
        }
        return;
    }
    out_.pad(8);
    head(t, v, false, false);
    out_.u32(v.w3);
    out_.u32(v.w2);
}

void Writer::series(const Cell& v) {
    Type t = type_of(v);
    Node n = series_node(v);
    uint32_t index = series_index(v);
    bool complement = t == Type::bitset && bitset::complemented(v);
    bool variant = t == Type::bitset ? complement : (index != 0 && t != Type::map);
    memory::Series* b = memory::buffer(n);
    uint32_t unit = b->unit();
    uint32_t bits = 0;
    if (t == Type::bitset && complement) bits = fixed::complement;
    if (string_family(t) || t == Type::binary || t == Type::vector) bits = unit << fixed::unit_shift;
    if (int32_t p = seen(n); p >= 0) {
        head(t, v, true, variant, bits);
        if (t != Type::bitset && t != Type::map) head_index(index);
        path(p);
        return;
    }
    enter(n);
    head(t, v, false, variant, bits);
    if (t != Type::bitset && t != Type::map) head_index(index);
    b = memory::buffer(n);
    if (t == Type::map) {
        uint32_t len = cells_in(n), live = 0;
        for (uint32_t i = 0; i + 1 < len; i += 2)
            if (cells_of(n)[i + 1].header != 0) live += 2;
        count(live);
        for (uint32_t i = 0; i + 1 < len; i += 2) {
            if (cells_of(n)[i + 1].header == 0) continue;  // a removed pair
            Cell k = cells_of(n)[i], e = cells_of(n)[i + 1];
            record(k);
            record(e);
        }
    } else if (block_family(t) || t == Type::hash) {
        uint32_t len = cells_in(n);
        count(len);
        for (uint32_t i = 0; i < len; ++i) {
            Cell e = cells_of(n)[i];
            record(e);
        }
    } else if (string_family(t)) {
        uint32_t len = b->length();
        uint32_t code = unit == 1 ? 0 : unit == 2 ? 1 : 2;
        if (compact_) {
            out_.leb((len << 2) | code);
        } else {
            out_.u32(len);
        }
        out_.bytes(b->at_head(), size_t(len) * unit);
        if (!compact_) out_.pad(4);
    } else if (t == Type::vector) {
        uint32_t len = b->length();
        uint32_t log2 = unit == 1 ? 0 : unit == 2 ? 1 : unit == 4 ? 2 : 3;
        if (compact_) {
            out_.u8(uint8_t((series_extra(v) << 2) | log2));
            out_.leb(len);
        } else {
            out_.u32(len);
            out_.u32(series_extra(v));
        }
        out_.bytes(b->at_head(), size_t(len) * unit);
        if (!compact_) out_.pad(4);
    } else {  // binary!, bitset!: bytes
        uint32_t len = b->length();
        count(len);
        out_.bytes(b->at_head(), len);
        if (!compact_) out_.pad(4);
    }
    close();
}

// image!: the pixels as B, G, R, A bytes, rows top-down. An image without
// pixels (no record) has nothing to share.
void Writer::image(const Cell& v) {
    Node record = series_node(v);
    uint32_t index = series_index(v);
    uint32_t w = record ? image::width_of(v) : 0, h = record ? image::height_of(v) : 0;
    if (record) {
        if (int32_t p = seen(record); p >= 0) {
            head(Type::image, v, true, index != 0);
            head_index(index);
            path(p);
            return;
        }
        enter(record);
    }
    head(Type::image, v, false, index != 0);
    head_index(index);
    if (compact_) {
        out_.leb(w);
        out_.leb(h);
    } else {
        out_.u32(w | h << 16);
    }
    if (record && w && h) out_.bytes(image::read_pixels(record), size_t(w) * h * 4);
    if (record) close();
}

void Writer::block_record(Node n) {
    Cell b = series_cell(Type::block, n);
    record(b, false);
}

namespace {
// The value that owns a word's context, when it can travel with the word.
bool inline_owner(Node ctx, Cell& owner) {
    owner = context::owner(ctx);
    Type t = type_of(owner);
    return t == Type::object || t == Type::function || t == Type::error;
}
}  // namespace

void Writer::word(const Cell& v) {
    Type t = type_of(v);
    Node ctx = word_context(v);
    uint32_t sym = symbol_number(word_symbol(v));
    Cell owner;
    bool bound = ctx && ctx != context::global();
    if (boot_) {
        if (!bound) {
            // Unbound words stay unbound: only the global context's own are global.
            if (!ctx && compact_) out_.u8(head::boot_word);
            head(t, v, false, false);
            count(sym);
            if (!compact_) out_.u32(uint32_t(-1));
            return;
        }
        auto it = root_contexts.find(ctx);
        if (it != root_contexts.end()) {
            head(t, v, false, true);
            count(sym);
            count(it->second);
            sint(word_index(v));
            return;
        }
        // Any other context travels as in codec mode: by reference to its
        // owner written before, or with its owner inline.
        if (!compact_ || !inline_owner(ctx, owner)) {
            Cell named = v;
            errors::fire(zb_invalid_record(), &named);
        }
        if (int32_t p = seen(ctx); p >= 0) {
            head(t, v, true, true);
            count(sym);
            sint(word_index(v));
            path(p);
            return;
        }
        enter(ctx);
        out_.u8(head::boot_word);
        head(t, v, false, true);
        count(sym);
        sint(word_index(v));
        owner_inline(owner);
        close();
        return;
    }
    if (!bound || !inline_owner(ctx, owner)) {
        head(t, v, false, false, fixed::global);
        count(sym);
        if (!compact_) out_.u32(uint32_t(-1));
        return;
    }
    if (int32_t p = seen(ctx); p >= 0) {
        head(t, v, true, true);
        count(sym);
        sint(word_index(v));
        path(p);
        return;
    }
    enter(ctx);
    head(t, v, false, true);
    count(sym);
    sint(word_index(v));
    owner_inline(owner);
    close();
}

// The owner of a word's context, written inside the word's own level: its
// values take positions 0 up, as they would in the owner's own level.
void Writer::owner_inline(const Cell& owner) {
    Depth depth;
    Cell o = owner;
    clear_flag(o, header::newline);
    switch (type_of(o)) {
        case Type::object: object_body(o); break;
        case Type::function: function_body(o); break;
        default: error_body(o); break;
    }
}

void Writer::object_body(const Cell& v) {
    Node hooks = object::hooks_node(v);
    head(Type::object, v, false, hooks != 0, hooks ? fixed::hooks : 0);
    sint(int32_t(object::class_of(v)));
    if (hooks) {
        const Cell* h = cells_of(hooks);
        sint(int32_t(h[0].w2));
        sint(int32_t(h[1].w2));
    }
    context_body(object::context_node(v), true);
}

void Writer::function_body(const Cell& v) {
    Node spec = function::spec_node(v);
    Node more = function::more_node(v);
    Cell body = cells_of(more)[function::more::body];
    head(Type::function, v, false, false);
    count(cells_in(spec));
    count(is(body, Type::block) ? cells_in(series_node(body)) : 0);
    context_body(function::context_node(v), false);
    block_record(spec);
    ++counter_;
    if (is(body, Type::block)) {
        Cell b = body;
        clear_flag(b, header::newline);
        set_type(b, Type::block);
        record(b);
    } else {
        // A body that is not a block travels as an empty one.
        Cell none = none_cell();
        head(Type::block, none, false, false);
        count(0);
        ++counter_;
    }
}

void Writer::error_body(const Cell& v) {
    head(Type::error, v, false, false);
    const Cell* code = error::field_at(v, error::field::code);
    count(is(*code, Type::integer) ? uint32_t(int_of(*code)) : 0);
    for (int f = error::field::arg1; f <= error::field::stack; ++f) {
        Cell c = *error::field_at(v, f);
        record(c);
    }
}

// A context record: its kind and flags, its words, and its values when they
// live in a series and one of them is set.
void Writer::context_body(Node ctx, bool with_values) {
    uint32_t kind = uint32_t(context::kind_of(ctx));
    bool stack = context::values_on_stack(ctx);
    bool self = context::has_self(ctx);
    uint32_t n = context::length(ctx);
    bool values = false;
    if (with_values && !stack) {
        Node vals = context::values(ctx);
        for (uint32_t i = 0; i < n && i < cells_in(vals); ++i)
            if (!is(cells_of(vals)[i], Type::unset)) values = true;
    }
    if (compact_) {
        out_.u8(uint8_t(Type::context));
        out_.u8(uint8_t(kind | (stack ? ctx_flag::stack : 0) | (self ? ctx_flag::self : 0) |
                        (values ? ctx_flag::values : 0)));
    } else {
        out_.u32(uint32_t(Type::context) | (kind << fixed::ctx_kind_shift) |
                 (self ? fixed::ctx_self : 0) | (stack ? fixed::ctx_stack : 0) |
                 (values ? fixed::ctx_values : 0));
    }
    count(n);
    for (uint32_t i = 0; i < n; ++i) count(symbol_number(word_symbol(context::word_at(ctx, int32_t(i)))));
    if (!values) return;
    for (uint32_t i = 0; i < n; ++i) {
        Node vals = context::values(ctx);
        Cell c = i < cells_in(vals) ? cells_of(vals)[i] : unset_cell();
        record(c);
    }
}

void Writer::native(const Cell& v) {
    head(type_of(v), v, false, false);
    count(native::code_index(v));
    block_record(native::spec_node(v));
}

// Boot mode: a routine! by its registry key, its extra cell and its spec;
// met again, by reference.
void Writer::routine(const Cell& v) {
    Node more = function::more_node(v);
    if (int32_t p = seen(more); p >= 0) {
        head(Type::routine, v, true, false);
        path(p);
        return;
    }
    const Cell& code = cells_of(more)[function::more::code];
    std::string_view key = is(code, Type::integer) ? routines::key_of(uint32_t(int_of(code))) : "";
    if (key.empty()) fire_no_codec(v);
    const Cell& extra = cells_of(more)[function::more::owner];
    bool flag = v.header & function::attr::routine_flag;
    enter(more);
    head(Type::routine, v, false, flag);
    count(symbol_number(symbol::make_bytes(key.data(), key.size())));
    sint(is(extra, Type::integer) ? int_of(extra) : -1);
    block_record(function::spec_node(v));
    ++counter_;
    close();
}

void Writer::op(const Cell& v) {
    Type source = op_source(v);
    Cell inner;
    if (source == Type::routine && boot_) {
        inner = cells_of(function::more_node(v))[function::more::op_source];
        if (!is(inner, Type::routine)) fire_no_codec(v);
    } else if (source == Type::function) {
        inner = cells_of(function::more_node(v))[function::more::op_source];
        if (!is(inner, Type::function)) fire_no_codec(v);
    } else if (source == Type::native || source == Type::action) {
        inner = make_cell(source, v.w1, v.w2, v.w3);
    } else {
        fire_no_codec(v);
    }
    head(Type::op, v, false, false, uint32_t(source) << fixed::op_shift);
    record(inner, false);
}

// name: value. The value's nodes are forgotten again afterwards: the pair
// leaves no cell behind, so no path could lead to them.
void Writer::definition(const Cell& word, const Cell& value) {
    uint32_t mark = table_.size();
    out_.u8(head::definition);
    Cell w = word;
    clear_flag(w, header::newline);
    this->word(w);
    record(value, false);
    table_.truncate(mark);
}

void Writer::context_root(Node ctx) {
    Cell c = context::cell(ctx);
    clear_flag(c, header::newline);
    root_contexts.emplace(ctx, counter_);
    enter(ctx);
    context_body(ctx, true);
    close();
    ++counter_;
}

std::vector<uint8_t> Writer::finish(uint8_t version_byte) {
    Out o;
    o.bytes(magic, 6);
    o.u8(version_byte);
    bool syms = !symbol_ids_.empty();
    o.u8(uint8_t((compact_ ? flags::compact : 0) | (syms ? flags::symbols : 0)));
    if (compact_) {
        o.leb(boot_ ? counter_ : 1);
        o.leb(uint32_t(out_.b.size()));
        if (syms) {
            o.leb(uint32_t(symbol_ids_.size()));
            o.leb(uint32_t(strings_.size()));
        }
    } else {
        o.u32(1);
        o.u32(uint32_t(out_.b.size()));
        if (syms) {
            o.u32(uint32_t(symbol_ids_.size()));
            o.u32(uint32_t(strings_.size()));
        }
    }
    if (syms) {
        for (uint32_t off : offsets_) o.u32(off);
        o.bytes(strings_.data(), strings_.size());
    }
    o.bytes(out_.b.data(), out_.b.size());
    return std::move(o.b);
}

// --- entry points -----------------------------------------------------------------------------

namespace {

Writer* active = nullptr;
void mark_active() {
    if (active) active->mark();
}

// Makes the writer the one the collector marks for the scope.
struct Active {
    Writer* prev;
    explicit Active(Writer* w) : prev(active) {
        static bool registered = false;
        if (!registered) {
            registered = true;
            collector::register_marker(mark_active);
        }
        active = w;
    }
    ~Active() { active = prev; }
};

}  // namespace

std::vector<uint8_t> encode(const Cell& value, bool compact) {
    Cell v = value;
    collector::Root keep(v);
    Writer w(compact);
    Active on(&w);
    Depth::start();
    Cell top = v;
    clear_flag(top, header::newline);
    w.record(top);
    return w.finish(version);
}

Cell encode_binary(const Cell& value, bool compact) {
    std::vector<uint8_t> bytes = encode(value, compact);
    return binary::load(bytes.data(), bytes.size());
}

// --- the boot writer ---------------------------------------------------------------------

struct BootWriter::State {
    Writer w{true, true};
    Cell keep = unset_cell();  // the values written so far, kept alive
    collector::Root root{keep};
};

BootWriter::BootWriter() : s_(new State) { block::make_at(s_->keep, 16); }
BootWriter::~BootWriter() { delete s_; }

void BootWriter::add_definition(const Cell& word, const Cell& value) {
    block::rs_append(s_->keep, value);
    Active on(&s_->w);
    Depth::start();
    s_->w.definition(word, value);
}

uint32_t BootWriter::add_root(const Cell& value) {
    block::rs_append(s_->keep, value);
    Active on(&s_->w);
    Depth::start();
    uint32_t index = s_->w.counter();
    s_->w.record(value);
    return index;
}

uint32_t BootWriter::add_context(Node ctx) {
    block::rs_append(s_->keep, context::owner(ctx));
    Active on(&s_->w);
    Depth::start();
    uint32_t index = s_->w.counter();
    s_->w.context_root(ctx);
    return index;
}

std::vector<uint8_t> BootWriter::finish() { return s_->w.finish(1); }

}  // namespace zan::zanbin

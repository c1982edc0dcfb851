// The Zanbin reader: records back into values, appended to a target block.
//
// Every value is stored where it belongs (the target, a series under
// construction, a context's value slot) as soon as its cell is known and
// before its contents are read, so the collector reaches it and a reference
// path from inside its own contents (a cycle) finds it. The input is read from
// a copy on the C heap or from static data, never from a movable buffer.
//
// Every check that fails raises zb-invalid-record with the 1-based position of
// the byte being read. Values are made by their datatypes' constructors where
// those check something (natives, op!, error codes, function specs); a refusal
// is turned into zb-invalid-record too.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "codecs/lz.h"
#include "codecs/zanbin.h"
#include "codecs/zanbin_internal.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/date.h"
#include "datatypes/function.h"
#include "datatypes/image_backend.h"
#include "datatypes/hash.h"
#include "datatypes/map.h"
#include "datatypes/money.h"
#include "datatypes/native.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "evaluator/routines.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"
#include "runtime/unwind.h"

namespace zan::zanbin {

using namespace detail;

namespace {

// Where a decoded cell goes: appended to a block, or into a slot of a series.
struct Sink {
    Node node;
    int32_t index;  // -1: append; the slot once stored
};

Cell& slot(const Sink& s) { return memory::buffer(s.node)->cells()[s.index]; }

[[gnu::always_inline]] inline Cell& put(Sink& s, const Cell& c) {
    if (s.index < 0) {
        // Blocks are made with room for all their records: no growth, no copy.
        memory::Series* b = memory::buffer(s.node);
        if (b->tail + sizeof(Cell) <= b->capacity) {
            Cell* at = reinterpret_cast<Cell*>(b->at_tail());
            *at = c;
            b->tail += sizeof(Cell);
            s.index = int32_t(at - b->cells());
            return *at;
        }
        Cell blk = series_cell(Type::block, s.node);
        Cell* at = block::rs_append(blk, c);
        s.index = int32_t(at - memory::buffer(s.node)->cells());
        return *at;
    }
    return slot(s) = c;
}

uint32_t length_of(Node n) { return memory::buffer(n)->length(); }

// Record header, both flavours.
struct Head {
    const uint8_t* at;  // first byte of the record
    Type type;
    bool variant;
    bool reference;
    bool newline;
    uint32_t bits;  // fixed flavour: the header word
    bool boot_word = false;  // boot mode: unbound, or its owner inline
};

// State of the last boot decode, for root_cell and root_node.
Node boot_target = 0;
uint32_t boot_base = 0;
uint32_t boot_roots = 0;
bool reading = false;

}  // namespace

class Reader {
public:
    Reader(const uint8_t* data, size_t size, const Cell& target, bool codec)
        : start_(data), p_(data), end_(data + size), codec_(codec), target_(target) {
        block::make_at(scratch_, 8);
    }

    uint32_t run(const Cell& payload);
    uint32_t base() const { return base_; }
    void trust() { trusted_ = true; }

private:
    [[noreturn]] void bad(const uint8_t* at) {
        Cell pos = integer_cell(int32_t(at - start_ + 1));
        errors::fire(zb_invalid_record(), &pos);
    }
    [[noreturn]] void bad() { bad(p_); }
    size_t left() const { return size_t(end_ - p_); }
    void need(size_t n) {
        if (n > left()) bad();
    }
    uint8_t u8() {
        need(1);
        return *p_++;
    }
    uint32_t u32() {
        need(4);
        uint32_t v = uint32_t(p_[0]) | uint32_t(p_[1]) << 8 | uint32_t(p_[2]) << 16 |
                     uint32_t(p_[3]) << 24;
        p_ += 4;
        return v;
    }
    uint32_t leb() {
        // Most numbers of a buffer fit in one byte.
        if (p_ < end_ && *p_ < 0x80) return *p_++;
        return leb_long();
    }
    uint32_t leb_long() {
        uint32_t v = 0;
        for (int i = 0; i < 5; ++i) {
            const uint8_t* at = p_;
            uint8_t b = u8();
            if (i == 4 && (b & 0xF0)) bad(at);
            v |= uint32_t(b & 0x7F) << (7 * i);
            if (!(b & 0x80)) return v;
        }
        return v;  // not reached
    }
    uint32_t count() { return compact_ ? leb() : u32(); }
    int32_t sint() { return compact_ ? unzigzag(leb()) : int32_t(u32()); }
    // A count that must fit in what is left of the buffer, `size` bytes each.
    uint32_t bounded(uint64_t size) {
        const uint8_t* at = p_;
        uint32_t n = count();
        if (int32_t(n) < 0 || uint64_t(n) * size > left()) bad(at);
        return n;
    }
    uint32_t head_index(const Head& h) {
        if (compact_ && !h.variant) return 0;
        const uint8_t* at = p_;
        uint32_t i = count();
        if (int32_t(i) < 0) bad(at);
        return i;
    }

    void header();
    // What each type byte meets before its body is read, settled once per
    // buffer: types never written are no-codec, bytes outside the type range
    // or without a record of their own are refused.
    void settle_types() {
        for (int i = 0; i < 256; ++i) {
            Type t = Type(i);
            uint8_t v = readable;
            if (unserialisable(t) && !(t == Type::routine && !codec_)) v = no_codec_type;
            else if (t > Type::event || t == Type::symbol || t == Type::series ||
                     (t == Type::logic && compact_))
                v = refused;
            else if (!datatype::registered(t)) v = no_codec_type;
            verdict_[i] = v;
        }
    }
    uint32_t symbol_id(uint32_t number, const uint8_t* at);
    [[gnu::always_inline]] uint32_t symbol_at() {
        const uint8_t* at = p_;
        last_number_ = count();
        // Most words name a symbol met before.
        if (last_number_ < symbol_count_ && symbols_[last_number_]) return symbols_[last_number_];
        return symbol_id(last_number_, at);
    }
    // The global word of the symbol last read: looked up (or added) once per
    // symbol of the buffer, since a library holds many words of few names.
    Cell global_word(uint32_t sym) {
        if (last_number_ < globals_.size() && globals_[last_number_].header &&
            word_symbol(globals_[last_number_]) == sym)
            return globals_[last_number_];
        Cell g = context::add_global(sym, true, false);
        if (last_number_ < symbol_count_) {
            if (globals_.size() < symbol_count_) globals_.resize(symbol_count_, Cell{});
            globals_[last_number_] = g;
        }
        return g;
    }
    bool read_head(Head& h, Sink& s);
    void record(Sink& s);
    void body(const Head& h, Sink& s);
    Cell walk();
    Cell reach(const Head& h);
    void series(const Head& h, Sink& s);
    void word(const Head& h, Sink& s);
    Node owner(const Head& h, Sink& s, const Sink* word, uint32_t symbol, int32_t index);
    Node object(const Head& h, Sink& s, const Sink* word, uint32_t symbol, int32_t index);
    Node function(const Head& h, Sink& s, const Sink* word, uint32_t symbol, int32_t index);
    Node error(const Head& h, Sink& s, const Sink* word, uint32_t symbol, int32_t index);
    Node context_header(uint8_t want_kind, bool& values, bool root);
    void values_into(Node ctx);
    void bind_word(const Sink* word, Node ctx, uint32_t symbol, int32_t index, const uint8_t* at);
    void native(const Head& h, Sink& s);
    void routine(const Head& h, Sink& s);
    void op(const Head& h, Sink& s);
    void made(Type t, Cell* args, const uint8_t* at);
    void tuple(const Head& h, Sink& s);
    void date(const Head& h, Sink& s);
    void money(const Head& h, Sink& s);
    void map(const Head& h, Sink& s);
    void image(const Head& h, Sink& s);
    void definition(Sink& s);
    Sink scratch_sink() { return Sink{series_node(scratch_), -1}; }
    void drop_scratch(uint32_t to) { block::rs_truncate(scratch_, int32_t(to)); }
    // Runs a constructor; a refusal becomes zb-invalid-record at `at`.
    template <typename Fn>
    void checked(const uint8_t* at, Fn&& fn);

    static constexpr uint8_t readable = 0, refused = 1, no_codec_type = 2;
    uint8_t verdict_[256];
    const uint8_t* start_;
    const uint8_t* p_;
    const uint8_t* end_;
    bool codec_;
    bool compact_ = true;
    // The image built into zan: the image generator decoded these very bytes
    // with every check before writing them, so start-up skips the checks of
    // meaning (names' UTF-8, function specs); every bound is still checked.
    bool trusted_ = false;
    Cell target_;
    collector::Root keep_target_{target_};
    Cell scratch_ = unset_cell();
    collector::Root keep_scratch_{scratch_};
    uint32_t base_ = 0;
    std::vector<uint8_t> inflated_;
    const uint8_t* offsets_ = nullptr;
    const uint8_t* strings_ = nullptr;
    uint32_t symbol_count_ = 0;
    uint32_t strings_size_ = 0;
    std::vector<uint32_t> symbols_;  // symbol ids by number, 0 until first use
    uint32_t last_number_ = 0;
    std::vector<Cell> globals_;      // global words by symbol number, header 0 until first use
    std::vector<uint32_t> path_;
    std::vector<uint32_t> words_;  // a context's symbols, read before it is made
    // The words of one function body name their function by the same
    // reference path, over and over: the last such path's bytes and the
    // context it reached. A definition's slot in the target is reused by the
    // next definition, so ending one forgets the path.
    const uint8_t* owner_path_ = nullptr;
    size_t owner_path_size_ = 0;
    Node owner_ctx_ = 0;
    Node owner_context(const Head& h);
};

template <typename Fn>
void Reader::checked(const uint8_t* at, Fn&& fn) {
    Cell* top = stack::s.top;
    Cell* base = stack::s.base;
    stack::Frame* frames = stack::s.frame_top;
    bool refused = false;
    try {
        fn();
    } catch (const unwind::Thrown& t) {
        if (t.code != unwind::error) throw;
        refused = true;
    }
    if (refused) {
        stack::s.top = top;
        stack::s.base = base;
        stack::s.frame_top = frames;
        bad(at);
    }
}

uint32_t Reader::symbol_id(uint32_t number, const uint8_t* at) {
    if (number >= symbol_count_) bad(at);
    if (symbols_[number]) return symbols_[number];
    const uint8_t* o = offsets_ + size_t(number) * 4;
    uint32_t off = uint32_t(o[0]) | uint32_t(o[1]) << 8 | uint32_t(o[2]) << 16 | uint32_t(o[3]) << 24;
    if (off >= strings_size_) bad(at);
    const uint8_t* name = strings_ + off;
    const uint8_t* stop = static_cast<const uint8_t*>(std::memchr(name, 0, strings_size_ - off));
    if (!stop || stop == name) bad(at);
    for (const uint8_t* q = name; q < stop && !trusted_;) {
        int32_t cp;
        const uint8_t* next = unicode::fast_decode_utf8_char(q, cp);
        if (cp < 0 || next > stop) bad(at);
        q = next;
    }
    uint32_t id = symbol::make_bytes(reinterpret_cast<const char*>(name), size_t(stop - name));
    symbols_[number] = id;
    return id;
}

// The header after the flags byte: counts, sizes and the symbol table. Every
// size is checked against what the buffer holds.
void Reader::header() {
    uint8_t fl = start_[7];
    compact_ = fl & flags::compact;
    bool syms = fl & flags::symbols;
    uint32_t records;
    if (compact_) {
        leb();  // root count: the records are read to their end instead
        const uint8_t* at = p_;
        records = leb();
        if (syms) {
            const uint8_t* c_at = p_;
            symbol_count_ = leb();
            if (int32_t(symbol_count_) < 0 || symbol_count_ > left() / 4) bad(c_at);
            const uint8_t* s_at = p_;
            strings_size_ = leb();
            if (int32_t(strings_size_) < 0 || size_t(symbol_count_) * 4 > left() ||
                strings_size_ > left() - size_t(symbol_count_) * 4)
                bad(s_at);
        }
        (void)at;
    } else {
        if (left() < 8) {
            Cell v = integer_cell(int32_t(end_ - start_));
            errors::fire(errors::id::invalid_data, &v);
        }
        u32();
        records = u32();
        if (syms) {
            const uint8_t* c_at = p_;
            symbol_count_ = u32();
            if (int32_t(symbol_count_) < 0 || symbol_count_ > left() / 4) bad(c_at);
            const uint8_t* s_at = p_;
            strings_size_ = u32();
            if (int32_t(strings_size_) < 0 || size_t(symbol_count_) * 4 > left() ||
                strings_size_ > left() - size_t(symbol_count_) * 4)
                bad(s_at);
        }
    }
    if (syms) {
        offsets_ = p_;
        p_ += size_t(symbol_count_) * 4;
        strings_ = p_;
        p_ += strings_size_;
        if (strings_size_ && strings_[strings_size_ - 1] != 0) bad(p_ - 1);
        symbols_.assign(symbol_count_, 0);
    }
    if (int32_t(records) < 0 || records > left()) bad();
    end_ = p_ + records;
}

// Reads the prefixes and the head of one record. Answers false when the record
// was whole in its head (a small integer, a logic value, a copy) and is stored.
bool Reader::read_head(Head& h, Sink& s) {
    h = Head{p_, Type::any, false, false, false, 0};
    if (!compact_) {
        uint32_t w;
        do {
            h.at = p_;
            w = u32();
        } while ((w & 0xFF) == 0);  // filler words
        h.bits = w;
        h.type = Type(w & 0xFF);
        if ((w & 0xFF) == fixed::reference_type) bad(h.at);
        h.newline = w & fixed::newline;
        h.reference = h.type != Type::op && (w & fixed::reference);
        h.variant = true;
        return true;
    }
    need(1);
    for (;;) {
        uint8_t b = *p_;
        if (b == head::newline) h.newline = true;
        else if (b == head::reference) h.reference = true;
        else if (b == head::boot_word && !codec_) h.boot_word = true;
        else if (b == head::definition) bad();
        else break;
        ++p_;
        need(1);
    }
    if (h.boot_word && (h.reference || *p_ >= 0x80 || !word_family(Type(*p_ & 0x3F)))) bad();
    const uint8_t* at = p_;
    uint8_t b = u8();
    if (b < 0x80) {
        h.variant = b & head::variant;
        uint32_t t = b & 0x3F;
        if (t == head::long_type) t = leb();
        if (t == 0 || t > 255) bad(at);
        h.type = Type(t);
        return true;
    }
    if (h.reference) bad(at);
    Cell c;
    if (b < head::newline) c = integer_cell(b & 0x3F);
    else if (b == head::true_) c = logic_cell(true);
    else if (b == head::false_) c = logic_cell(false);
    else if (b == head::copy) c = walk();
    else bad(at);
    if (h.newline) set_flag(c, header::newline);
    else clear_flag(c, header::newline);
    put(s, c);
    return false;
}

void Reader::record(Sink& s) {
    Depth depth;
    if (compact_) {
        need(1);
        uint8_t b = *p_;
        // Most records are a type byte and a body, after at most a new-line
        // and a reference prefix: read here, the rest by read_head.
        const uint8_t* q = p_;
        bool newline = false, reference = false;
        for (; q + 1 < end_; b = *++q) {
            if (b == head::newline) newline = true;
            else if (b == head::reference) reference = true;
            else break;
        }
        if (b < 0x80) {
            uint8_t t = b & 0x3F;
            if (t != 0 && t != head::long_type && verdict_[t] == readable) {
                Head h{p_, Type(t), bool(b & head::variant), reference, newline, 0};
                p_ = q + 1;
                if (word_family(h.type)) word(h, s);
                else body(h, s);
                if (newline) set_flag(slot(s), header::newline);
                return;
            }
        } else if (b == head::definition && !codec_ && q == p_) {
            definition(s);
            return;
        }
    }
    Head h;
    if (!read_head(h, s)) return;
    body(h, s);
    if (h.newline) set_flag(slot(s), header::newline);
}

// Boot mode: name: value. The value is stored in the target while it is read
// (paths inside it count from there) and taken out again.
void Reader::definition(Sink& s) {
    ++p_;
    need(1);
    Head h;
    Sink w = scratch_sink();
    uint32_t mark = length_of(series_node(scratch_));
    if (!read_head(h, w)) bad(h.at);
    if (h.type == Type::issue) {
        body(h, s);
        return;
    }
    if (!word_family(h.type) || h.reference) bad(h.at);
    body(h, w);
    Node t = series_node(target_);
    uint32_t before = length_of(t);
    Sink v{t, -1};
    record(v);
    Cell value = slot(v);
    Cell word = slot(w);
    collector::Root keep(value);
    block::rs_truncate(series_cell(Type::block, t), int32_t(before));
    owner_path_ = nullptr;
    drop_scratch(mark);
    context::set_in(word, value, word_context(word), false);
}

void Reader::body(const Head& h, Sink& s) {
    Type t = h.type;
    if (uint8_t v = verdict_[uint8_t(t)]) {
        if (v == refused) bad(h.at);
        Cell dt = datatype_cell(t);
        errors::fire(no_codec(), &dt);
    }
    switch (t) {
        case Type::datatype: {
            const uint8_t* at = p_;
            uint32_t id = count();
            if (id < 1 || id > uint32_t(Type::event)) bad(at);
            put(s, datatype_cell(Type(id)));
            return;
        }
        case Type::unset: case Type::none:
            put(s, make_cell(t));
            return;
        case Type::logic: {
            const uint8_t* at = p_;
            uint32_t v = u32();
            if (v > 1) bad(at);
            put(s, logic_cell(v == 1));
            return;
        }
        case Type::char_: {
            const uint8_t* at = p_;
            uint32_t cp = count();
            if (cp > 0x10FFFF) bad(at);
            put(s, char_cell(cp));
            return;
        }
        case Type::integer:
            put(s, integer_cell(sint()));
            return;
        case Type::float_: case Type::time: case Type::percent: {
            double d;
            if (compact_ && h.variant) {
                int32_t i = unzigzag(leb());
                d = t == Type::percent ? i / 100.0 : double(i);
            } else if (compact_) {
                uint32_t lo = u32(), hi = u32();
                d = float_of(make_cell(t, 0, lo, hi));
            } else {
                uint32_t hi = u32(), lo = u32();
                d = float_of(make_cell(t, 0, lo, hi));
            }
            put(s, float_cell(d, t));
            return;
        }
        case Type::typeset: {
            uint8_t bytes[12] = {};
            if (compact_) {
                const uint8_t* at = p_;
                uint8_t n = u8();
                if (n > 12) bad(at);
                need(n);
                std::memcpy(bytes, p_, n);
                p_ += n;
            } else {
                need(12);
                std::memcpy(bytes, p_, 12);
                p_ += 12;
            }
            Cell c = typeset::make();
            std::memcpy(&c.w1, bytes, 4);
            std::memcpy(&c.w2, bytes + 4, 4);
            std::memcpy(&c.w3, bytes + 8, 4);
            put(s, c);
            return;
        }
        case Type::issue: {
            uint32_t sym = symbol_at();
            put(s, make_cell(Type::issue, context::global(), sym, uint32_t(-1)));
            return;
        }
        case Type::block: case Type::paren: case Type::path: case Type::lit_path:
        case Type::set_path: case Type::get_path: case Type::string: case Type::file:
        case Type::url: case Type::tag: case Type::email: case Type::ref: case Type::binary:
        case Type::bitset: case Type::vector:
            series(h, s);
            return;
        case Type::word: case Type::set_word: case Type::lit_word: case Type::get_word:
        case Type::refinement:
            word(h, s);
            return;
        case Type::native: case Type::action:
            native(h, s);
            return;
        case Type::op:
            op(h, s);
            return;
        case Type::object: case Type::function: case Type::error:
            if (h.reference) {
                put(s, reach(h));
                return;
            }
            owner(h, s, nullptr, 0, 0);
            return;
        case Type::routine:
            routine(h, s);
            return;
        case Type::pair: {
            int32_t x = sint();
            int32_t y = sint();
            put(s, make_cell(Type::pair, 0, uint32_t(x), uint32_t(y)));
            return;
        }
        case Type::point2d: case Type::point3d: {
            uint32_t x = u32(), y = u32(), z = t == Type::point3d ? u32() : 0;
            put(s, make_cell(t, x, y, z));
            return;
        }
        case Type::tuple:
            tuple(h, s);
            return;
        case Type::date:
            date(h, s);
            return;
        case Type::money:
            money(h, s);
            return;
        case Type::map:
            map(h, s);
            return;
        case Type::image:
            image(h, s);
            return;
        case Type::hash:
            if (h.reference) {
                series(h, s);
                return;
            }
            {
                Head bh = h;
                bh.type = Type::block;
                series(bh, s);
                Cell c = slot(s);
                collector::Root keep(c);
                hash::index_in_place(c);
                slot(s) = c;
            }
            return;
        case Type::context: {
            // A bare context stands only at the top of a boot image.
            if (codec_ || s.node != series_node(target_) || h.reference) bad(h.at);
            bool values;
            Node ctx = context_header(0xFF, values, true);
            collector::NodeRoot keep(ctx, collector::NodeRoot::As::context);
            Cell owner_cell = make_cell(Type::object, ctx, uint32_t(-1), 0);
            context::owner(ctx) = owner_cell;
            put(s, owner_cell);
            if (values) values_into(ctx);
            return;
        }
        default:
            // Datatypes without a record yet (vector!, map!, image! and the
            // like once registered) cannot be read.
            Cell dt = datatype_cell(t);
            errors::fire(no_codec(), &dt);
    }
}

// --- references ---------------------------------------------------------------------------

// A reference path: walked from the target's first decoded cell down through
// series, contexts and function parts. Answers a copy of the cell reached.
Cell Reader::walk() {
    const uint8_t* at = p_;
    uint32_t n;
    if (compact_) {
        n = leb();
    } else {
        if (u32() != fixed::reference_type) bad(at);
        at = p_;
        n = u32();
    }
    if (n < 1 || n > max_reference_path || n > left()) bad(at);
    path_.resize(n);
    for (uint32_t i = 0; i < n; ++i) path_[i] = count();
    Node t = series_node(target_);
    uint64_t first = uint64_t(base_) + path_[0];
    if (first >= length_of(t)) bad(at);
    Cell cur = memory::buffer(t)->cells()[first];
    auto values_at = [&](Node ctx, uint32_t k, uint32_t skip) {
        Node v = context::values(ctx);
        if (!v || uint64_t(k) + skip >= length_of(v)) bad(at);
        return memory::buffer(v)->cells()[k + skip];
    };
    auto spec_block = [](Node spec) { return series_cell(Type::block, spec); };
    for (uint32_t i = 1; i < n; ++i) {
        uint32_t k = path_[i];
        Type ct = type_of(cur);
        if (word_family(ct)) {
            Node ctx = word_context(cur);
            if (!ctx || ctx == context::global()) bad(at);
            if (!context::values_on_stack(ctx)) {
                cur = values_at(ctx, k, 0);
                continue;
            }
            cur = context::owner(ctx);
            ct = type_of(cur);
            if (ct != Type::function) bad(at);
        }
        if (block_family(ct) || ct == Type::hash || ct == Type::map) {
            Node s = series_node(cur);
            if (k >= length_of(s)) bad(at);
            cur = memory::buffer(s)->cells()[k];
        } else if (ct == Type::object) {
            cur = values_at(object::context_node(cur), k, 0);
        } else if (ct == Type::error) {
            cur = values_at(object::context_node(cur), k, error::field::arg1);
        } else if (ct == Type::native || ct == Type::action) {
            Node s = native::spec_node(cur);
            if (k >= length_of(s)) bad(at);
            cur = memory::buffer(s)->cells()[k];
        } else if (ct == Type::function) {
            if (k == 0) {
                cur = spec_block(function::spec_node(cur));
            } else if (k == 1) {
                cur = memory::buffer(function::more_node(cur))->cells()[function::more::body];
                if (!is(cur, Type::block)) bad(at);
            } else {
                bad(at);
            }
        } else if (ct == Type::routine) {
            if (k != 0) bad(at);
            cur = spec_block(function::spec_node(cur));
        } else if (ct == Type::op) {
            if (k != 0) bad(at);
            cur = spec_block(native::spec_node(cur));
        } else {
            bad(at);
        }
    }
    clear_flag(cur, header::newline);
    return cur;
}

// The cell a reference record stands for, checked to be of the record's kind.
Cell Reader::reach(const Head& h) {
    const uint8_t* at = p_;
    Cell c = walk();
    Type want = h.type;
    Type got = type_of(c);
    // A function seen through an operator made from it.
    if (got == Type::op && (op_source(c) == Type::function || op_source(c) == Type::routine)) {
        c = memory::buffer(function::more_node(c))->cells()[function::more::op_source];
        got = type_of(c);
    }
    // Natives' spec blocks were written at the native's own position.
    if (block_family(want) && (got == Type::native || got == Type::action || got == Type::op ||
                               got == Type::routine)) {
        c = series_cell(Type::block, native::spec_node(c));
        got = Type::block;
    }
    bool owner_kind = want == Type::object || want == Type::function || want == Type::error ||
                      word_family(want);
    if (owner_kind && word_family(got)) {
        Node ctx = word_context(c);
        if (!ctx || ctx == context::global()) bad(at);
        c = context::owner(ctx);
        got = type_of(c);
    }
    bool ok;
    if (block_family(want)) ok = block_family(got);
    else if (string_family(want)) ok = string_family(got);
    else if (word_family(want)) ok = got == Type::object || got == Type::function || got == Type::error;
    else ok = got == want;
    if (!ok) bad(at);
    return c;
}

// The context a word's reference path leads to (through the owner it names).
Node Reader::owner_context(const Head& h) {
    if (!compact_) return reach(h).w1;
    // The path's extent: a one-byte count, then that many numbers.
    const uint8_t* from = p_;
    if (owner_path_ && from < end_ && *from < 0x80) {
        uint32_t n = *from;
        const uint8_t* q = from + 1;
        while (n && q < end_)
            if (!(*q++ & 0x80)) --n;
        size_t size = size_t(q - from);
        if (!n && size == owner_path_size_ && std::memcmp(from, owner_path_, size) == 0) {
            p_ = q;
            return owner_ctx_;
        }
    }
    Node ctx = reach(h).w1;
    owner_path_ = from;
    owner_path_size_ = size_t(p_ - from);
    owner_ctx_ = ctx;
    return ctx;
}

// --- series -----------------------------------------------------------------------------------

void Reader::series(const Head& h, Sink& s) {
    Type t = h.type;
    bool bits = t == Type::bitset;
    uint32_t index = bits ? 0 : head_index(h);
    if (h.reference) {
        Cell c = reach(h);
        memory::Series* b = memory::buffer(series_node(c));
        if (b->unit() && index > b->capacity / b->unit()) bad(h.at);
        c.header = uint32_t(t);
        if (!bits) set_series_index(c, index);
        put(s, c);
        return;
    }
    if (block_family(t)) {
        uint32_t n = bounded(1);
        if (index > n) bad(h.at);
        Node node = memory::alloc_cells(n ? n : 1);
        collector::NodeRoot keep(node);
        put(s, series_cell(t, node, index));
        Sink inner{node, -1};
        for (uint32_t i = 0; i < n; ++i) {
            inner.index = -1;
            record(inner);
        }
        return;
    }
    uint32_t unit = 1, n;
    Type element = Type::any;
    if (t == Type::vector) {
        const uint8_t* at = p_;
        if (compact_) {
            uint8_t k = u8();
            unit = 1u << (k & 3);
            element = Type(k >> 2);
            n = leb();
        } else {
            unit = (h.bits >> fixed::unit_shift) & fixed::unit_mask;
            n = u32();
            uint32_t e = u32();
            element = Type(e > 255 ? 0 : e);
        }
        // The element types and widths vector! holds.
        bool ok = ((element == Type::char_ || element == Type::integer) &&
                   (unit == 1 || unit == 2 || unit == 4)) ||
                  (element == Type::float_ && (unit == 4 || unit == 8)) ||
                  (element == Type::percent && unit == 8);
        if (!ok) bad(at);
        if (uint64_t(n) * unit > left()) bad(at);
    } else if (string_family(t)) {
        const uint8_t* at = p_;
        if (compact_) {
            uint32_t e = leb();
            if ((e & 3) == 3) bad(at);
            unit = 1u << (e & 3);
            n = e >> 2;
        } else {
            unit = (h.bits >> fixed::unit_shift) & fixed::unit_mask;
            if (unit != 1 && unit != 2 && unit != 4) bad(h.at);
            n = u32();
        }
        if (uint64_t(n) * unit > left()) bad(at);
    } else {
        n = bounded(1);
    }
    if (index > n) bad(h.at);
    const uint8_t* data = p_;
    p_ += size_t(n) * unit;
    if (!compact_) p_ += (4 - (size_t(n) * unit) % 4) % 4;
    if (p_ > end_) bad(data);
    if (unit == 4 && string_family(t))
        for (uint32_t i = 0; i < n; ++i)
            if (string::get_char(reinterpret_cast<const std::byte*>(data + 4 * i), 4) > 0x10FFFF)
                bad(data + 4 * i);
    Node node = bits ? memory::alloc_bytes(n) : memory::alloc_series(n + 1, unit);
    memory::Series* b = memory::buffer(node);
    std::memcpy(b->at_head(), data, size_t(n) * unit);
    b->tail = b->head + n * unit;
    Cell c = series_cell(t, node, index, t == Type::vector ? uint32_t(element) : 0);
    if (bits) {
        c = bitset::make_cell(node);
        bool complement = compact_ ? h.variant : (h.bits & fixed::complement);
        if (complement) memory::set_series_flags(node, bitset::complement_flag);
    }
    put(s, c);
}

// --- words -------------------------------------------------------------------------------------

void Reader::bind_word(const Sink* word, Node ctx, uint32_t symbol, int32_t index, const uint8_t* at) {
    if (!word) return;
    // Nearly every word names its own spelling at its index: one look at the
    // words block settles it without folding case.
    if (index >= 0) {
        memory::Series* wb = memory::buffer(context::words(ctx));
        if (uint32_t(index) < wb->length() && word_symbol(wb->cells()[index]) == symbol) {
            Cell& w = slot(*word);
            w.w1 = ctx;
            w.w3 = uint32_t(index);
            return;
        }
    }
    // `self` in an object's functions stands for the object without a slot.
    static const uint32_t self_symbol = symbol::resolve(symbol::make("self"));
    if (index == -1 && context::has_self(ctx) && symbol::resolve(symbol) == self_symbol) {
        slot(*word).w1 = ctx;
        slot(*word).w3 = uint32_t(-1);
        return;
    }
    if (index < 0 && !codec_) index = context::find_word(ctx, symbol, true);
    if (index < 0 || uint32_t(index) >= context::length(ctx)) bad(at);
    if (symbol::resolve(word_symbol(context::word_at(ctx, index))) != symbol::resolve(symbol)) bad(at);
    Cell& w = slot(*word);
    w.w1 = ctx;
    w.w3 = uint32_t(index);
}

void Reader::word(const Head& h, Sink& s) {
    Type t = h.type;
    uint32_t sym = symbol_at();
    bool global = compact_ ? !h.variant : (h.bits & fixed::global);
    Cell w = make_cell(t, 0, sym, uint32_t(-1));
    if (global) {
        if (h.boot_word) {  // unbound
            if (!compact_) bad(h.at);
            put(s, w);
            return;
        }
        if (!codec_ || t != Type::refinement) {
            Cell g = global_word(sym);
            w.w1 = g.w1;
            w.w3 = g.w3;
        }
        if (!compact_) u32();  // the index, looked up by name instead
        put(s, w);
        return;
    }
    if (!codec_ && !h.reference && !h.boot_word) {
        const uint8_t* at = p_;
        uint32_t root = count();
        int32_t index = sint();
        Node tn = series_node(target_);
        uint64_t r = uint64_t(base_) + root;
        if (r >= length_of(tn)) bad(at);
        Cell holder = memory::buffer(tn)->cells()[r];
        Type ht = type_of(holder);
        if (ht != Type::object && ht != Type::function && ht != Type::error) bad(at);
        put(s, w);
        bind_word(&s, holder.w1, sym, index, at);
        return;
    }
    const uint8_t* at = p_;
    int32_t index = sint();
    put(s, w);
    if (h.reference) {
        bind_word(&s, owner_context(h), sym, index, at);
        return;
    }
    // The owner follows inline; it is kept only through the word.
    Head oh;
    uint32_t mark = length_of(series_node(scratch_));
    Sink os = scratch_sink();
    if (!read_head(oh, os)) bad(oh.at);
    if ((oh.type != Type::object && oh.type != Type::function && oh.type != Type::error) ||
        oh.reference)
        bad(oh.at);
    owner(oh, os, &s, sym, index);
    drop_scratch(mark);
}

// --- contexts, objects, functions, errors -------------------------------------------------------------

// A context record's head and words: a new context holding them. want_kind
// 0xFF takes any kind (boot roots).
Node Reader::context_header(uint8_t want_kind, bool& values, bool root) {
    const uint8_t* at = p_;
    uint32_t kind;
    bool stack, self;
    if (compact_) {
        if (!root) {
            uint8_t hb = u8();
            if ((hb & 0x3F) != uint8_t(Type::context)) bad(at);
        }
        const uint8_t* f_at = p_;
        uint8_t f = u8();
        kind = f & ctx_flag::kind_mask;
        stack = f & ctx_flag::stack;
        self = f & ctx_flag::self;
        values = (f & ctx_flag::values) && !stack;
        if (kind == 3) bad(f_at);
    } else {
        uint32_t w = root ? 0 : u32();
        if (root) {
            w = uint32_t(Type::context);  // the fixed flavour has no bare contexts
            bad(at);
        }
        if ((w & 0xFF) != uint32_t(Type::context)) bad(at);
        kind = (w >> fixed::ctx_kind_shift) & 3;
        stack = w & fixed::ctx_stack;
        self = w & fixed::ctx_self;
        values = (w & fixed::ctx_values) && !stack;
        if (kind == 3) bad(at);
    }
    if (want_kind != 0xFF && kind != want_kind) bad(at);
    if (want_kind == uint8_t(context::Kind::object) && stack) bad(at);
    if (want_kind == uint8_t(context::Kind::locals) && !stack) bad(at);
    uint32_t n = bounded(1);
    if (trusted_) {
        // The generator refused a word twice: the words go in at once.
        words_.resize(n);
        for (uint32_t i = 0; i < n; ++i) words_[i] = symbol_at();
        return context::create_with_words(words_.data(), n, stack, self, context::Kind(kind));
    }
    Node ctx = context::create(n, stack, self, 0, context::Kind(kind));
    collector::NodeRoot keep(ctx, collector::NodeRoot::As::context);
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* s_at = p_;
        uint32_t sym = symbol_at();
        int32_t index;
        if (context::add_word(ctx, sym, false, index) >= 0) bad(s_at);  // a word twice
    }
    // One value slot per word: made unset for the whole capacity by create.
    if (!stack) {
        memory::Series* vb = memory::buffer(context::values(ctx));
        vb->tail = vb->head + n * uint32_t(sizeof(Cell));
    }
    return ctx;
}

// The values of a context whose words are in: one record per slot.
void Reader::values_into(Node ctx) {
    uint32_t n = context::length(ctx);
    for (uint32_t i = 0; i < n; ++i) {
        Sink v{context::values(ctx), int32_t(i)};
        record(v);
    }
}

Node Reader::owner(const Head& h, Sink& s, const Sink* word, uint32_t symbol, int32_t index) {
    switch (h.type) {
        case Type::object: return object(h, s, word, symbol, index);
        case Type::function: return function(h, s, word, symbol, index);
        default: return error(h, s, word, symbol, index);
    }
}

Node Reader::object(const Head& h, Sink& s, const Sink* word, uint32_t symbol, int32_t index) {
    int32_t class_id = sint();
    bool hooks = compact_ ? h.variant : (h.bits & fixed::hooks);
    int32_t change[2] = {-1, -1};
    const uint8_t* hooks_at = p_;
    if (hooks) {
        change[0] = sint();
        change[1] = sint();
    }
    bool values;
    Node ctx = context_header(uint8_t(context::Kind::object), values, false);
    collector::NodeRoot keep(ctx, collector::NodeRoot::As::context);
    uint32_t id = codec_ ? object::new_class_id() : uint32_t(class_id);
    if (!codec_) object::note_class_id(id);
    Cell o = object::push(ctx, 0, id);
    put(s, o);
    bind_word(word, ctx, symbol, index, h.at);
    if (values) values_into(ctx);
    if (!hooks) return ctx;
    // The handlers are found again by their fields; the numbers written must
    // name fields that hold them.
    Cell obj = slot(s);
    collector::Root keep_obj(obj);
    checked(hooks_at, [&] { object::finish_hooks(obj); });
    Node hn = object::hooks_node(obj);
    for (int i = 0; i < 2; ++i) {
        uint32_t want = uint32_t(change[i]) >> 16;
        uint32_t got = hn ? memory::buffer(hn)->cells()[i].w2 >> 16 : 0xFFFF;
        if ((change[i] < 0 ? 0xFFFFu : want) != got) {
            slot(s) = none_cell();
            bad(hooks_at);
        }
    }
    slot(s) = obj;
    context::owner(ctx) = obj;
    return ctx;
}

Node Reader::function(const Head& h, Sink& s, const Sink* word, uint32_t symbol, int32_t index) {
    uint32_t spec_size = bounded(1);
    uint32_t body_size = bounded(1);
    bool values;
    const uint8_t* ctx_at = p_;
    Node ctx = context_header(uint8_t(context::Kind::locals), values, false);
    collector::NodeRoot keep(ctx, collector::NodeRoot::As::context);
    Node spec = memory::alloc_cells(spec_size ? spec_size : 1);
    collector::NodeRoot keep_spec(spec);
    Node body = memory::alloc_cells(body_size ? body_size : 1);
    collector::NodeRoot keep_body(body);
    Node more = memory::alloc_cells_unset(function::more::size);
    memory::Series* mb = memory::buffer(more);
    mb->tail = mb->head + function::more::size * sizeof(Cell);
    mb->cells()[function::more::body] = series_cell(Type::block, body);
    Cell f = make_cell(Type::function, ctx, spec, more);
    context::owner(ctx) = f;
    put(s, f);
    bind_word(word, ctx, symbol, index, h.at);
    // Spec, then body: plain blocks, or references to blocks.
    for (int part = 0; part < 2; ++part) {
        need(1);
        const uint8_t* at = p_;
        Head bh{p_, Type::any, false, false, false, 0};
        if (compact_) {
            for (;;) {
                uint8_t b = u8();
                if (b == head::newline) bh.newline = true;
                else if (b == head::reference) bh.reference = true;
                else {
                    if (b >= 0x80 || (b & 0x3F) != uint8_t(Type::block)) bad(at);
                    bh.variant = b & head::variant;
                    break;
                }
            }
        } else {
            uint32_t w = u32();
            if ((w & 0xFF) != uint32_t(Type::block)) bad(at);
            bh.reference = w & fixed::reference;
            bh.bits = w;
        }
        bh.type = Type::block;
        Node holder = part == 0 ? spec : body;
        uint32_t head_at = head_index(bh);
        Node got = holder;
        if (bh.reference) {
            Cell c = reach(bh);
            got = series_node(c);
        } else {
            uint32_t n = bounded(1);
            if (head_at > n) bad(at);
            Sink inner{holder, -1};
            for (uint32_t i = 0; i < n; ++i) {
                inner.index = -1;
                record(inner);
            }
        }
        if (got != holder) {
            Cell& fc = slot(s);
            if (part == 0) fc.w2 = got;
            else memory::buffer(fc.w3)->cells()[function::more::body] = series_cell(Type::block, got);
            context::owner(ctx) = fc;
            if (part == 0) spec = got;
        }
    }
    // The locals must be the spec's words, in order, and the spec sound.
    if (trusted_) return ctx;
    Cell spec_cell = series_cell(Type::block, spec);
    collector::Root keep_cell(spec_cell);
    uint32_t k = 0, n = context::length(ctx);
    bool ok = true;
    for (uint32_t i = 0; i < length_of(spec) && ok; ++i) {
        Cell e = memory::buffer(spec)->cells()[i];
        Type et = type_of(e);
        if (et != Type::word && et != Type::get_word && et != Type::lit_word && et != Type::refinement)
            continue;
        ok = k < n && symbol::resolve(word_symbol(context::word_at(ctx, int32_t(k)))) ==
                          symbol::resolve(word_symbol(e));
        ++k;
    }
    if (!ok || k != n) {
        slot(s) = none_cell();
        bad(ctx_at);
    }
    try {
        checked(ctx_at, [&] { function::validate_spec(spec_cell); });
    } catch (...) {
        slot(s) = none_cell();
        throw;
    }
    return ctx;
}

Node Reader::error(const Head& h, Sink& s, const Sink* word, uint32_t symbol, int32_t index) {
    const uint8_t* at = p_;
    uint32_t code = count();
    uint32_t category = code / 100, id = code % 100;
    if (category >= uint32_t(error::catalog::category_count) ||
        id >= uint32_t(error::catalog::id_count(int(category))))
        bad(at);
    Cell e = error::make_from_ids(errors::Id{errors::Category(category), uint8_t(id + 2)});
    put(s, e);
    Node ctx = object::context_node(e);
    bind_word(word, ctx, symbol, index, h.at);
    for (int f = error::field::arg1; f <= error::field::stack; ++f) {
        Sink v{context::values(ctx), f};
        record(v);
    }
    return ctx;
}

// --- natives, actions, operators ------------------------------------------------------------------------

// The spec (native!, action!) or the underlying value (op!) is read into the
// record's own place first, where the writer counted it, then replaced by the
// value its datatype makes of it.
void Reader::native(const Head& h, Sink& s) {
    const uint8_t* at = p_;
    uint32_t index = count();
    if (index < 1 || index > uint32_t(native::table_size)) bad(at);
    record(s);
    Cell sc = slot(s);
    if (!is(sc, Type::block)) bad(at);
    // make native! [spec index]: the table's checks, the arity among them.
    Cell args[2] = {datatype_cell(h.type), unset_cell()};
    collector::Root k0(args[0]), k1(args[1]);
    block::make_at(args[1], 2);
    clear_flag(sc, header::newline);
    block::rs_append(args[1], sc);
    block::rs_append(args[1], integer_cell(int32_t(index)));
    made(h.type, args, at);
    slot(s) = args[0];
}

// Boot mode: the registry key, the extra cell, the spec. A key the registry
// lacks is refused.
void Reader::routine(const Head& h, Sink& s) {
    if (codec_) {
        Cell dt = datatype_cell(Type::routine);
        errors::fire(no_codec(), &dt);
    }
    if (h.reference) {
        put(s, reach(h));
        return;
    }
    const uint8_t* at = p_;
    uint32_t key = symbol_at();
    int32_t extra = sint();
    uint32_t index = routines::find(symbol::name(key));
    if (!index) bad(at);
    record(s);
    Cell spec = slot(s);
    if (!is(spec, Type::block)) bad(at);
    clear_flag(spec, header::newline);
    collector::Root keep(spec);
    Cell r;
    checked(at, [&] { r = routine::push(spec, none_cell(), int32_t(index), extra, h.variant); });
    slot(s) = r;
}

void Reader::op(const Head& h, Sink& s) {
    const uint8_t* at = p_;
    record(s);
    Cell src = slot(s);
    clear_flag(src, header::newline);
    Type st = type_of(src);
    if (!compact_ && Type((h.bits >> fixed::op_shift) & 0xFF) != st) bad(at);
    if (st != Type::native && st != Type::action && st != Type::function &&
        !(st == Type::routine && !codec_))
        bad(at);
    Cell args[2] = {datatype_cell(Type::op), src};
    collector::Root k0(args[0]), k1(args[1]);
    made(Type::op, args, at);
    slot(s) = args[0];
}

// make type! args[1], through the datatype's own make; a refusal is invalid.
void Reader::made(Type t, Cell* args, const uint8_t* at) {
    checked(at, [&] {
        Cell* a = stack::push(args[0]);
        stack::push(args[1]);
        datatype::row(t).make.fn(a, t);
        args[0] = a[0];
        stack::s.top = a;
    });
}

// --- scalars held whole in their cell ----------------------------------------------------------

void Reader::tuple(const Head& h, Sink& s) {
    uint8_t bytes[12] = {};
    int n = 3;
    if (compact_) {
        if (h.variant) {
            const uint8_t* at = p_;
            n = u8();
            if (n < 1 || n > 12) bad(at);
        }
        need(size_t(n));
        std::memcpy(bytes, p_, size_t(n));
        p_ += n;
    } else {
        n = int((h.bits >> fixed::tuple_shift) & 0xF);
        if (n < 1 || n > 12) bad(h.at);
        need(12);
        std::memcpy(bytes, p_, size_t(n));
        p_ += 12;
    }
    put(s, tuple_cell(bytes, n < 3 ? 3 : n));
}

void Reader::date(const Head& h, Sink& s) {
    const uint8_t* at = p_;
    uint32_t w = u32();
    bool timed = w & date_time_flag;
    uint32_t lo = 0, hi = 0;
    if (compact_) {
        if (timed != h.variant) bad(at);
        if (timed) {
            lo = u32();
            hi = u32();
        }
    } else {
        hi = u32();
        lo = u32();
    }
    int32_t year = date::year_of(w), month = date::month_of(w), day = date::day_of(w);
    if (month < 1 || month > 12 || day < 1) bad(at);
    int64_t y;
    int32_t m, d;
    date::civil_of(date::days_of(year, month, day), y, m, d);
    if (y != year || m != month || d != day) bad(at);
    Cell c = make_cell(Type::date, w, timed ? lo : 0, timed ? hi : 0);
    put(s, c);
}

void Reader::money(const Head& h, Sink& s) {
    const uint8_t* at = p_;
    need(12);
    uint8_t bytes[12];
    std::memcpy(bytes, p_, 12);
    p_ += 12;
    if (bytes[0] > money::builtin_currency_count()) bad(at);
    for (int i = 1; i < 12; ++i)
        if ((bytes[i] >> 4) > 9 || (bytes[i] & 15) > 9) bad(at + i);
    bool negative = compact_ ? h.variant : (h.bits & fixed::negative);
    put(s, money::load(negative, bytes[0], bytes + 1));
}

// map!: made empty, then filled pair by pair through put, which checks keys.
void Reader::map(const Head& h, Sink& s) {
    if (h.reference) {
        put(s, reach(h));
        return;
    }
    const uint8_t* at = p_;
    uint32_t n = bounded(1);
    if (n % 2) bad(at);
    Cell m;
    collector::Root keep(m);
    map::make_at(m, nullptr, n / 2);
    put(s, m);
    uint32_t mark = length_of(series_node(scratch_));
    for (uint32_t i = 0; i < n; i += 2) {
        const uint8_t* key_at = p_;
        Sink k = scratch_sink();
        record(k);
        Cell key = slot(k);
        collector::Root keep_k(key);
        clear_flag(key, header::newline);
        // The pair goes in first with a stand-in value, so that a reference
        // from inside the value (a cycle) finds the map's slot.
        uint32_t before = length_of(series_node(m));
        checked(key_at, [&] { map::put(m, key, integer_cell(0), true); });
        if (length_of(series_node(m)) != before + 2) bad(key_at);  // a key twice
        Sink v{series_node(m), int32_t(before + 1)};
        record(v);
        drop_scratch(mark);
    }
}

void Reader::image(const Head& h, Sink& s) {
    uint32_t index = head_index(h);
    if (h.reference) {
        const uint8_t* at = p_;
        Cell c = reach(h);
        if (index > image::pixel_count(c)) bad(at);
        set_series_index(c, index);
        put(s, c);
        return;
    }
    const uint8_t* at = p_;
    uint32_t w, hgt;
    if (compact_) {
        w = leb();
        hgt = leb();
    } else {
        uint32_t size = u32();
        w = size & 0xFFFF;
        hgt = size >> 16;
    }
    if (w > 65535 || hgt > 65535) bad(at);
    uint64_t bytes = uint64_t(w) * hgt * 4;
    if (bytes > left() || index > uint64_t(w) * hgt) bad(at);
    const uint8_t* pixels = p_;
    p_ += bytes;
    Cell c;
    Node record = 0;
    if (w && hgt) {
        checked(at, [&] { record = image::from_pixels(w, hgt, 0, pixels); });
    }
    image::init_image(c, record, w, hgt);
    set_series_index(c, index);
    put(s, c);
}

// --- a whole buffer -----------------------------------------------------------------------------------

uint32_t Reader::run(const Cell& payload) {
    if (size_t(end_ - start_) < 8 || std::memcmp(start_, magic, 6) != 0) {
        Cell v = payload;
        errors::fire(errors::id::invalid_data, &v);
    }
    if (start_[7] & flags::compressed) {
        // Positions in a compressed buffer count in its decompressed form,
        // the 8 header bytes included.
        std::vector<uint8_t> out;
        if (!lz::decompress(start_ + 8, size_t(end_ - start_ - 8), out)) {
            Cell v = payload;
            errors::fire(errors::id::invalid_data, &v);
        }
        inflated_.assign(start_, start_ + 8);
        inflated_.insert(inflated_.end(), out.begin(), out.end());
        start_ = inflated_.data();
        end_ = start_ + inflated_.size();
    }
    p_ = start_ + 8;
    header();
    settle_types();
    Node t = series_node(target_);
    base_ = length_of(t);
    while (p_ < end_) {
        Sink s{t, -1};
        record(s);
    }
    return length_of(t) - base_;
}

// --- entry points --------------------------------------------------------------------------------------

namespace {

struct Reading {
    Reading() {
        if (reading) errors::fire(errors::id::not_done);
        reading = true;
        Depth::start();
    }
    ~Reading() { reading = false; }
};

}  // namespace

uint32_t decode(const uint8_t* data, size_t size, const Cell& target) {
    std::vector<uint8_t> copy(data, data + size);
    Cell t = target;
    collector::Root keep(t);
    Reading on;
    Reader r(copy.data(), copy.size(), t, true);
    Cell payload = none_cell();
    return r.run(payload);
}

Cell decode_value(const uint8_t* data, size_t size, const Cell& payload) {
    Cell p = payload;
    collector::Root keep_p(p);
    if (size <= 10) errors::fire(errors::id::invalid_data, &p);
    std::vector<uint8_t> copy(data, data + size);
    Cell out;
    block::make_at(out, 4);
    collector::Root keep(out);
    {
        Reading on;
        Reader r(copy.data(), copy.size(), out, true);
        r.run(p);
    }
    if (block::rs_length(out) == 1) return *block::rs_abs_at(out, 0);
    return out;
}

namespace {

uint32_t boot_decode(const uint8_t* data, size_t size, const Cell& target, bool trusted) {
    Cell t = target;
    collector::Root keep(t);
    Reading on;
    Reader r(data, size, t, false);
    if (trusted) r.trust();
    boot_target = series_node(t);
    boot_base = length_of(boot_target);
    boot_roots = 0;
    Cell payload = none_cell();
    uint32_t n = r.run(payload);
    boot_roots = n;
    return n;
}

}  // namespace

uint32_t decode_boot(const uint8_t* data, size_t size, const Cell& target) {
    return boot_decode(data, size, target, false);
}

uint32_t load_payload(const uint8_t* data, size_t size) {
    bool was = collector::enabled();
    collector::set_enabled(false);
    uint32_t n = 0;
    // A start-up that cannot decode its own image must not look like success.
    try {
        if (size < 8 || std::memcmp(data, magic, 6) != 0) {
            std::fputs("Error: Not a Zanbin file!\n", stderr);
            std::exit(1);
        }
        n = boot_decode(data, size, block::root(), true);
    } catch (const unwind::Thrown&) {
        bool lz = (data[7] & flags::compressed) && errors::pending_id() == errors::id::invalid_data;
        std::fputs(lz ? "Error: Zanbin compressed data corrupted!\n" : "Error: the boot image cannot be decoded\n",
                   stderr);
        if (is(errors::pending(), Type::error))
            std::fprintf(stderr, "%s\n", error::form_text(errors::pending()).c_str());
        std::exit(1);
    }
    collector::set_enabled(was);
    return n;
}

Cell* root_cell(uint32_t index) { return memory::buffer(boot_target)->cells() + boot_base + index; }
Node root_node(uint32_t index) { return root_cell(index)->w1; }
uint32_t root_count() { return boot_roots; }

}  // namespace zan::zanbin

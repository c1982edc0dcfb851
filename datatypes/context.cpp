// Contexts: layout, word lookup, get/set, binding and the global context.
//
// The context node's series holds two cells: the context cell (w1 word table,
// w2 values series or stack position) and the owner value. The words block is
// the word table's indexed series.
// Invariants: the words block and the values series have the same length unless
// the values live on the stack; word record k has w1 = the context and, except
// for case twins in the global context (which share the first twin's slot),
// w3 = k. The word table indexes the words block by canonical symbol, so every
// letter case of a word falls into one probe sequence.
#include "datatypes/context.h"

#include <array>
#include <unordered_map>
#include <vector>

#include "datatypes/datatype.h"
#include "datatypes/symbol.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"

namespace zan::context {

StackSlots stack_slots = nullptr;
FireOnSet fire_on_set = nullptr;

namespace {

Node global_ = 0;
uint32_t self_symbol_ = 0;  // interned on first use, outside any collection

uint32_t self_symbol() {
    if (!self_symbol_) self_symbol_ = symbol::make("self");
    return self_symbol_;
}

// A new cell at the tail of a cell series (unset), growing the buffer.
Cell& append_cell(Node n) {
    memory::Series* s = memory::buffer(n);
    if (s->tail + sizeof(Cell) > s->capacity) s = memory::expand_series_copy(n, 0);
    Cell* c = reinterpret_cast<Cell*>(s->at_tail());
    *c = unset_cell();
    s->tail += sizeof(Cell);
    return *c;
}

void set_length(Node n, uint32_t cells) {
    memory::Series* s = memory::buffer(n);
    s->tail = s->head + cells * uint32_t(sizeof(Cell));
}

Cell* cells_of(Node n) { return memory::buffer(n)->cells(); }
uint32_t length_of(Node n) { return memory::buffer(n)->length(); }

bool is_word_family(Type t) { return t >= Type::word && t <= Type::refinement; }

bool is_block_like(Type t) {
    switch (t) {
        case Type::block:
        case Type::paren:
        case Type::hash:
        case Type::path:
        case Type::lit_path:
        case Type::set_path:
        case Type::get_path:
            return true;
        default:
            return false;
    }
}

// Collector: a context cell keeps its word table (with the words block) and, unless
// they live on the stack, its values.
void mark_context_cell(Cell& c) {
    if (c.w1) hashtable::mark(c.w1);
    if (!has_flag(c, header::context_on_stack) && c.w2) collector::mark_series(c.w2);
}

// A bound word keeps its context; `self` bound to an object reads the owner.
void mark_word(Cell& c) {
    if (!c.w1) return;
    if (self_symbol_ && c.w2 == self_symbol_ && word_index(c) == -1)
        collector::mark_series(c.w1);
    else
        collector::mark_context(c.w1);
}

// A newly marked context node: its context cell (table and values) and owner.
void mark_context_node(Node n) {
    Cell* c = cells_of(n);
    collector::mark_cells(c, c + 2);
}

void mark_global() {
    if (global_) collector::mark_context(global_);
}

// The value slot at an index, or an error naming the word.
Cell* slot_or_fail(Node ctx, const Cell& word, int32_t index, errors::Id missing) {
    Cell* v = value_at(ctx, index);
    if (!v) errors::fire(missing, &word);
    return v;
}

}  // namespace

Node global() { return global_; }

// --- layout -----------------------------------------------------------------

Cell& cell(Node ctx) { return cells_of(ctx)[0]; }
Cell& owner(Node ctx) { return cells_of(ctx)[1]; }

Kind kind_of(Node ctx) {
    return Kind((cell(ctx).header & header::context_kind_mask) >> header::context_kind_shift);
}
bool values_on_stack(Node ctx) { return has_flag(cell(ctx), header::context_on_stack); }
bool has_self(Node ctx) { return has_flag(cell(ctx), header::context_has_self); }
Node table(Node ctx) { return cell(ctx).w1; }
Node words(Node ctx) { return hashtable::indexed_series(cell(ctx).w1); }
Node values(Node ctx) { return values_on_stack(ctx) ? 0 : cell(ctx).w2; }
uint32_t length(Node ctx) { return length_of(words(ctx)); }
Cell& word_at(Node ctx, int32_t index) { return cells_of(words(ctx))[index]; }

Cell* value_at(Node ctx, int32_t index) {
    const Cell& c = cell(ctx);
    if (c.w2 == 0) return nullptr;
    if (has_flag(c, header::context_on_stack)) {
        if (!stack_slots) return nullptr;
        return stack_slots(c.w2) + index;
    }
    return cells_of(c.w2) + index;
}

void set_stack_position(Node ctx, uint32_t position) { cell(ctx).w2 = position; }

// --- making -----------------------------------------------------------------

namespace {
// The context node itself: its cell (no table or values yet) and an unset owner.
Node context_node(bool on_stack, bool self, Kind kind) {
    Node ctx = memory::alloc_cells(2);
    Cell* c = cells_of(ctx);
    uint32_t h = uint32_t(Type::context) | (uint32_t(kind) << header::context_kind_shift);
    if (on_stack) h |= header::context_on_stack;
    if (self) h |= header::context_has_self;
    c[0] = make_cell(Type::context);
    c[0].header = h;
    c[1] = unset_cell();
    set_length(ctx, 2);
    return ctx;
}
}  // namespace

Node create(uint32_t capacity, bool on_stack, bool self, Node source, Kind kind) {
    if (capacity == 0) capacity = 1;
    Node ctx = context_node(on_stack, self, kind);
    collector::NodeRoot keep_ctx(ctx);

    Node words_node = 0, table_node = 0;
    if (source) {
        words_node = memory::copy_series(words(source));
        collector::NodeRoot keep_words(words_node);
        table_node = hashtable::copy(table(source), words_node);
        cell(ctx).w1 = table_node;
        Cell* w = cells_of(words_node);
        for (uint32_t i = 0, n = length_of(words_node); i < n; ++i) w[i].w1 = ctx;
    } else {
        words_node = memory::alloc_cells(capacity);
        Cell block = series_cell(Type::block, words_node);
        collector::Root keep_block(block);
        table_node = hashtable::make(capacity, &block, hashtable::kind_symbols);
        cell(ctx).w1 = table_node;
    }
    if (!on_stack) {
        Node v = memory::alloc_cells_unset(capacity);
        cell(ctx).w2 = v;
        if (source) set_length(v, length(ctx));
    }
    return ctx;
}

Node create_with_words(const uint32_t* symbols, uint32_t count, bool on_stack, bool self, Kind kind) {
    uint32_t capacity = count ? count : 1;
    Node ctx = context_node(on_stack, self, kind);
    collector::NodeRoot keep_ctx(ctx);
    Node words_node = memory::alloc_cells(capacity);
    Cell block = series_cell(Type::block, words_node);
    collector::Root keep_block(block);
    Cell* w = cells_of(words_node);
    for (uint32_t i = 0; i < count; ++i) w[i] = make_cell(Type::word, ctx, symbols[i], i);
    set_length(words_node, count);
    // The table indexes the words block as it stands, all words at once.
    cell(ctx).w1 = hashtable::make(capacity, &block, hashtable::kind_symbols);
    if (!on_stack) {
        Node v = memory::alloc_cells_unset(capacity);
        cell(ctx).w2 = v;
        set_length(v, count);
    }
    return ctx;
}

Node make_from_spec(const Cell& spec_in, bool on_stack, bool self, Kind kind) {
    Cell spec = spec_in;
    collector::Root keep_spec(spec);
    uint32_t count = length_of(series_node(spec));
    uint32_t head = series_index(spec);
    count = head < count ? count - head : 0;

    // Most specs name each word once, in any letter case: then the context
    // is made with its words at once.
    {
        constexpr uint32_t most = 32;
        uint32_t syms[most], canon[most], n = 0;
        bool simple = true;
        const Cell* c = cells_of(series_node(spec)) + head;
        for (uint32_t i = 0; i < count && simple; ++i) {
            Type t = type_of(c[i]);
            if (t != Type::word && t != Type::get_word && t != Type::lit_word && t != Type::refinement)
                continue;
            if (n == most) {
                simple = false;
                break;
            }
            uint32_t k = symbol::resolve(word_symbol(c[i]));
            for (uint32_t j = 0; j < n; ++j)
                if (canon[j] == k) simple = false;
            syms[n] = word_symbol(c[i]);
            canon[n++] = k;
        }
        if (simple) return create_with_words(syms, n, on_stack, self, kind);
    }
    Node ctx = create(count, on_stack, self, 0, kind);
    collector::NodeRoot keep_ctx(ctx);
    for (uint32_t i = 0; i < count; ++i) {
        const Cell& v = cells_of(series_node(spec))[head + i];
        switch (type_of(v)) {
            case Type::word:
            case Type::get_word:
            case Type::lit_word:
            case Type::refinement: {
                int32_t index;
                add_word(ctx, word_symbol(v), true, index);
                break;
            }
            default:
                break;
        }
    }
    if (!on_stack) {
        // One value per word, whatever the spec repeated.
        Node v = values(ctx);
        uint32_t n = length(ctx);
        if (memory::buffer(v)->capacity < n * sizeof(Cell)) memory::expand_series(v, n * sizeof(Cell));
        Cell* c = cells_of(v);
        for (uint32_t i = 0; i < n; ++i) c[i] = unset_cell();
        set_length(v, n);
    }
    return ctx;
}

Node clone(Cell& value, Kind kind) {
    Node source = value.w1;
    collector::NodeRoot keep_source(source);
    uint32_t capacity = memory::buffer(words(source))->capacity / uint32_t(sizeof(Cell));
    Node ctx = create(capacity, values_on_stack(source), has_self(source), source, kind);
    value.w1 = ctx;
    return ctx;
}

// --- words ------------------------------------------------------------------

int32_t find_word(Node ctx, uint32_t symbol, bool any_case) {
    return hashtable::put_word(table(ctx), symbol, any_case, false);
}

int32_t add_word(Node ctx, uint32_t symbol, bool any_case, int32_t& index) {
    collector::NodeRoot keep(ctx);
    // The table takes the word at the next index; its record goes there.
    int32_t found = hashtable::put_word(table(ctx), symbol, any_case, true);
    if (found >= 0) {
        index = found;
        return found;
    }
    int32_t next = int32_t(length(ctx));
    append_cell(words(ctx)) = make_cell(Type::word, ctx, symbol, uint32_t(next));
    index = next;
    return -1;
}

int32_t add(Node ctx, const Cell& word) {
    collector::NodeRoot keep(ctx);
    int32_t index;
    if (add_word(ctx, word_symbol(word), true, index) >= 0) return index;
    if (!values_on_stack(ctx)) append_cell(values(ctx));
    return index;
}

namespace {
// The word's slot (added when absent) set to the value; nullptr when the values
// are on the stack.
Cell* set_slot(Node ctx, const Cell& word, const Cell& value) {
    Cell v = value;
    collector::Root keep_value(v);
    collector::NodeRoot keep(ctx);
    int32_t index = add(ctx, word);
    Cell* slot = value_at(ctx, index);
    if (slot) *slot = v;
    return slot;
}
}  // namespace

Cell* add_value(Node ctx, const Cell& word, const Cell& value) {
    if (find_word(ctx, word_symbol(word), true) >= 0) return nullptr;
    return set_slot(ctx, word, value);
}

void put(Node ctx, const Cell& word, const Cell& value) { set_slot(ctx, word, value); }

bool collect_set_words(Node ctx, const Cell& block_in) {
    Cell block = block_in;
    collector::Root keep_block(block);
    collector::NodeRoot keep(ctx);
    uint32_t before = length(ctx);
    for (uint32_t i = series_index(block); i < length_of(series_node(block)); ++i) {
        Cell w = cells_of(series_node(block))[i];
        if (is(w, Type::set_word)) add(ctx, w);
    }
    return length(ctx) != before;
}

Cell add_global(uint32_t symbol, bool any_case, bool alias_copy) {
    Node g = global_;
    collector::NodeRoot keep(g);
    int32_t index;
    int32_t found = add_word(g, symbol, any_case, index);
    if (found >= 0) {
        Cell rec = word_at(g, found);
        if (any_case && alias_copy && word_symbol(rec) != symbol) rec.w2 = symbol;
        return rec;
    }
    // Case twins share the value slot of the first twin; a value cell is still
    // appended so that the values stay as long as the words.
    if (symbol::alias(symbol) > 0) {
        int32_t first = find_word(g, symbol, true);
        if (first >= 0) word_at(g, index).w3 = word_at(g, first).w3;
    }
    append_cell(values(g));
    return word_at(g, index);
}

// --- values -----------------------------------------------------------------

Cell* get_by_symbol(uint32_t symbol, Node ctx) {
    if (values_on_stack(ctx)) ctx = global_;
    int32_t pos = find_word(ctx, symbol, true);
    if (pos < 0) return nullptr;
    return value_at(ctx, word_index(word_at(ctx, pos)));
}

Cell* get_in(const Cell& word, Node ctx) {
    int32_t index = word_index(word);
    if (!ctx) errors::fire(index == -1 ? errors::id::no_value : errors::id::not_in_context, &word);
    if (index == -1) {
        if (word_symbol(word) == self_symbol()) return &owner(ctx);
        errors::fire(errors::id::no_value, &word);
    }
    return slot_or_fail(ctx, word, index, errors::id::not_in_context);
}

Cell* get(const Cell& word) { return get_in(word, word_context(word)); }

Cell* set_in(Cell& word, const Cell& value, Node ctx, bool fire) {
    if (!ctx) errors::fire(errors::id::not_defined, &word);
    Cell v = value;
    collector::Root keep_value(v);
    collector::NodeRoot keep(ctx);
    if (word_index(word) == -1) {
        int32_t pos = find_word(ctx, word_symbol(word), false);
        word.w3 = uint32_t(pos >= 0 ? word_index(word_at(ctx, pos)) : add(ctx, word));
    }
    int32_t index = word_index(word);
    Cell* slot = slot_or_fail(ctx, word, index, errors::id::not_defined);
    if (!values_on_stack(ctx) && kind_of(ctx) == Kind::object) {
        set_flag(word_at(ctx, index), header::field_assigned);
        if (fire && fire_on_set) {
            Cell w = word;
            collector::Root keep_word(w);
            if (fire_on_set(ctx, w, v, *slot)) return value_at(ctx, index);
            slot = value_at(ctx, index);
        }
    }
    *slot = v;
    return slot;
}

Cell* set(Cell& word, const Cell& value) { return set_in(word, value, word_context(word), true); }

// --- binding ----------------------------------------------------------------

int32_t bind_word(Node ctx, Cell& word) {
    int32_t pos = find_word(ctx, word_symbol(word), true);
    if (pos < 0) return -1;
    int32_t index = word_index(word_at(ctx, pos));
    word.w1 = ctx;
    word.w3 = uint32_t(index);
    return index;
}

// The series a bind has entered, each with the lowest head index it was
// walked from. Most blocks nest only a few others: a short list serves them
// without allocating; a table takes over beyond it.
class Walked {
public:
    // Whether to walk the series from `from`: not when it was walked from
    // there or from before.
    bool enter(Node n, uint32_t from) {
        if (large_.empty()) {
            for (uint32_t i = 0; i < count_; ++i) {
                if (small_[i].node != n) continue;
                if (small_[i].from <= from) return false;
                small_[i].from = from;
                return true;
            }
            if (count_ < small_.size()) {
                small_[count_++] = {n, from};
                return true;
            }
            for (const Entry& e : small_) large_.emplace(e.node, e.from);
        }
        auto [it, fresh] = large_.try_emplace(n, from);
        if (fresh) return true;
        if (it->second <= from) return false;
        it->second = from;
        return true;
    }

private:
    struct Entry {
        Node node;
        uint32_t from;
    };
    std::array<Entry, 16> small_{};
    uint32_t count_ = 0;
    std::unordered_map<Node, uint32_t> large_;
};

// Walks with an explicit stack, so nesting depth costs heap, not native stack.
// Binding twice changes nothing, so a series met again (a cycle, or a block
// shared by several others) is not walked again. Nothing in the walk allocates
// from the collected heap, so buffers stay put.
void bind(const Cell& block, Node ctx, bool self) {
    struct Pending {
        Node node;
        uint32_t index;
    };
    std::vector<Pending> stack;
    Walked walked;
    uint32_t self_sym = self ? self_symbol() : 0;

    auto enter = [&](const Cell& v) {
        Node n = series_node(v);
        if (n && walked.enter(n, series_index(v))) stack.push_back({n, series_index(v)});
    };

    enter(block);
    while (!stack.empty()) {
        Pending& top = stack.back();
        memory::Series* s = memory::buffer(top.node);
        if (top.index >= s->length()) {
            stack.pop_back();
            continue;
        }
        Cell& v = s->cells()[top.index++];
        Type t = type_of(v);
        if (is_word_family(t)) {
            if (self && t == Type::word && word_symbol(v) == self_sym) {
                v.w1 = ctx;
                v.w3 = uint32_t(-1);
            } else {
                bind_word(ctx, v);
            }
        } else if (is_block_like(t)) {
            enter(v);  // may reallocate `stack`: `top` is not used after this
        }
    }
}

// --- checking ---------------------------------------------------------------

const char* check(Node ctx) {
    const Cell& c = cell(ctx);
    if (!is(c, Type::context)) return "the context cell is not a context!";
    if (!c.w1) return "no word table";
    uint32_t n = length(ctx);
    if (hashtable::count(c.w1) != n) return "the word table does not count every word";
    Node v = values(ctx);
    if (!values_on_stack(ctx) && memory::buffer(v)->length() != n)
        return "values and words differ in length";
    for (uint32_t i = 0; i < n; ++i) {
        const Cell& w = word_at(ctx, int32_t(i));
        if (!is(w, Type::word) || word_context(w) != ctx) return "a word record is not bound here";
        int32_t index = word_index(w);
        if (index < 0 || uint32_t(index) > i) return "a word record's index is wrong";
        // Only a case twin shares the slot of an earlier word.
        if (uint32_t(index) != i &&
            symbol::resolve(word_symbol(word_at(ctx, index))) != symbol::resolve(word_symbol(w)))
            return "a word record shares the slot of another word";
        if (find_word(ctx, word_symbol(w), false) != int32_t(i))
            return "the word table does not find a word at its place";
    }
    return nullptr;
}

// --- start-up ---------------------------------------------------------------

void init() {
    datatype::register_type(Type::context, Type::any, "context!", actions::Row{});
    collector::set_cell_marker(Type::context, mark_context_cell);
    collector::set_context_marker(mark_context_node);
    for (Type t : {Type::word, Type::set_word, Type::lit_word, Type::get_word, Type::refinement})
        collector::set_cell_marker(t, mark_word);
}

void make_global() {
    if (global_) return;  // a second start-up keeps the words already bound
    global_ = create(4000, false, false, 0, Kind::plain);
    collector::register_marker(mark_global);
}

}  // namespace zan::context

// Stand-in for contexts until the real ones are in the tree: the few calls
// native!, function!, object! and error! make, with linear word lookup. It
// compiles to nothing once the context source is present.
#if !__has_include("datatypes/context.cpp")

#include <cstring>

#include "datatypes/block.h"
#include "datatypes/callable_deps.h"
#include "datatypes/datatype.h"
#include "datatypes/mold.h"
#include "datatypes/symbol.h"
#include "runtime/collector.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"

namespace zan::context {

FireOnSet fire_on_set = nullptr;

namespace {

Node global_ = 0;

Cell* cells_of(Node n) { return memory::buffer(n)->cells(); }
uint32_t count_of(Node n) { return memory::buffer(n)->length(); }

void mark_context_node(Node n) {
    Cell* c = cells_of(n);
    collector::mark_cells(c, c + 2);
}
void mark_context_cell(Cell& c) {
    if (c.w1) hashtable::mark(c.w1);
    if (c.w2) collector::mark_series(c.w2);
}
void mark_word(Cell& c) {
    if (c.w1) collector::mark_context(c.w1);
}
void mark_global() {
    if (global_) collector::mark_context(global_);
}

// The word family's text, so that blocks of words can be molded.
int32_t word_text(const Cell& v, Node buffer, int32_t budget) {
    const char* prefix = "";
    const char* suffix = "";
    switch (type_of(v)) {
        case Type::set_word: suffix = ":"; break;
        case Type::lit_word: prefix = "'"; break;
        case Type::get_word: prefix = ":"; break;
        case Type::refinement: prefix = "/"; break;
        default: break;
    }
    budget = mold::append(buffer, prefix, budget);
    budget = mold::append(buffer, symbol::name(word_symbol(v)), budget);
    return mold::append(buffer, suffix, budget);
}
int32_t word_form(const Cell& v, Node buffer, bool, int32_t budget) {
    return mold::append(buffer, symbol::name(word_symbol(v)), budget);
}
int32_t word_mold(const Cell& v, Node buffer, actions::MoldFlags, bool, int32_t budget, int32_t) {
    return word_text(v, buffer, budget);
}

int32_t word_compare(const Cell& a, const Cell& b, int32_t op) {
    if (type_of(b) < Type::word || type_of(b) > Type::refinement) return -2;
    uint32_t x = word_symbol(a), y = word_symbol(b);
    if (op != 2 && op != 8) x = symbol::resolve(x), y = symbol::resolve(y);
    return x < y ? -1 : x > y ? 1 : 0;
}

void setup() {
    static bool done = false;
    if (done) return;
    done = true;
    if (!datatype::registered(Type::word)) {
        actions::Row r;
        r.form = word_form;
        r.mold = word_mold;
        r.compare = word_compare;
        const char* names[] = {"word!", "set-word!", "lit-word!", "get-word!", "refinement!"};
        Type types[] = {Type::word, Type::set_word, Type::lit_word, Type::get_word, Type::refinement};
        for (int i = 0; i < 5; ++i) datatype::register_type(types[i], Type::any, names[i], r);
    }
    collector::set_context_marker(mark_context_node);
    collector::set_cell_marker(Type::context, mark_context_cell);
    for (Type t : {Type::word, Type::set_word, Type::lit_word, Type::get_word, Type::refinement})
        collector::set_cell_marker(t, mark_word);
    collector::register_marker(mark_global);
}

void append_cell(Node n, const Cell& v) {
    Cell block = series_cell(Type::block, n);
    block::rs_append(block, v);
}

}  // namespace

Node global() {
    if (!global_) global_ = create(64, false, false, 0, Kind::plain);
    return global_;
}

Cell& cell(Node ctx) { return cells_of(ctx)[0]; }
Cell& owner(Node ctx) { return cells_of(ctx)[1]; }
Kind kind_of(Node ctx) {
    return Kind((cell(ctx).header & header::context_kind_mask) >> header::context_kind_shift);
}
bool values_on_stack(Node ctx) { return has_flag(cell(ctx), header::context_on_stack); }
bool has_self(Node ctx) { return has_flag(cell(ctx), header::context_has_self); }
Node words(Node ctx) { return hashtable::indexed_series(cell(ctx).w1); }
Node values(Node ctx) { return values_on_stack(ctx) ? 0 : cell(ctx).w2; }
uint32_t length(Node ctx) { return count_of(words(ctx)); }
Cell& word_at(Node ctx, int32_t index) { return cells_of(words(ctx))[index]; }
Cell* value_at(Node ctx, int32_t index) {
    Node v = values(ctx);
    return v ? cells_of(v) + index : nullptr;
}

Node create(uint32_t capacity, bool on_stack, bool self, Node source, Kind kind) {
    setup();
    if (capacity == 0) capacity = 1;
    Node ctx = memory::alloc_cells(2);
    collector::NodeRoot keep(ctx, collector::NodeRoot::As::context);
    {
        memory::Series* b = memory::buffer(ctx);
        b->cells()[0] = make_cell(Type::context);
        b->cells()[1] = unset_cell();
        b->tail = b->head + 2 * sizeof(Cell);
    }
    Cell words_block = series_cell(Type::block, memory::alloc_cells(capacity));
    collector::Root keep_words(words_block);
    Node table = hashtable::make(capacity, &words_block, hashtable::kind_symbols);
    cell(ctx).w1 = table;
    if (!on_stack) cell(ctx).w2 = memory::alloc_cells(capacity);
    Cell& c = cell(ctx);
    c.header |= uint32_t(kind) << header::context_kind_shift;
    if (on_stack) c.header |= header::context_on_stack;
    if (self) c.header |= header::context_has_self;
    if (source) {
        uint32_t n = length(source);
        for (uint32_t i = 0; i < n; ++i) {
            Cell word = word_at(source, int32_t(i));
            word.w1 = ctx;
            word.w3 = i;
            hashtable::put_word(cell(ctx).w1, word_symbol(word), true, true);
            append_cell(words(ctx), word);
            if (!on_stack) append_cell(values(ctx), unset_cell());
        }
    }
    return ctx;
}

int32_t find_word(Node ctx, uint32_t symbol, bool any_case) {
    uint32_t n = length(ctx);
    uint32_t s = any_case ? symbol::resolve(symbol) : symbol;
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t w = word_symbol(word_at(ctx, int32_t(i)));
        if ((any_case ? symbol::resolve(w) : w) == s) return int32_t(i);
    }
    return -1;
}

int32_t add(Node ctx, const Cell& word) {
    int32_t i = find_word(ctx, word_symbol(word), true);
    if (i >= 0) return i;
    i = int32_t(length(ctx));
    hashtable::put_word(cell(ctx).w1, word_symbol(word), true, true);
    Cell rec = make_cell(Type::word, ctx, word_symbol(word), uint32_t(i));
    append_cell(words(ctx), rec);
    if (!values_on_stack(ctx)) append_cell(values(ctx), unset_cell());
    return i;
}

Cell* add_value(Node ctx, const Cell& word, const Cell& value) {
    if (find_word(ctx, word_symbol(word), true) >= 0) return nullptr;
    Cell v = value;
    collector::Root keep(v);
    int32_t i = add(ctx, word);
    Cell* slot = value_at(ctx, i);
    *slot = v;
    return slot;
}

void put(Node ctx, const Cell& word, const Cell& value) {
    Cell v = value;
    collector::Root keep(v);
    int32_t i = add(ctx, word);
    *value_at(ctx, i) = v;
}

bool collect_set_words(Node ctx, const Cell& block_in) {
    Cell b = block_in;
    collector::Root keep(b);
    uint32_t before = length(ctx);
    int32_t n = block::rs_length(b);
    for (int32_t i = 0; i < n; ++i) {
        Cell c = *block::rs_abs_at(b, int32_t(series_index(b)) + i);
        if (is(c, Type::set_word)) add(ctx, c);
    }
    return length(ctx) > before;
}

Node make_from_spec(const Cell& spec_in, bool on_stack, bool self, Kind kind) {
    Cell spec = spec_in;
    collector::Root keep(spec);
    Node ctx = create(uint32_t(block::rs_length(spec)), on_stack, self, 0, kind);
    collector::NodeRoot keep_ctx(ctx, collector::NodeRoot::As::context);
    int32_t n = block::rs_length(spec);
    for (int32_t i = 0; i < n; ++i) {
        Cell c = *block::rs_abs_at(spec, int32_t(series_index(spec)) + i);
        Type t = type_of(c);
        if (t == Type::word || t == Type::get_word || t == Type::lit_word || t == Type::refinement)
            add(ctx, c);
    }
    return ctx;
}

Node clone(Cell& value, Kind kind) {
    Node src = value.w1;
    Node ctx = create(length(src), values_on_stack(src), has_self(src), src, kind);
    if (!values_on_stack(src)) {
        uint32_t n = length(src);
        for (uint32_t i = 0; i < n; ++i) *value_at(ctx, int32_t(i)) = *value_at(src, int32_t(i));
    }
    value.w1 = ctx;
    return ctx;
}

Cell* get(const Cell& word) {
    Node ctx = word_context(word);
    if (!ctx) return nullptr;
    int32_t i = word_index(word);
    if (i < 0) i = find_word(ctx, word_symbol(word), true);
    if (i < 0) return nullptr;
    return value_at(ctx, i);
}

Cell* set_in(Cell& word, const Cell& value, Node ctx, bool fire) {
    Cell v = value;
    collector::Root keep(v);
    int32_t i = word_index(word);
    if (i < 0 || word_context(word) != ctx) {
        i = add(ctx, word);
        word.w1 = ctx;
        word.w3 = uint32_t(i);
    }
    Cell* slot = value_at(ctx, i);
    if (fire && fire_on_set && kind_of(ctx) == Kind::object && fire_on_set(ctx, word, v, *slot))
        return value_at(ctx, i);
    slot = value_at(ctx, i);
    *slot = v;
    return slot;
}

int32_t bind_word(Node ctx, Cell& word) {
    int32_t i = find_word(ctx, word_symbol(word), true);
    if (i < 0) return -1;
    word.w1 = ctx;
    word.w3 = uint32_t(i);
    return i;
}

namespace {
void bind_walk(Node series, Node ctx, bool self, int depth) {
    if (depth > 200) return;
    uint32_t self_sym = symbol::make("self");
    uint32_t n = count_of(series);
    for (uint32_t i = 0; i < n; ++i) {
        Cell& c = cells_of(series)[i];
        Type t = type_of(c);
        if (t == Type::word || t == Type::set_word || t == Type::lit_word || t == Type::get_word ||
            t == Type::refinement) {
            if (self && t == Type::word && word_symbol(c) == self_sym) {
                c.w1 = ctx;
                c.w3 = uint32_t(-1);
            } else {
                bind_word(ctx, c);
            }
        } else if (t == Type::block || t == Type::paren || t == Type::path || t == Type::set_path ||
                   t == Type::get_path || t == Type::lit_path) {
            bind_walk(series_node(c), ctx, self, depth + 1);
        }
    }
}
}  // namespace

void bind(const Cell& block, Node ctx, bool self) { bind_walk(series_node(block), ctx, self, 0); }

}  // namespace zan::context

#endif

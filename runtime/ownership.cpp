// Series ownership: the owner table and the deep walks that set and clear it.
//
// Walks go through an explicit work list, never native recursion, and enter
// each series or context once per walk, which stops cycles (a block holding
// itself, objects holding each other). Work items name cells by node and
// index, since writing a record allocates and may move every buffer.
#include "runtime/ownership.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

#include "runtime/collector.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"

namespace zan::ownership {

namespace {

constexpr uint32_t table_size = 1000;
constexpr uint32_t record_cells = 3;  // owned value, owner object, field word

Node g_table = 0;
DeepChange g_deep_change = nullptr;

void mark_table() { hashtable::mark(g_table); }

// Weak records are not reached by marking: after nodes moved, their keys and
// cells take the new handles here.
void relocate(Cell& c) {
    switch (type_of(c)) {
        case Type::object: c.w1 = collector::relocated(c.w1); c.w3 = collector::relocated(c.w3); break;
        case Type::word: case Type::set_word: case Type::get_word: case Type::lit_word:
            c.w1 = collector::relocated(c.w1);
            break;
        default:
            if (c.w2) c.w2 = collector::relocated(c.w2);
            if (c.w3 && (is(c, Type::string) || is(c, Type::file) || is(c, Type::url) ||
                         is(c, Type::tag) || is(c, Type::email) || is(c, Type::ref)))
                c.w3 = collector::relocated(c.w3);
    }
}
void relocate_records() {
    if (!g_table) return;
    hashtable::relocate_keys(g_table);
    hashtable::for_each_record(g_table, [](Node, Cell* cells) {
        for (uint32_t i = 0; i < record_cells; ++i) relocate(cells[i]);
    });
}
void sweep_records() {
    if (g_table) hashtable::sweep_dead(g_table);
}

enum class Group { none, block, flat, bitset, image, object };

Group group_of(Type t) {
    switch (t) {
        case Type::block: case Type::paren: case Type::hash: case Type::path:
        case Type::lit_path: case Type::set_path: case Type::get_path:
            return Group::block;
        case Type::string: case Type::file: case Type::url: case Type::tag: case Type::email:
        case Type::ref: case Type::binary: case Type::vector:
            return Group::flat;
        case Type::bitset: return Group::bitset;
        case Type::image: return Group::image;
        case Type::object: return Group::object;
        default: return Group::none;
    }
}

// The node a value's record is keyed by.
Node key_of(const Cell& v) {
    return is(v, Type::object) ? Node(v.w1) : series_node(v);
}

// An object's context: the context cell, its words block and values series.
struct Fields {
    Node words = 0;
    Node values = 0;
    uint32_t count = 0;
};
Cell& context_cell(Node ctx) { return memory::buffer(ctx)->cells()[0]; }
Fields fields_of(Node ctx) {
    const Cell& c = context_cell(ctx);
    Fields f;
    if (c.w1 == 0 || c.w2 == 0 || (c.header & header::context_on_stack)) return f;
    f.words = hashtable::indexed_series(c.w1);
    f.values = c.w2;
    f.count = std::min(memory::buffer(f.words)->length(), memory::buffer(f.values)->length());
    return f;
}

// A cell to visit: the top value, or the cell at `at` in the series `holder`.
struct Item {
    Node holder;
    uint32_t at;
    Cell word;
};

class Walk {
public:
    explicit Walk(Cell& top) : top_(top) {}

    Cell& cell(const Item& it) {
        return it.holder ? memory::buffer(it.holder)->cells()[it.at] : top_;
    }
    bool first_visit(Node n) { return seen_.insert(n).second; }

    // Queues the cells of a block from the value's head.
    void push_cells(const Cell& block, const Cell& word) {
        Node n = series_node(block);
        uint32_t len = memory::buffer(n)->length();
        for (uint32_t i = series_index(block); i < len; ++i) items_.push_back({n, i, word});
    }
    // Queues the fields of an object, each with its own word.
    void push_fields(Node ctx, const Cell* skip_owner) {
        Fields f = fields_of(ctx);
        for (uint32_t i = 0; i < f.count; ++i) {
            const Cell& v = memory::buffer(f.values)->cells()[i];
            if (skip_owner && is(v, Type::object) && v.w1 == skip_owner->w1) continue;
            items_.push_back({f.values, i, memory::buffer(f.words)->cells()[i]});
        }
    }
    // Queues the fields of an object met for the first time, unless the object
    // owns its series itself.
    void enter_object(Node ctx, const Cell* skip_owner) {
        if (ctx == 0 || (context_cell(ctx).header & owned_cell_flag) || !first_visit(ctx)) return;
        push_fields(ctx, skip_owner);
    }
    bool next(Item& it) {
        if (items_.empty()) return false;
        it = items_.back();
        items_.pop_back();
        return true;
    }
    void push(const Item& it) { items_.push_back(it); }

private:
    Cell& top_;
    std::vector<Item> items_;
    std::unordered_set<Node> seen_;
};

void write_record(const Cell& value, const Cell& owner, const Cell& word) {
    Cell v = value, o = owner, w = word;
    Cell* r = hashtable::put_ptr(g_table, key_of(v));
    r[0] = v;
    r[1] = o;
    r[2] = w;
}

void drop_record(Node key) {
    Cell* r = hashtable::get_ptr(g_table, key);
    if (!r) return;
    for (uint32_t i = 0; i < record_cells; ++i) r[i] = unset_cell();
    hashtable::delete_ptr(g_table, key);
}

// Sets a buffer's owned flag; answers whether it was already set.
bool flag_buffer(Node n) {
    memory::Series* s = memory::buffer(n);
    bool was = (s->flags & memory::flag::owned) != 0;
    s->flags |= memory::flag::owned;
    return was;
}

}  // namespace

void init() {
    if (g_table) return;
    collector::register_marker(mark_table);
    collector::set_owner_sweep(sweep_records);
    collector::set_relocation_hook(relocate_records);
    g_table = hashtable::make(table_size, nullptr, hashtable::kind_owners, record_cells);
}

Node table() { return g_table; }

void set_owner_deep(Cell& value, const Cell& owner_in, const Cell& word_in) {
    if (!g_table) init();
    Cell owner = owner_in;
    collector::Root keep_owner(owner);
    hashtable::NodesStay stay;  // the walk keeps nodes where marking does not see them
    Walk walk(value);
    walk.push({0, 0, word_in});
    Item it;
    while (walk.next(it)) {
        Cell v = walk.cell(it);
        Group g = group_of(type_of(v));
        if (g == Group::none) continue;
        if (g == Group::object) {
            walk.enter_object(v.w1, &owner);
            continue;
        }
        if (g == Group::image) {
            Cell& c = walk.cell(it);
            bool was = (c.header & owned_cell_flag) != 0;
            c.header |= owned_cell_flag;
            v = c;
            if (!was && key_of(v)) write_record(v, owner, it.word);
            continue;
        }
        Node n = series_node(v);
        if (n == 0) continue;
        bool was = flag_buffer(n);
        if (!was) write_record(v, owner, it.word);
        if (g == Group::block && walk.first_visit(n)) walk.push_cells(v, it.word);
    }
}

void bind(Cell& value, const Cell& owner, const Cell& word) {
    Cell o = owner;
    collector::Root keep(o);
    set_owner_deep(value, o, word);
    if (is(o, Type::object) && o.w1) context_cell(o.w1).header |= owned_cell_flag;
}

void unbind(Cell& value) {
    if (!g_table) return;
    hashtable::NodesStay stay;
    Walk walk(value);
    walk.push({0, 0, unset_cell()});
    Item it;
    while (walk.next(it)) {
        Cell v = walk.cell(it);
        Group g = group_of(type_of(v));
        if (g == Group::none) continue;
        if (g == Group::object) {
            walk.enter_object(v.w1, nullptr);
            continue;
        }
        if (g == Group::image) {
            walk.cell(it).header &= ~owned_cell_flag;
            if (key_of(v)) drop_record(key_of(v));
            continue;
        }
        Node n = series_node(v);
        if (n == 0) continue;
        memory::buffer(n)->flags &= ~memory::flag::owned;
        drop_record(n);
        if (g == Group::block && walk.first_visit(n)) walk.push_cells(v, it.word);
    }
}

void unset_owner_range(const Cell& series, uint32_t index, uint32_t count) {
    Node n = series_node(series);
    if (n == 0) return;
    collector::NodeRoot keep(n);
    for (uint32_t i = index; i < index + count; ++i) {
        if (i >= memory::buffer(n)->length()) break;
        Cell c = memory::buffer(n)->cells()[i];
        if (group_of(type_of(c)) == Group::none) continue;
        collector::Root keep_cell(c);
        unbind(c);
        if (is(c, Type::image) && i < memory::buffer(n)->length())
            memory::buffer(n)->cells()[i].header &= ~owned_cell_flag;
    }
}

Cell* get_owner(Node series) {
    if (!g_table || series == 0) return nullptr;
    Cell* r = hashtable::get_ptr(g_table, series);
    return r ? r + 1 : nullptr;
}

Cell* get_owner_word(Node series) {
    if (!g_table || series == 0) return nullptr;
    Cell* r = hashtable::get_ptr(g_table, series);
    return r ? r + 2 : nullptr;
}

bool check(const Cell& series, const Cell& action, int32_t index, int32_t count, int32_t part,
           const Cell* value) {
    if (!g_table || !g_deep_change) return false;
    Node key = key_of(series);
    if (key == 0) return false;
    Cell* r = hashtable::get_ptr(g_table, key);
    if (!r) return false;
    Cell owner = r[1], word = r[2];
    if (!is(owner, Type::object) || owner.w3 == 0) return false;
    Cell s = series, a = action, v = value ? *value : none_cell();
    collector::Root k1(owner), k2(word), k3(s), k4(a), k5(v);
    g_deep_change(owner, word, s, a, v, index, count, part);
    return true;
}

void set_deep_change_hook(DeepChange fn) { g_deep_change = fn; }
DeepChange deep_change_hook() { return g_deep_change; }

void sweep() { sweep_records(); }

}  // namespace zan::ownership

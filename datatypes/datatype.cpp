// The datatype registry: one resolved row of action slots per type id and one
// name entry per type id, written once per type at start-up.
//
// Inheritance is resolved by copying when a type registers: a slot marked
// inherited takes the parent's routine as it stands then, so parents register
// first and a later change to a parent does not reach its children.
#include "datatypes/datatype.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "datatypes/block.h"
#include "datatypes/mold.h"
#include "datatypes/word.h"
#include "runtime/collector.h"
#include "runtime/errors.h"

namespace zan::datatype {

namespace {

actions::Row table[type_count_max];

struct NameEntry {
    const char* name = nullptr;  // with its "!"
    int length = 0;              // without the "!"
    Cell word;                   // a word! once made
};
NameEntry names[type_count_max];

int highest = 0;
bool words_made = false;

void mark_name_words() {
    for (NameEntry& e : names) collector::mark_cell(e.word);
}

[[noreturn]] void fail_registration(const char* what, int type_id, long found, long expected) {
    std::printf("*** Datatype Error: %s: %d\n", what, type_id);
    std::printf("*** Found: %ld\n", found);
    std::printf("*** Expected: %ld\n", expected);
    std::fflush(stdout);
    std::exit(1);
}

template <typename Fn>
void resolve(actions::SlotValue<Fn>& slot, const actions::SlotValue<Fn>& given,
             const actions::SlotValue<Fn>* parent) {
    if (given.kind == actions::SlotValue<Fn>::inherit)
        slot = parent ? *parent : actions::SlotValue<Fn>();
    else
        slot = given;
}

}  // namespace

void register_type(Type id, Type parent, const char* name, const actions::Row& row,
                   int slot_count) {
    int t = int(id), p = int(parent);
    // Ids outside the tables would write past them.
    if (t < 1 || t >= type_count_max)
        fail_registration("type id out of range for type", t, t, type_count_max - 1);
    if (p < 0 || p >= type_count_max)
        fail_registration("parent id out of range for type", t, p, type_count_max - 1);
    if (t > highest) highest = t;

    names[t].name = name;
    names[t].length = int(std::strlen(name)) - 1;
    if (words_made) names[t].word = word::load(name);

    if (slot_count != actions::slot_count)
        fail_registration("invalid actions count for type", t, slot_count, actions::slot_count);

    const actions::Row* from = p != 0 ? &table[p] : nullptr;
    actions::Row& to = table[t];
#define ZAN_RESOLVE(n, member, word, result, params) \
    resolve(to.member, row.member, from ? &from->member : nullptr);
    ZAN_ACTION_LIST(ZAN_RESOLVE)
#undef ZAN_RESOLVE
}

const actions::Row& row(Type t) { return table[int(t)]; }

namespace {
// Every type's spelling by id, for the types not registered yet: an error
// naming one must not read "does not allow  for".
constexpr const char* spellings[] = {
    nullptr,      "datatype!", "unset!",    "none!",       "logic!",    "block!",
    "paren!",     "string!",   "file!",     "url!",        "char!",     "integer!",
    "float!",     "symbol!",   "context!",  "word!",       "set-word!", "lit-word!",
    "get-word!",  "refinement!", "issue!",  "native!",     "action!",   "op!",
    "function!",  "path!",     "lit-path!", "set-path!",   "get-path!", "routine!",
    "bitset!",    "triple!",   "object!",   "typeset!",    "error!",    "vector!",
    "hash!",      "pair!",     "percent!",  "tuple!",      "map!",      "binary!",
    "series!",    "time!",     "tag!",      "email!",      "handle!",   "date!",
    "port!",      "money!",    "ref!",      "point2D!",    "point3D!",  "image!",
    "event!",
};
}  // namespace

std::string_view name(Type t) {
    const NameEntry& e = names[int(t)];
    if (e.name) return std::string_view(e.name, size_t(e.length) + 1);
    if (size_t(t) < std::size(spellings) && spellings[int(t)]) return spellings[int(t)];
    return std::string_view();
}

int type_count() { return highest; }

Cell name_word(Type t) {
    const NameEntry& e = names[int(t)];
    return is(e.word, Type::word) ? e.word : none_cell();
}

void make_name_words() {
    if (words_made) return;
    words_made = true;
    collector::register_marker(mark_name_words);
    for (int t = 1; t <= highest; ++t)
        if (names[t].name) names[t].word = word::load(names[t].name);
}

bool registered(Type t) { return int(t) >= 1 && int(t) < type_count_max && names[int(t)].name; }

// --- datatype! ----------------------------------------------------------------

Cell* make_in(const Cell& block, Type t) { return block::rs_append(block, datatype_cell(t)); }

int32_t form(const Cell& value, Node buffer, bool, int32_t budget) {
    std::string_view n = name(Type(value.w1));
    if (n.empty()) return budget;
    n.remove_suffix(1);
    return mold::append(buffer, n, budget);
}

int32_t mold(const Cell& value, Node buffer, actions::MoldFlags flags, bool, int32_t budget,
             int32_t) {
    if (flags.all) budget = mold::append(buffer, "#(", budget);
    budget = mold::append(buffer, name(Type(value.w1)), budget);
    if (flags.all) budget = mold::append(buffer, ")", budget);
    return budget;
}

int32_t compare(const Cell& a, const Cell& b, int32_t op) {
    switch (op) {
    case 0: case 1: case 2: case 9: case 12:
        return is(b, Type::datatype) && b.w1 == a.w1 ? 0 : 1;
    default:
        return -2;
    }
}

void init() {
    actions::Row r;
    r.form = form;
    r.mold = mold;
    r.compare = compare;
    register_type(Type::datatype, Type::any, "datatype!", r);
}

}  // namespace zan::datatype

namespace zan::actions {

const char* slot_word(int slot) {
    static const char* const words[] = {
#define ZAN_SLOT_WORD(n, member, word, result, params) word,
        ZAN_ACTION_LIST(ZAN_SLOT_WORD)
#undef ZAN_SLOT_WORD
    };
    return slot >= 1 && slot <= slot_count ? words[slot - 1] : nullptr;
}

void inherit(Row& row, std::initializer_list<Slot> slots) {
    for (Slot slot : slots) switch (slot) {
#define ZAN_SLOT_INHERIT(n, member, word, result, params) \
    case Slot::member: row.member = decltype(row.member)::inherited(); break;
            ZAN_ACTION_LIST(ZAN_SLOT_INHERIT)
#undef ZAN_SLOT_INHERIT
        }
}

void inherit_series_slots(Row& row) {
    inherit(row, {Slot::at, Slot::back, Slot::clear, Slot::head, Slot::head_q, Slot::index_q, Slot::length_q,
                  Slot::move, Slot::next, Slot::pick, Slot::poke, Slot::remove, Slot::reverse, Slot::skip,
                  Slot::tail, Slot::tail_q, Slot::take, Slot::modify});
}

}  // namespace zan::actions

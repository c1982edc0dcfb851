// The word family: creation from names and symbols, reading and writing through
// a word, and the make/to, form, mold, compare and index? actions.
//
// Words compare through their symbols' canonical ids (the first-interned letter
// case of a spelling), so `abc` equals `ABC` unless the comparison is strict.
// Words made from names are global words; a name that differs only in letter
// case from a global word keeps its own spelling but shares the value slot.
#include "datatypes/word.h"

#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/mold.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/unicode.h"

namespace zan::word {

Transcode transcode = nullptr;

namespace {

std::string_view spelling(uint32_t symbol) { return symbol::name(symbol); }

// A copy of the spelling: the name's buffer may move while the text is written.
std::string spelling_copy(uint32_t symbol) { return std::string(spelling(symbol)); }

int32_t emit_spelling(const Cell& w, Node buffer, int32_t budget) {
    std::string s = spelling_copy(word_symbol(w));
    string::append_utf8(buffer, s);
    auto bytes = reinterpret_cast<const uint8_t*>(s.data());
    return budget - int32_t(unicode::count_utf8_chars(bytes, bytes + s.size()));
}

std::string utf8_of_char(uint32_t cp) {
    uint8_t bytes[4];
    uint32_t n = unicode::cp_to_utf8(cp, bytes);
    return std::string(reinterpret_cast<const char*>(bytes), n);
}

// The text must load as exactly one value of the word family.
Cell word_from_text(std::string_view utf8) {
    Cell first;
    if (!transcode || transcode(utf8, first) != 1 || !(is_word_family(type_of(first)) ||
                                                      is(first, Type::issue)))
        errors::fire(errors::id::invalid_chars);
    return first;
}

bool is_plain_word_type(Type t) { return t >= Type::word && t <= Type::get_word; }

uint32_t canonical(const Cell& w) { return symbol::resolve(word_symbol(w)); }

bool word_lit_pair(Type a, Type b) {
    return (a == Type::word && b == Type::lit_word) || (a == Type::lit_word && b == Type::word);
}

int32_t mold_with(char before, char after, const Cell& value, Node buffer, int32_t budget) {
    Cell w = value;  // writing may move the buffer that holds the value
    if (before) budget = mold::append(buffer, std::string_view(&before, 1), budget);
    budget = emit_spelling(w, buffer, budget);
    if (after) budget = mold::append(buffer, std::string_view(&after, 1), budget);
    return budget;
}

}  // namespace

bool is_word_family(Type t) { return t >= Type::word && t <= Type::refinement; }

// --- creation ---------------------------------------------------------------

Cell load(const char* name) { return context::add_global(symbol::make(name), true, true); }

Cell load_symbol(uint32_t symbol) { return context::add_global(symbol, false, true); }

Cell load_as(Type t, const char* name) {
    if (t == Type::refinement) return make_cell(Type::refinement, 0, symbol::make(name), uint32_t(-1));
    Cell w = load(name);
    return set_type(w, t);
}

Cell& make_at(uint32_t symbol, Cell& cell) {
    Cell w = make_cell(Type::word, 0, symbol, uint32_t(-1));
    int32_t index = context::add(context::global(), w);
    cell = make_cell(Type::word, context::global(), symbol, uint32_t(index));
    return cell;
}

Cell* make_in(uint32_t symbol, const Cell& block) {
    Cell w;
    make_at(symbol, w);  // may allocate: the block's cell is made after
    return block::rs_append(block, w);
}

Cell* make_in_text(const char* name, const Cell& block) {
    Cell b = block;
    collector::Root keep(b);
    return make_in(symbol::make(name), b);
}

Cell* make_in_as(Type t, const char* name, const Cell& block) {
    Cell b = block;
    collector::Root keep(b);
    if (t == Type::refinement) return block::rs_append(b, load_as(t, name));
    Cell* c = make_in_text(name, b);
    set_type(*c, t);
    return c;
}

Cell at_local(Node ctx, int32_t index) { return context::word_at(ctx, index); }

Cell find_in_context(Node ctx, uint32_t symbol) {
    int32_t pos = context::find_word(ctx, symbol, false);
    if (pos >= 0) return context::word_at(ctx, pos);
    return load_symbol(symbol);
}

Cell* local_value_at(Node ctx, int32_t index) { return context::value_at(ctx, index); }

// A copy: a string sharing the symbol's own buffer would let a script change
// the spelling of every word of that symbol.
Cell as_string(const Cell& word) { return symbol::spelling(word_symbol(word)); }

int32_t transcode_name(const Cell& word) {
    Cell first;
    if (!transcode || transcode(spelling_copy(word_symbol(word)), first) < 1) return -1;
    return type_id(first);
}

// --- reading and writing ----------------------------------------------------

Cell get(const Cell& word) {
    Cell v = *context::get(word);
    if (is(v, Type::unset)) errors::fire(errors::id::no_value, &word);
    return v;
}

Cell get_local(Node ctx, int32_t index) {
    Cell* v = context::value_at(ctx, index);
    if (!v) {
        Cell w = context::word_at(ctx, index);
        errors::fire(errors::id::not_defined, &w);
    }
    return *v;
}

void set_checked(Cell& word, const Cell& value) {
    if (is(value, Type::unset)) errors::fire(errors::id::need_value, &word);
    context::set(word, value);
}

// --- actions ----------------------------------------------------------------

// args[0] the target, args[1] the spec; the result keeps the spec's payload and
// takes the target type.
void make(actions::Args args, Type type) {
    Cell& result = args[0];
    const Cell& spec = args[1];
    Cell w;
    switch (type_of(spec)) {
        case Type::datatype: {
            std::string name(datatype::name(Type(spec.w1)));
            w = load(name.c_str());
            break;
        }
        case Type::logic:
            w = load(logic_of(spec) ? "true" : "false");
            break;
        case Type::string:
            w = word_from_text(string::to_utf8(spec));
            break;
        case Type::char_:
            w = word_from_text(utf8_of_char(spec.w2));
            break;
        case Type::word:
        case Type::set_word:
        case Type::lit_word:
        case Type::get_word:
            w = spec;
            break;
        case Type::refinement:
        case Type::issue: {
            int32_t t = transcode_name(spec);
            if (t < 0 || !is_plain_word_type(Type(t))) {
                Cell target = datatype_cell(type);
                errors::fire(errors::id::bad_to_arg, &target, &spec);
            }
            // An unbound refinement gets the global word of its name.
            w = spec;
            make_at(word_symbol(spec), w);
            break;
        }
        default: {
            Cell target = datatype_cell(type);
            errors::fire(errors::id::bad_to_arg, &target, &spec);
        }
    }
    clear_newline(w);
    result = set_type(w, type);
}

int32_t form(const Cell& value, Node buffer, bool, int32_t budget) {
    return emit_spelling(value, buffer, budget);
}

int32_t mold(const Cell& value, Node buffer, actions::MoldFlags, bool, int32_t budget, int32_t) {
    return emit_spelling(value, buffer, budget);
}
int32_t mold_set(const Cell& value, Node buffer, actions::MoldFlags, bool, int32_t budget,
                 int32_t) {
    return mold_with(0, ':', value, buffer, budget);
}
int32_t mold_lit(const Cell& value, Node buffer, actions::MoldFlags, bool, int32_t budget,
                 int32_t) {
    return mold_with('\'', 0, value, buffer, budget);
}
int32_t mold_get(const Cell& value, Node buffer, actions::MoldFlags, bool, int32_t budget,
                 int32_t) {
    return mold_with(':', 0, value, buffer, budget);
}
int32_t mold_refinement(const Cell& value, Node buffer, actions::MoldFlags, bool, int32_t budget,
                        int32_t) {
    return mold_with('/', 0, value, buffer, budget);
}

int32_t compare(const Cell& a, const Cell& b, int32_t op) {
    Type ta = type_of(a), tb = type_of(b);
    if (!(is_word_family(tb) || tb == Type::issue) || (tb == Type::issue && ta != Type::issue))
        return -2;
    auto differ = [](bool equal) { return equal ? 0 : 1; };
    switch (op) {
        case 9:
            return differ(a.w2 == b.w2 && a.w1 == b.w1 && ta == tb);
        case 2:
            return differ(ta == tb && a.w2 == b.w2);
        case 10:
            if (word_lit_pair(ta, tb)) return differ(a.w2 == b.w2);
            return differ(ta == tb && a.w2 == b.w2);
        case 11:
            if (word_lit_pair(ta, tb)) return differ(canonical(a) == canonical(b));
            return differ(ta == tb && canonical(a) == canonical(b));
        case 0:
        case 1:
        case 12:
            return differ(canonical(a) == canonical(b));
        default: {
            // The spellings compared as text; fetching an entry may move a and b.
            uint32_t symbol_b = b.w2;
            Cell sa = symbol::get(a.w2);
            Cell sb = symbol::get(symbol_b);
            return symbol::compare(sa, sb, op);
        }
    }
}

void index_q(actions::Args args) {
    int32_t index = word_index(args[0]);
    args[0] = index == -1 ? none_cell() : integer_cell(index + 1);
}

// --- registration -----------------------------------------------------------

void init() {
    using actions::Row;
    Row base;
    base.make = make;
    base.to = make;
    base.form = form;
    base.mold = mold;
    base.compare = compare;
    base.index_q = index_q;
    datatype::register_type(Type::word, Type::symbol, "word!", base);

    auto derived = [](Type t, const char* name, actions::Fn_mold m, bool index) {
        Row r;
        auto inherit = [](auto& slot) { slot = std::remove_reference_t<decltype(slot)>::inherited(); };
        inherit(r.make);
        inherit(r.to);
        inherit(r.form);
        inherit(r.compare);
        if (index) inherit(r.index_q);
        r.mold = m;
        datatype::register_type(t, Type::word, name, r);
    };
    derived(Type::lit_word, "lit-word!", mold_lit, true);
    derived(Type::set_word, "set-word!", mold_set, true);
    derived(Type::get_word, "get-word!", mold_get, true);
    derived(Type::refinement, "refinement!", mold_refinement, false);
}

}  // namespace zan::word

// The runtime's own symbols and words, and services shared by compiled and
// interpreted code.
#include "datatypes/runtime_words.h"

#include "datatypes/datatype.h"
#include <iterator>

#include "datatypes/issue.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"

namespace zan::runtime_words {

namespace {

constexpr const char* symbol_spellings[] = {
#define ZAN_SYM_TEXT(id, text) text,
    ZAN_RUNTIME_SYMBOLS(ZAN_SYM_TEXT)
#undef ZAN_SYM_TEXT
};

constexpr const char* word_spellings[] = {
#define ZAN_WORD_TEXT(id, text) text,
    ZAN_RUNTIME_WORDS(ZAN_WORD_TEXT)
#undef ZAN_WORD_TEXT
};

constexpr const char* refinement_spellings[] = {"local", "extern", "compare", "part", "skip", "with"};
static_assert(std::size(refinement_spellings) == size_t(Refinement::count_));

uint32_t symbol_ids[size_t(Sym::count_)];

// The word cells are bound to the global context: marked, they stay current.
struct Kept {
    Cell words[size_t(Word::count_)];
    Cell refinements[size_t(Refinement::count_)];
    Cell ooo;
} kept;

void mark_kept() {
    collector::mark_cells(kept.words, kept.words + size_t(Word::count_));
    collector::mark_cells(kept.refinements, kept.refinements + size_t(Refinement::count_));
    collector::mark_cell(kept.ooo);
}

void register_marker_once() {
    static bool done = false;
    if (done) return;
    done = true;
    collector::register_marker(mark_kept);
}

}  // namespace

void init_words() {
    register_marker_once();
    for (size_t i = 0; i < size_t(Sym::count_); ++i) symbol_ids[i] = symbol::make(symbol_spellings[i]);
    for (size_t i = 0; i < size_t(Word::count_); ++i) {
        Cell w = word::load(word_spellings[i]);
        kept.words[i] = w;
    }
}

void init_refinement_words() {
    register_marker_once();
    for (size_t i = 0; i < size_t(Refinement::count_); ++i)
        kept.refinements[i] = word::load_as(Type::refinement, refinement_spellings[i]);
}

void init_issue_words() {
    register_marker_once();
    Cell ooo;
    issue::make_at(ooo, "ooo");
    kept.ooo = ooo;
}

uint32_t symbol(Sym s) { return symbol_ids[size_t(s)]; }
const Cell& word(Word w) { return kept.words[size_t(w)]; }
const Cell& refinement(Refinement r) { return kept.refinements[size_t(r)]; }
const Cell& issue_ooo() { return kept.ooo; }

const char* spelling(Sym s) { return symbol_spellings[size_t(s)]; }
const char* spelling(Word w) { return word_spellings[size_t(w)]; }

}  // namespace zan::runtime_words

namespace zan::interp {

const Cell& check_arg_type(const Cell& typeset, int position, const Cell& value) {
    if (!typeset::has(typeset, type_of(value))) errors::expect_arg(value, position);
    return value;
}

void check_arg_type_at(const Cell* base, int32_t index, const Cell& typeset, int position) {
    if (index >= 0) check_arg_type(typeset, position, base[index]);
}

void check_arg_type_opt(const Cell& refinement, const Cell& typeset, int position,
                        const Cell& value) {
    if (logic_of(refinement)) check_arg_type(typeset, position, value);
}

void check_unset(int position, const Cell& value) {
    if (is(value, Type::unset)) errors::expect_arg(value, position);
}

void init_refinements(Cell* base, const Cell& refinement, int32_t index, int32_t count) {
    if (is_truthy(refinement)) {
        base[index].w1 = 1;
        return;
    }
    for (int32_t k = 1; k <= count; ++k) base[index + k] = none_cell();
}

Cell switch_find(const Cell& value, const Cell& cases, bool interpreted, bool to_block) {
    if (is(value, Type::block)) return none_cell();
    auto compare = datatype::row(type_of(value)).compare.fn;
    if (!compare) return none_cell();
    Node n = series_node(cases);
    uint32_t step = interpreted ? 1 : 2;
    // A comparator may allocate and so move the buffer: re-read it each time.
    for (uint32_t i = series_index(cases); i < memory::buffer(n)->length(); i += step) {
        Cell c = memory::buffer(n)->cells()[i];
        if (type_id(c) != type_id(value) || compare(c, value, 0) != 0) continue;
        uint32_t length = memory::buffer(n)->length();
        if (!to_block) return i + 1 < length ? memory::buffer(n)->cells()[i + 1] : c;
        for (uint32_t k = i + 1; k < length; ++k) {
            Cell b = memory::buffer(n)->cells()[k];
            if (is(b, Type::block)) return b;
        }
        return none_cell();
    }
    return none_cell();
}

}  // namespace zan::interp

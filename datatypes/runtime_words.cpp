// The runtime's own symbols and words, and services shared by compiled and
// interpreted code.
#include "datatypes/runtime_words.h"

#include "datatypes/datatype.h"
#include "datatypes/symbol.h"
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

uint32_t symbol_ids[size_t(Sym::count_)];

}  // namespace

void init_symbols() {
    for (size_t i = 0; i < size_t(Sym::count_); ++i) symbol_ids[i] = symbol::make(symbol_spellings[i]);
}

uint32_t symbol(Sym s) { return symbol_ids[size_t(s)]; }

const char* spelling(Sym s) { return symbol_spellings[size_t(s)]; }
const char* spelling(Word w) { return word_spellings[size_t(w)]; }

}  // namespace zan::runtime_words

namespace zan::interp {

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

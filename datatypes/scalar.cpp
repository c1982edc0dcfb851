// Helpers of the datatypes held whole in their cell.
#include "datatypes/scalar.h"

#include "datatypes/error.h"
#include "datatypes/integer.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/memory.h"

namespace zan::scalar {

int32_t field_of_word(const Cell& word, std::initializer_list<const char*> names) {
    if (!word::is_word_family(type_of(word))) return 0;
    uint32_t s = symbol::resolve(word_symbol(word));
    int32_t i = 1;
    for (const char* name : names) {
        if (symbol::resolve(symbol::make(name)) == s) return i;
        ++i;
    }
    return 0;
}

int32_t field_of(const Cell& element, std::initializer_list<const char*> names) {
    if (is(element, Type::integer)) return int_of(element);
    if (is(element, Type::word)) return field_of_word(element, names);
    return 0;
}

bool load_first(const Cell& text, Type want, Cell& out) {
    if (!series::is_string_like(type_of(text)) || !word::transcode) return false;
    Cell first = none_cell();
    if (word::transcode(string::to_utf8(text), first) < 1) return false;
    if (!is(first, want)) return false;
    out = first;
    return true;
}

void bad_to_arg(Type t, const Cell& spec) {
    Cell type = datatype_cell(t);
    errors::fire(errors::id::bad_to_arg, &type, &spec);
}

void malconstruct(const Cell& spec) { errors::fire(error::ids::malconstruct, &spec); }

void invalid_path(const actions::PathStep& s) {
    Cell path = s.path ? *s.path : none_cell();
    errors::fire(errors::id::invalid_path, &path, s.element);
}

void invalid_type_of(const Cell& value) {
    Cell type = datatype_cell(type_of(value));
    errors::fire(errors::id::invalid_type, &type);
}

void invalid_arg(const Cell& value) { errors::fire(errors::id::invalid_arg, &value); }
void out_of_range(const Cell& index) { errors::fire(errors::id::out_of_range, &index); }
void cannot_use(const Cell& word, const Cell& value) {
    errors::fire(errors::id::cannot_use, &word, &value);
}

void not_related(Type t) {
    Cell word = errors::call_word();
    Cell type = datatype_cell(t);
    errors::fire(errors::id::not_related, &word, &type);
}

void not_related_op(int op, Type t) {
    using runtime_words::Word;
    Word w = op == integer::subtract   ? Word::subtract
             : op == integer::divide   ? Word::divide
             : op == integer::multiply ? Word::multiply
                                       : Word::add;
    Cell word = runtime_words::word(w);
    if (!is(word, Type::word)) word = errors::call_word();
    Cell type = datatype_cell(t);
    errors::fire(errors::id::not_related, &word, &type);
}

const Cell* block_values(const Cell& block, uint32_t& count) {
    memory::Series* s = memory::buffer(series_node(block));
    uint32_t at = series_index(block), length = s->length();
    count = at < length ? length - at : 0;
    return s->cells() + at;
}

}  // namespace zan::scalar

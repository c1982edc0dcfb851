// issue!: a word without a variable. It keeps the word layout so that word
// routines (form, comparison) work on it unchanged; only its mold adds the "#",
// and it never equals a word of the same name.
#include "datatypes/issue.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/mold.h"
#include "datatypes/series.h"
#include "datatypes/series_services.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/unicode.h"

namespace zan::issue {

namespace svc = series::services;

namespace {
Cell issue_cell(uint32_t symbol) {
    return make_cell(Type::issue, context::global(), symbol, uint32_t(-1));
}

bool is_word_family(Type t) {
    return t == Type::word || t == Type::set_word || t == Type::lit_word || t == Type::get_word ||
           t == Type::refinement || t == Type::issue;
}
}  // namespace

Cell& make_at(Cell& cell, const char* name) {
    cell = issue_cell(svc::symbol_of(name));
    return cell;
}

Cell* make_in(const Cell& block, const char* name) {
    Cell c;
    make_at(c, name);
    return block::rs_append(block, c);
}

void make(actions::Args args, Type) {
    const Cell& spec = args[1];
    Type t = type_of(spec);
    if (is_word_family(t)) {
        args[0] = issue_cell(word_symbol(spec));
    } else if (t == Type::char_) {
        char name[5];
        name[unicode::cp_to_utf8(uint32_t(int_of(spec)), reinterpret_cast<uint8_t*>(name))] = 0;
        args[0] = issue_cell(svc::symbol_of(name));
    } else if (t == Type::string) {
        // Only text that loads back as this one issue: #a b would mold as two
        // values. (Without the lexer, as in unit tests, nothing can be checked.)
        std::string text = string::to_utf8(spec);
        Cell loaded;
        if (word::transcode && (word::transcode("#" + text, loaded) != 1 || !is(loaded, Type::issue) ||
                                symbol::name(word_symbol(loaded)) != text))
            errors::fire(errors::id::invalid_chars);
        args[0] = issue_cell(svc::symbol_of_string(spec));
    } else {
        auto word_make = datatype::row(Type::word).make.fn;
        if (!word_make) errors::fire(errors::id::bad_make_arg, &args[0], &spec);
        word_make(args, Type::word);
    }
    set_type(args[0], Type::issue);
}

int32_t mold(const Cell& value, Node buffer, actions::MoldFlags, bool part, int32_t budget,
             int32_t) {
    budget = mold::append(buffer, "#", budget);
    auto word_form = datatype::row(Type::word).form.fn;
    return word_form ? word_form(value, buffer, part, budget) : budget;
}

int32_t compare(const Cell& a, const Cell& b, int32_t op) {
    if (!is(b, Type::issue)) return -2;
    auto word_compare = datatype::row(Type::word).compare.fn;
    return word_compare ? word_compare(a, b, op) : -2;
}

void init() {
    actions::Row r;
    r.make = make;
    r.to = make;
    r.mold = mold;
    r.compare = compare;
    r.form = actions::SlotValue<actions::Fn_form>::inherited();
    datatype::register_type(Type::issue, Type::word, "issue!", r);
}

}  // namespace zan::issue

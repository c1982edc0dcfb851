// The type predicates (library/predicates.zan declares their specs): one
// routine per datatype, true when the value's type id is that type's (no
// parents: block? of a paren is false), and one per boot typeset, which reads
// the typeset's global word at every call so that a script redefining
// series! changes series?.
#include <array>
#include <utility>

#include "datatypes/context.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "evaluator/routines.h"
#include "library/library.h"
#include "runtime/errors.h"

namespace zan::library {

namespace {

struct TypeTest {
    const char* key;
    Type type;
};
constexpr TypeTest type_tests[] = {
    {"bitset?", Type::bitset},     {"binary?", Type::binary},       {"block?", Type::block},
    {"char?", Type::char_},        {"email?", Type::email},         {"file?", Type::file},
    {"float?", Type::float_},      {"get-path?", Type::get_path},   {"get-word?", Type::get_word},
    {"hash?", Type::hash},         {"integer?", Type::integer},     {"issue?", Type::issue},
    {"lit-path?", Type::lit_path}, {"lit-word?", Type::lit_word},   {"logic?", Type::logic},
    {"map?", Type::map},           {"none?", Type::none},           {"pair?", Type::pair},
    {"paren?", Type::paren},       {"path?", Type::path},           {"percent?", Type::percent},
    {"refinement?", Type::refinement}, {"set-path?", Type::set_path}, {"set-word?", Type::set_word},
    {"string?", Type::string},     {"tag?", Type::tag},             {"time?", Type::time},
    {"typeset?", Type::typeset},   {"tuple?", Type::tuple},         {"unset?", Type::unset},
    {"url?", Type::url},           {"word?", Type::word},           {"image?", Type::image},
    {"date?", Type::date},         {"money?", Type::money},         {"ref?", Type::ref},
    {"point2D?", Type::point2d},   {"point3D?", Type::point3d},     {"handle?", Type::handle},
    {"error?", Type::error},       {"action?", Type::action},       {"native?", Type::native},
    {"datatype?", Type::datatype}, {"function?", Type::function},   {"object?", Type::object},
    {"op?", Type::op},             {"routine?", Type::routine},     {"vector?", Type::vector},
};

struct SetTest {
    const char* key;
    const char* typeset;
};
constexpr SetTest set_tests[] = {
    {"any-list?", "any-list!"},         {"any-block?", "any-block!"},   {"any-function?", "any-function!"},
    {"any-object?", "any-object!"},     {"any-path?", "any-path!"},     {"any-string?", "any-string!"},
    {"any-word?", "any-word!"},         {"series?", "series!"},         {"number?", "number!"},
    {"immediate?", "immediate!"},       {"scalar?", "scalar!"},         {"all-word?", "all-word!"},
    {"any-point?", "any-point!"},       {"planar?", "planar!"},
};

// The typeset words' symbols, made once at registration.
std::array<uint32_t, std::size(set_tests)> set_symbols{};

template <size_t I>
void type_test(Cell* args) {
    args[0] = logic_cell(is(args[0], type_tests[I].type));
}

// A typeset word that no longer holds a typeset makes its predicate fail
// clearly rather than read whatever bits the value has.
template <size_t I>
void set_test(Cell* args) {
    const Cell* set = context::get_by_symbol(set_symbols[I], context::global());
    if (!set || !is(*set, Type::typeset)) {
        Cell shown = set ? *set : unset_cell();
        errors::expect_arg(shown, 0);
    }
    args[0] = logic_cell(typeset::has(*set, type_of(args[0])));
}

template <size_t... I>
void add_type_tests(std::index_sequence<I...>) {
    (routines::add(type_tests[I].key, type_test<I>), ...);
}
template <size_t... I>
void add_set_tests(std::index_sequence<I...>) {
    (routines::add(set_tests[I].key, set_test<I>), ...);
}

}  // namespace

void register_predicates() {
    add_type_tests(std::make_index_sequence<std::size(type_tests)>{});
    add_set_tests(std::make_index_sequence<std::size(set_tests)>{});
    for (size_t i = 0; i < std::size(set_tests); ++i) set_symbols[i] = symbol::make(set_tests[i].typeset);
}

}  // namespace zan::library

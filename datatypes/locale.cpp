// System object fields read by the scalar datatypes: see locale.h.
#include "datatypes/locale.h"

#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"

namespace zan::locale {

Cell* system_field(std::initializer_list<const char*> path) {
    Node global = context::global();
    if (!global || path.size() > 8) return nullptr;
    // Interning may allocate: every name first, then the walk, which does not.
    uint32_t symbols[8];
    size_t n = 0;
    for (const char* name : path) symbols[n++] = symbol::make(name);
    Cell* at = context::get_by_symbol(symbol::make("system"), global);
    for (size_t i = 0; i < n; ++i) {
        if (!at || !is(*at, Type::object)) return nullptr;
        at = context::get_by_symbol(symbols[i], object::context_node(*at));
    }
    return at;
}

Cell* currency_list() {
    Cell* list = system_field({"locale", "currencies", "list"});
    return list && is(*list, Type::block) ? list : nullptr;
}

int money_digits() {
    Cell* n = system_field({"options", "money-digits"});
    if (!n || !is(*n, Type::integer)) return 2;
    int32_t v = int_of(*n);
    return v < 0 ? 0 : v > 5 ? 5 : int(v);
}

}  // namespace zan::locale

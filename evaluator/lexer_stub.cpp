// Throwaway stand-ins until contexts and the datatype registry land: words
// stay unbound, and construction syntax finds datatype names in a local list.
// Delete this file when datatypes/context.h and the registry's names are on
// main.
#include <string>

#include "evaluator/lexer_internal.h"

namespace zan::lexer {

namespace {
const char* type_names[] = {
    "",        "datatype", "unset",     "none",     "logic",    "block",    "paren",
    "string",  "file",     "url",       "char",     "integer",  "float",    "symbol",
    "context", "word",     "set-word",  "lit-word", "get-word", "refinement", "issue",
    "native",  "action",   "op",        "function", "path",     "lit-path", "set-path",
    "get-path", "routine", "bitset",    "triple",   "object",   "typeset",  "error",
    "vector",  "hash",     "pair",      "percent",  "tuple",    "map",      "binary",
    "series",  "time",     "tag",       "email",    "handle",   "date",     "port",
    "money",   "ref",      "point2D",   "point3D",  "image",    "event",
};
}  // namespace

void bind_to_global(Cell&) {}

// The datatype whose name (with its "!") matches, case-insensitively; 0 when none.
int construct_type(const uint8_t* s, uint32_t n) {
    for (int t = 1; t < int(sizeof type_names / sizeof *type_names); t++) {
        const char* name = type_names[t];
        uint32_t len = uint32_t(std::char_traits<char>::length(name));
        if (len + 1 != n || s[len] != '!') continue;
        bool same = true;
        for (uint32_t i = 0; i < len && same; i++) {
            uint8_t a = s[i], b = uint8_t(name[i]);
            if (a >= 'A' && a <= 'Z') a += 32;
            if (b >= 'A' && b <= 'Z') b += 32;
            same = a == b;
        }
        if (same && t != int(Type::symbol) && t != int(Type::context) && t != int(Type::triple))
            return t;
    }
    return 0;
}

}  // namespace zan::lexer

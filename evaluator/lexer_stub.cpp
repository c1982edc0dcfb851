// Throwaway stand-ins until symbols, contexts and number text land: word
// cells carry an interned id from a local table, unbound; decimal text is
// read with the C library; datatype names come from a local list. Delete
// this file when datatypes/symbol.h, datatypes/word.h, runtime/dtoa.h and the
// registry's names are on main.
#include <cstdlib>
#include <string>
#include <unordered_map>
#include <vector>

#include "evaluator/lexer_internal.h"

namespace zan::lexer {

namespace stub {
std::vector<std::string>& spellings() {
    static std::vector<std::string> v{""};
    return v;
}
std::unordered_map<std::string, uint32_t>& ids() {
    static std::unordered_map<std::string, uint32_t> m;
    return m;
}
const std::string& spelling(uint32_t sym) { return spellings().at(sym); }

double read_double(const char* first, const char* end, int extra_exponent) {
    std::string s(first, end);
    double d = std::strtod(s.c_str(), nullptr);
    for (; extra_exponent < 0; extra_exponent++) d /= 10;
    return d;
}

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
}  // namespace stub

void word_cell(Cell& c, Type t, const uint8_t* name, uint32_t length) {
    std::string key;
    key.reserve(length);
    for (uint32_t i = 0; i < length; i++) {
        uint8_t b = name[i];
        key.push_back(char(b >= 'A' && b <= 'Z' ? b + 32 : b));
    }
    auto& ids = stub::ids();
    auto it = ids.find(key);
    uint32_t sym;
    if (it == ids.end()) {
        sym = uint32_t(stub::spellings().size());
        stub::spellings().emplace_back(reinterpret_cast<const char*>(name), length);
        ids.emplace(std::move(key), sym);
    } else {
        sym = it->second;
    }
    uint32_t keep = c.header & header::newline;
    c = make_cell(t, 0, sym, uint32_t(-1));
    c.header |= keep;
}

// The datatype whose name (without "!") matches, case-insensitively; 0 when none.
int construct_type(const uint8_t* s, uint32_t n) {
    for (int t = 1; t < int(sizeof stub::type_names / sizeof *stub::type_names); t++) {
        const char* name = stub::type_names[t];
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

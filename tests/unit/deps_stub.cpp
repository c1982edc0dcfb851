// Stand-ins for subsystems not merged yet, so the hash table's tests build:
// a registry that registers nothing, ASCII case mapping. Each part disappears
// by itself once the real source file is in the tree.
#include <cstdint>

#include "datatypes/datatype.h"

#if !__has_include("datatypes/datatype.cpp")
namespace zan::datatype {
void register_type(Type, Type, const char*, const actions::Row&, int) {}
}  // namespace zan::datatype
#endif

#if !__has_include("runtime/unicode.cpp")
namespace zan::unicode {
uint32_t case_fold(uint32_t cp, bool upper) {
    if (upper && cp >= 'a' && cp <= 'z') return cp - 32;
    if (!upper && cp >= 'A' && cp <= 'Z') return cp + 32;
    return cp;
}
}  // namespace zan::unicode
#endif

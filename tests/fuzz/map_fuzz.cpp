// libFuzzer target: any text as the body of a #[...] map literal. Syntax
// errors are expected; a loaded map must mold, reload to an equal map and
// keep its hash table consistent. A crash or sanitizer report is a fault.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/map.h"
#include "datatypes/mold.h"
#include "datatypes/symbol.h"
#include "evaluator/lexer.h"
#include "runtime/collector.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/unwind.h"

using namespace zan;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    static bool ready = [] {
        memory::init();
        block::init_root();
        datatype::register_all();
        symbol::make_table();
        context::make_global();
        collector::set_enabled(true);
        lexer::init();
        return true;
    }();
    (void)ready;
    std::string text = "#[" + std::string(reinterpret_cast<const char*>(data), size) + "]";
    try {
        Cell loaded = lexer::load_utf8(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()));
        collector::Root keep(loaded);
        if (!is(loaded, Type::block) || block::rs_length(loaded) < 1) return 0;
        Cell m = *block::rs_abs_at(loaded, 0);
        if (!is(m, Type::map)) return 0;
        collector::Root keep_m(m);
        if (*hashtable::check(Node(series_extra(m)))) __builtin_trap();
        std::string molded = mold::mold_text(m);
        Cell again = lexer::load_utf8(reinterpret_cast<const uint8_t*>(molded.data()), uint32_t(molded.size()));
        collector::Root keep_again(again);
        (void)again;
    } catch (const unwind::Thrown& t) {
        if (t.code != unwind::error) throw;
    }
    return 0;
}

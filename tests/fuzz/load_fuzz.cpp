// libFuzzer target: any bytes as script text through `load/all`, `save` and
// `load/all` again. Bad text raises a syntax error; what loads must save to
// text that loads again. A crash or sanitizer report is a fault.
#include <cstddef>
#include <cstdint>

#include "boot/init.h"
#include "datatypes/string.h"
#include "library/library.h"
#include "runtime/collector.h"
#include "runtime/unwind.h"

using namespace zan;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    static bool ready = [] {
        boot::init();
        return true;
    }();
    (void)ready;
    Cell saved;
    collector::Root keep_saved(saved);
    try {
        Cell text;
        string::load_at(data, uint32_t(size), text, 0);
        collector::Root keep(text);
        Cell values = library::eval_text("load/all", &text);
        collector::Root keep_values(values);
        saved = library::eval_text("save none", &values);
    } catch (const unwind::Thrown& t) {
        if (t.code != unwind::error) throw;
        return 0;
    }
    try {
        library::eval_text("load/all", &saved);
    } catch (const unwind::Thrown& t) {
        if (t.code != unwind::error) throw;
        __builtin_trap();
    }
    return 0;
}

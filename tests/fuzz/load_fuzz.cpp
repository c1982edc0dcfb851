// libFuzzer target: any bytes as script text through `load/all`, `save` and
// `load/all` again. Bad text raises a syntax error; what loads must save to
// text that loads again. A crash or sanitizer report is a fault.
#include <cstddef>
#include <cstdint>

#include "datatypes/string.h"
#include "library/library.h"
#include "runtime/collector.h"
#include "runtime/unwind.h"
#include "tests/fuzz/fuzz_start.h"

using namespace zan;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    fuzz::boot_once();
    Cell saved;
    collector::Root keep_saved(saved);
    try {
        Cell text = fuzz::text_of(data, size);
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

// libFuzzer target: any bytes as script text loaded into a block, then
// walked as draw commands onto a small image. A bad block raises a draw
// error; a crash, a hang or a sanitizer report is a fault.
#include <cstddef>
#include <cstdint>

#include "datatypes/string.h"
#include "library/library.h"
#include "runtime/collector.h"
#include "runtime/unwind.h"
#include "tests/fuzz/fuzz_start.h"

using namespace zan;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 2048) return 0;
    fuzz::boot_once();
    try {
        Cell text = fuzz::text_of(data, size);
        collector::Root keep(text);
        Cell commands = library::eval_text("load/all", &text);
        collector::Root keep_commands(commands);
        library::eval_text("draw 48x40", &commands);
    } catch (const unwind::Thrown& t) {
        if (t.code != unwind::error) throw;
    }
    return 0;
}

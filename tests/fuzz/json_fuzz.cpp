// libFuzzer target: any bytes as UTF-8 JSON text for load-json's routine.
// Bad text answers an error value (or raises, for bad UTF-8 or a lone high
// surrogate); accepted text must write back as JSON that loads to the same
// text again. A crash or sanitizer report is a fault.
#include <cstddef>
#include <cstdint>
#include <string>

#include "datatypes/string.h"
#include "evaluator/routines.h"
#include "runtime/collector.h"
#include "runtime/unwind.h"
#include "tests/fuzz/fuzz_start.h"

using namespace zan;

namespace {

Cell call(const char* key, Cell a, Cell b = none_cell(), Cell c = logic_cell(false)) {
    Cell args[3] = {a, b, c};
    collector::Root k0(args[0]), k1(args[1]), k2(args[2]);
    routines::at(routines::find(key))(args);
    return args[0];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 8192) return 0;
    fuzz::boot_once();
    try {
        Cell text = fuzz::text_of(data, size);
        collector::Root keep(text);
        Cell v = call("json-decode", text);
        collector::Root keep_v(v);
        if (is(v, Type::error)) return 0;
        Cell once = call("json-encode", v);
        collector::Root keep_once(once);
        Cell again = call("json-decode", once);
        collector::Root keep_again(again);
        if (is(again, Type::error)) __builtin_trap();
        Cell twice = call("json-encode", again);
        if (string::to_utf8(once) != string::to_utf8(twice)) __builtin_trap();
    } catch (const unwind::Thrown& t) {
        if (t.code != unwind::error) throw;
    }
    return 0;
}

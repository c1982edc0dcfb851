// libFuzzer target: any bytes as UTF-8 CSV text for load-csv's routine.
// Misaligned or malformed text answers an error value; accepted rows must
// write as CSV that reads back to the same rows. A crash or sanitizer report
// is a fault.
#include <cstddef>
#include <cstdint>
#include <string>

#include "datatypes/mold.h"
#include "datatypes/string.h"
#include "evaluator/routines.h"
#include "runtime/collector.h"
#include "runtime/unwind.h"
#include "tests/fuzz/fuzz_start.h"

using namespace zan;

namespace {

Cell call(const char* key, Cell* args) {
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
        // data delimiter quote shape header? trim?
        Cell in[6] = {text, char_cell(','), char_cell('"'), integer_cell(0), logic_cell(false), logic_cell(false)};
        collector::Root k0(in[0]);
        Cell rows = call("csv-decode", in);
        collector::Root keep_rows(rows);
        if (!is(rows, Type::block)) return 0;
        Cell out[4] = {rows, char_cell(','), char_cell('"'), none_cell()};
        collector::Root k1(out[0]);
        Cell csv = call("csv-encode", out);
        collector::Root keep_csv(csv);
        if (!is(csv, Type::string)) return 0;
        Cell back[6] = {csv, char_cell(','), char_cell('"'), integer_cell(0), logic_cell(false), logic_cell(false)};
        collector::Root k2(back[0]);
        Cell again = call("csv-decode", back);
        collector::Root keep_again(again);
        // A lone empty field is written as an empty line, which reads back the same.
        if (mold::mold_text(again) != mold::mold_text(rows)) __builtin_trap();
    } catch (const unwind::Thrown& t) {
        if (t.code != unwind::error) throw;
    }
    return 0;
}

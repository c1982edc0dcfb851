// libFuzzer target: any bytes through the lexer in prescan, scan and load
// modes, and through transcode with /next. Syntax errors are expected; a
// crash, a sanitizer report or a hang is a fault.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "evaluator/lexer.h"
#include "runtime/memory.h"
#include "runtime/unwind.h"

using namespace zan;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    static bool ready = [] {
        memory::init();
        lexer::init();
        return true;
    }();
    (void)ready;
    auto len = uint32_t(size);
    lexer::prescan(data, len);
    lexer::ScanRequest scan;
    scan.wrap = false;
    lexer::scan(nullptr, data, len, scan, nullptr);
    scan.one = true;
    lexer::scan(nullptr, data, len, scan, nullptr);
    try {
        lexer::load_utf8(data, len);
    } catch (const unwind::Thrown& t) {
        if (t.code != unwind::error) throw;
    }
    // The same bytes as a binary! source read value by value.
    Node n = memory::alloc_series(len ? len : 1, 1);
    memory::Series* s = memory::buffer(n);
    std::memcpy(s->at_head(), data, size);
    s->tail = s->head + len;
    Cell src = series_cell(Type::binary, n);
    lexer::TranscodeRefs next;
    next.next = true;
    for (int i = 0; i < 64; i++) {
        try {
            Cell r = lexer::transcode(src, next);
            if (!is(r, Type::block)) break;
            Cell rest = memory::buffer(series_node(r))->cells()[1];
            if (series_index(rest) <= series_index(src)) __builtin_trap();  // no progress
            src = rest;
        } catch (const unwind::Thrown& t) {
            if (t.code != unwind::error) throw;
            break;
        }
    }
    return 0;
}

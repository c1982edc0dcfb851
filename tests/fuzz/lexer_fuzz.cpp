// libFuzzer target: any bytes through the lexer in prescan, scan and load
// modes, and through transcode with /next. Syntax errors are expected; a
// crash, a sanitizer report or a hang is a fault.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/symbol.h"
#include "evaluator/lexer.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/unwind.h"

using namespace zan;

namespace {

// A trace callback driven by the input: it declines some events and skips
// ahead at others, so the paths after a false answer or a moved index run.
uint32_t g_seed = 0;
bool fuzz_callback(const Cell&, lexer::EventArgs& a) {
    g_seed = g_seed * 1103515245u + 12345u;
    uint32_t r = g_seed >> 16;
    if (r % 11 == 0) a.input.w1 += 1 + r % 3;
    return r % 4 != 0;
}
uint32_t fuzz_mask(const Cell&) { return lexer::all_events; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
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
    collector::NodeRoot keep(n, collector::NodeRoot::As::buffer);
    Cell src = series_cell(Type::binary, n);
    lexer::TranscodeRefs next;
    next.next = true;
    // The bytes as 16-bit characters of a string! (surrogates left out).
    {
        uint32_t chars = len / 2;
        Node w = memory::alloc_series(chars ? chars : 1, 2);
        memory::Series* ws = memory::buffer(w);
        auto* out = reinterpret_cast<uint16_t*>(ws->at_head());
        for (uint32_t i = 0; i < chars; i++) {
            uint16_t c = uint16_t(data[2 * i] | data[2 * i + 1] << 8);
            out[i] = (c >= 0xD800 && c <= 0xDFFF) ? 0x20 : c;
        }
        ws->tail = ws->head + chars * 2;
        Cell str = series_cell(Type::string, w);
        lexer::TranscodeRefs plain;
        try {
            lexer::transcode(str, plain);
        } catch (const unwind::Thrown& t) {
            if (t.code != unwind::error) throw;
        }
    }
    // Once more with a trace callback, in load and scan modes.
    lexer::set_callback_hooks({fuzz_callback, fuzz_mask});
    Cell cb = none_cell();
    for (bool scan_only : {false, true}) {
        g_seed = size ? data[0] : 0;
        lexer::TranscodeRefs traced;
        traced.trace = &cb;
        traced.scan = scan_only;
        try {
            lexer::transcode(src, traced);
        } catch (const unwind::Thrown& t) {
            if (t.code != unwind::error) throw;
        }
    }
    lexer::set_callback_hooks({});
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

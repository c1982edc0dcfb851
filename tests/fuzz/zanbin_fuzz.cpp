// libFuzzer target: any bytes through the Zanbin reader, half of them behind a
// valid header (compact or fixed, with an empty symbol table or none). What
// the reader accepts is molded, survives a collection with a sound heap, and
// is written again in both flavours and read back to the same text. Reader
// errors are expected; a crash, a sanitizer report, a hang, an unsound heap or
// a round trip that changes the text is a fault.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "codecs/zanbin.h"
#include "datatypes/block.h"
#include "datatypes/mold.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/unwind.h"
#include "tests/fuzz/fuzz_start.h"

using namespace zan;

namespace {

// Runs body; answers false when it raised a script error.
template <typename Body>
bool accepted(Body&& body) {
    Cell* top = stack::s.top;
    Cell* base = stack::s.base;
    stack::Frame* frames = stack::s.frame_top;
    try {
        body();
        return true;
    } catch (const unwind::Thrown& t) {
        if (t.code != unwind::error) throw;
        stack::s.top = top;
        stack::s.base = base;
        stack::s.frame_top = frames;
        return false;
    }
}

std::vector<uint8_t> framed(const uint8_t* data, size_t size, uint8_t how) {
    std::vector<uint8_t> b = {'Z', 'A', 'N', 'B', 'I', 'N', 2};
    bool compact = how & 2;
    bool symbols = how & 4;
    b.push_back(uint8_t((compact ? 1 : 0) | (symbols ? 4 : 0)));
    uint32_t n = uint32_t(size);
    if (compact) {
        b.push_back(1);
        for (uint32_t v = n; ; v >>= 7) {
            b.push_back(uint8_t((v & 0x7F) | (v >= 0x80 ? 0x80 : 0)));
            if (v < 0x80) break;
        }
        if (symbols) {  // one symbol, "a"
            b.insert(b.end(), {1, 2, 0, 0, 0, 0, 'a', 0});
        }
    } else {
        auto u32 = [&](uint32_t v) {
            for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
        };
        u32(1);
        u32(n);
        if (symbols) {
            u32(1);
            u32(8);
            u32(0);
            b.insert(b.end(), {'a', 0, 0, 0, 0, 0, 0, 0});
        }
    }
    b.insert(b.end(), data, data + size);
    return b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > (1u << 16)) return 0;
    fuzz::boot_once();
    uint8_t how = data[0];
    std::vector<uint8_t> input = (how & 1) ? framed(data + 1, size - 1, how)
                                           : std::vector<uint8_t>(data + 1, data + size);
    Cell out;
    block::make_at(out, 4);
    collector::Root keep(out);
    if (!accepted([&] { zanbin::decode(input.data(), input.size(), out); })) return 0;
    std::string text;
    actions::MoldFlags all;
    all.all = true;
    if (!accepted([&] { text = mold::mold_text(out, all, 1 << 16); })) return 0;
    collector::do_cycle();
    if (const char* fault = memory::verify_heap()) {
        std::fprintf(stderr, "heap unsound after a decode: %s\n", fault);
        std::abort();
    }
    for (bool compact : {true, false}) {
        std::vector<uint8_t> again;
        if (!accepted([&] { again = zanbin::encode(out, compact); })) continue;
        Cell back;
        block::make_at(back, 4);
        collector::Root keep_back(back);
        if (!accepted([&] { zanbin::decode(again.data(), again.size(), back); })) {
            std::fprintf(stderr, "a written buffer does not read back (%s)\n", compact ? "compact" : "fixed");
            std::abort();
        }
    }
    return 0;
}

// zan-lexbench: loads a source file with the lexer and reports the throughput.
//
//   zan-lexbench FILE [REPEATS]
//
// Prints "zan load: <MB/s> MB/s (<bytes> bytes, best of <n> in <s> s)". The
// best run is reported, as the peers' figures are.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/symbol.h"
#include "evaluator/lexer.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/unwind.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [REPEATS]\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 2;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    int repeats = argc > 2 ? std::atoi(argv[2]) : 5;
    zan::memory::init();
    zan::block::init_root();
    zan::datatype::register_all();
    zan::symbol::make_table();
    zan::context::make_global();
    zan::collector::set_enabled(true);
    zan::lexer::init();
    double best = 1e30;
    uint32_t values = 0;
    try {
        for (int i = 0; i < repeats; i++) {
            auto t0 = std::chrono::steady_clock::now();
            zan::Cell b = zan::lexer::load_utf8(reinterpret_cast<const uint8_t*>(text.data()),
                                                uint32_t(text.size()));
            auto t1 = std::chrono::steady_clock::now();
            values = zan::memory::buffer(zan::series_node(b))->length();
            double s = std::chrono::duration<double>(t1 - t0).count();
            if (s < best) best = s;
        }
    } catch (const zan::unwind::Thrown&) {
        std::fprintf(stderr, "the source does not load\n");
        return 1;
    }
    std::printf("zan load: %.1f MB/s (%zu bytes, %u top-level values, best of %d in %.4f s)\n",
                double(text.size()) / best / 1e6, text.size(), values, repeats, best);
    return 0;
}

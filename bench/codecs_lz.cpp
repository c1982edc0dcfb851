// LZ decoding next to zlib inflating the same data, in one process: prints
// MB/s of output for each and their ratio. Usage: zan-lzbench FILE [REPS].
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "codecs/lz.h"

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    std::ifstream f(argv[1], std::ios::binary);
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    int reps = argc > 2 ? std::atoi(argv[2]) : 5;
    std::vector<uint8_t> lz, out;
    if (!zan::lz::compress(data.data(), data.size(), lz)) {
        std::printf("lz: data does not compress\n");
        return 0;
    }
    uLongf zsize = compressBound(data.size());
    std::vector<uint8_t> z(zsize);
    compress2(z.data(), &zsize, data.data(), data.size(), 6);
    using clock = std::chrono::steady_clock;
    auto best = [&](auto&& fn) {
        double t = 1e9;
        for (int i = 0; i < reps; ++i) {
            auto a = clock::now();
            fn();
            t = std::min(t, std::chrono::duration<double>(clock::now() - a).count());
        }
        return t;
    };
    double t_lz = best([&] { zan::lz::decompress(lz.data(), lz.size(), out); });
    std::vector<uint8_t> zout(data.size());
    double t_z = best([&] {
        uLongf n = zout.size();
        uncompress(zout.data(), &n, z.data(), zsize);
    });
    if (out != data) {
        std::printf("lz: round trip differs\n");
        return 1;
    }
    double mb = data.size() / 1e6;
    std::printf("%-10s %8.1f MB/s  (%zu -> %zu bytes)\n", "lz", mb / t_lz, data.size(), lz.size());
    std::printf("%-10s %8.1f MB/s  (%zu -> %lu bytes)\n", "inflate", mb / t_z, data.size(), zsize);
    std::printf("lz/inflate time ratio %.2f\n", t_lz / t_z);
    return 0;
}

// libFuzzer target: any bytes through the zlib, raw DEFLATE and gzip
// decoders, each checked against zlib's own inflate on the same bytes (same
// verdict, same output), and through a compress and decompress round trip.
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "codecs/deflate.h"

using namespace zan;

namespace {

constexpr size_t limit = 1u << 20;

[[noreturn]] void fault() { std::abort(); }

// zlib's verdict on the input: members decoded in turn (gzip), nothing may
// follow the last one; false when it refuses the input or passes the limit.
bool reference(int window_bits, bool members, const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
    out.clear();
    z_stream z{};
    if (inflateInit2(&z, window_bits) != Z_OK) fault();
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = uInt(size);
    uint8_t buf[1 << 14];
    bool ok = false;
    for (;;) {
        z.next_out = buf;
        z.avail_out = sizeof buf;
        int rc = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), buf, buf + (sizeof buf - z.avail_out));
        if (out.size() > limit) break;
        if (rc == Z_STREAM_END) {
            // Raw streams may be followed by anything; a zlib stream by
            // nothing; a gzip member by nothing or another member.
            if (!members || z.avail_in == 0) {
                ok = window_bits < 0 || z.avail_in == 0;
                break;
            }
            inflateReset(&z);
            continue;
        }
        if (rc != Z_OK && !(rc == Z_BUF_ERROR && z.avail_out == 0)) break;
        if (z.avail_in == 0 && z.avail_out != 0) break;  // ends before its final block
    }
    inflateEnd(&z);
    return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    struct Framing {
        deflate::Method method;
        int window_bits;
        bool members;
    };
    const Framing framings[] = {
        {deflate::Method::raw, -15, false},
        {deflate::Method::zlib, 15, false},
        {deflate::Method::gzip, 31, true},
    };
    ByteBuffer ours, back;
    std::vector<uint8_t> theirs;
    for (const Framing& f : framings) {
        deflate::Result r = deflate::decompress(f.method, data, size, 0, limit, ours);
        bool ref_ok = reference(f.window_bits, f.members, data, size, theirs);
        if (r == deflate::Result::too_large) continue;  // zlib may still refuse what follows
        if ((r == deflate::Result::ok) != ref_ok) fault();
        if (ref_ok && !std::equal(ours.begin(), ours.end(), theirs.begin(), theirs.end())) fault();
    }
    for (const Framing& f : framings) {
        deflate::compress(f.method, data, size, ours);
        bool passed_through = f.method == deflate::Method::gzip && size > 2 && data[0] == 0x1F &&
                              data[1] == 0x8B && data[2] == 0x08;
        if (passed_through) continue;
        if (deflate::decompress(f.method, ours.data(), ours.size(), size, limit, back) != deflate::Result::ok)
            fault();
        if (!std::equal(back.begin(), back.end(), data, data + size)) fault();
    }
    return 0;
}

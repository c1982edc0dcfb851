// DEFLATE, zlib and gzip: zlib's coder inside our own framing code.
//
// The compressor runs zlib at level 6 on raw streams, its output sized once
// by deflateBound. The decoder inflates raw streams into a growing buffer: it
// never trusts a declared size further than the first allocation, so a few
// bytes claiming gigabytes cost nothing until they really decode to that.
#include "codecs/deflate.h"

#include <zlib.h>

#include <algorithm>
#include <new>

#include "codecs/checksum.h"

namespace zan::deflate {

namespace {

constexpr int level = 6;
constexpr int raw_window = -15;
constexpr size_t zlib_framing = 6;
constexpr size_t gzip_framing = 18;
constexpr uInt chunk = 1u << 30;  // zlib counts in 32-bit sizes

const uint8_t empty[1] = {0};

uint32_t load_be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
uint32_t load_le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void put_be32(ByteBuffer& out, uint32_t v) {
    for (int i = 3; i >= 0; --i) out.push_back(uint8_t(v >> (8 * i)));
}
void put_le32(ByteBuffer& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

// Appends the raw DEFLATE stream of the input to out.
void deflate_raw(const uint8_t* in, size_t length, ByteBuffer& out) {
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, raw_window, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::bad_alloc();
    size_t start = out.size();
    // deflateBound answers in uLong; a chunked input needs a few bytes more per chunk.
    size_t bound = deflateBound(&z, uLong(length)) + (length / chunk + 1) * 16;
    out.resize(start + bound);
    z.next_out = out.data() + start;
    size_t left = length;
    const uint8_t* p = length ? in : empty;
    int rc = Z_OK;
    while (rc == Z_OK) {
        uInt take = uInt(std::min<size_t>(left, chunk));
        z.next_in = const_cast<Bytef*>(p);
        z.avail_in = take;
        size_t room = out.data() + out.size() - z.next_out;
        z.avail_out = uInt(std::min<size_t>(room, chunk));
        rc = ::deflate(&z, take == left ? Z_FINISH : Z_NO_FLUSH);
        size_t used = take - z.avail_in;
        p += used;
        left -= used;
        if (rc == Z_BUF_ERROR) rc = Z_OK;  // no progress possible this round: go on
    }
    size_t produced = z.next_out - (out.data() + start);
    deflateEnd(&z);
    if (rc != Z_STREAM_END) throw std::bad_alloc();
    out.resize(start + produced);
}

// The output buffer of a decode: grows by doubling up to the limit.
class Sink {
public:
    Sink(ByteBuffer& out, size_t first, size_t limit) : out_(out), limit_(limit) {
        out_.resize(std::min(std::max<size_t>(first, 64), limit));
    }
    // Room after `used` bytes; false when the limit is reached.
    bool grow(size_t used) {
        if (used < out_.size()) return true;
        if (out_.size() >= limit_) return false;
        size_t size = out_.size() > limit_ / 2 ? limit_ : out_.size() * 2;
        out_.resize(size);
        return true;
    }
    uint8_t* at(size_t used) { return out_.data() + used; }
    size_t room(size_t used) const { return out_.size() - used; }

private:
    ByteBuffer& out_;
    size_t limit_;
};

// Inflates one raw stream from in, appending after `used` output bytes.
// consumed is set to the input bytes the stream took (up to its final block).
Result inflate_raw(const uint8_t* in, size_t length, Sink& sink, size_t& used, size_t& consumed) {
    z_stream z{};
    if (inflateInit2(&z, raw_window) != Z_OK) throw std::bad_alloc();
    const uint8_t* p = length ? in : empty;
    size_t left = length;
    Result result = Result::ok;
    uint8_t scratch = 0;
    for (;;) {
        // At the limit a one-byte scratch area still lets the stream finish
        // with what it holds; a byte written there is one too many.
        bool full = !sink.grow(used);
        z.next_in = const_cast<Bytef*>(p);
        z.avail_in = uInt(std::min<size_t>(left, chunk));
        z.next_out = full ? &scratch : sink.at(used);
        z.avail_out = full ? 1 : uInt(std::min<size_t>(sink.room(used), chunk));
        uInt in_before = z.avail_in, out_before = z.avail_out;
        int rc = inflate(&z, Z_NO_FLUSH);
        size_t took = in_before - z.avail_in;
        p += took;
        left -= took;
        if (full && z.avail_out == 0) {
            result = Result::too_large;
            break;
        }
        if (!full) used += out_before - z.avail_out;
        if (rc == Z_STREAM_END) break;
        if (rc == Z_MEM_ERROR) {
            inflateEnd(&z);
            throw std::bad_alloc();
        }
        // A corrupt stream, or the input ends before the final block.
        bool stalled = rc == Z_BUF_ERROR && z.avail_out != 0;
        if ((rc != Z_OK && rc != Z_BUF_ERROR) || stalled || (left == 0 && z.avail_out != 0)) {
            result = Result::bad_data;
            break;
        }
    }
    inflateEnd(&z);
    consumed = length - left;
    return result;
}

// The first allocation: the hint, but never more than the input can produce.
size_t first_size(size_t hint, size_t length, size_t limit) {
    uint64_t most = uint64_t(length) * max_ratio + 64;
    uint64_t guess = hint ? hint : uint64_t(length) * 4;
    return size_t(std::min<uint64_t>({guess, most, limit}));
}

Result decode_raw(const uint8_t* in, size_t length, Sink& sink, size_t& used) {
    size_t consumed = 0;
    return inflate_raw(in, length, sink, used, consumed);
}

Result decode_zlib(const uint8_t* in, size_t length, Sink& sink, size_t& used) {
    if (length < zlib_framing) return Result::bad_data;
    uint8_t cmf = in[0], flg = in[1];
    if ((cmf * 256u + flg) % 31 != 0 || (cmf & 0x0F) != 8 || (cmf & 0x80) || (flg & 0x20))
        return Result::bad_data;
    size_t consumed = 0;
    Result r = inflate_raw(in + 2, length - 2, sink, used, consumed);
    if (r != Result::ok) return r;
    if (length - 2 - consumed != 4) return Result::bad_data;
    if (checksum::adler32(sink.at(0), used) != load_be32(in + 2 + consumed)) return Result::bad_data;
    return Result::ok;
}

// One gzip member from in; consumed is set to its length with the trailer.
Result decode_gzip_member(const uint8_t* in, size_t length, Sink& sink, size_t& used, size_t& consumed) {
    if (length < gzip_framing) return Result::bad_data;
    uint8_t flg = in[3];
    if (in[0] != 0x1F || in[1] != 0x8B || in[2] != 8 || (flg & 0xE0)) return Result::bad_data;
    size_t p = 10;
    if (flg & 0x04) {
        if (length - p < 2) return Result::bad_data;
        size_t xlen = in[p] | size_t(in[p + 1]) << 8;
        p += 2;
        if (length - p < xlen) return Result::bad_data;
        p += xlen;
    }
    for (uint8_t field : {uint8_t(0x08), uint8_t(0x10)}) {
        if (!(flg & field)) continue;
        while (p < length && in[p] != 0) ++p;
        if (p == length) return Result::bad_data;
        ++p;
    }
    if (flg & 0x02) {
        if (length - p < 2) return Result::bad_data;
        uint32_t header_crc = checksum::crc32(in, p) & 0xFFFF;
        if (header_crc != (in[p] | uint32_t(in[p + 1]) << 8)) return Result::bad_data;
        p += 2;
    }
    size_t start = used, took = 0;
    Result r = inflate_raw(in + p, length - p, sink, used, took);
    if (r != Result::ok) return r;
    p += took;
    if (length - p < 8) return Result::bad_data;
    uint32_t crc = checksum::crc32(sink.at(start), used - start);
    if (crc != load_le32(in + p) || uint32_t(used - start) != load_le32(in + p + 4)) return Result::bad_data;
    consumed = p + 8;
    return Result::ok;
}

Result decode_gzip(const uint8_t* in, size_t length, Sink& sink, size_t& used) {
    size_t at = 0;
    do {
        size_t consumed = 0;
        Result r = decode_gzip_member(in + at, length - at, sink, used, consumed);
        if (r != Result::ok) return r;
        at += consumed;
    } while (at < length);
    return Result::ok;
}

}  // namespace

void compress(Method method, const uint8_t* in, size_t length, ByteBuffer& out) {
    out.clear();
    switch (method) {
    case Method::raw:
        deflate_raw(in, length, out);
        return;
    case Method::zlib:
        out.reserve(length / 2 + 64);
        out.push_back(0x78);
        out.push_back(0x01);
        deflate_raw(in, length, out);
        put_be32(out, checksum::adler32(in, length));
        return;
    case Method::gzip:
        if (length > 2 && in[0] == 0x1F && in[1] == 0x8B && in[2] == 0x08) {
            out.assign(in, in + length);
            return;
        }
        out.reserve(length / 2 + 64);
        out.insert(out.end(), {0x1F, 0x8B, 0x08, 0x00, 0, 0, 0, 0, 0x04, 0x04});
        deflate_raw(in, length, out);
        put_le32(out, checksum::crc32(in, length));
        put_le32(out, uint32_t(length));
        return;
    }
}

Result decompress(Method method, const uint8_t* in, size_t length, size_t hint, size_t limit,
                  ByteBuffer& out) {
    out.clear();
    if (method == Method::gzip && length >= 4) hint = load_le32(in + length - 4);
    Sink sink(out, first_size(hint, length, limit), limit);
    size_t used = 0;
    Result r = Result::bad_data;
    switch (method) {
    case Method::raw: r = decode_raw(in, length, sink, used); break;
    case Method::zlib: r = decode_zlib(in, length, sink, used); break;
    case Method::gzip: r = decode_gzip(in, length, sink, used); break;
    }
    if (r != Result::ok) {
        out.clear();
        return r;
    }
    out.resize(used);
    return Result::ok;
}

}  // namespace zan::deflate

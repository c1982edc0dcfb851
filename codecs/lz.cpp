// The LZ codec: a bit-level LZ77 code of literals and matches, in blocks of
// at most 1 MiB whose matches never reach into an earlier block.
//
// Match lengths L + 3 (3-566) are coded by a unary prefix of at most five
// zero bits and 2, 2, 2, 3, 5 or 9 extra bits; distances d + 1 by a 4-bit
// width k - 2 and then 3 bits of d (k = 2) or k bits of d - (1 << k).
//
// The decoder trusts nothing in the stream: every field is read through a
// bit reader bounded by the payload, the output is sized from the header only
// after checking that the payload could produce that much (at most 566 bytes
// per 22 bits), and the result must have exactly the declared size.
#include "codecs/lz.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace zan::lz {

namespace {

uint32_t load_u32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void store_u32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

// Extra bits and base of L for 0-5 leading zero bits of the length prefix.
constexpr uint8_t length_extra[6] = {2, 2, 2, 3, 5, 9};
constexpr uint16_t length_base[6] = {0, 4, 8, 12, 20, 52};

constexpr unsigned max_length = 566;
constexpr unsigned window = 0x40000;

// Reads fields least-significant bit first from [p, end). Bits above count in
// acc are either zero or the true next bits, so refills may OR bytes in again.
// A read past the end marks the reader bad and answers 0.
class BitReader {
public:
    BitReader(const uint8_t* p, const uint8_t* end) : p_(p), end_(end) {}

    void refill() {
        if (end_ - p_ >= 8) {
            uint64_t w;
            std::memcpy(&w, p_, 8);
            acc_ |= w << count_;
            p_ += (63 - count_) >> 3;
            count_ |= 56;
        } else {
            while (count_ <= 56 && p_ < end_) {
                acc_ |= uint64_t(*p_++) << count_;
                count_ += 8;
            }
        }
    }

    uint32_t take(unsigned k) {
        if (count_ < k) {
            bad_ = true;
            return 0;
        }
        auto v = uint32_t(acc_ & ((uint64_t(1) << k) - 1));
        acc_ >>= k;
        count_ -= k;
        return v;
    }

    // Zero bits before the next one bit, at most five; they (and that one bit)
    // are consumed.
    unsigned take_prefix() {
        unsigned zeros = unsigned(__builtin_ctzll(acc_ | (uint64_t(1) << 5) | (uint64_t(1) << count_ % 64)));
        if (zeros > 5) zeros = 5;
        take(zeros < 5 ? zeros + 1 : 5);
        return zeros;
    }

    bool bad() const { return bad_; }
    // The byte after the last one any code took a bit of.
    const uint8_t* position() const { return p_ - count_ / 8; }

private:
    const uint8_t* p_;
    const uint8_t* end_;
    uint64_t acc_ = 0;
    unsigned count_ = 0;
    bool bad_ = false;
};

// Copies len bytes from dist bytes back, as a byte-by-byte copy would (a short
// distance repeats its pattern). dst may be written up to 8 bytes past len.
inline void copy_match(uint8_t* dst, unsigned dist, unsigned len) {
    const uint8_t* src = dst - dist;
    if (dist >= 8) {
        for (unsigned i = 0; i < len; i += 8) std::memcpy(dst + i, src + i, 8);
    } else if (dist == 1) {
        std::memset(dst, *src, len);
    } else {
        for (unsigned i = 0; i < len; ++i) dst[i] = src[i];
    }
}

// Decodes one block of n bytes into out; false on any fault.
bool decode_block(BitReader& br, uint8_t* out, uint32_t n) {
    uint8_t* const start = out;
    uint8_t* const end = out + n;
    while (out < end) {
        br.refill();
        if (br.take(1) == 0) {
            uint32_t byte = br.take(8);
            if (br.bad()) return false;
            *out++ = uint8_t(byte);
            continue;
        }
        unsigned zeros = br.take_prefix();
        unsigned len = length_base[zeros] + br.take(length_extra[zeros]) + 3;
        unsigned k = br.take(4) + 2;
        unsigned d = k == 2 ? br.take(3) : (1u << k) + br.take(k);
        if (br.bad()) return false;
        unsigned dist = d + 1;
        if (dist > unsigned(out - start) || len > unsigned(end - out)) return false;
        copy_match(out, dist, len);
        out += len;
    }
    return true;
}

}  // namespace

int64_t declared_size(const uint8_t* in, size_t length) {
    if (length < header_size) return -1;
    return load_u32(in + 4);
}

bool decompress(const uint8_t* in, size_t length, std::vector<uint8_t>& out) {
    out.clear();
    if (length < header_size) return false;
    uint32_t payload = load_u32(in);
    uint32_t size = load_u32(in + 4);
    if (payload > length - header_size) return false;
    // The shortest code of the longest match is 22 bits.
    if (uint64_t(size) > uint64_t(payload) * 8 / 22 * max_length + max_length) return false;
    // Eight bytes of slack for the match copier's overrun.
    out.resize(size_t(size) + 8);
    const uint8_t* pos = in + header_size;
    const uint8_t* end = pos + payload;
    size_t produced = 0;
    while (pos < end) {
        if (end - pos < 4) break;
        uint32_t n = load_u32(pos);
        if (n < 1 || n > max_block || n > size - produced) break;
        BitReader br(pos + 4, end);
        if (!decode_block(br, out.data() + produced, n)) break;
        produced += n;
        pos = br.position();
    }
    if (pos != end || produced != size) {
        out.clear();
        return false;
    }
    out.resize(produced);
    return true;
}

// --- compression ------------------------------------------------------------------------

namespace {

constexpr uint32_t head3_size = 0x80000;
constexpr uint32_t head4_size = 0x100000;
constexpr unsigned max_chain = 256;

// Writes fields least-significant bit first into a bounded area; past its
// capacity it only records that it overflowed.
class BitWriter {
public:
    BitWriter(uint8_t* out, size_t capacity) : out_(out), capacity_(capacity) {}

    void put(uint32_t bits, unsigned k) {
        acc_ |= uint64_t(bits) << count_;
        count_ += k;
        while (count_ >= 8) {
            if (used_ < capacity_) out_[used_] = uint8_t(acc_);
            else full_ = true;
            ++used_;
            acc_ >>= 8;
            count_ -= 8;
        }
    }

    // Reserves four bytes for a block size; answers where they are, or null.
    uint8_t* reserve4() {
        if (used_ + 4 > capacity_) {
            full_ = true;
            return nullptr;
        }
        uint8_t* p = out_ + used_;
        used_ += 4;
        return p;
    }

    // Seven zero bits complete any partial byte; bits left over are dropped.
    void end_block() {
        put(0, 7);
        acc_ = 0;
        count_ = 0;
    }

    bool full() const { return full_; }
    size_t used() const { return used_; }

private:
    uint8_t* out_;
    size_t capacity_;
    size_t used_ = 0;
    uint64_t acc_ = 0;
    unsigned count_ = 0;
    bool full_ = false;
};

struct Tables {
    std::unique_ptr<int32_t[]> head3{new int32_t[head3_size]};
    std::unique_ptr<int32_t[]> head4{new int32_t[head4_size]};
    std::unique_ptr<int32_t[]> chain{new int32_t[window]};
    std::unique_ptr<uint8_t[]> block{new uint8_t[max_block + max_length + 8]};
};

void put_match(BitWriter& w, unsigned len, unsigned dist) {
    unsigned l = len - 3;
    unsigned zeros = l < 4 ? 0 : l < 8 ? 1 : l < 12 ? 2 : l < 20 ? 3 : l < 52 ? 4 : 5;
    w.put(1, 1);
    if (zeros < 5) w.put(1u << zeros, zeros + 1);
    else w.put(0, 5);
    w.put(l - length_base[zeros], length_extra[zeros]);
    unsigned d = dist - 1;
    unsigned k = 2;
    while ((2u << k) <= d) ++k;
    w.put(k - 2, 4);
    if (k == 2) w.put(d, 3);
    else w.put(d - (1u << k), k);
}

unsigned match_length(const uint8_t* a, const uint8_t* b, unsigned limit) {
    unsigned n = 0;
    while (n < limit && a[n] == b[n]) ++n;
    return n;
}

void compress_block(Tables& t, uint32_t n, BitWriter& w) {
    const uint8_t* b = t.block.get();
    std::fill_n(t.head3.get(), head3_size, -1);
    std::fill_n(t.head4.get(), head4_size, -1);
    uint32_t h3 = 0, h4 = 0;
    // The block buffer is zero past n, so hashes near the end read zeros.
    for (int i = 0; i < 3; ++i) h3 = ((h3 & 0xFFFF) * 128 + b[i]) & 0x7FFFF;
    for (int i = 0; i < 4; ++i) h4 = ((h4 & 0xFFFF) * 32 + b[i]) & 0xFFFFF;
    uint32_t p = 0;
    while (p < n) {
        unsigned limit = std::min<uint32_t>(max_length, n - p);
        int32_t lowest = std::max<int32_t>(int32_t(p) - int32_t(window), 0);
        unsigned best = 2, best_dist = window;
        int32_t c = t.head3[h3];
        if (c >= lowest && b[c] == b[p]) {
            unsigned len = match_length(b + c, b + p, limit);
            if (len > 2) best = len, best_dist = p - uint32_t(c);
        }
        if (best < max_length) {
            c = t.head4[h4];
            for (unsigned tries = 0; tries < max_chain && c >= lowest; ++tries) {
                if (best < limit && b[c + best] == b[p + best] && b[c] == b[p]) {
                    unsigned len = match_length(b + c, b + p, limit);
                    unsigned penalty = 0;
                    for (unsigned x = (p - uint32_t(c)) / 16; x > best_dist; x /= 8) ++penalty;
                    if (len > best + penalty) best = len, best_dist = p - uint32_t(c);
                    if (len >= limit) break;
                }
                int32_t next = t.chain[uint32_t(c) & (window - 1)];
                if (next >= c) break;  // a link overwritten by a later position
                c = next;
            }
        }
        if (best == 3 && best_dist > 65536) best = 2;
        unsigned step = 1;
        if (best < 3) {
            w.put(uint32_t(b[p]) << 1, 9);
        } else {
            put_match(w, best, best_dist);
            step = best;
        }
        for (unsigned i = 0; i < step; ++i, ++p) {
            t.head3[h3] = int32_t(p);
            t.chain[p & (window - 1)] = t.head4[h4];
            t.head4[h4] = int32_t(p);
            h3 = ((h3 & 0xFFFF) * 128 + b[p + 3]) & 0x7FFFF;
            h4 = ((h4 & 0xFFFF) * 32 + b[p + 4]) & 0xFFFFF;
        }
        if (w.full()) return;
    }
}

}  // namespace

bool compress(const uint8_t* in, size_t length, std::vector<uint8_t>& out) {
    out.clear();
    if (length < min_input || length > UINT32_MAX) return false;
    // Not smaller than the input is no use: the payload gets length - 9 bytes.
    out.resize(length);
    store_u32(out.data() + 4, uint32_t(length));
    BitWriter w(out.data() + header_size, length - header_size - 1);
    Tables t;
    for (size_t at = 0; at < length && !w.full(); at += max_block) {
        auto n = uint32_t(std::min<size_t>(max_block, length - at));
        std::memcpy(t.block.get(), in + at, n);
        std::memset(t.block.get() + n, 0, max_length + 8);
        uint8_t* size_field = w.reserve4();
        if (!size_field) break;
        store_u32(size_field, n);
        compress_block(t, n, w);
        w.end_block();
    }
    if (w.full()) {
        out.clear();
        return false;
    }
    store_u32(out.data(), uint32_t(w.used()));
    out.resize(header_size + w.used());
    return true;
}

}  // namespace zan::lz

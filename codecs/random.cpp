// Mersenne Twister of 624 signed words and the secure source.
//
// Every ">>" on a state word is an arithmetic shift of an int32 and products
// wrap modulo 2^32; unsigned arithmetic stands in for the wrapping and
// shift_right() for the sign-propagating shift. After seeding the index is 0,
// not 624: the first 624 draws temper the seed words themselves.
#include "codecs/random.h"

#include <sys/random.h>

#include <cerrno>
#include <cstddef>

#include "runtime/errors.h"

namespace zan::random {

namespace {

constexpr int n_words = 624;
constexpr int m_offset = 397;
constexpr uint32_t matrix = 0x9908B0DFu;

uint32_t state[n_words];
int index = n_words;
bool seeded = false;

uint32_t shift_right(uint32_t v, int bits) { return uint32_t(int32_t(v) >> bits); }

void regenerate() {
    for (int i = 0; i < n_words - 1; ++i) {
        uint32_t y = (state[i] & 0x80000000u) | (state[i + 1] & 0x7FFFFFFFu);
        state[i] = state[(i + m_offset) % n_words] ^ shift_right(y, 1) ^ ((y & 1) ? matrix : 0);
    }
    uint32_t y = (state[n_words - 1] & 0x80000000u) | (state[0] & 0x7FFFFFFFu);
    state[n_words - 1] = state[m_offset - 1] ^ shift_right(y, 1) ^ ((state[0] & 1) ? matrix : 0);
    index = 0;
}

}  // namespace

void init() {
    if (seeded) return;
    seed(start_seed);
}

void seed(int32_t s) {
    seeded = true;
    state[0] = uint32_t(s);
    for (int i = 1; i < n_words; ++i)
        state[i] = 1812433253u * (state[i - 1] ^ shift_right(state[i - 1], 30)) + uint32_t(i);
    index = 0;
}

int32_t next() {
    if (!seeded) seed(start_seed);
    if (index >= n_words) regenerate();
    uint32_t y = state[index++];
    y ^= shift_right(y, 11);
    y ^= (y << 7) & 0x9D2C5680u;
    y ^= (y << 15) & 0xEFC60000u;
    y ^= shift_right(y, 18);  // clears bit 31: y and its own sign shift agree there
    return int32_t(y);
}

int32_t secure_int() {
    uint32_t v = 0;
    auto* p = reinterpret_cast<unsigned char*>(&v);
    size_t got = 0;
    while (got < sizeof v) {
        ssize_t r = getrandom(p + got, sizeof v - got, 0);
        if (r < 0) {
            if (errno == EINTR) continue;
            // No secure bytes: fail loudly rather than hand out predictable ones.
            errors::fire(errors::id::not_done);
        }
        got += size_t(r);
    }
    return int32_t(v & 0x7FFFFFFFu);
}

int32_t draw(bool secure) { return secure ? secure_int() : next(); }

int32_t int_range(bool secure, int32_t n) {
    if (n == INT32_MIN) return ~draw(secure);
    if (n == 0) return 0;
    int32_t m = n < 0 ? -n : n;
    int32_t q = 2147483647 / m;
    int32_t limit = m * q;  // fits: m * (INT32_MAX / m) <= INT32_MAX
    int32_t d;
    do d = draw(secure);
    while (d >= limit);
    int32_t r = d % m + 1;
    return n < 0 ? -r : r;
}

double up_to(double limit, bool secure) {
    if (secure) {
        double a = secure_int(), b = secure_int();
        return (a / 2147483647.0 + b) * limit / 2147483648.0;
    }
    return double(next()) / 2147483647.0 * limit;
}

int32_t state_word(int i) { return int32_t(state[i]); }
int state_index() { return index; }

}  // namespace zan::random

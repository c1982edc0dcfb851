// The process-wide random numbers: a Mersenne Twister computed in signed
// 32-bit arithmetic, and the system's cryptographic source.
//
// Seeded scripts rely on the exact sequence, so the twister keeps its own
// quirks: arithmetic shifts, no regeneration right after seeding (the first
// 624 outputs are the tempered seed words), outputs in 0 ... 2^31 - 1.
#pragma once

#include <cstdint>

namespace zan::random {

constexpr int32_t start_seed = 19650218;

// Seeds with start_seed; runs once at start-up (a later call does nothing).
void init();

void seed(int32_t s);

// The next twister output, 0 ... 2147483647.
int32_t next();

// 31 bits from the system's cryptographic source (getrandom); never the twister.
int32_t secure_int();

// One raw draw from either source.
int32_t draw(bool secure);

// Uniform: 1 ... n for n > 0, -n ... -1 for n < 0, 0 for 0 (without drawing).
int32_t int_range(bool secure, int32_t n);

// A random double between 0 and the limit.
double up_to(double limit, bool secure);

// The twister's state, for tests: word i (0 ... 623) and the index.
int32_t state_word(int i);
int state_index();

}  // namespace zan::random

// money!'s digit arithmetic against the same amounts as scaled 128-bit
// integers (units of 0.00001; 22 digits fit), and its cell layout.
#include <cstring>
#include <random>

#include <gtest/gtest.h>

#include "datatypes/integer.h"
#include "datatypes/money.h"

using namespace zan;
using money::Amount;
using money::Status;

namespace {

using i128 = __int128;

i128 pow10(int n) {
    i128 v = 1;
    while (n-- > 0) v *= 10;
    return v;
}

const i128 limit = pow10(money::digit_count);  // first magnitude that does not fit

Amount amount_of(i128 v) {
    Amount a;
    a.negative = v < 0;
    if (v < 0) v = -v;
    for (int i = money::digit_count - 1; i >= 0; --i, v /= 10) a.d[i] = uint8_t(v % 10);
    return a;
}

i128 value_of(const Amount& a) {
    i128 v = 0;
    for (int i = 0; i < money::digit_count; ++i) v = v * 10 + a.d[i];
    return a.negative ? -v : v;
}

// A random amount of 1 to `max_digits` digits, either sign.
i128 random_amount(std::mt19937_64& rng, int max_digits) {
    int digits = int(rng() % uint64_t(max_digits)) + 1;
    i128 v = 0;
    for (int i = 0; i < digits; ++i) v = v * 10 + i128(rng() % 10);
    return rng() % 2 ? -v : v;
}

Status expected_fit(i128 v, i128& out) {
    if (v >= limit || v <= -limit) return Status::overflow;
    out = v;
    return Status::ok;
}

void check(const char* what, i128 a, i128 b, Status want, i128 want_value, Status got,
           const Amount& result) {
    ASSERT_EQ(int(got), int(want)) << what << " " << int64_t(a) << " " << int64_t(b);
    if (got == Status::ok) {
        ASSERT_TRUE(value_of(result) == want_value) << what << " " << int64_t(a) << " " << int64_t(b);
        if (want_value == 0) {
            EXPECT_FALSE(result.negative);
        }
    }
}

TEST(Money, AddAndSubtractMatchIntegers) {
    std::mt19937_64 rng(12345);
    for (int n = 0; n < 20000; ++n) {
        i128 a = random_amount(rng, 22), b = random_amount(rng, 22);
        Amount r;
        i128 want = 0;
        Status ws = expected_fit(a + b, want);
        check("add", a, b, ws, want, money::add(amount_of(a), amount_of(b), r), r);
        ws = expected_fit(a - b, want);
        check("subtract", a, b, ws, want, money::subtract(amount_of(a), amount_of(b), r), r);
    }
}

TEST(Money, MultiplyTruncatesToFiveFractionDigits) {
    std::mt19937_64 rng(777);
    for (int n = 0; n < 20000; ++n) {
        // Operands whose exact product still fits 128 bits.
        i128 a = random_amount(rng, 19), b = random_amount(rng, 18);
        i128 p = a * b;  // units of 1e-10
        i128 q = p / 100000;
        i128 want = 0;
        Status ws = expected_fit(q, want);
        if (ws == Status::ok && p != 0 && q == 0) ws = Status::underflow;
        Amount r;
        check("multiply", a, b, ws, want, money::multiply(amount_of(a), amount_of(b), r), r);
        if (ws == Status::ok && want != 0) {
            EXPECT_EQ(r.negative, (a < 0) != (b < 0));
        }
    }
}

TEST(Money, DivideAndRemainderMatchIntegers) {
    std::mt19937_64 rng(4242);
    for (int n = 0; n < 20000; ++n) {
        i128 a = random_amount(rng, 22), b = random_amount(rng, 22);
        Amount r;
        if (b == 0) {
            EXPECT_EQ(int(money::divide(amount_of(a), amount_of(b), r)), int(Status::zero_divide));
            EXPECT_EQ(int(money::remainder(amount_of(a), amount_of(b), r)), int(Status::zero_divide));
            continue;
        }
        i128 q = a * 100000 / b;
        i128 want = 0;
        Status ws = expected_fit(q, want);
        if (ws == Status::ok && a != 0 && q == 0) ws = Status::underflow;
        check("divide", a, b, ws, want, money::divide(amount_of(a), amount_of(b), r), r);
        check("remainder", a, b, Status::ok, a % b, money::remainder(amount_of(a), amount_of(b), r), r);
    }
}

TEST(Money, EdgesOfTheRange) {
    const i128 top = limit - 1;
    struct Case {
        i128 a, b;
        Status add;
    } cases[] = {
        {top, 1, Status::overflow},
        {-top, -1, Status::overflow},
        {top, -1, Status::ok},
        {top, -top, Status::ok},
        {0, -top, Status::ok},
    };
    for (const Case& c : cases) {
        Amount r;
        EXPECT_EQ(int(money::add(amount_of(c.a), amount_of(c.b), r)), int(c.add));
    }
    Amount r;
    // 0.00001 * 0.00001 and 0.00001 / 10 vanish at five fraction digits.
    EXPECT_EQ(int(money::multiply(amount_of(1), amount_of(1), r)), int(Status::underflow));
    EXPECT_EQ(int(money::divide(amount_of(1), amount_of(1000000), r)), int(Status::underflow));
    // 10^16 / 0.5 = 2 * 10^16 fits though the dividend has 17 integer digits.
    ASSERT_EQ(int(money::divide(amount_of(pow10(21)), amount_of(50000), r)), int(Status::ok));
    EXPECT_TRUE(value_of(r) == 2 * pow10(21));
}

// The operator fast path gives what the digit arithmetic gives, and declines
// (leaving its operand alone) whenever that raises.
TEST(Money, FastPathMatchesTheDigitArithmetic) {
    std::mt19937_64 rng(99);
    for (int k = 0; k < 20000; ++k) {
        i128 a = random_amount(rng, 22);
        int32_t n = int32_t(rng());
        if (k % 3 == 0) n %= 1000;
        if (k == 0) n = INT32_MIN;
        for (int op : {integer::add, integer::subtract, integer::multiply}) {
            Cell left = money::pack(amount_of(a));
            const Cell before = left;
            Amount want;
            Amount b = amount_of(i128(n) * 100000);
            Status s = op == integer::add        ? money::add(amount_of(a), b, want)
                       : op == integer::subtract ? money::subtract(amount_of(a), b, want)
                                                 : money::multiply(amount_of(a), b, want);
            bool done = money::fast_math(left, integer_cell(n), op);
            if (s != Status::ok) {
                ASSERT_FALSE(done) << op << " " << int64_t(a) << " " << n;
                ASSERT_EQ(std::memcmp(&left, &before, sizeof left), 0);
                continue;
            }
            if (!done) continue;  // the operator's call does it then
            ASSERT_TRUE(value_of(money::unpack(left)) == value_of(want))
                << op << " " << int64_t(a) << " " << n;
        }
        // two amounts
        i128 c = random_amount(rng, 22);
        Cell left = money::pack(amount_of(a));
        Amount want;
        if (money::add(amount_of(a), amount_of(c), want) == Status::ok) {
            ASSERT_TRUE(money::fast_math(left, money::pack(amount_of(c)), integer::add));
            ASSERT_TRUE(value_of(money::unpack(left)) == value_of(want));
        } else {
            ASSERT_FALSE(money::fast_math(left, money::pack(amount_of(c)), integer::add));
        }
    }
}

TEST(Money, CellLayout) {
    Amount a = amount_of(-pow10(5) * 1234 - 56);  // -1234.00056
    a.currency = 47;
    Cell c = money::pack(a);
    EXPECT_EQ(type_of(c), Type::money);
    EXPECT_TRUE(c.header & 0x4000);
    uint8_t bytes[16];
    std::memcpy(bytes, &c, 16);
    EXPECT_EQ(bytes[4], 47);
    // digits 14-17 are 1 2 3 4, 18-22 are 0 0 0 5 6
    EXPECT_EQ(bytes[5 + 13 / 2], 0x01);  // digit 13 (0) high, 14 (1) low
    EXPECT_EQ(bytes[5 + 15 / 2], 0x23);
    EXPECT_EQ(bytes[5 + 17 / 2], 0x40);
    EXPECT_EQ(bytes[15], 0x56);
    Amount back = money::unpack(c);
    EXPECT_TRUE(value_of(back) == value_of(a));
    EXPECT_EQ(back.currency, 47);
    // A zero keeps no sign.
    Amount z;
    z.negative = true;
    EXPECT_FALSE(money::pack(z).header & 0x4000);
}

}  // namespace

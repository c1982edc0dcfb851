// date!'s day numbers over the whole year range, against the C++ calendar
// (std::chrono counts days from 1970-01-01, ours from 1 March of year 0).
#include <chrono>

#include <gtest/gtest.h>

#include "datatypes/date.h"

using namespace zan;
namespace chr = std::chrono;

namespace {

TEST(Date, DayNumbersRoundTripOverTheWholeRange) {
    const int64_t first = date::days_of(date::year_min, 1, 1);
    const int64_t last = date::days_of(date::year_max, 12, 31);
    chr::year_month_day ymd{chr::year{date::year_min}, chr::January, chr::day{1}};
    int64_t expected_days = chr::sys_days{ymd}.time_since_epoch().count() + date::epoch_days;
    ASSERT_EQ(first, expected_days);
    for (int64_t n = first; n <= last; ++n) {
        int64_t y;
        int32_t m, d;
        date::civil_of(n, y, m, d);
        chr::year_month_day want{chr::sys_days{chr::days{n - date::epoch_days}}};
        ASSERT_EQ(y, int(want.year())) << n;
        ASSERT_EQ(m, unsigned(want.month())) << n;
        ASSERT_EQ(d, unsigned(want.day())) << n;
        ASSERT_EQ(date::days_of(y, m, d), n);
        uint32_t w = date::from_days(n, date::time_flag | 0x45);
        ASSERT_EQ(date::to_days(w), n);
        ASSERT_EQ(date::year_of(w), y);
        ASSERT_EQ(w & 0x1007F, date::time_flag | 0x45u);  // flag and zone put back
    }
    EXPECT_TRUE(date::fits(first) && date::fits(last));
    EXPECT_FALSE(date::fits(first - 1) || date::fits(last + 1));
}

TEST(Date, FixedDayNumbersAndWeekdays) {
    EXPECT_EQ(date::days_of(0, 3, 1), 0);
    EXPECT_EQ(date::days_of(1970, 1, 1), 719468);
    EXPECT_EQ(date::days_of(2000, 1, 1), 730425);
    EXPECT_EQ(date::days_of(0, 2, 29), -1);
    EXPECT_EQ(date::days_of(2021, 4, 31), date::days_of(2021, 5, 1));  // days carry
    for (int64_t n = date::days_of(-2000, 1, 1); n < date::days_of(2100, 1, 1); n += 97) {
        chr::weekday want{chr::sys_days{chr::days{n - date::epoch_days}}};
        ASSERT_EQ(date::weekday(n), int(want.iso_encoding())) << n;
    }
    EXPECT_EQ(date::weekday(date::days_of(0, 1, 1)), 6);  // a Saturday
}

TEST(Date, NormalizingKeepsTheLocalTimeWithinADay) {
    struct Case {
        double t;
        uint32_t zone;
        int64_t day_shift;
        double t_after;
    } cases[] = {
        {0, 0, 0, 0},
        {86400, 0, 1, 0},
        {-1, 0, -1, 86399},
        {-19800, date::zone_bits(false, 5, 30), 0, -19800},        // local midnight in +05:30
        {108000, date::zone_bits(true, 5, 30), 1, 21600},  // 23:30-05:30 + 1:00
        {-3600, date::zone_bits(true, 0, 30), -1, 82800},
    };
    for (const Case& c : cases) {
        double t = c.t;
        int64_t n = date::normalize_time(100, t, c.zone);
        EXPECT_EQ(n - 100, c.day_shift) << c.t;
        EXPECT_DOUBLE_EQ(t, c.t_after) << c.t;
        double local = t + date::zone_offset(c.zone);
        EXPECT_TRUE(local >= 0 && local <= 86400) << c.t;
    }
    // A zone under an hour west keeps its sign.
    EXPECT_EQ(date::zone_offset(date::zone_bits(true, 0, 30)), -1800);
}

}  // namespace

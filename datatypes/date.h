// date!: a calendar date of the proleptic Gregorian calendar with an optional
// time of day and zone, packed in one cell.
//
// All calendar work goes through day numbers: days since 1 March of year 0
// (1970-01-01 is 719468, 2000-01-01 730425), counted with floor division so
// that years before 0 work like any other.
#pragma once

#include <cstdint>

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zan::date {

// The date word, from the most significant bit: year (signed, 15 bits), time
// flag, month (4 bits), day (5 bits), zone sign, zone hours (4 bits), zone
// quarter hours (2 bits).
constexpr uint32_t time_flag = 0x10000;
constexpr uint32_t zone_mask = 0x7F;
constexpr uint32_t zone_negative = 0x40;
constexpr int32_t year_min = -16384, year_max = 16383;
constexpr int32_t epoch_days = 719468;  // 1970-01-01

inline int32_t year_of(uint32_t w) { return int32_t(w) >> 17; }
inline int32_t month_of(uint32_t w) { return int32_t((w >> 12) & 0xF); }
inline int32_t day_of(uint32_t w) { return int32_t((w >> 7) & 0x1F); }
inline bool has_time(uint32_t w) { return (w & time_flag) != 0; }
// The zone offset in seconds, negative west of UTC.
int32_t zone_offset(uint32_t zone_bits);
// Zone bits of a sign and a magnitude; minutes are kept in quarter hours.
uint32_t zone_bits(bool negative, int32_t hours, int32_t minutes);

bool leap_year(int32_t year);
// Day number of a year, month (1-12) and day; a day past the month's end
// counts on into the next months.
int64_t days_of(int64_t year, int64_t month, int64_t day);
// Year, month and day of a day number.
void civil_of(int64_t n, int64_t& year, int32_t& month, int32_t& day);
int64_t to_days(uint32_t w);
// The date word of a day number, with the zone bits and time flag given; the
// year must fit (see fits).
uint32_t from_days(int64_t n, uint32_t zone_and_flag);
bool fits(int64_t n);  // the day number's year lies in year_min ... year_max
int32_t weekday(int64_t n);  // Monday 1 ... Sunday 7

// Carries whole days out of a UTC time so that its local time (under the
// zone) lies in 0 ... 86400; answers the new day number.
int64_t normalize_time(int64_t n, double& t, uint32_t zone_bits);

Cell make_cell_of(uint32_t word, double time);
// The lexer's builder: fields it has checked; the time is local to the zone.
void make_at(Cell& out, int32_t year, int32_t month, int32_t day, double time, bool zone_negative,
             int32_t zone_hours, int32_t zone_minutes, bool given_time);
// A file time: UTC, zone 0, with a time.
void make_at_parts(Cell& out, int32_t year, int32_t month, int32_t day, int32_t hour,
                   int32_t minute, int32_t second, int32_t nanoseconds);
// Moves a date to the Monday of an ISO week of its year, to a weekday within
// its week, and to a day of its year.
void set_isoweek(Cell& d, int32_t week);
void set_weekday(Cell& d, int32_t weekday);
void set_yearday(Cell& d, int32_t yearday);

// Seconds since 1970-01-01 of the stored instant; type-limit beyond 32 bits.
int32_t to_epoch(const Cell& d);
// The time! between two dates: days and times subtracted.
Cell difference(const Cell& a, const Cell& b);
// One field (1 date ... 14 isoweek) as paths read it.
Cell get_field(const Cell& d, int32_t field);
int32_t yearday(uint32_t w);

// The current date from the platform: local with its zone, or UTC; with
// `with_time` the time of day (sub-second when precise).
Cell now(bool utc, bool with_time, bool precise);

void init();

}  // namespace zan::date

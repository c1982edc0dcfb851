// date!: w1 holds the date word (date.h), w2 and w3 the time as a double: the
// UTC time of day measured from midnight of the stored calendar day, so that
// the local time (time plus the zone's offset) lies in 0 ... 86400 while the
// stored time may be negative or pass a day by up to the offset. A date
// without a time has time 0 and zone 0.
//
// Every change of year, month or day goes through a day number and back, so
// an out-of-range day carries on into the following months (31 April is
// 1 May). A year that leaves the 15 bits of the date word raises type-limit.
#include "datatypes/date.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "codecs/random.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/locale.h"
#include "datatypes/mold.h"
#include "datatypes/scalar.h"
#include "datatypes/string.h"
#include "datatypes/time.h"
#include "datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/platform.h"
#include "runtime/unicode.h"

namespace zan::date {

namespace {

constexpr double day_seconds = 86400.0;
constexpr int64_t out_of_range_days = int64_t(1) << 40;

// The field words of paths and pick; julian is yearday under another name.
constexpr std::initializer_list<const char*> field_names = {
    "date", "year", "month", "day", "zone", "time", "hour", "minute", "second",
    "weekday", "yearday", "timezone", "week", "isoweek", "julian"};
constexpr int32_t field_count = 14;

int64_t floor_div(int64_t a, int64_t b) {
    int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}
int64_t floor_mod(int64_t a, int64_t b) { return a - floor_div(a, b) * b; }

// Day number of 1 March of year y (day 0 of the year as these counts go).
int64_t march_first(int64_t y) {
    return 365 * y + floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400);
}

[[noreturn]] void type_limit() {
    Cell target = datatype_cell(Type::date);
    errors::fire(errors::id::type_limit, &target);
}

[[noreturn]] void bad_to_arg(const Cell& spec) { scalar::bad_to_arg(Type::date, spec); }

uint32_t zone_and_flag(uint32_t w) { return w & (zone_mask | time_flag); }

// The date word of a day number, or type-limit when its year does not fit.
uint32_t checked_word(int64_t n, uint32_t zf) {
    if (!fits(n)) type_limit();
    return from_days(n, zf);
}

void store(Cell& d, int64_t n, double t, uint32_t zf) {
    if (!(zf & time_flag)) {
        zf = 0;
        t = 0.0;
    }
    d = make_cell_of(checked_word(n, zf), t);
}

int64_t year_start(int64_t year) { return days_of(year, 1, 1); }

// The Monday of ISO week 1 of a year.
int64_t isoweek_start(int64_t year) {
    int64_t j = year_start(year);
    int32_t wd = weekday(j);
    return wd < 5 ? j + 1 - wd : j + 8 - wd;
}

int32_t isoweek_of(int64_t n, int64_t year) {
    int64_t s = isoweek_start(year);
    if (n >= s) return n < isoweek_start(year + 1) ? int32_t((n - s) / 7 + 1) : 1;
    // The last week of the year before.
    int32_t wd = weekday(year_start(year));
    if (wd == 5) return 53;
    if (wd == 6) return leap_year(int32_t(year - 1)) ? 53 : 52;
    return 52;
}

// Weeks beginning on Sunday; week 1 holds 1 January.
int32_t week_of(int64_t n, int64_t year) {
    int64_t j = year_start(year);
    int64_t w = floor_mod(j + 3, 7);
    int64_t yd = n - j + 1;
    return yd <= 7 - w ? 1 : int32_t((yd + w - 1) / 7 + 1);
}

// A zone from an integer (hours) or a time! (hours and minutes).
uint32_t zone_from(const Cell& v) {
    if (is(v, Type::integer)) {
        int32_t hours = int_of(v) % 16;
        return zone_bits(hours < 0, hours < 0 ? -hours : hours, 0);
    }
    if (is(v, Type::time) && std::isfinite(float_of(v))) {
        double f = std::fmod(float_of(v), 57600.0);
        double a = std::fabs(f);
        int32_t hours = int32_t(a / 3600.0);
        int32_t minutes = int32_t(std::fmod(a, 3600.0) / 60.0);
        return zone_bits(f < 0, hours, minutes);
    }
    scalar::invalid_arg(v);
}

double local_time(const Cell& d) { return date_time(d) + zone_offset(date_word(d) & zone_mask); }

// --- block specs ------------------------------------------------------------------------

struct Spec {
    int32_t a = 0, month = 0, c = 0;
    double time = 0;
    int32_t hour = 0, minute = 0;  // as given, to tell whether anything carried
    bool has_time = false;
    bool zone_negative = false;
    int32_t zone_hours = 0, zone_minutes = 0;
};

bool is_int(const Cell& v) { return is(v, Type::integer); }

// d m y, then T [zh [zm] | Z], or h mi [s [zh [zm] | Z]].
bool read_spec(const Cell* v, uint32_t n, Spec& s) {
    if (n < 3 || !is_int(v[0]) || !is_int(v[1]) || !is_int(v[2])) return false;
    s.a = int_of(v[0]);
    s.month = int_of(v[1]);
    s.c = int_of(v[2]);
    uint32_t i = 3;
    if (i == n) return true;
    s.has_time = true;
    if (is(v[i], Type::time)) {
        s.time = float_of(v[i]);
        if (!(std::fabs(s.time) < 1e9)) return false;
        s.hour = int32_t(time_::hour_of(s.time));
        s.minute = time_::minute_of(s.time);
        ++i;
    } else if (is_int(v[i])) {
        if (i + 1 >= n || !is_int(v[i + 1])) return false;
        s.hour = int_of(v[i]);
        s.minute = int_of(v[i + 1]);
        i += 2;
        double sec = 0;
        if (i < n) {
            if (is_int(v[i])) sec = int_of(v[i]);
            else if (is(v[i], Type::float_) && std::fabs(float_of(v[i])) < 1e9) sec = float_of(v[i]);
            else return false;
            ++i;
        } else {
            s.time = s.hour * 3600.0 + s.minute * 60.0;
            return true;
        }
        s.time = s.hour * 3600.0 + s.minute * 60.0 + sec;
    } else {
        return false;
    }
    if (i == n) return true;
    if (is(v[i], Type::time)) {
        double z = float_of(v[i]);
        if (!(std::fabs(z) < 1e9)) return false;
        double a = std::fabs(z);
        s.zone_negative = z < 0;
        s.zone_hours = int32_t(std::floor(a / 3600.0));
        s.zone_minutes = int32_t(std::floor(std::fmod(a, 3600.0) / 60.0));
        return i + 1 == n;
    }
    if (!is_int(v[i])) return false;
    int32_t zh = int_of(v[i++]), zm = 0;
    if (i < n) {
        if (!is_int(v[i])) return false;
        zm = int_of(v[i++]);
    }
    s.zone_negative = zh < 0 || (zh == 0 && zm < 0);
    s.zone_hours = zh < 0 ? -zh : zh;
    s.zone_minutes = zm < 0 ? -zm : zm;
    return i == n;
}

// make validates (nothing may carry), to carries.
Cell from_block(const Cell& spec, bool validate) {
    uint32_t n;
    const Cell* v = scalar::block_values(spec, n);
    Spec s;
    if (!read_spec(v, n, s)) bad_to_arg(spec);
    // Zones wider than the date word's bits would spill into the day.
    if (s.zone_hours > 15 || s.zone_minutes > 59) bad_to_arg(spec);
    int64_t day = s.a, year = s.c;
    if (s.a >= 100 && s.a > s.c) {
        day = s.c;
        year = s.a;
    }
    int64_t y = year + floor_div(int64_t(s.month) - 1, 12);
    int64_t m = floor_mod(int64_t(s.month) - 1, 12) + 1;
    int64_t days = days_of(y, m, 0) + day;
    double t = s.has_time ? s.time : 0.0;
    days = normalize_time(days, t, 0);
    if (!fits(days)) bad_to_arg(spec);
    if (validate) {
        int64_t by;
        int32_t bm, bd;
        civil_of(days, by, bm, bd);
        bool same = by == year && bm == s.month && bd == day;
        int32_t stored_hour = int32_t(t / 3600.0), stored_minute = int32_t(std::fmod(t, 3600.0) / 60.0);
        if (s.time != 0) same = same && s.hour >= 0 && s.hour <= 23 && s.minute == stored_minute;
        else same = same && s.hour == stored_hour && s.minute == stored_minute;
        if (!same) bad_to_arg(spec);
    }
    uint32_t zone = s.has_time ? zone_bits(s.zone_negative, s.zone_hours, s.zone_minutes) : 0;
    // The time is local to the zone.
    t -= zone_offset(zone);
    days = normalize_time(days, t, zone);
    if (!fits(days)) bad_to_arg(spec);
    return make_cell_of(from_days(days, zone | (s.has_time ? time_flag : 0)), t);
}

Cell from_epoch(int32_t seconds) {
    int64_t n = epoch_days + floor_div(seconds, 86400);
    double t = double(floor_mod(seconds, 86400));
    return make_cell_of(from_days(n, time_flag), t);
}

// --- actions ------------------------------------------------------------------------------

bool block_spec(Type t) { return t == Type::block || t == Type::paren || t == Type::hash; }

void to(actions::Args args, Type) {
    Cell spec = args[1];
    if (is(spec, Type::date)) args[0] = spec;
    else if (is(spec, Type::integer)) args[0] = from_epoch(int_of(spec));
    else if (block_spec(type_of(spec))) args[0] = from_block(spec, false);
    else bad_to_arg(spec);
}

void make(actions::Args args, Type) {
    Cell spec = args[1];
    if (is(spec, Type::date)) args[0] = spec;
    else if (block_spec(type_of(spec))) args[0] = from_block(spec, true);
    else bad_to_arg(spec);
}

const char* const english_months[] = {"January", "February", "March",     "April",
                                      "May",     "June",     "July",      "August",
                                      "September", "October", "November", "December"};

// The first three characters of the month's name in system/locale/months.
std::string month_name(int32_t month) {
    if (!locale::system_field({})) return std::string(english_months[month - 1], 3);
    Cell* months = locale::system_field({"locale", "months"});
    if (!months || !is(*months, Type::block) || block::rs_length(*months) < month)
        errors::fire(errors::id::invalid_months);
    Cell name = *block::rs_abs_at(*months, int32_t(series_index(*months)) + month - 1);
    if (!is(name, Type::string)) errors::fire(errors::id::invalid_months);
    std::string text = string::to_utf8(name);
    // Three characters, not bytes.
    size_t end = 0;
    for (int k = 0; k < 3 && end < text.size(); ++k) {
        ++end;
        while (end < text.size() && (uint8_t(text[end]) & 0xC0) == 0x80) ++end;
    }
    return text.substr(0, end);
}

int32_t write(const Cell& d, Node buffer, int32_t budget) {
    uint32_t w = date_word(d);
    int32_t year = year_of(w);
    const char* sep = year < 0 ? "/" : "-";
    budget = mold::append(buffer, std::to_string(day_of(w)) + sep, budget);
    // The month's name may hold any characters.
    std::string name = month_name(month_of(w));
    auto bytes = reinterpret_cast<const uint8_t*>(name.data());
    for (size_t i = 0; i < name.size();) {
        int32_t count = int32_t(name.size() - i);
        int32_t cp = unicode::decode_utf8_checked(bytes + i, count);
        if (cp < 0) break;
        budget = mold::append_char(buffer, uint32_t(cp), budget);
        i += size_t(count);
    }
    std::string text = sep;
    char digits[16];
    // Years below 100 get four digits, so that they do not read back as 19xx
    // or 20xx; a three-digit year stays three digits.
    int32_t magnitude = year < 0 ? -year : year;
    std::snprintf(digits, sizeof digits, magnitude < 100 ? "%s%04d" : "%s%d", year < 0 ? "-" : "",
                  magnitude);
    text += digits;
    budget = mold::append(buffer, text, budget);
    if (!has_time(w)) return budget;
    budget = mold::append(buffer, "/", budget);
    budget = time_::write(local_time(d), buffer, budget);
    uint32_t zone = w & zone_mask;
    if (zone == 0) return budget;
    int32_t off = zone_offset(zone);
    int32_t a = off < 0 ? -off : off;
    std::snprintf(digits, sizeof digits, "%c%02d:%02d", off < 0 ? '-' : '+', a / 3600, a % 3600 / 60);
    return mold::append(buffer, digits, budget);
}

int32_t form(const Cell& v, Node buffer, bool, int32_t budget) { return write(v, buffer, budget); }

int32_t mold(const Cell& v, Node buffer, actions::MoldFlags, bool, int32_t budget, int32_t) {
    return write(v, buffer, budget);
}

// A path or pick set of one field; the cell changes in place.
void set_field(Cell& d, int32_t field, const Cell& value) {
    uint32_t w = date_word(d);
    int64_t n = to_days(w);
    double t = date_time(d);
    uint32_t zf = zone_and_flag(w);
    uint32_t zone = w & zone_mask;
    auto need = [&](Type ty) {
        if (!is(value, ty)) scalar::invalid_arg(value);
    };
    switch (field) {
    case 1: {
        need(Type::date);
        uint32_t other = date_word(value);
        uint32_t flag = other & time_flag;
        store(d, to_days(other), t, flag ? (zone | flag) : 0);
        return;
    }
    case 2:
        need(Type::integer);
        n = days_of(int_of(value), month_of(w), day_of(w));
        break;
    case 3: {
        need(Type::integer);
        int64_t months = int64_t(int_of(value)) - 1;
        n = days_of(year_of(w) + floor_div(months, 12), floor_mod(months, 12) + 1, day_of(w));
        break;
    }
    case 4:
        need(Type::integer);
        n = days_of(year_of(w), month_of(w), 0) + int_of(value);
        break;
    case 5:
    case 12: {
        uint32_t z = zone_from(value);
        if (field == 5) {
            // The clock stays: the local time is read again under the new zone.
            t = t + zone_offset(zone) - zone_offset(z);
        } else {
            // The instant stays: the calendar day follows the new zone.
            n = normalize_time(n, t, z);
        }
        zf = z | time_flag;
        break;
    }
    case 6:
        if (is(value, Type::none)) {
            store(d, n, 0.0, 0);
            return;
        }
        need(Type::time);
        t = float_of(value) - zone_offset(zone);
        zf |= time_flag;
        n = normalize_time(n, t, zone);
        break;
    case 7:
    case 8:
    case 9: {
        // The field changes in the local time, which then goes back to UTC.
        Cell local = float_cell(t + zone_offset(zone), Type::time);
        Cell element = integer_cell(field - 6);
        actions::PathStep step{&element, &value, nullptr, nullptr, nullptr, 0,
                               false,    false,  true,    false};
        Cell ignored;
        datatype::row(Type::time).eval_path.fn(ignored, local, step);
        t = float_of(local) - zone_offset(zone);
        zf |= time_flag;
        n = normalize_time(n, t, zone);
        break;
    }
    case 10:
        need(Type::integer);
        n += int64_t(int_of(value)) - weekday(n);
        break;
    case 11:
        need(Type::integer);
        n = year_start(year_of(w)) + int_of(value) - 1;
        break;
    case 13: {
        need(Type::integer);
        int64_t j = year_start(year_of(w));
        int32_t week = int_of(value);
        n = week <= 1 ? j : j + int64_t(week - 2) * 7 + 7 - floor_mod(j + 3, 7);
        break;
    }
    case 14:
        need(Type::integer);
        n = isoweek_start(year_of(w)) + (int64_t(int_of(value)) - 1) * 7;
        break;
    default: return;
    }
    store(d, n, t, zf);
}

int32_t path_field(const Cell& element) {
    if (is(element, Type::integer)) return int_of(element);
    int32_t f = scalar::field_of(element, field_names);
    return f == 15 ? 11 : f;
}

void eval_path(Cell& result, const Cell& parent, const actions::PathStep& s) {
    int32_t field = path_field(*s.element);
    if (field < 1 || field > field_count) scalar::invalid_path(s);
    if (!s.value_to_set) {
        result = get_field(parent, field);
        return;
    }
    Cell value = *s.value_to_set;
    set_field(scalar::target(parent), field, value);
    result = value;
}

void pick(actions::Args args, int32_t index) {
    const Cell& by = args[1];
    if (word::is_word_family(type_of(by))) index = path_field(by);
    else if (!is(by, Type::integer)) index = 0;
    if (index < 1 || index > field_count) scalar::out_of_range(by);
    args[0] = get_field(args[0], index);
}

// date + days or time!, date - days, time! or date!.
void do_math(actions::Args args, bool subtract) {
    Cell d = args[0], v = args[1];
    uint32_t w = date_word(d);
    int64_t n = to_days(w);
    double t = date_time(d);
    uint32_t zf = zone_and_flag(w), zone = w & zone_mask;
    switch (type_of(v)) {
    case Type::integer: n += subtract ? -int64_t(int_of(v)) : int64_t(int_of(v)); break;
    case Type::time:
        t += subtract ? -float_of(v) : float_of(v);
        zf |= time_flag;
        break;
    case Type::date: {
        if (!subtract) scalar::not_related_op(integer::add, Type::date);
        n -= to_days(date_word(v));
        t -= date_time(v);
        n = normalize_time(n, t, zone);
        args[0] = integer_cell(int32_t(n));
        return;
    }
    default: scalar::invalid_type_of(v);
    }
    n = normalize_time(n, t, zone);
    Cell out;
    store(out, n, t, zf);
    args[0] = out;
}

void add(actions::Args args) { do_math(args, false); }
void subtract(actions::Args args) { do_math(args, true); }

// By calendar day, then by the stored (UTC) time; the zone takes no part.
int32_t compare(const Cell& a, const Cell& b, int32_t op) {
    if (!is(b, Type::date)) return -2;
    uint32_t ka = date_word(a) & ~(zone_mask | time_flag), kb = date_word(b) & ~(zone_mask | time_flag);
    double ta = date_time(a), tb = date_time(b);
    switch (op) {
    case 0:
    case 1:
    case 2:
    case 10:
    case 11:
    case 12: return ka == kb && float_::almost_equal(ta, tb) ? 0 : 1;
    case 9: return date_word(a) == date_word(b) && a.w2 == b.w2 && a.w3 == b.w3 ? 0 : 1;
    default: {
        int32_t ya = year_of(ka), yb = year_of(kb);
        if (ya != yb) return ya < yb ? -1 : 1;
        if (ka != kb) return (ka & 0x1FFFF) < (kb & 0x1FFFF) ? -1 : 1;
        return ta < tb ? -1 : ta > tb ? 1 : 0;
    }
    }
}

void random(actions::Args args, bool seed, bool secure, bool) {
    Cell d = args[0];
    uint32_t w = date_word(d);
    if (seed) {
        random::seed(int32_t(w + uint32_t(int64_t(date_time(d)))));
        args[0] = unset_cell();
        return;
    }
    int64_t n = to_days(w);
    int64_t drawn = int64_t(random::int_range(secure, int32_t(n))) - 1;
    uint32_t zf = zone_and_flag(w);
    double t = 0;
    if (has_time(w)) {
        uint32_t zone = uint32_t(random::draw(secure)) & zone_mask;
        double x;
        if (secure) {
            double first = random::draw(true), second = random::draw(true);
            x = 3600.0 * (second + first / 2147483647.0) / 2147483648.0;
        } else {
            x = 3600.0 * random::draw(false) / 2147483647.0;
        }
        t = 24.0 * std::floor(x) - zone_offset(zone);
        zf = zone | time_flag;
        drawn = normalize_time(drawn, t, zone);
    }
    Cell out;
    store(out, drawn, t, zf);
    args[0] = out;
}

}  // namespace

// --- calendar ---------------------------------------------------------------------------

int32_t zone_offset(uint32_t z) {
    int32_t s = int32_t((z >> 2) & 0xF) * 3600 + int32_t(z & 3) * 900;
    return (z & zone_negative) ? -s : s;
}

uint32_t zone_bits(bool negative, int32_t hours, int32_t minutes) {
    uint32_t z = (uint32_t(hours & 0xF) << 2) | (uint32_t(minutes / 15) & 3);
    return z != 0 && negative ? z | zone_negative : z;
}

bool leap_year(int32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int64_t days_of(int64_t year, int64_t month, int64_t day) {
    int64_t m = floor_mod(month + 9, 12);  // March is 0
    int64_t y = year - m / 10;               // January and February count to the year before
    return march_first(y) + (306 * m + 5) / 10 + (day - 1);
}

void civil_of(int64_t n, int64_t& year, int32_t& month, int32_t& day) {
    int64_t y = int64_t(std::floor((10000.0 * double(n) + 14780.0) / 3652425.0));
    int64_t r = n - march_first(y);
    if (r < 0) {
        --y;
        r = n - march_first(y);
    }
    int64_t mi = (100 * r + 52) / 3060;
    year = y + (mi + 2) / 12;
    month = int32_t((mi + 2) % 12 + 1);
    day = int32_t(r - (306 * mi + 5) / 10 + 1);
}

int64_t to_days(uint32_t w) { return days_of(year_of(w), month_of(w), day_of(w)); }

uint32_t from_days(int64_t n, uint32_t zf) {
    int64_t y;
    int32_t m, d;
    civil_of(n, y, m, d);
    return uint32_t(int32_t(y)) << 17 | uint32_t(m) << 12 | uint32_t(d) << 7 | zf;
}

bool fits(int64_t n) { return n >= days_of(year_min, 1, 1) && n <= days_of(year_max, 12, 31); }

int32_t weekday(int64_t n) { return int32_t(floor_mod(n + 2, 7)) + 1; }

int64_t normalize_time(int64_t n, double& t, uint32_t zone) {
    int32_t off = zone_offset(zone);
    double k = std::trunc(std::trunc(t / 3600.0 + off / 3600.0) / 24.0);
    // A time of no day the calendar holds (or no number at all) puts the date
    // out of range, so that the caller refuses it.
    if (!(std::fabs(k) < 1e10)) return out_of_range_days;
    n += int64_t(k);
    t -= k * day_seconds;
    if (t + off < 0) {
        n -= 1;
        t += day_seconds;
    }
    return n;
}

int32_t yearday(uint32_t w) { return int32_t(to_days(w) - year_start(year_of(w)) + 1); }

// --- making -------------------------------------------------------------------------------

Cell make_cell_of(uint32_t word, double time) {
    Cell c = zan::make_cell(Type::date, word);
    set_date_time(c, time);
    return c;
}

void make_at(Cell& out, int32_t year, int32_t month, int32_t day, double time, bool zone_neg,
             int32_t zone_hours, int32_t zone_minutes, bool given_time) {
    uint32_t zone = given_time ? zone_bits(zone_neg, zone_hours, zone_minutes) : 0;
    uint32_t w = uint32_t(year) << 17 | uint32_t(month) << 12 | uint32_t(day) << 7 | zone;
    if (given_time) w |= time_flag;
    out = make_cell_of(w, given_time ? time - zone_offset(zone) : 0.0);
}

void make_at_parts(Cell& out, int32_t year, int32_t month, int32_t day, int32_t hour,
                   int32_t minute, int32_t second, int32_t nanoseconds) {
    double t = hour * 3600.0 + minute * 60.0 + second + nanoseconds * 1e-9;
    make_at(out, year, month, day, t, false, 0, 0, true);
}

void set_isoweek(Cell& d, int32_t week) {
    uint32_t w = date_word(d);
    int64_t n = isoweek_start(year_of(w)) + int64_t(week - 1) * 7;
    store(d, n, date_time(d), zone_and_flag(w));
}

void set_weekday(Cell& d, int32_t wd) {
    uint32_t w = date_word(d);
    int64_t n = to_days(w);
    store(d, n + wd - weekday(n), date_time(d), zone_and_flag(w));
}

void set_yearday(Cell& d, int32_t yd) {
    uint32_t w = date_word(d);
    store(d, year_start(year_of(w)) + yd - 1, date_time(d), zone_and_flag(w));
}

// --- reading ----------------------------------------------------------------------------

int32_t to_epoch(const Cell& d) {
    int64_t n = to_days(date_word(d));
    // floor, not truncation: a stored time may be negative.
    int64_t s = (n - epoch_days) * 86400 + int64_t(std::floor(date_time(d) + 0.5));
    if (s > INT32_MAX || s < INT32_MIN) {
        Cell target = datatype_cell(Type::integer);
        errors::fire(errors::id::type_limit, &target);
    }
    return int32_t(s);
}

Cell difference(const Cell& a, const Cell& b) {
    double days = double(to_days(date_word(a)) - to_days(date_word(b)));
    return float_cell(days * day_seconds + date_time(a) - date_time(b), Type::time);
}

Cell get_field(const Cell& d, int32_t field) {
    uint32_t w = date_word(d);
    double local = local_time(d);
    switch (field) {
    case 1: return make_cell_of(w & ~(zone_mask | time_flag), 0.0);
    case 2: return integer_cell(year_of(w));
    case 3: return integer_cell(month_of(w));
    case 4: return integer_cell(day_of(w));
    case 5:
    case 12:
        if (!has_time(w)) return none_cell();
        return float_cell(zone_offset(w & zone_mask), Type::time);
    case 6: return has_time(w) ? float_cell(local, Type::time) : none_cell();
    case 7: return integer_cell(int32_t(time_::hour_of(local)));
    case 8: return integer_cell(time_::minute_of(local));
    case 9: return float_cell(std::fmod(local, 60.0));
    case 10: return integer_cell(weekday(to_days(w)));
    case 11: return integer_cell(yearday(w));
    case 13: return integer_cell(week_of(to_days(w), year_of(w)));
    case 14: return integer_cell(isoweek_of(to_days(w), year_of(w)));
    default: return none_cell();
    }
}

Cell now(bool utc, bool with_time, bool precise) {
    uint32_t w = platform::get_date(utc);
    if (!with_time) return make_cell_of(w & ~zone_mask, 0.0);
    uint32_t zone = w & zone_mask;
    // The UTC time of day, moved by whole days so that the local time falls on
    // the platform's local date.
    double t = platform::get_time(precise);
    double local = std::fmod(t + zone_offset(zone), day_seconds);
    if (local < 0) local += day_seconds;
    return make_cell_of(w | time_flag, local - zone_offset(zone));
}

void init() {
    actions::Row row;
    row.make = make;
    row.random = random;
    row.to = to;
    row.form = form;
    row.mold = mold;
    row.eval_path = eval_path;
    row.compare = compare;
    row.add = add;
    row.subtract = subtract;
    row.pick = pick;
    datatype::register_type(Type::date, Type::any, "date!", row);
}

}  // namespace zan::date

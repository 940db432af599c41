#include "datatypes/date.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "datatypes/action_types.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/time.h"
#include "datatypes/word.h"
#include "runtime/alloc.h"
#include "runtime/fire.h"
#include "runtime/platform/platform.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/words.h"

namespace zuv::date {

namespace {

// Floor division and modulo: the calendar is continuous through year 0 and
// before it, which truncating division is not.
inline int64_t fdiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}
inline int64_t fmod_(int64_t a, int64_t b) { return a - fdiv(a, b) * b; }

inline int64_t year_days(int64_t y) { return 365 * y + fdiv(y, 4) - fdiv(y, 100) + fdiv(y, 400); }

inline int64_t days_of(int64_t year, int64_t month, int64_t day) {
    int64_t m = (month + 9) % 12;  // month is 1..12 here
    int64_t y = year - m / 10;
    return year_days(y) + (306 * m + 5) / 10 + (day - 1);
}

// Day numbers of the first and last day a packed word can hold.
const int64_t FIRST_DAY = days_of(MIN_YEAR, 1, 1);
const int64_t LAST_DAY = days_of(MAX_YEAR, 12, 31);
const int32_t EPOCH_DAY = static_cast<int32_t>(days_of(1970, 1, 1));

[[noreturn]] void fire_overflow() { fire(err::overflow); }

inline void put(cell_t* c, uint32_t d, double t) {
    c->data1 = d;
    cell::put_float(c, t);
    c->header = TYPE_date;
}

// The English names stand in for system/locale/months until the system
// object exists (needs system/locale/months).
const char* const month_names[12] = {"January",   "February", "March",    "April",
                                     "May",       "June",     "July",     "August",
                                     "September", "October",  "November", "December"};

inline bool same_symbol(int32_t a, words::id w) {
    return symbol::resolve(a) == symbol::resolve(static_cast<int32_t>(words::symbol_of(w)));
}

// The integer of a path-set value, else invalid-arg with the value.
int32_t integer_arg(const cell_t* v) {
    if (type_of(v) != TYPE_integer) fire(err::invalid_arg, v);
    return integer::get(v);
}

// Zone bits of a set-path or block value: an integer! of hours or a time!.
uint32_t zone_arg(const cell_t* v) {
    switch (type_of(v)) {
    case TYPE_integer: return zone_from_seconds(static_cast<int64_t>(integer::get(v)) * 3600);
    case TYPE_time: {
        double s = cell::get_float(v);
        if (!std::isfinite(s) || std::fabs(s) > 1e9 || s != std::floor(s))
            fire(err::invalid_arg, v);
        return zone_from_seconds(static_cast<int64_t>(s));
    }
    default: fire(err::invalid_arg, v);
    }
}

inline void set_days(cell_t* c, int64_t days) {
    if (days < FIRST_DAY || days > LAST_DAY) fire_overflow();
    uint32_t d = get(c);
    c->data1 = from_days(static_cast<int32_t>(days), zone_of(d), has_time_q(d));
}

}  // namespace

// --- zones ------------------------------------------------------------------

uint32_t zone_from_seconds(int64_t seconds) {
    int64_t magnitude = seconds < 0 ? -seconds : seconds;
    if (magnitude % 900 != 0 || magnitude > 15 * 3600 + 45 * 60) {
        cell_t t{};
        time::make_at(&t, static_cast<double>(seconds));
        fire(err::invalid_arg, &t);
    }
    uint32_t bits = static_cast<uint32_t>(magnitude / 3600) << 2 |
                    static_cast<uint32_t>(magnitude % 3600 / 900);
    return seconds < 0 ? bits | ZONE_WEST : bits;
}

bool zone_valid_q(int32_t hours, int32_t minutes) {
    if ((hours > 0 && minutes < 0) || hours < -15 || hours > 15 || minutes <= -60 || minutes >= 60)
        return false;
    int32_t m = minutes < 0 ? -minutes : minutes;
    int32_t total = (hours < 0 ? -hours : hours) * 60 + m;
    return m % 15 == 0 && total <= 15 * 60 + 45;
}

// --- calendar -----------------------------------------------------------------

bool leap_year_q(int32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int32_t month_length(int32_t year, int32_t month) {
    static const int8_t lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && leap_year_q(year) ? 29 : lengths[(month - 1) % 12];
}

int32_t to_days(uint32_t d) {
    int32_t month = month_of(d);
    if (month < 1 || month > 12) month = 1;  // a cell built by hand; never from the constructors
    return static_cast<int32_t>(days_of(year_of(d), month, day_of(d)));
}

uint32_t from_days(int32_t days, uint32_t zone, bool has_time) {
    int64_t n = days;
    int64_t y = fdiv(10000 * n + 14780, 3652425);
    int64_t d = n - year_days(y);
    if (d < 0) {
        y--;
        d = n - year_days(y);
    }
    int64_t mi = (100 * d + 52) / 3060;
    int64_t month = (mi + 2) % 12 + 1;
    int64_t year = y + (mi + 2) / 12;
    int64_t day = d - (306 * mi + 5) / 10 + 1;
    if (year < MIN_YEAR || year > MAX_YEAR) fire_overflow();
    return pack(static_cast<int32_t>(year), static_cast<int32_t>(month), static_cast<int32_t>(day),
                has_time ? zone : 0u, has_time);
}

int32_t jan1_days(uint32_t d) { return static_cast<int32_t>(days_of(year_of(d), 1, 1)); }

int32_t yearday(uint32_t d) { return to_days(d) - jan1_days(d) + 1; }

int32_t weekday(int32_t days) { return static_cast<int32_t>(fmod_(days + 2, 7)) + 1; }

int32_t iso_week1(uint32_t d, int32_t* wd) {
    int32_t j = jan1_days(d);
    int32_t w = static_cast<int32_t>(fmod_(j + 2, 7));
    if (wd) *wd = w + 1;
    return j - w + (w >= 4 ? 7 : 0);
}

int32_t week(uint32_t d) {
    int32_t e = static_cast<int32_t>(fmod_(jan1_days(d) + 3, 7));
    int32_t yd = yearday(d);
    return 7 - e < yd ? (yd + e - 1) / 7 + 1 : 1;
}

int32_t isoweek(uint32_t d) {
    int32_t w1;
    int32_t s = iso_week1(d, &w1);
    int32_t n = to_days(d);
    if (n < s) {
        if (w1 == 5) return 53;
        if (w1 == 6) return leap_year_q(year_of(d) - 1) ? 53 : 52;
        return 52;
    }
    uint32_t next = pack(year_of(d) + 1, 1, 1, 0, false);
    int32_t s2 = iso_week1(next, nullptr);
    return n < s2 ? (n - s) / 7 + 1 : 1;
}

int32_t normalize_time(int32_t days, double* t, uint32_t zone) {
    double z = zone_seconds(zone);
    double local = *t + z;
    if (!std::isfinite(local)) fire_overflow();
    double shift = std::floor(local / DAY_SECONDS);
    double n = days + shift;
    if (n < static_cast<double>(FIRST_DAY) || n > static_cast<double>(LAST_DAY)) fire_overflow();
    double rest = *t - shift * DAY_SECONDS;
    // Rounding in the division may leave the local time a hair outside the
    // day; one step back in either direction settles it.
    if (rest + z < 0) {
        rest += DAY_SECONDS;
        n -= 1;
    } else if (rest + z >= DAY_SECONDS) {
        rest -= DAY_SECONDS;
        n += 1;
    }
    *t = rest;
    return static_cast<int32_t>(n);
}

void normalize(cell_t* c, double t, bool local) {
    uint32_t d = get(c);
    uint32_t zone = zone_of(d);
    if (local) t = to_utc(t, zone);
    int32_t days = normalize_time(to_days(d), &t, zone);
    uint32_t packed = from_days(days, zone, has_time_q(d));
    c->data1 = packed;
    cell::put_float(c, t);
}

// --- constructors -----------------------------------------------------------

cell_t* make_at(cell_t* cell, int32_t year, int32_t month, int32_t day, double time,
                int32_t zone_hours, int32_t zone_minutes, bool has_time) {
    if (year < MIN_YEAR || year > MAX_YEAR) {
        cell_t y{};
        integer::make_at(&y, year);
        fire(err::out_of_range, &y);
    }
    uint32_t zone = 0;
    if (has_time) {
        if (!zone_valid_q(zone_hours, zone_minutes)) {
            int64_t h = zone_hours, m = zone_minutes < 0 ? -zone_minutes : zone_minutes;
            bool west = zone_hours < 0 || zone_minutes < 0;
            int64_t s = (h < 0 ? -h : h) * 3600 + m * 60;
            zone_from_seconds(west ? -s : s);  // raises
            fire(err::invalid_arg);  // a sign mix that zone_from_seconds cannot see
        }
        int32_t h = zone_hours < 0 ? -zone_hours : zone_hours;
        int32_t m = zone_minutes < 0 ? -zone_minutes : zone_minutes;
        zone = static_cast<uint32_t>(h) << 2 | static_cast<uint32_t>(m / 15);
        if (zone_hours < 0 || zone_minutes < 0) zone |= ZONE_WEST;
        if (zone == ZONE_WEST) zone = 0;  // -0:00 is UTC
    }
    cell::begin(cell);
    put(cell, pack(year, month, day, zone, has_time), has_time ? to_utc(time, zone) : 0.0);
    // A time outside the day (24:00, a negative time) rolls the date.
    if (has_time && !(time >= 0.0 && time < DAY_SECONDS))
        normalize(cell, cell::get_float(cell), false);
    return cell;
}

cell_t* make_at_hms(cell_t* cell, int32_t year, int32_t month, int32_t day, int32_t hours,
                    int32_t minutes, int32_t seconds, int32_t nanoseconds) {
    double t = 3600.0 * hours + 60.0 * minutes + seconds + nanoseconds * 1e-9;
    return make_at(cell, year, month, day, t, 0, 0, true);
}

cell_t* make_raw(cell_t* cell, uint32_t d, double t) {
    put(cell, d, t);
    return cell;
}

cell_t* push(uint32_t d, double t) {
    cell_t* c = stack::push_slot();
    put(c, d, t);
    return c;
}

cell_t* make_in(cell_t* block, uint32_t d, double t) {
    cell_t* c = alloc::alloc_tail_value(block);
    cell::begin(c);
    put(c, d, t);
    return c;
}

cell_t* now(cell_t* cell, bool utc, bool precise) {
    // The platform gives the local calendar date with its zone and the UTC
    // time of day; the local time of day decides where in that date the
    // stored time falls (just after midnight UTC the local date may already
    // be the next day, or still the previous one).
    double t = platform::get_time(precise);
    uint32_t d = platform::get_date(utc) | HAS_TIME;
    uint32_t zone = zone_of(d);
    double local = std::fmod(t + zone_seconds(zone), DAY_SECONDS);
    if (local < 0) local += DAY_SECONDS;
    put(cell, d, to_utc(local, zone));
    return cell;
}

// --- fields -----------------------------------------------------------------

int32_t field_index(const cell_t* w) {
    if (!word::any_word_q(type_of(w))) return -1;
    static const words::id ids[] = {words::id::date,    words::id::year,    words::id::month,
                                    words::id::day,     words::id::zone,    words::id::time,
                                    words::id::hour,    words::id::minute,  words::id::second,
                                    words::id::weekday, words::id::yearday, words::id::timezone,
                                    words::id::week,    words::id::isoweek};
    static const int8_t indexes[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
    int32_t s = word::symbol_of(w);
    for (size_t i = 0; i < sizeof ids / sizeof ids[0]; i++)
        if (same_symbol(s, ids[i])) return indexes[i];
    if (same_symbol(s, words::id::julian)) return 11;
    return -1;
}

cell_t* get_field(const cell_t* c, int32_t index) {
    uint32_t d = get(c);
    double t = get_time(c);
    bool timed = has_time_q(d);
    double local = timed ? to_local(t, zone_of(d)) : 0.0;
    switch (index) {
    case 1: return push(d & ~(HAS_TIME | ZONE_MASK), 0.0);
    case 2: return integer::push(year_of(d));
    case 3: return integer::push(month_of(d));
    case 4: return integer::push(day_of(d));
    case 5:
    case 12: return timed ? time::push(zone_seconds(zone_of(d))) : none::push();
    case 6: return timed ? time::push(local) : none::push();
    case 7: return integer::push(time::get_hours(local));
    case 8: return integer::push(time::get_minutes(local));
    case 9: return float_::push(std::fmod(local, 60.0));
    case 10: return integer::push(weekday(to_days(d)));
    case 11: return integer::push(yearday(d));
    case 13: return integer::push(week(d));
    default: return integer::push(isoweek(d));
    }
}

void set_isoweek(cell_t* c, int32_t w) {
    set_days(c, iso_week1(get(c), nullptr) + 7 * (static_cast<int64_t>(w) - 1));
}

void set_weekday(cell_t* c, int32_t wd) {
    int64_t n = to_days(get(c));
    set_days(c, n + (static_cast<int64_t>(wd) - 1) - fmod_(n + 2, 7));
}

void set_yearday(cell_t* c, int32_t day) {
    set_days(c, jan1_days(get(c)) + static_cast<int64_t>(day) - 1);
}

void set_month(cell_t* c, int32_t month) {
    uint32_t d = get(c);
    int64_t m = static_cast<int64_t>(month) - 1;
    int64_t year = year_of(d) + fdiv(m, 12);
    if (year < MIN_YEAR || year > MAX_YEAR) fire_overflow();
    // Through the day number, so that 31 April becomes 1 May.
    set_days(c, days_of(year, fmod_(m, 12) + 1, day_of(d)));
}

int64_t to_epoch64(const cell_t* c) {
    int64_t days = to_days(get(c)) - EPOCH_DAY;
    return days * DAY_SECONDS + static_cast<int64_t>(std::floor(get_time(c) + 0.5));
}

int32_t to_epoch(const cell_t* c) {
    int64_t s = to_epoch64(c);
    if (s < INT32_MIN || s > INT32_MAX) {
        cell_t t;
        datatype::make_at(&t, TYPE_integer);
        fire(err::type_limit, &t);
    }
    return static_cast<int32_t>(s);
}

double difference(const cell_t* a, const cell_t* b) {
    double days = static_cast<double>(to_days(get(a))) - to_days(get(b));
    return days * DAY_SECONDS + (get_time(a) - get_time(b));
}

double instant(const cell_t* c) {
    return static_cast<double>(to_days(get(c))) * DAY_SECONDS + get_time(c);
}

// --- arithmetic ---------------------------------------------------------------

void do_math(int32_t code) {
    cell_t* value1 = stack::arguments;
    cell_t* value2 = value1 + 1;
    uint32_t d = get(value1);
    int64_t days = to_days(d);
    double t = get_time(value1);
    bool timed = has_time_q(d);
    double sign = code == math_op::SUBTRACT ? -1.0 : 1.0;
    switch (type_of(value2)) {
    case TYPE_integer: days += static_cast<int64_t>(sign) * integer::get(value2); break;
    case TYPE_time:
        t += sign * cell::get_float(value2);
        timed = true;
        break;
    case TYPE_date: {
        if (code != math_op::SUBTRACT) integer::fire_not_related(TYPE_date);
        // Whole days elapsed between the two instants, rounded down, so that
        // the answer depends on the moments and not on how they are written.
        double days_between = std::floor(difference(value1, value2) / DAY_SECONDS);
        value1->header = TYPE_integer;
        value1->data2 = static_cast<uint32_t>(static_cast<int32_t>(days_between));
        return;
    }
    default: integer::fire_invalid_type(value2);
    }
    uint32_t zone = timed ? zone_of(d) : 0u;
    if (days < FIRST_DAY || days > LAST_DAY) fire_overflow();
    int32_t n = normalize_time(static_cast<int32_t>(days), &t, zone);
    put(value1, from_days(n, zone, timed), t);
}

void add() { do_math(math_op::ADD); }
void subtract() { do_math(math_op::SUBTRACT); }

// --- make and to --------------------------------------------------------------

namespace {

// Builds a date from the values of a block; validate says make (the given
// fields must survive unchanged) rather than to (they roll forward).
void from_block(cell_t* result, cell_t* spec, bool validate) {
    // Transitions per state for integer!, time! and float! (-1: none).
    static const int8_t next[14][3] = {
        {1, -1, -1},  {2, -1, -1},  {3, -1, -1},  {8, 4, -1},   {6, 5, -1},
        {-1, -1, -1}, {7, -1, -1},  {-1, -1, -1}, {9, -1, -1},  {10, -1, 10},
        {12, 11, -1}, {-1, -1, -1}, {13, -1, -1}, {-1, -1, -1},
    };
    int32_t count = block::rs_length_q(spec);
    cell_t* items = block::rs_head(spec);
    int32_t state = 0;
    int64_t numbers[3] = {0, 0, 0};
    int64_t hms[3] = {0, 0, 0};
    double fraction = 0.0, time_of_day = 0.0;
    int64_t zone_h = 0, zone_m = 0;
    double zone_time = 0.0;
    bool zone_as_time = false, have_zone = false, time_given = false;
    for (int32_t i = 0; i < count; i++) {
        const cell_t* v = items + i;
        uint8_t t = type_of(v);
        int col = t == TYPE_integer ? 0 : t == TYPE_time ? 1 : t == TYPE_float_ ? 2 : -1;
        if (col < 0 || next[state][col] < 0) integer::fire_bad_to_arg(TYPE_date, spec);
        state = next[state][col];
        int64_t n = t == TYPE_integer ? integer::get(v) : 0;
        double f = t != TYPE_integer ? cell::get_float(v) : 0.0;
        switch (state) {
        case 1:
        case 2:
        case 3: numbers[state - 1] = n; break;
        case 4:
            time_of_day = f;
            time_given = true;
            break;
        case 8:
            hms[0] = n;
            time_given = true;
            break;
        case 9: hms[1] = n; break;
        case 10:
            if (t == TYPE_integer) hms[2] = n;
            else fraction = f;
            break;
        case 5:
        case 11:
            zone_time = f;
            zone_as_time = have_zone = true;
            break;
        case 6:
        case 12:
            zone_h = n;
            have_zone = true;
            break;
        case 7:
        case 13: zone_m = n; break;
        }
    }
    if (count < 3) integer::fire_bad_to_arg(TYPE_date, spec);
    int64_t day = numbers[0], month = numbers[1], year = numbers[2];
    if (numbers[0] > 99 && numbers[0] > numbers[2]) {
        year = numbers[0];
        day = numbers[2];
    }
    if (year < MIN_YEAR || year > MAX_YEAR) integer::fire_bad_to_arg(TYPE_date, spec);
    if (state >= 8 && validate &&
        (hms[1] < 0 || hms[1] > 59 || hms[2] < 0 || hms[2] > 59 || fraction < 0.0 ||
         fraction >= 60.0))
        integer::fire_bad_to_arg(TYPE_date, spec);
    if (state >= 8)
        time_of_day = 3600.0 * hms[0] + 60.0 * hms[1] + (fraction != 0.0 ? fraction : hms[2]);
    if (!std::isfinite(time_of_day)) integer::fire_bad_to_arg(TYPE_date, spec);

    // The zone, refused rather than rounded when it is not a whole number of
    // quarter hours.
    uint32_t zone = 0;
    if (have_zone) {
        int64_t seconds;
        if (zone_as_time) {
            if (!std::isfinite(zone_time) || zone_time != std::floor(zone_time) ||
                std::fabs(zone_time) > 1e6)
                integer::fire_bad_to_arg(TYPE_date, spec);
            seconds = static_cast<int64_t>(zone_time);
        } else {
            if (zone_m < 0 || zone_m >= 60 || zone_h < -15 || zone_h > 15)
                integer::fire_bad_to_arg(TYPE_date, spec);
            seconds = zone_h * 3600 + (zone_h < 0 ? -zone_m : zone_m) * 60;
        }
        int64_t magnitude = seconds < 0 ? -seconds : seconds;
        if (magnitude % 900 != 0 || magnitude > 15 * 3600 + 45 * 60)
            integer::fire_bad_to_arg(TYPE_date, spec);
        zone = zone_from_seconds(seconds);
    }

    bool timed = count > 3;
    cell::begin(result);
    put(result, pack(static_cast<int32_t>(year), 1, 1, 0, timed), 0.0);
    // Month and day roll forward through the day number: month 14 is
    // February of the next year, day 30 of February early March.
    int64_t m = month - 1;
    int64_t y = year + fdiv(m, 12);
    if (y < MIN_YEAR || y > MAX_YEAR) integer::fire_bad_to_arg(TYPE_date, spec);
    int64_t n = days_of(y, fmod_(m, 12) + 1, 0) + day;
    if (n < FIRST_DAY || n > LAST_DAY) integer::fire_bad_to_arg(TYPE_date, spec);
    result->data1 = from_days(static_cast<int32_t>(n), zone, timed);
    if (timed) normalize(result, time_of_day, true);

    if (validate) {
        uint32_t d = get(result);
        bool ok = year_of(d) == year && month_of(d) == month && day_of(d) == day;
        if (ok && time_given) {
            int32_t hour = static_cast<int32_t>(std::floor(time_of_day / 3600.0));
            ok = hour >= 0 && hour <= 23 &&
                 time::get_minutes(time_of_day) ==
                     time::get_minutes(to_local(get_time(result), zone_of(d)));
        }
        if (!ok) integer::fire_bad_to_arg(TYPE_date, spec);
    }
}

}  // namespace

cell_t* to(cell_t* proto, cell_t* spec, int32_t) {
    switch (type_of(spec)) {
    case TYPE_date:
        *proto = *spec;
        cell::clear_new_line(proto);
        return proto;
    case TYPE_integer: {
        int64_t s = integer::get(spec);
        put(proto, from_days(static_cast<int32_t>(EPOCH_DAY + fdiv(s, DAY_SECONDS)), 0, true),
            static_cast<double>(fmod_(s, DAY_SECONDS)));
        return proto;
    }
    case TYPE_block:
    case TYPE_paren:
    case TYPE_hash: {
        cell_t result;
        from_block(&result, spec, false);
        *proto = result;
        return proto;
    }
    default: integer::fire_bad_to_arg(TYPE_date, spec);
    }
}

cell_t* make(cell_t* proto, cell_t* spec, int32_t type) {
    switch (type_of(spec)) {
    case TYPE_block:
    case TYPE_paren:
    case TYPE_hash: {
        cell_t result;
        from_block(&result, spec, true);
        *proto = result;
        return proto;
    }
    default: return to(proto, spec, type);
    }
}

// --- random -----------------------------------------------------------------

cell_t* random(cell_t* value, bool seed, bool secure, bool) {
    uint32_t d = get(value);
    if (seed) {
        double t = get_time(value);
        uint32_t whole = std::isfinite(t) && std::fabs(t) < 2147483648.0
                             ? static_cast<uint32_t>(static_cast<int32_t>(t))
                             : 0u;
        random::srand(static_cast<int32_t>(d + whole));
        value->header = TYPE_unset;
        return value;
    }
    int32_t r = random::int_uniform(secure, to_days(d));
    bool timed = has_time_q(d);
    put(value, from_days(r - 1, zone_of(d), timed), 0.0);
    if (timed) {
        double k;
        if (secure) {
            double r1 = random::rand_secure(), r2 = random::rand_secure();
            k = std::floor((r1 + r2) / (2147483648.0 / 3600.0));
        } else {
            k = std::floor(static_cast<double>(random::rand()) * 3600.0 / 2147483647.0);
        }
        normalize(value, k / 3600.0 * DAY_SECONDS, true);
    }
    return value;
}

// --- text form ----------------------------------------------------------------

int32_t form(cell_t* value, cell_t* buffer, bool, int32_t limit) {
    uint32_t d = get(value);
    double local = has_time_q(d) ? time::written(to_local(get_time(value), zone_of(d))) : 0.0;
    if (local >= DAY_SECONDS) {
        // The seconds round up into the next day: write that day at midnight,
        // which loads back as the same instant.
        int32_t days = to_days(d) + 1;
        if (days <= LAST_DAY) {
            d = from_days(days, zone_of(d), true);
            local = 0.0;
        }
    }
    int32_t year = year_of(d);
    int32_t month = month_of(d);
    if (month < 1 || month > 12) fire(err::invalid_months);
    char sep = year < 0 ? '/' : '-';
    char text[96];
    int32_t abs_year = year < 0 ? -year : year;
    int n =
        std::snprintf(text, sizeof text, "%d%c%.3s%c%s%0*d", day_of(d), sep, month_names[month - 1],
                      sep, year < 0 ? "-" : "", abs_year <= 99 ? 4 : 1, abs_year);
    if (has_time_q(d)) text[n++] = '/';
    text[n] = '\0';
    string::concatenate_literal(buffer, text);
    limit -= n;
    if (!has_time_q(d)) return limit;
    uint32_t zone = zone_of(d);
    limit = time::serialize(local, buffer, limit);
    if ((zone & ~ZONE_WEST) != 0) {
        n = std::snprintf(text, sizeof text, "%c%02u:%02u", (zone & ZONE_WEST) ? '-' : '+',
                          (zone >> 2) & 0x0F, (zone & 3) * 15);
        string::concatenate_literal(buffer, text);
        limit -= n;
    }
    return limit;
}

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    return form(value, buffer, how.part, how.limit);
}

// --- path access and pick -----------------------------------------------------

cell_t* eval_path(cell_t* parent, cell_t* element, cell_t* value, cell_t* path, cell_t*, cell_t*,
                  int32_t, bool, bool, bool, bool) {
    int32_t index = -1;
    if (type_of(element) == TYPE_integer) index = integer::get(element);
    else index = field_index(element);
    if (index < 1 || index > 14) fire(err::invalid_path, path, element);
    if (!value) return get_field(parent, index);

    // Work on a copy: an error leaves the date as it was.
    cell_t c = *parent;
    uint32_t d = get(&c);
    double t = get_time(&c);
    switch (index) {
    case 1: {
        if (type_of(value) != TYPE_date) fire(err::invalid_arg, value);
        uint32_t v = get(value);
        bool timed = has_time_q(v);
        c.data1 = (v & ~(HAS_TIME | ZONE_MASK)) | (timed ? (HAS_TIME | zone_of(d)) : 0u);
        if (!timed) cell::put_float(&c, 0.0);
        else if (!has_time_q(d)) cell::put_float(&c, 0.0);
        break;
    }
    case 2: {
        int32_t y = integer_arg(value);
        if (y < MIN_YEAR || y > MAX_YEAR) fire(err::out_of_range, value);
        set_days(&c, days_of(y, month_of(d), day_of(d)));
        break;
    }
    case 3: set_month(&c, integer_arg(value)); break;
    case 4: set_days(&c, days_of(year_of(d), month_of(d), 0) + integer_arg(value)); break;
    case 5:
    case 12: {
        uint32_t zone = zone_arg(value);
        if (!has_time_q(d)) {
            // A zone gives the date a time: midnight in that zone.
            c.data1 = (d & ~ZONE_MASK) | HAS_TIME | zone;
            cell::put_float(&c, to_utc(0.0, zone));
        } else if (index == 5) {
            // The clock reading stays; the instant moves.
            c.data1 = (d & ~ZONE_MASK) | zone;
            cell::put_float(&c, to_utc(to_local(t, zone_of(d)), zone));
        } else {
            // The instant stays; the clock reading moves.
            c.data1 = (d & ~ZONE_MASK) | zone;
            normalize(&c, t, false);
        }
        break;
    }
    case 6:
        if (type_of(value) == TYPE_none) {
            c.data1 = d & ~(HAS_TIME | ZONE_MASK);
            cell::put_float(&c, 0.0);
        } else if (type_of(value) == TYPE_time) {
            if (!has_time_q(d)) c.data1 = (d & ~ZONE_MASK) | HAS_TIME;
            normalize(&c, cell::get_float(value), true);
        } else {
            fire(err::invalid_arg, value);
        }
        break;
    case 7:
    case 8:
    case 9: {
        // The part is set on the local clock reading, which lies within the
        // day, whatever the zone's quarter hours.
        double local = has_time_q(d) ? to_local(t, zone_of(d)) : 0.0;
        local = time::set_field(local, index - 6, value);
        c.data1 = has_time_q(d) ? d : (d & ~ZONE_MASK) | HAS_TIME;
        normalize(&c, local, true);
        break;
    }
    case 10: set_weekday(&c, integer_arg(value)); break;
    case 11: set_yearday(&c, integer_arg(value)); break;
    case 13: {
        int64_t w = integer_arg(value);
        int64_t j = jan1_days(d);
        set_days(&c, w <= 1 ? j : j + 7 * w - fmod_(j + 3, 7) - 7);
        break;
    }
    default: set_isoweek(&c, integer_arg(value)); break;
    }
    parent->data1 = c.data1;
    parent->data2 = c.data2;
    parent->data3 = c.data3;
    // The owner of the cell (an object field, an owned series) is told of
    // the change by the path evaluation that called us.
    return value;
}

cell_t* pick(cell_t* value, int32_t index, cell_t* index_cell) {
    if (word::any_word_q(type_of(index_cell))) index = field_index(index_cell);
    if (index < 1 || index > 14) fire(err::out_of_range, index_cell);
    return get_field(value, index);
}

// --- comparison ---------------------------------------------------------------

int32_t compare(cell_t* value1, cell_t* value2, int32_t op) {
    if (type_of(value2) != TYPE_date) return -2;
    if (op == 2 || op == 10) {
        // Strict: the same fields written the same way, zone included.
        return value1->data1 == value2->data1 && value1->data2 == value2->data2 &&
                       value1->data3 == value2->data3
                   ? 0
                   : 1;
    }
    // Both reduced to seconds from the second date's day, so that the stored
    // times keep their precision for the near-equality of floats.
    double a = (static_cast<double>(to_days(get(value1))) - to_days(get(value2))) * DAY_SECONDS +
               get_time(value1);
    double b = get_time(value2);
    switch (op) {
    case 0:
    case 1:
    case 9:
    case 11:
    case 12: {
        if (float_::almost_equal_q(a, b)) return 0;
        int32_t o = float_::order(a, b);
        return o != 0 ? o : 1;
    }
    default: return float_::order(a, b);
    }
}

void init() {
    datatype::record_t r(TYPE_date, 0, "date!");
    r.own<ACT_make>(make);
    r.own<ACT_random>(random);
    r.own<ACT_to>(to);
    r.own<ACT_form>(form);
    r.own<ACT_mold>(mold);
    r.own<ACT_eval_path>(eval_path);
    r.own<ACT_compare>(compare);
    r.quiet_compare = compare;
    r.own<ACT_add>(add);
    r.own<ACT_subtract>(subtract);
    r.own<ACT_pick>(pick);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::date

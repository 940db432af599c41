// date!, percent! and handle!: table tests of the calendar, fields, paths,
// arithmetic and text forms, and an oracle that checks thousands of random
// dates and zones against Python's datetime.
#include <gtest/gtest.h>

#include "tests/unit/runtime_fixture.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <random>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/handle.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/percent.h"
#include "datatypes/port.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/time.h"
#include "datatypes/word.h"
#include "gc_anchor.h"
#include "molded.h"
#include "needs_tool.h"
#include "runtime/collector.h"
#include "runtime/fire.h"
#include "runtime/stack.h"
#include "runtime/words.h"
#include "runtime_fixture.h"

using namespace zuv;
using zuv::testing::raised;

namespace {

cell_t I(int32_t v) { return cell_t{TYPE_integer, 0, static_cast<uint32_t>(v), 0}; }
cell_t T(double seconds) {
    cell_t c{TYPE_time, 0, 0, 0};
    cell::put_float(&c, seconds);
    return c;
}
cell_t F(double d) {
    cell_t c{TYPE_float_, 0, 0, 0};
    cell::put_float(&c, d);
    return c;
}
cell_t D(int32_t y, int32_t m, int32_t d) {
    cell_t c;
    date::make_at(&c, y, m, d, 0, 0, 0, false);
    return c;
}
// A date with a local time of h:mi:s and a zone of zh hours, zm minutes.
cell_t DT(int32_t y, int32_t m, int32_t d, int32_t h, int32_t mi, double s, int32_t zh = 0,
          int32_t zm = 0) {
    cell_t c;
    date::make_at(&c, y, m, d, 3600.0 * h + 60.0 * mi + s, zh, zm, true);
    return c;
}
cell_t W(words::id w) { return words::word(w); }
cell_t NONE_() { return cell_t{TYPE_none, 0, 0, 0}; }
uint32_t P(cell_t c) { return c.data1; }
uint8_t TY(cell_t c) { return type_of(&c); }
int32_t INT(cell_t c) { return integer::get(&c); }

class Dates : public zuv::testing::Runtime {
protected:
    static std::string text_of(cell_t* s) {
        std::string out;
        series_buffer_t* b = string::buffer_of(s);
        uint32_t unit = b->unit();
        for (const uint8_t* p = string::rs_head(s); p < b->tail_ptr(); p += unit) {
            uint32_t c = string::get_char(p, unit);
            out.push_back(c < 128 ? static_cast<char>(c) : '?');
        }
        return out;
    }
    static std::string formed(cell_t v) {
        cell_t s;
        string::make_at(&s, 32);
        collector::root_cell keep_s(&s), keep_v(&v);
        actions::form(&v, &s, false, -1);
        return text_of(&s);
    }
    static std::string molded(cell_t v, bool all = false) {
        return zuv::test::molded(&v, {.all = all});
    }
    static cell_t block_of(std::initializer_list<cell_t> items) {
        cell_t b;
        block::make_at(&b, 8);
        zuv::test::anchor(b);
        for (const cell_t& c : items) block::rs_append(&b, &c);
        return b;
    }
    // Runs a two-argument frame action; the result slot.
    static cell_t run(void (*action)(), cell_t a, cell_t b) {
        cell_t* args = stack::arguments;
        args[0] = a;
        args[1] = b;
        stack::top_slot = args + 2;
        action();
        return zuv::test::anchor(args[0]);
    }
    static cell_t get_path(cell_t d, words::id w) {
        cell_t e = W(w);
        return zuv::test::anchor(*date::eval_path(&d, &e, nullptr, nullptr, nullptr, nullptr, 1,
                                                  false, false, true, false));
    }
    static cell_t set_path(cell_t d, words::id w, cell_t v) {
        cell_t e = W(w);
        date::eval_path(&d, &e, &v, nullptr, nullptr, nullptr, 1, false, false, true, false);
        return d;
    }
    static int32_t field(cell_t d, int32_t index) {
        return integer::get(date::get_field(&d, index));
    }
    static bool equal(cell_t a, cell_t b) { return date::compare(&a, &b, 0) == 0; }
};

// --- calendar -----------------------------------------------------------------

TEST_F(Dates, DayNumbersAreContinuousAcrossYearZeroAndNegativeYears) {
    // 1-Mar-0000 is day 0 and Monday is (n + 2) mod 7 = 0.
    EXPECT_EQ(date::to_days(P(D(0, 3, 1))), 0);
    EXPECT_EQ(date::to_days(P(D(0, 2, 29))), -1);  // year 0 is a leap year
    // Every year from the first to the last that fits: 31 December and the
    // next 1 January are neighbours, and each day number converts back.
    for (int32_t y = date::MIN_YEAR; y < date::MAX_YEAR; y++) {
        int32_t last = date::to_days(date::pack(y, 12, 31, 0, false));
        int32_t first = date::to_days(date::pack(y + 1, 1, 1, 0, false));
        ASSERT_EQ(first, last + 1) << y;
        for (int32_t n : {last, first, last - 306, last - 59}) {
            uint32_t d = date::from_days(n, 0, false);
            ASSERT_EQ(date::to_days(d), n) << y;
        }
        int32_t length = date::to_days(date::pack(y, 3, 1, 0, false)) -
                         date::to_days(date::pack(y, 2, 1, 0, false));
        ASSERT_EQ(length, date::leap_year_q(y) ? 29 : 28) << y;
    }
    // Weekdays before year 0 keep the seven-day cycle: 1-Jan-0001 was a
    // Monday, so 366 days earlier (year 0 is leap) was a Saturday.
    EXPECT_EQ(field(D(1, 1, 1), 10), 1);
    EXPECT_EQ(field(D(0, 1, 1), 10), 6);
    EXPECT_EQ(field(D(-1, 12, 31), 10), 5);
    EXPECT_EQ(field(D(-1, 12, 31), 11), 365);
    EXPECT_EQ(field(D(-4, 12, 31), 11), 366);
}

TEST_F(Dates, IsoAndSundayWeeks) {
    struct {
        int32_t y, m, d, isoweek, week, weekday;
    } cases[] = {
        {2021, 1, 1, 53, 1, 5},  // a Friday: the last ISO week of 2020
        {2022, 1, 1, 52, 1, 6},  // a Saturday after a common year
        {2024, 12, 31, 1, 53, 2},  // a Tuesday in ISO week 1 of 2025
        {2021, 1, 4, 1, 2, 1},  // the first Monday
        {2017, 1, 1, 52, 1, 7},  // a Sunday: Sunday weeks start there
        {2017, 1, 8, 1, 2, 7},     {2016, 1, 1, 53, 1, 5},
        {2005, 1, 1, 53, 1, 6},  // a Saturday after a leap year
        {2020, 12, 31, 53, 53, 4},
    };
    for (auto& c : cases) {
        cell_t v = D(c.y, c.m, c.d);
        EXPECT_EQ(field(v, 14), c.isoweek) << c.y << "-" << c.m << "-" << c.d;
        EXPECT_EQ(field(v, 13), c.week) << c.y << "-" << c.m << "-" << c.d;
        EXPECT_EQ(field(v, 10), c.weekday) << c.y << "-" << c.m << "-" << c.d;
    }
}

// --- text form ----------------------------------------------------------------

TEST_F(Dates, TextForms) {
    struct {
        cell_t value;
        const char* text;
    } cases[] = {
        {D(2021, 3, 5), "5-Mar-2021"},
        {DT(2021, 3, 5, 14, 30, 0, 1, 0), "5-Mar-2021/14:30:00+01:00"},
        {DT(2021, 3, 5, 14, 30, 0, -3, 30), "5-Mar-2021/14:30:00-03:30"},
        {DT(2021, 3, 5, 14, 30, 0, 0, -45), "5-Mar-2021/14:30:00-00:45"},
        {DT(2021, 3, 5, 14, 30, 0, 12, 45), "5-Mar-2021/14:30:00+12:45"},
        {DT(2021, 3, 5, 0, 0, 1.5), "5-Mar-2021/0:00:01.5"},
        {D(99, 1, 1), "1-Jan-0099"},
        {D(5, 12, 25), "25-Dec-0005"},
        {D(1999, 9, 30), "30-Sep-1999"},
        {D(-44, 3, 15), "15/Mar/-0044"},
        {D(-2000, 3, 15), "15/Mar/-2000"},
    };
    for (auto& c : cases) {
        EXPECT_EQ(formed(c.value), c.text);
        EXPECT_EQ(molded(c.value), c.text);
    }
}

TEST_F(Dates, DateWithoutTimeHasNoTimeFields) {
    cell_t d = D(2021, 3, 5);
    EXPECT_EQ(TY(get_path(d, words::id::zone)), TYPE_none);
    EXPECT_EQ(TY(get_path(d, words::id::time)), TYPE_none);
    EXPECT_EQ(TY(get_path(d, words::id::timezone)), TYPE_none);
    EXPECT_EQ(INT(get_path(d, words::id::hour)), 0);
}

// --- zones and instants -------------------------------------------------------

TEST_F(Dates, StoredTimeIsLocalTimeLessTheZone) {
    cell_t d = DT(2021, 5, 1, 23, 0, 0, 2, 0);
    EXPECT_EQ(date::get_time(&d), 75600.0);
    cell_t r = run(date::add, d, T(2 * 3600));
    EXPECT_EQ(formed(r), "2-May-2021/1:00:00+02:00");
    // Subtracting goes back over midnight the same way.
    r = run(date::subtract, DT(2021, 5, 1, 0, 30, 0, -5, 0), T(3600));
    EXPECT_EQ(formed(r), "30-Apr-2021/23:30:00-05:00");
}

TEST_F(Dates, EqualInstantsInDifferentZonesAreEqualAndOrderFollowsTime) {
    // 1:00 in +02:00 is 23:00 UTC the day before.
    cell_t a = DT(2000, 1, 1, 1, 0, 0, 2, 0);
    cell_t b = DT(1999, 12, 31, 23, 0, 0);
    EXPECT_TRUE(equal(a, b));
    EXPECT_NE(date::compare(&a, &b, 2), 0)
        << "strict equality also compares the way they are written";
    // 23:30 UTC on the 31st is later than 0:15 in +01:00 on the 1st
    // (23:15 UTC on the 31st), though its calendar date is earlier.
    cell_t late = DT(1999, 12, 31, 23, 30, 0);
    cell_t early = DT(2000, 1, 1, 0, 15, 0, 1, 0);
    EXPECT_GT(date::compare(&late, &early, 3), 0);
    EXPECT_LT(date::compare(&early, &late, 3), 0);
    EXPECT_GT(date::compare(&late, &early, 7), 0);
    // Not comparable with other types; plain dates compare by day.
    cell_t i = I(1);
    EXPECT_EQ(date::compare(&a, &i, 0), -2);
    cell_t d1 = D(2000, 1, 1), d2 = D(2000, 1, 2);
    EXPECT_LT(date::compare(&d1, &d2, 3), 0);
    EXPECT_TRUE(equal(D(2000, 1, 1), D(2000, 1, 1)));
    EXPECT_TRUE(equal(DT(2000, 1, 1, 10, 0, 0.1 + 0.2), DT(2000, 1, 1, 10, 0, 0.3)));
}

TEST_F(Dates, ZonesThatAreNotWholeQuarterHoursAreRefused) {
    EXPECT_EQ(raised([] { DT(2000, 1, 1, 10, 0, 0, 1, 10); }), err::invalid_arg);
    EXPECT_EQ(raised([] { DT(2000, 1, 1, 10, 0, 0, 16, 0); }), err::invalid_arg);
    EXPECT_EQ(raised([] { DT(2000, 1, 1, 10, 0, 0, 2, -30); }), err::invalid_arg);
    EXPECT_FALSE(date::zone_valid_q(5, 50));
    EXPECT_TRUE(date::zone_valid_q(-15, 45));
    EXPECT_TRUE(date::zone_valid_q(0, -30));
    cell_t d = DT(2000, 1, 1, 10, 0, 0);
    EXPECT_EQ(raised([&] { set_path(d, words::id::zone, T(3600 + 600)); }), err::invalid_arg);
    EXPECT_EQ(raised([&] { set_path(d, words::id::timezone, T(30)); }), err::invalid_arg);
    EXPECT_EQ(raised([&] { set_path(d, words::id::zone, I(17)); }), err::invalid_arg);
    EXPECT_EQ(raised([&] { set_path(d, words::id::zone, F(1.0)); }), err::invalid_arg);
    EXPECT_EQ(formed(d), "1-Jan-2000/10:00:00") << "a refused set leaves the date as it was";
    cell_t spec = block_of({I(1), I(1), I(2000), T(36000), I(5), I(20)});
    EXPECT_EQ(raised([&] {
                  cell_t r;
                  date::to(&r, &spec, TYPE_date);
              }),
              err::bad_to_arg);
    spec = block_of({I(1), I(1), I(2000), T(36000), T(3600 + 300)});
    EXPECT_EQ(raised([&] {
                  cell_t r;
                  date::to(&r, &spec, TYPE_date);
              }),
              err::bad_to_arg);
}

TEST_F(Dates, ZoneKeepsTheClockTimezoneKeepsTheInstant) {
    cell_t d = DT(2021, 6, 1, 23, 0, 0, 2, 0);
    EXPECT_EQ(formed(set_path(d, words::id::zone, I(-4))), "1-Jun-2021/23:00:00-04:00");
    EXPECT_EQ(formed(set_path(d, words::id::timezone, I(-4))), "1-Jun-2021/17:00:00-04:00");
    EXPECT_EQ(formed(set_path(d, words::id::timezone, T(5 * 3600 + 1800))),
              "2-Jun-2021/2:30:00+05:30");
    EXPECT_EQ(formed(set_path(d, words::id::timezone, I(0))), "1-Jun-2021/21:00:00");
    EXPECT_TRUE(equal(set_path(d, words::id::timezone, I(9)), d));
    cell_t z = get_path(set_path(d, words::id::zone, T(-(3 * 3600 + 1800))), words::id::zone);
    EXPECT_EQ(cell::get_float(&z), -(3 * 3600.0 + 1800));
}

// --- paths --------------------------------------------------------------------

TEST_F(Dates, SettingCalendarFieldsNormalises) {
    struct {
        cell_t date;
        words::id field;
        int32_t value;
        const char* result;
    } cases[] = {
        {D(2021, 1, 31), words::id::month, 2, "3-Mar-2021"},
        {D(2024, 1, 31), words::id::month, 2, "2-Mar-2024"},
        {D(2021, 1, 31), words::id::month, 14, "3-Mar-2022"},
        {D(2021, 5, 15), words::id::month, 0, "15-Dec-2020"},
        {D(2021, 5, 15), words::id::month, -11, "15-Jan-2020"},
        {D(2021, 5, 15), words::id::month, -12, "15-Dec-2019"},
        {D(2024, 2, 29), words::id::year, 2025, "1-Mar-2025"},
        {D(2021, 3, 15), words::id::day, 0, "28-Feb-2021"},
        {D(2021, 3, 15), words::id::day, 40, "9-Apr-2021"},
        {D(2021, 3, 15), words::id::day, -1, "27-Feb-2021"},
        {D(2021, 3, 17), words::id::weekday, 1, "15-Mar-2021"},
        {D(2021, 3, 17), words::id::weekday, 7, "21-Mar-2021"},
        {D(2021, 3, 17), words::id::yearday, 1, "1-Jan-2021"},
        {D(2021, 3, 17), words::id::julian, 365, "31-Dec-2021"},
        {D(2021, 3, 17), words::id::week, 1, "1-Jan-2021"},
        {D(2021, 3, 17), words::id::week, 2, "3-Jan-2021"},
        {D(2021, 3, 17), words::id::isoweek, 1, "4-Jan-2021"},
        {D(2026, 6, 1), words::id::isoweek, 1, "29-Dec-2025"},
    };
    for (auto& c : cases) {
        cell_t v = set_path(c.date, c.field, I(c.value));
        EXPECT_EQ(formed(v), c.result) << words::text_of(c.field) << " " << c.value;
    }
    // Only integers; the date stays as it was.
    cell_t d = D(2021, 3, 17);
    for (words::id w : {words::id::year, words::id::month, words::id::day, words::id::weekday,
                        words::id::yearday, words::id::week, words::id::isoweek})
        EXPECT_EQ(raised([&] { set_path(d, w, F(2.0)); }), err::invalid_arg) << words::text_of(w);
    EXPECT_EQ(formed(d), "17-Mar-2021");
}

TEST_F(Dates, SettingTimeFieldsWorksOnTheLocalClock) {
    // +05:30: the stored time's minutes are not the local minutes, and just
    // after local midnight the stored time is negative.
    cell_t d = DT(2021, 3, 17, 10, 45, 0, 5, 30);
    EXPECT_EQ(formed(set_path(d, words::id::minute, I(15))), "17-Mar-2021/10:15:00+05:30");
    EXPECT_EQ(formed(set_path(d, words::id::hour, I(3))), "17-Mar-2021/3:45:00+05:30");
    EXPECT_EQ(formed(set_path(d, words::id::second, F(7.25))), "17-Mar-2021/10:45:07.25+05:30");
    cell_t early = DT(2021, 3, 17, 1, 0, 0, 2, 0);
    EXPECT_EQ(formed(set_path(early, words::id::hour, I(5))), "17-Mar-2021/5:00:00+02:00");
    EXPECT_EQ(formed(set_path(early, words::id::hour, I(25))), "18-Mar-2021/1:00:00+02:00");
    EXPECT_EQ(formed(set_path(D(2021, 3, 17), words::id::hour, I(8))), "17-Mar-2021/8:00:00");
    // time: a time of day, or none to drop it.
    EXPECT_EQ(formed(set_path(d, words::id::time, T(-3600))), "16-Mar-2021/23:00:00+05:30");
    EXPECT_EQ(formed(set_path(d, words::id::time, NONE_())), "17-Mar-2021");
    EXPECT_EQ(raised([&] { set_path(d, words::id::time, I(3)); }), err::invalid_arg);
    // date: the calendar date of another date, this one's time and zone.
    EXPECT_EQ(formed(set_path(d, words::id::date, DT(1999, 1, 2, 3, 0, 0))),
              "2-Jan-1999/10:45:00+05:30");
    EXPECT_EQ(formed(set_path(d, words::id::date, D(1999, 1, 2))), "2-Jan-1999");
}

TEST_F(Dates, PathAndPickErrors) {
    cell_t d = D(2021, 3, 17);
    cell_t bad = W(words::id::host);
    EXPECT_EQ(raised([&] {
                  date::eval_path(&d, &bad, nullptr, nullptr, nullptr, nullptr, 1, false, false,
                                  true, false);
              }),
              err::invalid_path);
    cell_t fifteen = I(15);
    EXPECT_EQ(raised([&] {
                  date::eval_path(&d, &fifteen, nullptr, nullptr, nullptr, nullptr, 1, 0, 0, 1, 0);
              }),
              err::invalid_path);
    EXPECT_EQ(raised([&] { date::pick(&d, 15, &fifteen); }), err::out_of_range);
    cell_t zero = I(0);
    EXPECT_EQ(raised([&] { date::pick(&d, 0, &zero); }), err::out_of_range);
    EXPECT_EQ(raised([&] { date::pick(&d, 0, &bad); }), err::out_of_range);
    cell_t year = W(words::id::year);
    EXPECT_EQ(integer::get(date::pick(&d, 0, &year)), 2021);
    cell_t three = I(3);
    EXPECT_EQ(integer::get(date::pick(&d, 3, &three)), 3);
    cell_t one = I(1);
    cell_t timed = DT(2021, 3, 17, 5, 0, 0, 1, 0);
    cell_t plain = *date::pick(&timed, 1, &one);
    EXPECT_EQ(formed(plain), "17-Mar-2021");
}

// --- arithmetic ---------------------------------------------------------------

TEST_F(Dates, Arithmetic) {
    EXPECT_EQ(formed(run(date::add, D(2021, 12, 31), I(1))), "1-Jan-2022");
    EXPECT_EQ(formed(run(date::subtract, D(2021, 3, 1), I(1))), "28-Feb-2021");
    EXPECT_EQ(formed(run(date::add, D(2021, 3, 1), T(90))), "1-Mar-2021/0:01:30");
    // integer! + date! and time! + date! swap into the date's arithmetic.
    EXPECT_EQ(formed(run(integer::add, I(2), D(2021, 3, 1))), "3-Mar-2021");
    EXPECT_EQ(formed(run(time::add, T(3600), D(2021, 3, 1))), "1-Mar-2021/1:00:00");
    // date - date: whole days elapsed, rounded down.
    cell_t r = run(date::subtract, D(2021, 3, 1), D(2020, 3, 1));
    EXPECT_EQ(type_of(&r), TYPE_integer);
    EXPECT_EQ(integer::get(&r), 365);
    EXPECT_EQ(integer::get(&(r = run(date::subtract, D(2020, 3, 1), D(2021, 3, 1)))), -365);
    EXPECT_EQ(integer::get(&(r = run(date::subtract, DT(2000, 1, 2, 0, 0, 0, 2, 0),
                                     DT(2000, 1, 1, 1, 0, 0, 2, 0)))),
              0);
    // The same instant written in two zones is no day apart; a day later is one.
    EXPECT_EQ(integer::get(&(r = run(date::subtract, DT(2000, 1, 1, 1, 0, 0, 2, 0),
                                     DT(1999, 12, 31, 23, 0, 0)))),
              0);
    EXPECT_EQ(integer::get(&(r = run(date::subtract, DT(2000, 1, 2, 1, 0, 0, 2, 0),
                                     DT(1999, 12, 31, 23, 0, 0)))),
              1);
    EXPECT_EQ(raised([] { run(date::add, D(2021, 3, 1), D(2021, 3, 1)); }), err::not_related);
    EXPECT_EQ(raised([] { run(date::add, D(2021, 3, 1), F(1.5)); }), err::invalid_type);
    EXPECT_EQ(raised([] { run(date::add, D(date::MAX_YEAR, 12, 31), I(1)); }), err::overflow);
    EXPECT_EQ(raised([] { run(date::add, D(2000, 1, 1), T(1e300)); }), err::overflow);
    cell_t a = DT(2021, 3, 1, 12, 0, 0, 1, 0), b = DT(2021, 2, 28, 12, 0, 0);
    EXPECT_EQ(date::difference(&a, &b), 86400.0 - 3600.0);
}

// --- conversions --------------------------------------------------------------

TEST_F(Dates, EpochSeconds) {
    cell_t zero = I(0), r;
    date::to(&r, &zero, TYPE_date);
    EXPECT_EQ(formed(r), "1-Jan-1970/0:00:00");
    EXPECT_EQ(date::to_epoch(&r), 0);
    cell_t minus = I(-1);
    date::to(&r, &minus, TYPE_date);
    EXPECT_EQ(formed(r), "31-Dec-1969/23:59:59");
    cell_t big = I(2147483647);
    date::to(&r, &big, TYPE_date);
    EXPECT_EQ(formed(r), "19-Jan-2038/3:14:07");
    // to integer! goes through the same seconds; past the integer range it
    // refuses instead of wrapping.
    cell_t i;
    cell_t d = DT(2000, 1, 1, 0, 0, 0, 1, 0);
    integer::to(&i, &d, TYPE_integer);
    EXPECT_EQ(integer::get(&i), 946681200);
    d = D(2040, 1, 1);
    EXPECT_EQ(raised([&] { integer::to(&i, &d, TYPE_integer); }), err::type_limit);
    EXPECT_EQ(date::to_epoch64(&d), 2208988800LL);
}

TEST_F(Dates, FromBlocks) {
    struct {
        std::vector<cell_t> items;
        const char* text;  // nullptr: make refuses, to rolls forward to rolled
        const char* rolled;
    } cases[] = {
        {{I(5), I(3), I(2021)}, "5-Mar-2021", "5-Mar-2021"},
        {{I(2021), I(3), I(5)}, "5-Mar-2021", "5-Mar-2021"},
        {{I(2021), I(2), I(30)}, nullptr, "2-Mar-2021"},
        {{I(31), I(4), I(2021)}, nullptr, "1-May-2021"},
        {{I(1), I(13), I(2021)}, nullptr, "1-Jan-2022"},
        {{I(5), I(3), I(2021), T(3600 * 14.5)}, "5-Mar-2021/14:30:00", "5-Mar-2021/14:30:00"},
        {{I(5), I(3), I(2021), T(3600 * 14.5), I(-3), I(30)},
         "5-Mar-2021/14:30:00-03:30",
         "5-Mar-2021/14:30:00-03:30"},
        {{I(5), I(3), I(2021), T(3600 * 14.5), T(3600 * 5.75)},
         "5-Mar-2021/14:30:00+05:45",
         "5-Mar-2021/14:30:00+05:45"},
        {{I(5), I(3), I(2021), I(14), I(30), I(10)}, "5-Mar-2021/14:30:10", "5-Mar-2021/14:30:10"},
        {{I(5), I(3), I(2021), I(14), I(30), F(10.5), I(2)},
         "5-Mar-2021/14:30:10.5+02:00",
         "5-Mar-2021/14:30:10.5+02:00"},
        {{I(5), I(3), I(2021), I(24), I(0), I(0)}, nullptr, "6-Mar-2021/0:00:00"},
        {{I(5), I(3), I(2021), I(10), I(75), I(0)}, nullptr, "5-Mar-2021/11:15:00"},
        {{I(5), I(3), I(2021), T(-3600)}, nullptr, "4-Mar-2021/23:00:00"},
    };
    for (auto& c : cases) {
        cell_t spec;
        block::make_at(&spec, 8);
        zuv::test::anchor(spec);
        for (const cell_t& v : c.items) block::rs_append(&spec, &v);
        cell_t r;
        date::to(&r, &spec, TYPE_date);
        EXPECT_EQ(formed(r), c.rolled);
        if (c.text) {
            date::make(&r, &spec, TYPE_date);
            EXPECT_EQ(formed(r), c.text);
        } else {
            EXPECT_EQ(raised([&] { date::make(&r, &spec, TYPE_date); }), err::bad_to_arg)
                << c.rolled;
        }
    }
    // Too few values, values of other types, values with no transition.
    for (auto items : {std::vector<cell_t>{I(1), I(2)}, std::vector<cell_t>{I(1), F(2.0), I(2000)},
                       std::vector<cell_t>{I(1), I(2), I(2000), T(0), I(1), I(0), I(0)},
                       std::vector<cell_t>{I(1), I(2), I(2000), NONE_()},
                       std::vector<cell_t>{T(0), I(1), I(2)}}) {
        cell_t spec;
        block::make_at(&spec, 8);
        zuv::test::anchor(spec);
        for (const cell_t& v : items) block::rs_append(&spec, &v);
        cell_t r;
        EXPECT_EQ(raised([&] { date::to(&r, &spec, TYPE_date); }), err::bad_to_arg);
        EXPECT_EQ(raised([&] { date::make(&r, &spec, TYPE_date); }), err::bad_to_arg);
    }
    cell_t f = F(1.0), r;
    EXPECT_EQ(raised([&] { date::to(&r, &f, TYPE_date); }), err::bad_to_arg);
}

TEST_F(Dates, NowIsTheCurrentInstantWithTheLocalTimeWithinTheDay) {
    for (bool utc : {false, true}) {
        cell_t d;
        date::now(&d, utc, true);
        int64_t clock = static_cast<int64_t>(::time(nullptr));
        EXPECT_LE(std::llabs(date::to_epoch64(&d) - clock), 2) << formed(d);
        double local = date::to_local(date::get_time(&d), date::zone_of(date::get(&d)));
        EXPECT_GE(local, 0.0);
        EXPECT_LT(local, 86400.0);
        // The local date is what the C library says it is.
        time_t now = static_cast<time_t>(clock);
        tm t{};
        if (utc) gmtime_r(&now, &t);
        else localtime_r(&now, &t);
        if (t.tm_hour != 0 || t.tm_min != 0) {  // not at a midnight race
            EXPECT_EQ(date::day_of(date::get(&d)), t.tm_mday);
        }
    }
}

TEST_F(Dates, RandomStaysInRangeAndSeedingGivesUnset) {
    for (int i = 0; i < 200; i++) {
        cell_t d = DT(2021, 3, 5, 10, 0, 0, 1, 0);
        date::random(&d, false, i % 2 == 1, false);
        ASSERT_EQ(type_of(&d), TYPE_date);
        ASSERT_LE(date::to_days(date::get(&d)), date::to_days(date::pack(2021, 3, 6, 0, false)));
        double local = date::to_local(date::get_time(&d), date::zone_of(date::get(&d)));
        ASSERT_GE(local, 0.0);
        ASSERT_LT(local, 86400.0);
    }
    cell_t d = D(2021, 3, 5);
    date::random(&d, true, false, false);
    EXPECT_EQ(type_of(&d), TYPE_unset);
}

// --- the oracle -----------------------------------------------------------------

// Random dates (years 1-9999, every quarter-hour zone) go to Python's
// datetime, which answers with day ordinals, ISO calendars, weekdays, days
// of the year, Sunday-based weeks, epoch seconds, differences and the UTC
// date of the same instant; every answer must match ours.
TEST_F(Dates, AgreesWithPythonDatetime) {
    ZUV_NEEDS_TOOL(access("/usr/bin/python3", X_OK) == 0, "no /usr/bin/python3");
    struct case_t {
        int32_t y, m, d, s, q;  // q: zone in quarter hours
    };
    std::mt19937 rng(20240518);
    auto pick = [&](int32_t lo, int32_t hi) {
        return std::uniform_int_distribution<int32_t>(lo, hi)(rng);
    };
    auto random_case = [&] {
        case_t c;
        c.y = pick(0, 9) == 0 ? pick(1, 9999) : pick(1800, 2200);
        c.m = pick(1, 12);
        c.d = pick(1, date::month_length(c.y, c.m));
        // Edges of the day and of the year matter most.
        c.s = pick(0, 3) == 0 ? (pick(0, 1) ? pick(0, 120) : 86399 - pick(0, 120)) : pick(0, 86399);
        if (pick(0, 5) == 0) {
            c.m = pick(0, 1) ? 1 : 12;
            c.d = c.m == 1 ? pick(1, 7) : pick(25, 31);
        }
        c.q = pick(-63, 63);
        if (c.y == 1 && c.m == 1 && c.d == 1)
            c.q = c.q < 0 ? c.q : -c.q;  // keep the UTC instant in year 1
        if (c.y == 9999 && c.m == 12 && c.d == 31) c.q = c.q > 0 ? c.q : -c.q;
        return c;
    };
    const int N = 4000;
    std::vector<case_t> a(N), b(N);
    for (int i = 0; i < N; i++) {
        a[i] = random_case();
        b[i] = random_case();
    }

    char dir[] = "/tmp/zuv-date-oracle-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string input = std::string(dir) + "/cases.txt", script = std::string(dir) + "/oracle.py";
    {
        FILE* f = fopen(input.c_str(), "w");
        ASSERT_NE(f, nullptr);
        for (int i = 0; i < N; i++)
            fprintf(f, "%d %d %d %d %d %d %d %d %d %d\n", a[i].y, a[i].m, a[i].d, a[i].s, a[i].q,
                    b[i].y, b[i].m, b[i].d, b[i].s, b[i].q);
        fclose(f);
        f = fopen(script.c_str(), "w");
        ASSERT_NE(f, nullptr);
        fputs(R"PY(
import sys
from datetime import datetime, timedelta, timezone, date
EPOCH = datetime(1970, 1, 1, tzinfo=timezone.utc)
def make(y, m, d, s, q):
    tz = timezone(timedelta(minutes=15 * q))
    return datetime(y, m, d, tzinfo=tz) + timedelta(seconds=s)
for line in open(sys.argv[1]):
    v = [int(x) for x in line.split()]
    x, y = make(*v[0:5]), make(*v[5:10])
    dx = x.date()
    iso = dx.isocalendar()
    jan1 = date(dx.year, 1, 1)
    week = int(dx.strftime('%U')) + (0 if jan1.weekday() == 6 else 1)
    epoch = (x - EPOCH) // timedelta(seconds=1)
    diff = (x - y) // timedelta(seconds=1)
    u = x.astimezone(timezone.utc)
    print(dx.toordinal(), iso[0], iso[1], dx.isoweekday(), dx.timetuple().tm_yday, week, epoch, diff,
          u.year, u.month, u.day, u.hour * 3600 + u.minute * 60 + u.second)
)PY",
              f);
        fclose(f);
    }
    std::string command = "/usr/bin/python3 " + script + " " + input;
    FILE* p = popen(command.c_str(), "r");
    ASSERT_NE(p, nullptr);
    int32_t ordinal_base = date::to_days(date::pack(1, 1, 1, 0, false)) - 1;
    int mismatches = 0;
    char line[512];
    int i = 0;
    for (; i < N && fgets(line, sizeof line, p); i++) {
        long long ordinal, iso_year, iso_week, iso_day, yday, week, epoch, diff, uy, um, ud, us;
        ASSERT_EQ(sscanf(line, "%lld %lld %lld %lld %lld %lld %lld %lld %lld %lld %lld %lld",
                         &ordinal, &iso_year, &iso_week, &iso_day, &yday, &week, &epoch, &diff, &uy,
                         &um, &ud, &us),
                  12)
            << line;
        const case_t& c = a[i];
        int32_t zh = c.q / 4, zm = (c.q % 4) * 15;  // both carry the sign
        cell_t x = DT(c.y, c.m, c.d, 0, 0, c.s, zh, zm);
        cell_t y = DT(b[i].y, b[i].m, b[i].d, 0, 0, b[i].s, b[i].q / 4, (b[i].q % 4) * 15);
        uint32_t d = date::get(&x);
        int32_t iso = date::isoweek(d);
        // Our ISO week belongs to the ISO year Python names.
        int32_t expected_iso_year = iso_week == iso ? static_cast<int32_t>(iso_year) : -1;
        cell_t u = x;
        cell_t zero = I(0);
        cell_t tz = W(words::id::timezone);
        date::eval_path(&u, &tz, &zero, nullptr, nullptr, nullptr, 1, false, false, true, false);
        uint32_t ud_ = date::get(&u);
        std::ostringstream got, want;
        got << date::to_days(d) - ordinal_base << " " << iso << "/"
            << (iso_year == expected_iso_year) << " " << date::weekday(date::to_days(d)) << " "
            << date::yearday(d) << " " << date::week(d) << " " << date::to_epoch64(&x) << " "
            << static_cast<int64_t>(date::difference(&x, &y)) << " " << date::year_of(ud_) << "-"
            << date::month_of(ud_) << "-" << date::day_of(ud_) << " " << date::get_time(&u) << " "
            << (date::compare(&x, &y, 3) < 0) << (date::compare(&x, &y, 0) == 0);
        want << ordinal << " " << iso_week << "/1 " << iso_day << " " << yday << " " << week << " "
             << epoch << " " << diff << " " << uy << "-" << um << "-" << ud << " " << us << " "
             << (diff < 0) << (diff == 0);
        if (got.str() != want.str() && ++mismatches <= 10)
            ADD_FAILURE() << c.y << "-" << c.m << "-" << c.d << " +" << c.s << "s zone " << c.q * 15
                          << "min\n  got:  " << got.str() << "\n  want: " << want.str();
    }
    int status = pclose(p);
    EXPECT_EQ(i, N) << "python answered fewer cases";
    EXPECT_EQ(status, 0);
    EXPECT_EQ(mismatches, 0);
    std::remove(input.c_str());
    std::remove(script.c_str());
    rmdir(dir);
}

// --- percent! and handle! -------------------------------------------------------

TEST_F(Dates, PercentFormsAndKeepsItsTypeInArithmetic) {
    cell_t half{}, zero{}, p{};
    percent::make_at(&half, 0.5);
    percent::make_at(&zero, 0.0);
    EXPECT_EQ(formed(half), "50%");
    EXPECT_EQ(molded(half), "50%");
    EXPECT_EQ(formed(zero), "0%");
    percent::make_at(&p, 0.125);
    EXPECT_EQ(formed(p), "12.5%");
    percent::make_at(&p, -0.01);
    EXPECT_EQ(formed(p), "-1%");
    cell_t r = run(float_::add, half, half);
    EXPECT_EQ(type_of(&r), TYPE_percent);
    EXPECT_EQ(cell::get_float(&r), 1.0);
    EXPECT_NE(type_action_table[(TYPE_percent << 8) + ACT_multiply - 1], nullptr);
    EXPECT_EQ(type_action_table[(TYPE_percent << 8) + ACT_pick - 1], nullptr);
}

TEST_F(Dates, HandleFormsMoldsAndCompares) {
    cell_t h{};
    handle::make_at(&h, 255, handle::kind::WINDOW);
    EXPECT_EQ(formed(h), "000000FFh");
    EXPECT_EQ(molded(h), "handle!");
    EXPECT_EQ(molded(h, true), "#[handle! 000000FFh window]");
    cell_t n;
    handle::make_at(&n, 0, handle::kind::NONE);
    EXPECT_EQ(molded(n, true), "#[handle! 00000000h]");
    EXPECT_EQ(handle::external_of(&n), handle::NO_EXTERNAL);
    cell_t i = I(255);
    EXPECT_EQ(handle::compare(&h, &i, 0), 1);
    EXPECT_EQ(handle::compare(&h, &h, 0), 0);
    EXPECT_EQ(handle::compare(&n, &h, 3), -1);
    cell_t big;
    handle::make_at(&big, 0xFFFFFFFFu, handle::kind::FD);
    EXPECT_EQ(handle::compare(&big, &n, 3), -1) << "values compare signed";
    EXPECT_EQ(type_action_table[(TYPE_handle << 8) + ACT_add - 1], nullptr);
}

// --- port! ----------------------------------------------------------------------

// A port whose actor field holds the given value (an empty object when
// actor is nullptr).
cell_t port_with_actor(const cell_t* actor) {
    cell_t port;
    object::make_at(&port, 4);
    zuv::test::anchor(port);
    cell_t value;
    if (actor) value = *actor;
    else object::make_at(&value, 4);
    zuv::test::anchor(value);
    cell_t w = word::make_global(symbol::make("actor"));
    _context::add_value(object::context_of(&port), &w, &value);
    cell::set_type(&port, TYPE_port);
    return port;
}

TEST_F(Dates, PortActionsGoToTheActorAndNeedAnActorFunction) {
    cell_t port = port_with_actor(nullptr);
    EXPECT_EQ(type_of(port::get_actor(&port)), TYPE_object);
    stack::push(&port);
    EXPECT_EQ(raised([&] { actions::length_q(&port); }), err::no_port_action);
    EXPECT_EQ(raised([&] { port::forward(ACT_close, &port, nullptr, 0); }), err::no_port_action);
    cell_t number = I(3);
    cell_t broken = port_with_actor(&number);
    EXPECT_EQ(raised([&] { port::get_actor(&broken); }), err::invalid_port);
    EXPECT_EQ(raised([&] { port::forward(ACT_length_q, &broken, nullptr, 0); }), err::invalid_port);
    // make finds no scheme without one in the spec.
    cell_t spec, r;
    object::make_at(&spec, 4);
    zuv::test::anchor(spec);
    cell_t w = word::make_global(symbol::make("scheme"));
    cell_t none = NONE_();
    _context::add_value(object::context_of(&spec), &w, &none);
    EXPECT_EQ(raised([&] { port::make(&r, &spec, TYPE_port); }), err::no_scheme);
    EXPECT_EQ(molded(port).rfind("make port! [", 0), 0u) << molded(port);
}

}  // namespace

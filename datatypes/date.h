// date!: a calendar date with an optional time of day and zone, in one cell.
//
// Word 1 packs the date as written (the local calendar date):
//   bits 17-31 year (signed, read by an arithmetic shift), 12-15 month,
//   16 has-time, 7-11 day, 6 zone sign (1 = west of UTC), 2-5 zone hours,
//   0-1 zone quarter hours.
// Words 2-3 hold a double, the stored time: the local time of day minus the
// zone offset, in seconds. It may lie below 0 or past 86,400; the local time
// (stored + zone) always lies in [0, 86,400). A date without a time has
// has-time 0, stored time 0.0, and its zone bits mean nothing.
//
// Day numbers count days on the proleptic Gregorian calendar with years that
// start on 1 March; 1-Mar-0000 is day 0, and (n + 2) mod 7 is 0 on Mondays.
// Every division here floors (negative years and days included), so the
// calendar is continuous across year 0.
//
// Two dates compare by the instant they name: the same moment written in two
// zones is equal, and ordering follows time across midnight and zones.
// Zones are whole quarter hours up to 15:45 either side; anything else is
// refused (invalid-arg), never rounded.
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "runtime/cell.h"

namespace zuv::date {

constexpr uint32_t HAS_TIME = 1u << 16;
constexpr uint32_t ZONE_MASK = 0x7Fu;  // sign, hours, quarters
constexpr uint32_t ZONE_WEST = 1u << 6;
constexpr int32_t DAY_SECONDS = 86400;
constexpr int32_t MIN_YEAR = -16384;
constexpr int32_t MAX_YEAR = 16383;

// --- the packed word ---
inline int32_t year_of(uint32_t d) { return static_cast<int32_t>(d) >> 17; }
inline int32_t month_of(uint32_t d) { return static_cast<int32_t>((d >> 12) & 0x0F); }
inline int32_t day_of(uint32_t d) { return static_cast<int32_t>((d >> 7) & 0x1F); }
inline bool has_time_q(uint32_t d) { return (d & HAS_TIME) != 0; }
inline uint32_t zone_of(uint32_t d) { return d & ZONE_MASK; }
inline uint32_t pack(int32_t year, int32_t month, int32_t day, uint32_t zone, bool has_time) {
    return (static_cast<uint32_t>(year) << 17) | (static_cast<uint32_t>(month & 0x0F) << 12) |
           (has_time ? HAS_TIME : 0u) | (static_cast<uint32_t>(day & 0x1F) << 7) |
           (zone & ZONE_MASK);
}
// Signed zone offset of the zone bits, in seconds.
inline int32_t zone_seconds(uint32_t zone) {
    int32_t s =
        static_cast<int32_t>((zone >> 2) & 0x0F) * 3600 + static_cast<int32_t>(zone & 3) * 900;
    return (zone & ZONE_WEST) ? -s : s;
}
// The zone bits of a signed offset in seconds; invalid-arg (with the offset
// as a time!) unless it is a whole number of quarter hours within +-15:45.
uint32_t zone_from_seconds(int64_t seconds);
// True when hours and minutes name a zone that zone bits can hold exactly
// (the loaders check before building). The sign is that of whichever part
// is negative ("-0:30" is hours 0, minutes -30).
bool zone_valid_q(int32_t hours, int32_t minutes);

inline uint32_t get(const cell_t* c) { return c->data1; }
inline double get_time(const cell_t* c) { return cell::get_float(c); }

// --- calendar ---
bool leap_year_q(int32_t year);
int32_t month_length(int32_t year, int32_t month);
int32_t to_days(uint32_t date);
uint32_t from_days(int32_t days, uint32_t zone, bool has_time);
int32_t jan1_days(uint32_t date);
int32_t yearday(uint32_t date);
// Day number of the Monday starting ISO week 1 of the date's year; *weekday
// gets 1 January's weekday (1 Monday .. 7 Sunday).
int32_t iso_week1(uint32_t date, int32_t* weekday);
int32_t weekday(int32_t days);  // 1 Monday .. 7 Sunday
int32_t week(uint32_t date);  // Sunday-based, week 1 holds 1 January
int32_t isoweek(uint32_t date);

inline double to_local(double t, uint32_t zone) { return t + zone_seconds(zone); }
inline double to_utc(double t, uint32_t zone) { return t - zone_seconds(zone); }
// Moves whole days between days and *t so that the local time lies in
// [0, 86,400); returns the new day number.
int32_t normalize_time(int32_t days, double* t, uint32_t zone);
// Rewrites the cell from a time (local when local is set, else stored).
void normalize(cell_t* date, double t, bool local);

// --- constructors ---
// zone_minutes is the minutes part of the zone (0, 15, 30, 45; see
// zone_valid_q for the sign); time is the local time of day. Without a time
// the zone is dropped. An invalid zone raises invalid-arg.
cell_t* make_at(cell_t* cell, int32_t year, int32_t month, int32_t day, double time,
                int32_t zone_hours, int32_t zone_minutes, bool has_time);
// Zone 0 (UTC), has-time set.
cell_t* make_at_hms(cell_t* cell, int32_t year, int32_t month, int32_t day, int32_t hours,
                    int32_t minutes, int32_t seconds, int32_t nanoseconds);
cell_t* make_raw(cell_t* cell, uint32_t date, double stored_time);
cell_t* push(uint32_t date, double stored_time);
cell_t* make_in(cell_t* block, uint32_t date, double stored_time);
// The current date and time from the platform clock (local date and zone,
// or UTC), whole seconds unless precise.
cell_t* now(cell_t* cell, bool utc, bool precise);

// --- fields (1 date .. 14 isoweek, as pick and paths number them) ---
// Index of a word (canonical symbol), or -1.
int32_t field_index(const cell_t* word);
// Pushes the field.
cell_t* get_field(const cell_t* date, int32_t index);
void set_isoweek(cell_t* date, int32_t week);
void set_weekday(cell_t* date, int32_t weekday);
void set_yearday(cell_t* date, int32_t day);
void set_month(cell_t* date, int32_t month);

// Seconds since 1970-01-01 00:00 UTC, the time rounded to whole seconds
// (to integer!); outside the integer! range raises type-limit.
int32_t to_epoch(const cell_t* date);
int64_t to_epoch64(const cell_t* date);
// a - b in seconds (the difference native makes it a time!).
double difference(const cell_t* a, const cell_t* b);
// Seconds since 1-Mar-0000 00:00 UTC: what comparison orders by.
double instant(const cell_t* date);

// Date arithmetic: the date in the first argument slot, an integer! (days),
// time! (seconds) or, for subtract, date! in the second; result in the first.
void do_math(int32_t code);

// --- action entries ---
cell_t* make(cell_t* proto, cell_t* spec, int32_t type);
cell_t* to(cell_t* proto, cell_t* spec, int32_t type);
cell_t* random(cell_t* value, bool seed, bool secure, bool only);
int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
cell_t* eval_path(cell_t* parent, cell_t* element, cell_t* value, cell_t* path, cell_t* gparent,
                  cell_t* p_item, int32_t index, bool case_, bool get, bool tail, bool evt);
int32_t compare(cell_t* value1, cell_t* value2, int32_t op);
void add();
void subtract();
cell_t* pick(cell_t* value, int32_t index, cell_t* index_cell);

// Registers date! (registration order table).
void init();

}  // namespace zuv::date

// time!: a signed duration or time of day, as seconds in a double (words
// 2-3, the float! layout). Arithmetic, comparison and rounding are float!'s;
// this module adds the conversions, the h:mm:ss text form and the hour,
// minute and second parts (date! reads and writes its time with the same
// functions).
//
// Parts of a time t: hour = t / 3600 truncated toward zero (may exceed 23,
// negative for negative times); minute = floor(fmod(|t|, 3600) / 60), never
// negative; second = fmod(t, 60), with t's sign and fraction.
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "runtime/cell.h"

namespace zuv::time {

constexpr double SECONDS_PER_HOUR = 3600.0;
constexpr double SECONDS_PER_MINUTE = 60.0;

inline cell_t* make_at(cell_t* cell, double seconds) {
    cell::put_float(cell, seconds);
    cell::set_type(cell, TYPE_time);
    return cell;
}
cell_t* make_in(cell_t* block, double seconds);
cell_t* push(double seconds);

int32_t get_hours(double seconds);
int32_t get_minutes(double seconds);
// The time that the text form writes for t: t itself, or the next whole
// minute when the seconds, cut to six digits, round up to 60.
double written(double seconds);
// Appends "h:mm:ss[.fff]" (the text of written(seconds)) and returns limit
// less what was written.
int32_t serialize(double seconds, cell_t* buffer, int32_t limit);

// 1, 2, 3 for the words hour, minute, second (any case). Another word raises
// cannot-use when context is a time!, else gives -1.
int32_t field_index(const cell_t* word, const cell_t* context);
// Pushes the part (integer! hour and minute, float! second).
cell_t* pick_field(const cell_t* value, int32_t index);
// Sets one part of *seconds to the integer or float in v (the sign of a
// negative time is kept); invalid-arg for another type.
double set_field(double seconds, int32_t index, const cell_t* v);

// --- action entries ---
cell_t* make(cell_t* proto, cell_t* spec, int32_t type);  // also to
int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
cell_t* eval_path(cell_t* parent, cell_t* element, cell_t* value, cell_t* path, cell_t* gparent,
                  cell_t* p_item, int32_t index, bool case_, bool get, bool tail, bool evt);
void add();
void subtract();
void multiply();
void divide();
cell_t* round(cell_t* value, cell_t* scale, round_options_t how);
bool even_q(cell_t* value);
bool odd_q(cell_t* value);
cell_t* pick(cell_t* value, int32_t index, cell_t* index_cell);

// Registers time! (after float!).
void init();

}  // namespace zuv::time

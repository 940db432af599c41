// float!: the IEEE 754 double, in words 2-3 of the cell (low half first).
//
// The float row of the action matrix also serves percent! and time!, so the
// entries here work on any cell that holds a double and decide the result's
// type from both operands: a time! operand makes a time!, a percent! first
// operand keeps percent!, anything else gives float!.
//
// Equality under `=` is tolerant (a few units in the last place, or a
// difference below the double epsilon); `==` and sorting compare exactly.
// NaN equals nothing under `=`/`==`, is the same only as itself, and sorts
// after every number, so searches and sorts over floats stay consistent.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#include "datatypes/action_types.h"
#include "runtime/cell.h"

namespace zuv::float_ {

// The float options (system/options/float); their change handler sets them.
extern bool pretty;  // pretty?: zero snap and the shorter-precision retry (default true)
extern bool full;  // full?: stored only

// Form kinds of form_float.
namespace form_kind {
constexpr int32_t SINGLE = 0, FLOAT = 1, SINGLE_PERCENT = 2, PERCENT = 3, SECONDS = 4,
                  COORDINATE = 5;
}

// A formatted number, by value.
struct text_t {
    char text[48];
    int32_t length;
    const char* c_str() const { return text; }
};

inline double get(const cell_t* cell) { return cell::get_float(cell); }
inline cell_t* make_at(cell_t* cell, double d) {
    cell::put_float(cell, d);
    cell::set_type(cell, TYPE_float_);
    return cell;
}
cell_t* make_in(cell_t* block, double d);
cell_t* push(double d);
cell_t* box(double d);  // the result slot, header written whole

inline double abs(double d) { return std::fabs(d); }
bool almost_equal_q(double a, double b);
bool almost_equal32_q(float a, float b);

text_t form_float(double d, int32_t kind);

// The IEEE kernel for codes 0-4 (math_op); others raise cannot-use.
double do_math_op(double left, double right, int32_t code);
// The action-level worker (also integer!'s, for float-row second operands).
void do_math(int32_t code);
// A random double between 0 and max (never of the other sign).
double random_scaled(double max, bool secure);

// Exact three-way comparison of two doubles with NaN ordered after every
// number and equal only to NaN: the total order sorting and searching use.
inline int32_t order(double a, double b) {
    bool na = std::isnan(a), nb = std::isnan(b);
    if (na || nb) return na == nb ? 0 : (na ? 1 : -1);
    return (a > b) - (a < b);
}

// --- action entries ---
cell_t* make(cell_t* proto, cell_t* spec, int32_t type);  // also to
cell_t* random(cell_t* value, bool seed, bool secure, bool only);
int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
int32_t compare(cell_t* value1, cell_t* value2, int32_t op);
void absolute();
void add();
void subtract();
void multiply();
void divide();
void remainder();
cell_t* negate(cell_t* value);
void power();
cell_t* round(cell_t* value, cell_t* scale, round_options_t how);
bool even_q(cell_t* value);
bool odd_q(cell_t* value);

// Registers float! (registration order table).
void init();

}  // namespace zuv::float_

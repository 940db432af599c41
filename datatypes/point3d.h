// point3D!: three 32-bit floats x, y and z held in the cell (words 1-3),
// written (1, 2, 3).
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "datatypes/point2d.h"
#include "runtime/cell.h"

namespace zuv::point3d {

inline cell_t* make_at(cell_t* cell, float x, float y, float z) {
    cell::begin(cell);
    cell->data1 = point2d::float_word(x);
    cell->data2 = point2d::float_word(y);
    cell->data3 = point2d::float_word(z);
    cell::set_type(cell, TYPE_point3d);
    return cell;
}
inline float get_x(const cell_t* c) { return point2d::word_float(c->data1); }
inline float get_y(const cell_t* c) { return point2d::word_float(c->data2); }
inline float get_z(const cell_t* c) { return point2d::word_float(c->data3); }
cell_t* make_in(cell_t* block, float x, float y, float z);
cell_t* push(float x, float y, float z);

// 1 for x, 2 for y, 3 for z; another word raises invalid-path.
int32_t path_index(const cell_t* word, const cell_t* path);

// The arithmetic worker (math_op codes 0-4), as point2d::do_math.
void do_math(int32_t code);

// --- action entries ---
cell_t* make(cell_t* proto, cell_t* spec, int32_t type);  // also to
cell_t* random(cell_t* value, bool seed, bool secure, bool only);
int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
cell_t* eval_path(cell_t* parent, cell_t* element, cell_t* value, cell_t* path, cell_t* gparent,
                  cell_t* p_item, int32_t index, bool case_, bool get, bool tail, bool evt);
int32_t compare(cell_t* value1, cell_t* value2, int32_t op);
void absolute();
void add();
void divide();
void multiply();
cell_t* negate(cell_t* value);
void remainder();
cell_t* round(cell_t* value, cell_t* scale, round_options_t how);
void subtract();
cell_t* pick(cell_t* value, int32_t index, cell_t* index_cell);
cell_t* reverse(cell_t* value, cell_t* part, cell_t* skip);

// Registers point3D!.
void init();

}  // namespace zuv::point3d

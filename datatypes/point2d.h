// point2D!: two 32-bit floats x and y held in the cell (words 1 and 2),
// written (1.5, 2).
#pragma once

#include <cstdint>
#include <cstring>

#include "datatypes/action_types.h"
#include "runtime/cell.h"

namespace zuv::point2d {

inline float word_float(uint32_t w) {
    float f;
    std::memcpy(&f, &w, 4);
    return f;
}
inline uint32_t float_word(float f) {
    uint32_t w;
    std::memcpy(&w, &f, 4);
    return w;
}

inline cell_t* make_at(cell_t* cell, float x, float y) {
    cell::begin(cell);
    cell->data1 = float_word(x);
    cell->data2 = float_word(y);
    cell->data3 = 0;
    cell::set_type(cell, TYPE_point2d);
    return cell;
}
inline float get_x(const cell_t* c) { return word_float(c->data1); }
inline float get_y(const cell_t* c) { return word_float(c->data2); }
cell_t* make_in(cell_t* block, float x, float y);
cell_t* push(float x, float y);

// 1 for x, 2 for y; another word raises invalid-path (path the path, or nullptr).
int32_t path_index(const cell_t* word, const cell_t* path);

// The arithmetic worker (math_op codes 0-4): the point in the first argument
// slot, the other operand after it, the result in the first slot.
void do_math(int32_t code);

// The workers point3D! shares: n coordinates (2 or 3) from word 1 on.
namespace shared {
inline void get_coords(const cell_t* c, float* out, int n) {
    std::memcpy(out, &c->data1, sizeof(float) * n);
}
void do_math(int32_t code, int n);
int32_t compare(const float* a, const float* b, const cell_t* value1, const cell_t* value2, int n,
                int32_t op);
cell_t* random(cell_t* value, bool seed, bool secure, int n);
int32_t form(const cell_t* value, cell_t* buffer, int32_t limit, int n);
// Rounds coordinate by coordinate with the given scales (nullptr: none).
cell_t* round(cell_t* value, cell_t* const* scales, int n, round_options_t how);
cell_t* eval_path(cell_t* parent, cell_t* element, cell_t* value, cell_t* path, int n);
cell_t* pick(cell_t* value, int32_t index, cell_t* index_cell, int n);
// Make from a block of n numbers, a string, a number, a pair (and a
// point2D! for point3D!).
cell_t* make(cell_t* spec, int32_t type, int n);
}  // namespace shared

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

// Registers point2D!.
void init();

}  // namespace zuv::point2d

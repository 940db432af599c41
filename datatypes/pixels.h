// Raw-buffer pixel operations below the image! actions: a small 2D vector
// toolkit, a rectangle copy between 32-bit pixel buffers, a quad transform
// mapping an image into a convex quadrilateral with bilinear sampling, the
// image-level transform entry, and a YUV 4:2:2 conversion. They serve the
// drawing support of a graphical backend; the terminal one calls none yet.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/cell.h"

namespace zuv {

struct vec2d_t {
    double x;
    double y;
};

// Corners in drawing order: top-left, top-right, bottom-right, bottom-left
// for an upright image; edge i runs from corner i to corner i + 1 (mod 4).
struct quad_t {
    float x0, y0, x1, y1, x2, y2, x3, y3;
};

namespace vec2d {

double length(const vec2d_t& v);
void normalize(vec2d_t& v);
void set(vec2d_t& v, float x, float y);
vec2d_t from_points(float x1, float y1, float x2, float y2);
double cross(const vec2d_t& a, const vec2d_t& b);
double dot(const vec2d_t& a, const vec2d_t& b);
// For point p and the edge from (x1, y1) along edge: the sign of
// (start -> p) x edge.
bool left_of_q(const vec2d_t& p, float x1, float y1, const vec2d_t& edge);
bool right_of_q(const vec2d_t& p, float x1, float y1, const vec2d_t& edge);
// |(start -> p) x unit_edge|.
double distance_to_edge(const vec2d_t& p, float x1, float y1, const vec2d_t& unit_edge);
// By an angle in degrees (pi rounded to 3.14159265359).
void rotate(vec2d_t& v, double degrees);

}  // namespace vec2d

namespace quad {

void mirror_x(quad_t& q, float centre);
void mirror_y(quad_t& q, float centre);
// Strictly outside one of the four edges.
bool outside_q(const quad_t& q, const vec2d_t& p);

}  // namespace quad

namespace pixels {

// Copies the width x height rectangle at (x, y) of src (src_w x src_h) to
// the top-left of dst (dst_w x dst_h), clamped to both buffers; nothing when
// x or y is negative or outside the source.
void copy_rect(const uint32_t* src, int32_t src_w, int32_t src_h, int32_t x, int32_t y,
               int32_t width, int32_t height, uint32_t* dst, int32_t dst_w, int32_t dst_h);

struct transformed_t {
    std::vector<uint32_t> pixels;  // w x h, outside the quad 0
    int32_t offset_x = 0, offset_y = 0, width = 0, height = 0;
};

// The source mapped into the quad; false (nothing) for a source with a side
// of 0. A pixel whose distances to two opposite edges sum to 0 (a
// degenerate quad) is left empty.
bool quad_transform(const uint32_t* src, int32_t w, int32_t h, const quad_t& q, transformed_t& out);
// The transform, kept only when its box is width x height.
bool quad_transform_to_size(const uint32_t* src, int32_t w, int32_t h, const quad_t& q,
                            int32_t width, int32_t height, std::vector<uint32_t>& out);
// Packed Y0 U Y1 V groups to opaque 32-bit words whose bytes run R, G, B, 255.
void yuv422_to_rgba(const uint8_t* src, int32_t width, int32_t height, uint32_t* dst);

}  // namespace pixels

namespace image {

// A new image! (into out) from an image, an optional crop (x, y, w, h; all
// -1 for none) and one to four corner points (pair! or point2D! cells):
// one point places the image, two give the opposite corners, three a
// parallelogram, four the quad. Corners given right-to-left or bottom-to-top
// mirror the image.
cell_t* transform(const cell_t* image, const int32_t crop[4], const cell_t* points, int32_t count,
                  cell_t* out);

}  // namespace image
}  // namespace zuv

#include "datatypes/pixels.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "datatypes/image.h"
#include "datatypes/os_image.h"
#include "datatypes/pair.h"
#include "datatypes/point2d.h"
#include "runtime/fire.h"

namespace zuv {

namespace vec2d {

double length(const vec2d_t& v) { return std::sqrt(v.x * v.x + v.y * v.y); }

void normalize(vec2d_t& v) {
    double n = length(v);
    v.x /= n;
    v.y /= n;
}

void set(vec2d_t& v, float x, float y) { v = vec2d_t{x, y}; }

vec2d_t from_points(float x1, float y1, float x2, float y2) {
    return vec2d_t{static_cast<double>(x2) - x1, static_cast<double>(y2) - y1};
}

double cross(const vec2d_t& a, const vec2d_t& b) { return a.x * b.y - a.y * b.x; }
double dot(const vec2d_t& a, const vec2d_t& b) { return a.x * b.x + a.y * b.y; }

bool left_of_q(const vec2d_t& p, float x1, float y1, const vec2d_t& edge) {
    return cross(vec2d_t{p.x - x1, p.y - y1}, edge) < 0;
}

bool right_of_q(const vec2d_t& p, float x1, float y1, const vec2d_t& edge) {
    return cross(vec2d_t{p.x - x1, p.y - y1}, edge) > 0;
}

double distance_to_edge(const vec2d_t& p, float x1, float y1, const vec2d_t& unit_edge) {
    return std::fabs(cross(vec2d_t{p.x - x1, p.y - y1}, unit_edge));
}

void rotate(vec2d_t& v, double degrees) {
    double a = degrees * 3.14159265359 / 180;
    double c = std::cos(a), s = std::sin(a);
    v = vec2d_t{v.x * c - v.y * s, v.x * s + v.y * c};
}

}  // namespace vec2d

namespace quad {

namespace {

inline void corner(const quad_t& q, int i, float& x, float& y) {
    const float* f = &q.x0;
    x = f[(i % 4) * 2];
    y = f[(i % 4) * 2 + 1];
}

}  // namespace

void mirror_x(quad_t& q, float m) {
    for (float* x : {&q.x0, &q.x1, &q.x2, &q.x3}) *x = 2 * m - *x;
}

void mirror_y(quad_t& q, float m) {
    for (float* y : {&q.y0, &q.y1, &q.y2, &q.y3}) *y = 2 * m - *y;
}

bool outside_q(const quad_t& q, const vec2d_t& p) {
    for (int i = 0; i < 4; i++) {
        float x1, y1, x2, y2;
        corner(q, i, x1, y1);
        corner(q, i + 1, x2, y2);
        if (vec2d::right_of_q(p, x1, y1, vec2d::from_points(x1, y1, x2, y2))) return true;
    }
    return false;
}

}  // namespace quad

namespace pixels {

void copy_rect(const uint32_t* src, int32_t src_w, int32_t src_h, int32_t x, int32_t y,
               int32_t width, int32_t height, uint32_t* dst, int32_t dst_w, int32_t dst_h) {
    if (x < 0 || y < 0 || x >= src_w || y >= src_h) return;
    // Clamped to the source's right and bottom edges, and to the destination.
    int32_t w = std::min({width, src_w - x, dst_w}), h = std::min({height, src_h - y, dst_h});
    for (int32_t row = 0; row < h; row++)
        std::copy_n(src + static_cast<size_t>(y + row) * static_cast<size_t>(src_w) +
                        static_cast<size_t>(x),
                    w, dst + static_cast<size_t>(row) * static_cast<size_t>(dst_w));
}

bool quad_transform(const uint32_t* src, int32_t W, int32_t H, const quad_t& q,
                    transformed_t& out) {
    if (W < 1 || H < 1) return false;
    float minx = std::min({q.x0, q.x1, q.x2, q.x3}), maxx = std::max({q.x0, q.x1, q.x2, q.x3});
    float miny = std::min({q.y0, q.y1, q.y2, q.y3}), maxy = std::max({q.y0, q.y1, q.y2, q.y3});
    out.offset_x = static_cast<int32_t>(minx);
    out.offset_y = static_cast<int32_t>(miny);
    out.width = static_cast<int32_t>(maxx - minx);
    out.height = static_cast<int32_t>(maxy - miny);
    out.pixels.assign(static_cast<size_t>(std::max(out.width, 0)) *
                          static_cast<size_t>(std::max(out.height, 0)),
                      0);
    const float* f = &q.x0;
    vec2d_t edges[4];
    for (int i = 0; i < 4; i++) {
        int j = (i + 1) % 4;
        edges[i] = vec2d::from_points(f[i * 2], f[i * 2 + 1], f[j * 2], f[j * 2 + 1]);
        vec2d::normalize(edges[i]);
    }
    for (int32_t j = 0; j < out.height; j++) {
        for (int32_t i = 0; i < out.width; i++) {
            vec2d_t p{static_cast<double>(i) + out.offset_x, static_cast<double>(j) + out.offset_y};
            if (quad::outside_q(q, p)) continue;
            double d[4];
            for (int e = 0; e < 4; e++)
                d[e] = vec2d::distance_to_edge(p, f[e * 2], f[e * 2 + 1], edges[e]);
            // A degenerate quad has no width or height here: nothing to sample.
            if (d[3] + d[1] == 0 || d[0] + d[2] == 0) continue;
            double u = d[3] / (d[3] + d[1]) * W, v = d[0] / (d[0] + d[2]) * H;
            if (!(u >= 0 && u < W && v >= 0 && v < H)) continue;
            auto ux = static_cast<int32_t>(u), vy = static_cast<int32_t>(v);
            double fx = std::max(u - ux, 0.0), fy = std::max(v - vy, 0.0);
            int32_t ux2 = std::min(ux + 1, W - 1), vy2 = std::min(vy + 1, H - 1);
            const uint32_t p00 = src[static_cast<size_t>(vy) * W + ux],
                           p10 = src[static_cast<size_t>(vy) * W + ux2];
            const uint32_t p01 = src[static_cast<size_t>(vy2) * W + ux],
                           p11 = src[static_cast<size_t>(vy2) * W + ux2];
            double w00 = (1 - fx) * (1 - fy), w10 = fx * (1 - fy), w01 = (1 - fx) * fy,
                   w11 = fx * fy;
            uint32_t result = 0;
            for (int shift = 0; shift < 32; shift += 8) {
                double c = w00 * (p00 >> shift & 0xFF) + w10 * (p10 >> shift & 0xFF) +
                           w01 * (p01 >> shift & 0xFF) + w11 * (p11 >> shift & 0xFF);
                result |= static_cast<uint32_t>(std::min(c, 255.0)) << shift;
            }
            out.pixels[static_cast<size_t>(j) * static_cast<size_t>(out.width) +
                       static_cast<size_t>(i)] = result;
        }
    }
    return true;
}

bool quad_transform_to_size(const uint32_t* src, int32_t w, int32_t h, const quad_t& q,
                            int32_t width, int32_t height, std::vector<uint32_t>& out) {
    transformed_t t;
    if (!quad_transform(src, w, h, q, t) || t.width != width || t.height != height) return false;
    out = std::move(t.pixels);
    return true;
}

void yuv422_to_rgba(const uint8_t* src, int32_t width, int32_t height, uint32_t* dst) {
    auto clamp = [](int32_t v) { return static_cast<uint32_t>(std::clamp(v, 0, 255)); };
    int64_t groups = static_cast<int64_t>(width / 2) * height;
    for (int64_t g = 0; g < groups; g++, src += 4) {
        int32_t u = src[1] - 128, v = src[3] - 128;
        int32_t dr = (v * 91881) >> 16, dg = ((v * 46792) >> 16) + ((u * 21889) >> 16),
                db = (u * 116129) >> 16;
        for (int32_t y : {src[0], src[2]})
            *dst++ = 255u << 24 | clamp(y + db) << 16 | clamp(y - dg) << 8 | clamp(y + dr);
    }
}

}  // namespace pixels

namespace image {

namespace {

void point_of(const cell_t* c, float& x, float& y) {
    if (type_of(c) == TYPE_pair) {
        x = static_cast<float>(pair::get_x(c));
        y = static_cast<float>(pair::get_y(c));
    } else if (type_of(c) == TYPE_point2d) {
        x = point2d::get_x(c);
        y = point2d::get_y(c);
    } else {
        fire(err::invalid_arg, c);
    }
}

}  // namespace

cell_t* transform(const cell_t* img, const int32_t crop[4], const cell_t* points, int32_t count,
                  cell_t* out) {
    if (count < 1 || count > 4) fire(err::invalid_arg, img);
    int32_t W = width_of(img), H = height_of(img);
    int32_t cx = 0, cy = 0, cw = W, ch = H;
    if (crop && crop[0] >= 0)
        cx = crop[0], cy = crop[1], cw = std::min(crop[2], W - cx), ch = std::min(crop[3], H - cy);
    if (!node_of(img) || cw < 1 || ch < 1) return init_empty(out, 0, 0);
    std::vector<uint32_t> src(static_cast<size_t>(cw) * static_cast<size_t>(ch));
    pixels::copy_rect(os_image::pixels(node_of(img)), W, H, cx, cy, cw, ch, src.data(), cw, ch);
    float x[4], y[4];
    for (int32_t i = 0; i < count; i++) point_of(points + i, x[i], y[i]);
    quad_t q;
    if (count == 1) {
        q = quad_t{x[0], y[0], x[0] + cw, y[0], x[0] + cw, y[0] + ch, x[0], y[0] + ch};
    } else if (count == 2) {
        q = quad_t{x[0], y[0], x[1], y[0], x[1], y[1], x[0], y[1]};
    } else if (count == 3) {
        q = quad_t{x[0], y[0], x[1], y[1], x[2], y[2], x[0] + x[2] - x[1], y[0] + y[2] - y[1]};
    } else {
        q = quad_t{x[0], y[0], x[1], y[1], x[2], y[2], x[3], y[3]};
    }
    // Right-to-left or bottom-to-top corners mirror the image: the quad is
    // flipped upright and the result flipped back.
    bool flip_x = q.x1 < q.x0, flip_y = q.y3 < q.y0;
    float mx = (q.x0 + q.x1) / 2, my = (q.y0 + q.y3) / 2;
    if (flip_x) quad::mirror_x(q, mx);
    if (flip_y) quad::mirror_y(q, my);
    pixels::transformed_t t;
    try {
        if (!pixels::quad_transform(src.data(), cw, ch, q, t) || t.width < 1 || t.height < 1)
            return init_empty(out, 0, 0);
    } catch (const std::bad_alloc&) {
        fire(err::no_memory);
    }
    if (t.width > os_image::MAX_SIDE || t.height > os_image::MAX_SIDE) fire(err::out_of_range, img);
    os_image::bitmap_t b;
    b.width = t.width;
    b.height = t.height;
    b.pixels.resize(t.pixels.size());
    for (int32_t j = 0; j < t.height; j++)
        for (int32_t i = 0; i < t.width; i++) {
            int32_t si = flip_x ? t.width - 1 - i : i, sj = flip_y ? t.height - 1 - j : j;
            b.pixels[static_cast<size_t>(j) * t.width + i] =
                t.pixels[static_cast<size_t>(sj) * t.width + si];
        }
    return init_image(out, os_image::make_node(std::move(b)));
}

}  // namespace image
}  // namespace zuv

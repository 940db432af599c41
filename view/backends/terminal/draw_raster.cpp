#include "view/backends/terminal/draw_raster.h"

#include <algorithm>
#include <cmath>

namespace zuv::tui::raster {

namespace {

constexpr int32_t FULL_BLOCK = 0x2588;
constexpr int32_t BOX_H = 0x2500, BOX_V = 0x2502, BOX_TL = 0x250C, BOX_TR = 0x2510, BOX_BL = 0x2514,
                  BOX_BR = 0x2518;

// Above this radius the midpoint algorithm's terms leave 64 bits; such an
// ellipse is walked by rows and columns of the clip box instead.
constexpr int64_t MIDPOINT_MAX_RADIUS = 32767;

bool inside(const draw_surface_t& s, int64_t x, int64_t y) {
    return x >= s.clip.x1 && x < s.clip.x2 && y >= s.clip.y1 && y < s.clip.y2;
}

uint32_t& pixel(const draw_surface_t& s, int64_t x, int64_t y) { return s.pixels[y * s.width + x]; }

// A pen mark at absolute (x, y): code on cells, the pen colour on pixels.
void mark(const draw_surface_t& s, const draw_paint_t& p, int64_t x, int64_t y, int32_t code) {
    if (!inside(s, x, y)) return;
    if (!s.cells()) {
        pixel(s, x, y) = p.pen;
        return;
    }
    tui_cell_t* c = s.grid->at(static_cast<int32_t>(x), static_cast<int32_t>(y));
    c->code = code;
    c->fg = p.pen;
    c->attrs &= ~attr::WIDE_TAIL;
}

void fill(const draw_surface_t& s, const draw_paint_t& p, int64_t x, int64_t y) {
    if (!inside(s, x, y)) return;
    if (!s.cells()) {
        pixel(s, x, y) = p.fill;
        return;
    }
    tui_cell_t* c = s.grid->at(static_cast<int32_t>(x), static_cast<int32_t>(y));
    c->code = ' ';
    c->bg = p.fill;
    c->attrs &= ~attr::WIDE_TAIL;
}

// Fills absolute columns x1..x2 of row y, cut to the clip box.
void fill_span(const draw_surface_t& s, const draw_paint_t& p, int64_t y, int64_t x1, int64_t x2) {
    if (y < s.clip.y1 || y >= s.clip.y2) return;
    x1 = std::max<int64_t>(x1, s.clip.x1);
    x2 = std::min<int64_t>(x2, s.clip.x2 - 1);
    for (int64_t x = x1; x <= x2; ++x) fill(s, p, x, y);
}

// Bresenham's line between absolute points: along the major axis the
// minor coordinate is the nearest one (halves round up), which is what the
// error-term walk plots; computed per step, only the steps whose major
// coordinate lies in the clip box are visited.
void line_abs(const draw_surface_t& s, const draw_paint_t& p, int64_t x0, int64_t y0, int64_t x1,
              int64_t y1) {
    int64_t dx = x1 - x0, dy = y1 - y0;
    bool x_major = std::llabs(dx) >= std::llabs(dy);
    int64_t major0 = x_major ? x0 : y0, minor0 = x_major ? y0 : x0;
    int64_t dmajor = x_major ? dx : dy, dminor = x_major ? dy : dx;
    int64_t n = std::llabs(dmajor);
    if (n == 0) {
        mark(s, p, x0, y0, FULL_BLOCK);
        return;
    }
    int64_t lo = x_major ? s.clip.x1 : s.clip.y1, hi = (x_major ? s.clip.x2 : s.clip.y2) - 1;
    int64_t from, to;
    if (dmajor > 0) {
        from = std::max<int64_t>(0, lo - major0);
        to = std::min<int64_t>(n, hi - major0);
    } else {
        from = std::max<int64_t>(0, major0 - hi);
        to = std::min<int64_t>(n, major0 - lo);
    }
    int64_t step = dmajor > 0 ? 1 : -1, minor_step = dminor >= 0 ? 1 : -1;
    __int128 rise = static_cast<__int128>(std::llabs(dminor)) * 2;
    for (int64_t i = from; i <= to; ++i) {
        auto off = static_cast<int64_t>((rise * i + n) / (static_cast<__int128>(n) * 2));
        int64_t major = major0 + step * i, minor = minor0 + minor_step * off;
        if (x_major) mark(s, p, major, minor, FULL_BLOCK);
        else mark(s, p, minor, major, FULL_BLOCK);
    }
}

void plot4(const draw_surface_t& s, const draw_paint_t& p, int64_t cx, int64_t cy, int64_t x,
           int64_t y) {
    mark(s, p, cx + x, cy + y, FULL_BLOCK);
    mark(s, p, cx - x, cy + y, FULL_BLOCK);
    mark(s, p, cx + x, cy - y, FULL_BLOCK);
    mark(s, p, cx - x, cy - y, FULL_BLOCK);
}

// The midpoint ellipse, its decision terms kept four times over so that
// they stay whole numbers.
void midpoint(const draw_surface_t& s, const draw_paint_t& p, int64_t cx, int64_t cy, int64_t rx,
              int64_t ry) {
    const __int128 rx2 = static_cast<__int128>(rx) * rx, ry2 = static_cast<__int128>(ry) * ry;
    int64_t x = 0, y = ry;
    __int128 px = 0, py = 2 * rx2 * y;
    __int128 d = 4 * ry2 - 4 * rx2 * ry + rx2;
    while (px < py) {
        plot4(s, p, cx, cy, x, y);
        ++x;
        px += 2 * ry2;
        if (d < 0) {
            d += 4 * (ry2 + px);
        } else {
            --y;
            py -= 2 * rx2;
            d += 4 * (ry2 + px - py);
        }
    }
    d = ry2 * (2 * x + 1) * (2 * x + 1) + 4 * rx2 * (y - 1) * (y - 1) - 4 * rx2 * ry2;
    while (y >= 0) {
        plot4(s, p, cx, cy, x, y);
        --y;
        py -= 2 * rx2;
        if (d > 0) {
            d += 4 * (rx2 - py);
        } else {
            ++x;
            px += 2 * ry2;
            d += 4 * (rx2 - py + px);
        }
    }
}

// An ellipse too large for the midpoint terms: its two points on every row
// and every column of the clip box.
void scan_ellipse(const draw_surface_t& s, const draw_paint_t& p, int64_t cx, int64_t cy,
                  int64_t rx, int64_t ry) {
    auto half = [](long double r, long double d) {
        long double t = d / r;
        return std::llround(r * std::sqrt(std::max(0.0L, 1.0L - t * t)));
    };
    for (int64_t y = s.clip.y1; y < s.clip.y2; ++y) {
        if (std::llabs(y - cy) > ry) continue;
        int64_t dx = half(static_cast<long double>(rx), static_cast<long double>(y - cy));
        mark(s, p, cx - dx, y, FULL_BLOCK);
        mark(s, p, cx + dx, y, FULL_BLOCK);
    }
    for (int64_t x = s.clip.x1; x < s.clip.x2; ++x) {
        if (std::llabs(x - cx) > rx) continue;
        int64_t dy = half(static_cast<long double>(ry), static_cast<long double>(x - cx));
        mark(s, p, x, cy - dy, FULL_BLOCK);
        mark(s, p, x, cy + dy, FULL_BLOCK);
    }
}

}  // namespace

void line(const draw_surface_t& s, const draw_paint_t& p, int64_t x0, int64_t y0, int64_t x1,
          int64_t y1) {
    if (!p.pen_on) return;
    line_abs(s, p, x0 + s.ox, y0 + s.oy, x1 + s.ox, y1 + s.oy);
}

void box(const draw_surface_t& s, const draw_paint_t& p, int64_t x0, int64_t y0, int64_t x1,
         int64_t y1) {
    int64_t bx1 = std::min(x0, x1) + s.ox, bx2 = std::max(x0, x1) + s.ox;
    int64_t by1 = std::min(y0, y1) + s.oy, by2 = std::max(y0, y1) + s.oy;
    int64_t cx1 = std::max<int64_t>(bx1, s.clip.x1), cx2 = std::min<int64_t>(bx2, s.clip.x2 - 1);
    int64_t cy1 = std::max<int64_t>(by1, s.clip.y1), cy2 = std::min<int64_t>(by2, s.clip.y2 - 1);
    if (cx1 > cx2 || cy1 > cy2) return;
    if (p.fill_on)
        for (int64_t y = cy1; y <= cy2; ++y) fill_span(s, p, y, cx1, cx2);
    if (!p.pen_on) return;
    auto border = [&](int64_t x, int64_t y) {
        bool top = y == by1, bottom = y == by2, left = x == bx1, right = x == bx2;
        int32_t code = BOX_V;
        if ((top || bottom) && (left || right))
            code = top ? (left ? BOX_TL : BOX_TR) : (left ? BOX_BL : BOX_BR);
        else if (top || bottom) code = BOX_H;
        mark(s, p, x, y, code);
    };
    for (int64_t x = cx1; x <= cx2; ++x) {
        border(x, by1);
        if (by2 != by1) border(x, by2);
    }
    for (int64_t y = std::max(cy1, by1 + 1); y <= std::min(cy2, by2 - 1); ++y) {
        border(bx1, y);
        if (bx2 != bx1) border(bx2, y);
    }
}

void triangle(const draw_surface_t& s, const draw_paint_t& p, const int64_t xs[3],
              const int64_t ys[3]) {
    if (p.fill_on) {
        int64_t ax[3], ay[3];
        for (int i = 0; i < 3; ++i) {
            ax[i] = xs[i] + s.ox;
            ay[i] = ys[i] + s.oy;
        }
        int64_t top = std::min({ay[0], ay[1], ay[2]}), bottom = std::max({ay[0], ay[1], ay[2]});
        top = std::max<int64_t>(top, s.clip.y1);
        bottom = std::min<int64_t>(bottom, s.clip.y2 - 1);
        for (int64_t y = top; y <= bottom; ++y) {
            int64_t left = INT64_MAX, right = INT64_MIN;
            for (int e = 0; e < 3; ++e) {
                int64_t xa = ax[e], ya = ay[e], xb = ax[(e + 1) % 3], yb = ay[(e + 1) % 3];
                if (y < std::min(ya, yb) || y > std::max(ya, yb)) continue;
                if (ya == yb) {
                    left = std::min({left, xa, xb});
                    right = std::max({right, xa, xb});
                    continue;
                }
                long double t =
                    static_cast<long double>(y - ya) / static_cast<long double>(yb - ya);
                int64_t x = std::llround(static_cast<long double>(xa) +
                                         t * static_cast<long double>(xb - xa));
                left = std::min(left, x);
                right = std::max(right, x);
            }
            if (left <= right) fill_span(s, p, y, left, right);
        }
    }
    for (int e = 0; e < 3; ++e) line(s, p, xs[e], ys[e], xs[(e + 1) % 3], ys[(e + 1) % 3]);
}

void ellipse(const draw_surface_t& s, const draw_paint_t& p, int64_t cx, int64_t cy, int64_t rx,
             int64_t ry) {
    if (!p.pen_on || rx < 0 || ry < 0) return;
    cx += s.ox;
    cy += s.oy;
    if (cx + rx < s.clip.x1 || cx - rx >= s.clip.x2 || cy + ry < s.clip.y1 || cy - ry >= s.clip.y2)
        return;
    if (rx == 0 || ry == 0) line_abs(s, p, cx - rx, cy - ry, cx + rx, cy + ry);
    else if (rx > MIDPOINT_MAX_RADIUS || ry > MIDPOINT_MAX_RADIUS)
        scan_ellipse(s, p, cx, cy, rx, ry);
    else midpoint(s, p, cx, cy, rx, ry);
}

}  // namespace zuv::tui::raster

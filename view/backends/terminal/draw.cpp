#include "view/backends/terminal/draw.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/float.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/os_image.h"
#include "datatypes/pair.h"
#include "datatypes/point2d.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "runtime/fire.h"
#include "view/backends/terminal/colour.h"
#include "view/backends/terminal/output.h"
#include "view/backends/terminal/rich_text.h"
#include "view/backends/terminal/widget.h"
#include "view/backends/terminal/widget_tree.h"

namespace zuv::tui::draw {

namespace {

enum word_id : int32_t {
#define DRAW_COMMAND(ident, name) W_##ident,
#define DRAW_WORD(ident, name) W_##ident,
#include "view/backends/terminal/draw_words.def"
    WORD_COUNT
};

constexpr int32_t COMMAND_COUNT = 0
#define DRAW_COMMAND(ident, name) +1
#include "view/backends/terminal/draw_words.def"
    ;

constexpr const char* word_names[WORD_COUNT] = {
#define DRAW_COMMAND(ident, name) name,
#define DRAW_WORD(ident, name) name,
#include "view/backends/terminal/draw_words.def"
};

// Blocks nested deeper than this (each a level of C++ recursion) stop the
// run with stack-overflow.
constexpr size_t MAX_NESTING = 1000;

// Opaque black: the pen of a pixel surface before any `pen`.
constexpr uint32_t PIXEL_BLACK = 0xFF000000u;

// Coordinates from floats are truncated and kept to this range, so that
// NaN-free but huge values stay sums that fit 64 bits.
constexpr double COORD_LIMIT = 2147483647.0;

int64_t coordinate(double v) {
    return static_cast<int64_t>(std::clamp(v, -COORD_LIMIT, COORD_LIMIT));
}

// A position in a command block: absolute cell indexes of its buffer.
struct cursor_t {
    cell_t block;
    int32_t pos;
    int32_t end;
    // Where the command being read starts (-1: none): an argument that is
    // missing is reported there, not at the block's end or the next word.
    int32_t command = -1;

    bool more() const { return pos < end; }
    cell_t* raw() const { return block::rs_abs_at(&block, pos); }
};

class drawer_t {
public:
    drawer_t(const draw_surface_t& surface, widget_t* within) : surface_(surface), within_(within) {
        for (int32_t i = 0; i < WORD_COUNT; ++i)
            syms_[i] = symbol::resolve(symbol::make(word_names[i]));
        if (!surface_.cells()) paint_.pen = PIXEL_BLACK;
    }

    void run(const cell_t* commands) {
        cell_t block = *commands;
        std::pair<node_t, int32_t> key{block.data2, block::head_index(&block)};
        if (std::find(open_.begin(), open_.end(), key) != open_.end())
            fire(err::draw_infinite, commands);
        if (open_.size() >= MAX_NESTING) fire(err::stack_overflow);
        open_.push_back(key);
        int32_t head = block::head_index(&block);
        cursor_t c{block, head, head + block::rs_length_q(&block)};
        while (c.more()) {
            cell_t* v = c.raw();
            c.command = c.pos;
            switch (type_of(v)) {
            case TYPE_set_word: {
                // The word names the commands that follow, for code that
                // changes them later.
                cell_t rest = c.block;
                block::set_head_index(&rest, c.pos + 1);
                _context::set(v, &rest);
                ++c.pos;
                break;
            }
            case TYPE_block: {
                cell_t nested = *v;
                ++c.pos;
                run(&nested);
                break;
            }
            case TYPE_word: {
                int32_t id = word_of(v);
                if (id < 0 || id >= COMMAND_COUNT) invalid(c);
                ++c.pos;
                command(static_cast<word_id>(id), c);
                break;
            }
            default: invalid(c);
            }
        }
        open_.pop_back();
    }

private:
    draw_surface_t surface_;
    widget_t* within_;
    draw_paint_t paint_;
    bool font_colour_ = false;
    uint32_t text_colour_ = 0;
    bool painting_ = true;  // false inside a pattern's block: checked, not plotted
    int32_t syms_[WORD_COUNT];
    std::vector<std::pair<node_t, int32_t>> open_;

    // --- reading ---------------------------------------------------------------------------

    // At the offending value; where an argument is missing (the block
    // ends, or a word stands there: the next command or a word whose value
    // does not fit), at the command that wanted it.
    [[noreturn]] static void invalid(const cursor_t& c) {
        bool missing = !c.more();
        if (!missing) {
            uint8_t t = type_of(c.raw());
            missing = t == TYPE_word || t == TYPE_lit_word || t == TYPE_set_word;
        }
        cell_t at = c.block;
        block::set_head_index(&at, missing && c.command >= 0 ? c.command : c.pos);
        fire(err::draw_invalid, &at);
    }

    // The dialect word a word (or, in shapes, a lit-word) spells; -1 else.
    int32_t word_of(const cell_t* v, bool lit = false) const {
        uint8_t t = type_of(v);
        if (t != TYPE_word && !(lit && t == TYPE_lit_word)) return -1;
        int32_t s = symbol::resolve(word::symbol_of(v));
        for (int32_t i = 0; i < WORD_COUNT; ++i)
            if (syms_[i] == s) return i;
        return -1;
    }

    // The value at the cursor as an argument: a word stands for its value,
    // except a command word, which ends the arguments.
    cell_t arg(const cursor_t& c) const {
        if (!c.more()) return unset_value;
        cell_t* v = c.raw();
        if (type_of(v) != TYPE_word) return *v;
        int32_t id = word_of(v);
        if ((id >= 0 && id < COMMAND_COUNT) || v->data1 == 0) return unset_value;
        return *_context::get(v);
    }

    bool take_word(cursor_t& c, word_id id, bool lit = false) const {
        if (!c.more() || word_of(c.raw(), lit) != id) return false;
        ++c.pos;
        return true;
    }

    static bool as_point(const cell_t* v, int64_t& x, int64_t& y) {
        if (type_of(v) == TYPE_pair) {
            x = pair::get_x(v);
            y = pair::get_y(v);
            return true;
        }
        if (type_of(v) != TYPE_point2d) return false;
        float fx = point2d::get_x(v), fy = point2d::get_y(v);
        if (std::isnan(fx) || std::isnan(fy)) return false;
        x = coordinate(fx);
        y = coordinate(fy);
        return true;
    }

    bool take_point(cursor_t& c, int64_t& x, int64_t& y) const {
        cell_t v = arg(c);
        if (!as_point(&v, x, y)) return false;
        ++c.pos;
        return true;
    }
    bool take_point(cursor_t& c) const {
        int64_t x, y;
        return take_point(c, x, y);
    }
    void need_point(cursor_t& c, int64_t& x, int64_t& y) const {
        if (!take_point(c, x, y)) invalid(c);
    }
    void need_point(cursor_t& c) const {
        if (!take_point(c)) invalid(c);
    }
    // At least least points; the error stands at the first value that is
    // no point.
    void need_points(cursor_t& c, int32_t least, int32_t most = INT32_MAX) const {
        int32_t n = 0;
        while (n < most && take_point(c)) ++n;
        if (n < least) invalid(c);
    }

    static bool as_number(const cell_t* v, double& n) {
        if (type_of(v) == TYPE_integer) n = integer::get(v);
        else if (type_of(v) == TYPE_float_) n = float_::get(v);
        else return false;
        return !std::isnan(n);
    }
    bool take_number(cursor_t& c, double& n) const {
        cell_t v = arg(c);
        if (!as_number(&v, n)) return false;
        ++c.pos;
        return true;
    }
    bool take_number(cursor_t& c) const {
        double n;
        return take_number(c, n);
    }
    void need_number(cursor_t& c, double& n) const {
        if (!take_number(c, n)) invalid(c);
    }
    void need_number(cursor_t& c) const {
        if (!take_number(c)) invalid(c);
    }

    bool take_type(cursor_t& c, uint8_t type, cell_t* out = nullptr) const {
        cell_t v = arg(c);
        if (type_of(&v) != type) return false;
        if (out != nullptr) *out = v;
        ++c.pos;
        return true;
    }
    void need_type(cursor_t& c, uint8_t type, cell_t* out = nullptr) const {
        if (!take_type(c, type, out)) invalid(c);
    }

    bool take_one_of(cursor_t& c, std::initializer_list<word_id> ids) const {
        for (word_id id : ids)
            if (take_word(c, id)) return true;
        return false;
    }

    uint32_t colour_of(const cell_t* tuple) const {
        if (!surface_.cells()) return image::tuple_to_pixel(tuple);
        return rgb_to_256(
            tuple_rgb(tuple::bytes_of(tuple), static_cast<size_t>(tuple::length_of(tuple))));
    }

    // --- commands --------------------------------------------------------------------------

    void command(word_id id, cursor_t& c) {
        switch (id) {
        case W_pen: pen(c, paint_.pen_on, paint_.pen); break;
        case W_fill_pen: pen(c, paint_.fill_on, paint_.fill); break;
        case W_line_width: need_number(c); break;
        case W_line_join:
            if (!take_one_of(c, {W_miter, W_miter_bevel, W_round, W_bevel})) invalid(c);
            break;
        case W_line_cap:
            if (!take_one_of(c, {W_flat, W_square, W_round})) invalid(c);
            break;
        case W_line_pattern:
            if (take_word(c, W_off)) break;
            take_type(c, TYPE_tuple);
            need_number(c);
            while (take_number(c)) {
            }
            break;
        case W_line: line(c); break;
        case W_box: box(c); break;
        case W_triangle: triangle(c); break;
        case W_polygon: need_points(c, 3); break;
        case W_circle: circle(c); break;
        case W_ellipse: ellipse(c); break;
        case W_arc:
            need_point(c);
            need_point(c);
            need_number(c);
            need_number(c);
            take_word(c, W_closed);
            break;
        case W_curve: need_points(c, 3, 4); break;
        case W_spline:
            need_points(c, 2);
            take_word(c, W_closed);
            break;
        case W_anti_alias: {
            if (take_one_of(c, {W_on, W_off})) break;
            need_type(c, TYPE_logic);
            break;
        }
        case W_font: font(c); break;
        case W_text: text(c); break;
        case W_image: image_command(c); break;
        case W_matrix: {
            pen_prefix(c);
            cell_t m;
            need_type(c, TYPE_block, &m);
            check_matrix(c, &m);
            break;
        }
        case W_invert_matrix:
        case W_reset_matrix: pen_prefix(c); break;
        case W_push: {
            cell_t b;
            need_type(c, TYPE_block, &b);
            run(&b);
            break;
        }
        case W_rotate:
            pen_prefix(c);
            need_number(c);
            take_point(c);
            then_block(c);
            break;
        case W_scale:
            pen_prefix(c);
            need_number(c);
            need_number(c);
            then_block(c);
            break;
        case W_translate:
            pen_prefix(c);
            need_point(c);
            then_block(c);
            break;
        case W_skew:
            pen_prefix(c);
            need_number(c);
            take_number(c);
            then_block(c);
            break;
        case W_transform:
            pen_prefix(c);
            take_point(c);
            need_number(c);
            need_number(c);
            need_number(c);
            need_point(c);
            then_block(c);
            break;
        case W_clip: {
            cell_t path;
            if (take_type(c, TYPE_block, &path)) {
                shape(&path);
            } else {
                need_point(c);
                need_point(c);
            }
            take_one_of(c, {W_replace, W_intersect, W_union_, W_xor_, W_exclude});
            then_block(c);
            break;
        }
        case W_shadow:
            if (take_word(c, W_off)) break;
            need_point(c);
            if (take_number(c)) take_number(c);
            take_type(c, TYPE_tuple);
            take_word(c, W_inset);
            break;
        case W_shape: {
            cell_t path;
            need_type(c, TYPE_block, &path);
            shape(&path);
            break;
        }
        default: invalid(c);
        }
    }

    // pen and fill-pen: a colour, off, or a gradient or pattern (checked,
    // the pen unchanged).
    void pen(cursor_t& c, bool& on, uint32_t& colour) {
        cell_t t;
        if (take_word(c, W_off)) {
            on = false;
        } else if (take_type(c, TYPE_tuple, &t)) {
            on = true;
            colour = colour_of(&t);
        } else if (take_one_of(c, {W_linear, W_radial, W_diamond})) {
            int32_t colours = 0;
            for (;;) {
                if (take_type(c, TYPE_tuple)) ++colours;
                else if (!take_number(c) && !take_point(c)) break;
            }
            if (colours == 0) invalid(c);
            take_one_of(c, {W_pad, W_repeat, W_reflect});
        } else if (take_word(c, W_pattern)) {
            need_point(c);
            if (take_point(c)) need_point(c);
            cell_t b;
            need_type(c, TYPE_block, &b);
            check_only(&b);
            take_tile_mode(c);
        } else if (take_word(c, W_bitmap)) {
            need_type(c, TYPE_image);
            if (take_point(c)) need_point(c);
            take_tile_mode(c);
        } else {
            invalid(c);
        }
    }

    void take_tile_mode(cursor_t& c) const {
        take_one_of(c, {W_tile, W_flip_x, W_flip_y, W_flip_xy, W_clamp});
    }

    void pen_prefix(cursor_t& c) const { take_one_of(c, {W_pen, W_fill_pen}); }

    // The optional command block that ends a transformation: drawn as it
    // stands, there being no state to save in cells.
    void then_block(cursor_t& c) {
        cell_t b;
        if (take_type(c, TYPE_block, &b)) run(&b);
    }

    // A pattern's commands paint the pattern, not this surface: checked
    // with nothing plotted and the state kept.
    void check_only(const cell_t* b) {
        draw_paint_t paint = paint_;
        bool font_colour = font_colour_, painting = painting_;
        uint32_t text_colour = text_colour_;
        painting_ = false;
        run(b);
        paint_ = paint;
        font_colour_ = font_colour;
        text_colour_ = text_colour;
        painting_ = painting;
    }

    void check_matrix(cursor_t& c, const cell_t* m) const {
        if (block::rs_length_q(m) != 6) invalid(c);
        const cell_t* at = block::rs_abs_at(m, block::head_index(m));
        double n;
        for (int32_t i = 0; i < 6; ++i)
            if (!as_number(at + i, n)) {
                cursor_t in{*m, block::head_index(m) + i, block::head_index(m) + 6};
                invalid(in);
            }
    }

    void line(cursor_t& c) {
        int64_t x0, y0, x1, y1;
        need_point(c, x0, y0);
        need_point(c, x1, y1);
        for (;;) {
            if (painting_) raster::line(surface_, paint_, x0, y0, x1, y1);
            x0 = x1;
            y0 = y1;
            if (!take_point(c, x1, y1)) break;
        }
    }

    void box(cursor_t& c) {
        int64_t x0, y0, x1, y1;
        need_point(c, x0, y0);
        need_point(c, x1, y1);
        take_number(c);  // the corner radius: cells have no round corners
        if (painting_) raster::box(surface_, paint_, x0, y0, x1, y1);
    }

    void triangle(cursor_t& c) {
        int64_t xs[3], ys[3];
        for (int i = 0; i < 3; ++i) need_point(c, xs[i], ys[i]);
        if (painting_) raster::triangle(surface_, paint_, xs, ys);
    }

    void circle(cursor_t& c) {
        int64_t x, y;
        double r, r2;
        need_point(c, x, y);
        need_number(c, r);
        bool two = take_number(c, r2);
        int64_t rx = coordinate(r), ry = two ? coordinate(r2) : rx;
        if (!painting_ || rx <= 0 || ry <= 0) return;
        // Cells are about twice as high as wide.
        if (surface_.cells()) rx *= 2;
        raster::ellipse(surface_, paint_, x, y, rx, ry);
    }

    void ellipse(cursor_t& c) {
        int64_t x, y, w, h;
        need_point(c, x, y);
        need_point(c, w, h);
        if (!painting_ || w < 1 || h < 1) return;
        int64_t rx = (w - 1) / 2, ry = (h - 1) / 2;
        raster::ellipse(surface_, paint_, x + rx, y + ry, rx, ry);
    }

    void font(cursor_t& c) {
        cell_t f;
        need_type(c, TYPE_object, &f);
        int32_t i = object::find_symbol(&f, symbol::make("color"));
        const cell_t* colour = i < 0 ? nullptr : object::get_values(&f) + i;
        font_colour_ = colour != nullptr && type_of(colour) == TYPE_tuple;
        text_colour_ = font_colour_ ? colour_of(colour) : 0;
    }

    void text(cursor_t& c) {
        int64_t x, y;
        need_point(c, x, y);
        cell_t v = arg(c);
        if (!string::any_string_q(type_of(&v)) && type_of(&v) != TYPE_object) invalid(c);
        ++c.pos;
        // Text needs a font to be drawn in pixels; an image gets none.
        if (!painting_ || !surface_.cells()) return;
        text_style_t style;
        style.flags = draw_flag::OVER;
        style.fg = font_colour_ ? text_colour_ : paint_.pen;
        if (within_ != nullptr)
            if (const cell_t* para = face_facet(&within_->face, facet::PARA))
                style.para = para_bits(para);
        const clip_box_t& clip = surface_.clip;
        auto at = [](int64_t v) {
            return static_cast<int32_t>(std::clamp<int64_t>(v, -(1 << 30), 1 << 30));
        };
        int32_t px = at(x + surface_.ox), py = at(y + surface_.oy);
        int32_t room_w = std::max(0, clip.x2 - px), room_h = std::max(0, clip.y2 - py);
        if (type_of(&v) == TYPE_object) {
            std::vector<tui_cell_t> runs;
            layout_styled_text(runs, &v);
            if (runs.empty()) {
                const cell_t* t = face_facet(&v, facet::TEXT);
                std::u32string plain = t != nullptr ? text_of(t) : std::u32string();
                offset_t off = align_text(plain, room_w, room_h, style.para);
                draw_text(*surface_.grid, plain, px + off.x, py + off.y, clip, style);
                return;
            }
            draw_runs(*surface_.grid, runs.data(), static_cast<int32_t>(runs.size()), px, py, clip,
                      style);
            return;
        }
        std::u32string shown = text_of(&v);
        offset_t off = align_text(shown, room_w, room_h, style.para);
        draw_text(*surface_.grid, shown, px + off.x, py + off.y, clip, style);
    }

    // image: the image, up to four points (not three), a key colour,
    // `border`, `crop` with an offset and a size.
    void image_command(cursor_t& c) const {
        need_type(c, TYPE_image);
        int32_t n = 0;
        while (n < 4 && take_point(c)) ++n;
        if (n == 3) invalid(c);
        take_type(c, TYPE_tuple);
        take_word(c, W_border);
        if (take_word(c, W_crop)) {
            need_point(c);
            need_point(c);
        }
    }

    // The shape sub-dialect, checked: commands may be lit-words (relative
    // coordinates).
    void shape(const cell_t* path) const {
        int32_t head = block::head_index(path);
        cursor_t c{*path, head, head + block::rs_length_q(path)};
        while (c.more()) {
            c.command = c.pos;
            int32_t id = word_of(c.raw(), true);
            if (id < 0) invalid(c);
            ++c.pos;
            switch (id) {
            case W_move: need_point(c); break;
            case W_line:
            case W_curve:
            case W_curv:
            case W_qcurve:
            case W_qcurv: need_points(c, 1); break;
            case W_hline:
            case W_vline: need_number(c); break;
            case W_arc:
                need_point(c);
                need_number(c);
                need_number(c);
                need_number(c);
                take_word(c, W_sweep);
                take_word(c, W_large);
                break;
            case W_close: break;
            default: --c.pos; invalid(c);
            }
        }
    }
};

}  // namespace

void run_block(const draw_surface_t& surface, const cell_t* commands, widget_t* within) {
    drawer_t(surface, within).run(commands);
}

void draw_block(widget_t* w, const clip_box_t& clip, int32_t x, int32_t y) {
    const cell_t* draw = face_facet(&w->face, facet::DRAW);
    if (draw == nullptr || type_of(draw) != TYPE_block) return;
    cell_t commands = *draw;
    draw_surface_t s;
    s.grid = &screen();
    s.ox = x;
    s.oy = y;
    s.clip = clip;
    run_block(s, &commands, w);
}

void draw_image(cell_t* image_value, cell_t* commands) {
    cell_t img = *image_value;
    int32_t w = image::width_of(&img), h = image::height_of(&img);
    if (w <= 0 || h <= 0 || image::node_of(&img) == 0) return;
    draw_surface_t s;
    s.pixels = os_image::pixels(image::node_of(&img));
    s.width = w;
    s.clip = {0, 0, w, h};
    run_block(s, commands, nullptr);
    os_image::set_changed(image::node_of(&img));
}

}  // namespace zuv::tui::draw

#include "datatypes/image.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "datatypes/action_types.h"
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/file.h"
#include "datatypes/integer.h"
#include "datatypes/os_image.h"
#include "datatypes/pair.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "runtime/collector.h"
#include "runtime/fire.h"
#include "runtime/ownership.h"
#include "runtime/print_hooks.h"
#include "runtime/stack.h"
#include "runtime/words.h"

namespace zuv::image {

namespace {

constexpr char HEX[] = "0123456789ABCDEF";
// Bytes of pixels (4 a pixel) above which a mold breaks its lines.
constexpr int64_t FLAT_BYTES = 30;
constexpr int32_t PIXELS_PER_LINE = 10;

inline uint32_t* pixels_of(const cell_t* c) { return os_image::pixels(node_of(c)); }

inline int32_t clamp_index(int64_t p, const cell_t* c) {
    return static_cast<int32_t>(std::clamp<int64_t>(p, 0, count_of(c)));
}

[[noreturn]] void fire_with_type(err id, int32_t type, const cell_t* value) {
    cell_t* t = stack::push_slot();
    *t = cell_t{TYPE_datatype, static_cast<uint32_t>(type), 0, 0};
    fire(id, t, value);
}

[[noreturn]] void fire_part(const cell_t* value) {
    cell_t word = words::word(words::id::part);
    fire(err::invalid_refine_arg, &word, value);
}

bool is_word(const cell_t* w, words::id id) {
    return symbol::resolve(word::symbol_of(w)) ==
           symbol::resolve(static_cast<int32_t>(words::symbol_of(id)));
}

// Allocation failures of the C++ heap become the language's no-memory.
template <typename F> node_t guarded(F make) {
    try {
        return make();
    } catch (const std::bad_alloc&) {
        fire(err::no_memory);
    }
}

// The absolute index a pick or poke selector names from the head; -1 when
// it is out of range.
int64_t selected(const cell_t* image, int32_t index, const cell_t* selector) {
    int64_t i;
    if (type_of(selector) == TYPE_pair) {
        int32_t x = pair::get_x(selector), y = pair::get_y(selector);
        if (x < 1 || x > width_of(image) || y < 1 || y > height_of(image)) return -1;
        i = head_of(image) + static_cast<int64_t>(x) +
            static_cast<int64_t>(width_of(image)) * (y - 1) - 1;
    } else {
        i = static_cast<int64_t>(head_of(image)) + index - 1;
    }
    return i < 0 || i >= count_of(image) ? -1 : i;
}

// The offset n that an at or skip selector gives.
int64_t offset_of(const cell_t* image, const cell_t* selector, bool skip_mode) {
    if (type_of(selector) == TYPE_integer) return integer::get(selector);
    if (type_of(selector) != TYPE_pair) fire(err::invalid_arg, selector);
    int64_t x = pair::get_x(selector), y = pair::get_y(selector), w = width_of(image);
    if (skip_mode) return x + w * y;
    return x + w * (y <= 0 ? 0 : y - 1);
}

}  // namespace

// --- values -------------------------------------------------------------------------------------

cell_t* init_image(cell_t* cell, node_t node) {
    cell::begin(cell);
    cell->data1 = 0;
    cell->data2 = node;
    cell->data3 = os_image::record(node)->size;
    cell::set_type(cell, TYPE_image);
    return cell;
}

cell_t* init_empty(cell_t* cell, int32_t width, int32_t height) {
    cell::begin(cell);
    cell->data1 = 0;
    cell->data2 = 0;
    cell->data3 = static_cast<uint32_t>(width) | static_cast<uint32_t>(height) << 16;
    cell::set_type(cell, TYPE_image);
    return cell;
}

cell_t* make_sized(cell_t* cell, int32_t width, int32_t height, uint32_t fill) {
    if (width > os_image::MAX_SIDE || height > os_image::MAX_SIDE) {
        cell_t size;
        pair::make_at(&size, width, height);
        fire(err::out_of_range, &size);
    }
    if (width <= 0 || height <= 0) return init_empty(cell, std::max(width, 0), std::max(height, 0));
    node_t node = guarded([&] { return os_image::make_image(width, height, fill); });
    return init_image(cell, node);
}

cell_t* pixel_to_tuple(uint32_t p, cell_t* out) {
    uint8_t bytes[4] = {static_cast<uint8_t>(p >> 16), static_cast<uint8_t>(p >> 8),
                        static_cast<uint8_t>(p), static_cast<uint8_t>(255 - (p >> 24))};
    return tuple::make_at(out, bytes, 4);
}

uint32_t tuple_to_pixel(const cell_t* t) {
    const uint8_t* b = tuple::bytes_of(t);
    uint32_t opacity = tuple::length_of(t) > 3 ? 255u - b[3] : 255u;
    return opacity << 24 | static_cast<uint32_t>(b[0]) << 16 | static_cast<uint32_t>(b[1]) << 8 |
           b[2];
}

cell_t* get_pixel(const cell_t* image, int32_t index, cell_t* out) {
    if (index < 0 || index >= count_of(image) || !node_of(image)) {
        *out = cell_t{TYPE_none, 0, 0, 0};
        return out;
    }
    return pixel_to_tuple(pixels_of(image)[index], out);
}

bool signature_q(const uint8_t* data, size_t size) { return image_codecs::sniff(data, size) >= 0; }

cell_t* load_binary(const cell_t* data, cell_t* out) {
    // The bytes are read in place: decoding allocates nothing of the language's.
    const uint8_t* bytes = binary::rs_head(data);
    auto size = static_cast<size_t>(binary::rs_length_q(data));
    if (!signature_q(bytes, size)) fire(err::bad_media);
    image_codecs::raster_t raster;
    bool ok;
    try {
        ok = image_codecs::decode(bytes, size, raster);
    } catch (const std::bad_alloc&) {
        fire(err::no_memory);
    }
    if (!ok) fire(err::bad_media);
    node_t node = guarded([&] { return os_image::make_node(std::move(raster)); });
    return init_image(out, node);
}

cell_t* load_file(const cell_t* file, cell_t* out) {
    std::string path;
    node_t node = 0;
    if (file::to_os_path(file, &path))
        node = guarded([&] { return os_image::from_file(path.c_str()); });
    if (!node) fire(err::cannot_open, file);
    return init_image(out, node);
}

cell_t* decode(const cell_t* data, cell_t* out) {
    return type_of(data) == TYPE_binary ? load_binary(data, out) : load_file(data, out);
}

cell_t* encode(const cell_t* image, int32_t format, cell_t* out) {
    if (width_of(image) == 0 || height_of(image) == 0 || !node_of(image)) fire(err::bad_media);
    std::vector<uint8_t> bytes;
    bool ok;
    try {
        ok = os_image::encode(node_of(image), format, bytes);
    } catch (const std::bad_alloc&) {
        fire(err::no_memory);
    }
    if (!ok) fire(err::bad_media);
    return binary::load_at(bytes.data(), static_cast<int64_t>(bytes.size()), out);
}

const uint8_t* raw_pixels(const cell_t* image) {
    return node_of(image) ? reinterpret_cast<const uint8_t*>(pixels_of(image)) : nullptr;
}

cell_t* extract_data(const cell_t* image, int32_t mode, cell_t* out) {
    int64_t count = node_of(image) ? count_of(image) : 0;
    int64_t unit = mode == ALPHA ? 1 : mode == RGB ? 3 : 4;
    std::vector<uint8_t> bytes(static_cast<size_t>(count * unit));
    const uint32_t* px = count ? pixels_of(image) : nullptr;
    for (int64_t i = 0; i < count; i++) {
        uint32_t p = px[i];
        uint8_t* d = &bytes[static_cast<size_t>(i * unit)];
        if (mode == ALPHA) {
            d[0] = static_cast<uint8_t>(255 - (p >> 24));
        } else if (mode == RGB) {
            d[0] = static_cast<uint8_t>(p >> 16), d[1] = static_cast<uint8_t>(p >> 8),
            d[2] = static_cast<uint8_t>(p);
        } else {
            std::memcpy(d, &p, 4);
        }
    }
    return binary::load_at(bytes.data(), count * unit, out);
}

void set_data(cell_t* target, const cell_t* source, int32_t mode) {
    // Rooted copies: the owner's handler may run code that moves buffers.
    cell_t self = *target, data = *source;
    collector::root_cell keep_image(&self), keep_data(&data);
    cell_t* image = &self;
    const cell_t* value = &data;
    uint8_t t = type_of(value);
    if (t != TYPE_binary && t != TYPE_tuple && t != TYPE_integer) fire(err::invalid_arg, value);
    int64_t count = node_of(image) ? count_of(image) : 0;
    ownership::check(image, words::id::change, value, 0, static_cast<int32_t>(count));
    if (count) {
        uint32_t* px = pixels_of(image);
        if (t == TYPE_binary) {
            const uint8_t* b = binary::rs_head(value);
            int64_t n = binary::rs_length_q(value);
            // Each mode writes at most the image's pixels, however long the data.
            if (mode == RAW) {
                std::memcpy(px, b, static_cast<size_t>(std::min(n, count * 4)));
            } else if (mode == RGB) {
                for (int64_t i = 0, k = std::min(n / 3, count); i < k; i++)
                    px[i] = (px[i] & 0xFF000000u) | uint32_t{b[i * 3]} << 16 |
                            uint32_t{b[i * 3 + 1]} << 8 | b[i * 3 + 2];
            } else {
                for (int64_t i = 0, k = std::min(n, count); i < k; i++)
                    px[i] = (px[i] & 0x00FFFFFFu) | (255u - b[i]) << 24;
            }
        } else {
            uint32_t colour;
            uint32_t first;
            if (t == TYPE_tuple) {
                colour = tuple_to_pixel(value);
                first = tuple::bytes_of(value)[0];
            } else {
                auto v = static_cast<uint32_t>(integer::get(value));
                uint8_t bytes[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                                    static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
                cell_t as_tuple;
                tuple::make_at(&as_tuple, bytes, 4);
                colour = tuple_to_pixel(&as_tuple);
                first = bytes[0];
            }
            for (int64_t i = 0; i < count; i++) {
                if (mode == RAW) px[i] = colour;
                else if (mode == RGB) px[i] = (px[i] & 0xFF000000u) | (colour & 0x00FFFFFFu);
                else px[i] = (px[i] & 0x00FFFFFFu) | (255u - first) << 24;
            }
        }
        os_image::set_changed(node_of(image));
    }
    ownership::check(image, words::id::changed, value, 0, static_cast<int32_t>(count));
}

cell_t* resize(const cell_t* image, int32_t width, int32_t height, cell_t* out) {
    if (width <= 0 || height <= 0 || !node_of(image))
        return init_empty(out, std::max(width, 0), std::max(height, 0));
    if (width > os_image::MAX_SIDE || height > os_image::MAX_SIDE) {
        cell_t size;
        pair::make_at(&size, width, height);
        fire(err::out_of_range, &size);
    }
    node_t node = guarded([&] { return os_image::resize(node_of(image), width, height); });
    return init_image(out, node);
}

int32_t foreach_next(cell_t* state, int32_t n) {
    int32_t i = std::max(head_of(state), 0);
    int32_t count = node_of(state) ? count_of(state) : 0;
    if (n < 1 || i >= count) return 0;
    int32_t set = 0;
    for (int32_t k = 0; k < n; k++) {
        cell_t v;
        get_pixel(state, i + k, &v);
        if (type_of(&v) == TYPE_tuple) set++;
        // The words are read again each time: setting one may run code.
        cell_t* words = state + 1;
        cell_t w = type_of(words) == TYPE_block
                       ? *block::rs_abs_at(words, block::head_index(words) + k)
                       : *words;
        _context::set(&w, &v);
    }
    state->data1 = static_cast<uint32_t>(i + n);
    return set;
}

// --- make and to --------------------------------------------------------------------------------

namespace {

// A copy of the whole image, or of the rectangle (x, y, w, h) of it; an
// empty rectangle gives an image without a bitmap.
cell_t* copy_rect(const cell_t* image, int32_t x, int32_t y, int32_t w, int32_t h, cell_t* out) {
    if (w <= 0 || h <= 0 || !node_of(image)) return init_empty(out, 0, 0);
    node_t node = guarded([&] { return os_image::copy_region(node_of(image), x, y, w, h); });
    return init_image(out, node);
}

}  // namespace

cell_t* to(cell_t*, cell_t* spec, int32_t) {
    cell_t s = *spec;
    if (type_of(&s) != TYPE_image) fire_with_type(err::bad_to_arg, TYPE_image, &s);
    // A face would go to the UI backend's hook here; the terminal backend makes no image.
    cell_t result;
    copy_rect(&s, 0, 0, width_of(&s), height_of(&s), &result);
    *stack::arguments = result;
    return stack::arguments;
}

cell_t* make(cell_t* proto, cell_t* spec, int32_t type) {
    cell_t p = *proto, s = *spec;
    cell_t result;
    if (type_of(&s) == TYPE_pair) {
        make_sized(&result, std::max(pair::get_x(&s), 0), std::max(pair::get_y(&s), 0),
                   os_image::WHITE);
    } else if (type_of(&s) == TYPE_block) {
        int32_t length = block::rs_length_q(&s);
        if (length == 0) {
            if (type_of(&p) != TYPE_image) fire(err::invalid_arg, &s);
            copy_rect(&p, 0, 0, width_of(&p), height_of(&p), &result);
        } else {
            cell_t size = *block::rs_head(&s);
            if (type_of(&size) != TYPE_pair) fire(err::invalid_arg, &size);
            uint32_t fill = os_image::WHITE;
            if (length > 1) {
                cell_t second = block::rs_head(&s)[1];
                if (type_of(&second) == TYPE_tuple) fill = tuple_to_pixel(&second);
                else if (type_of(&second) != TYPE_binary) fire(err::invalid_arg, &second);
            }
            if (length > 2) {
                cell_t third = block::rs_head(&s)[2];
                if (type_of(&third) != TYPE_binary) fire(err::invalid_arg, &third);
            }
            make_sized(&result, std::max(pair::get_x(&size), 0), std::max(pair::get_y(&size), 0),
                       fill);
            // The spec block (still on the argument stack) keeps the data alive;
            // its cells are read again after the allocation.
            if (length > 1 && node_of(&result)) {
                cell_t second = block::rs_head(&s)[1];
                if (type_of(&second) == TYPE_binary) set_data(&result, &second, RGB);
                if (length > 2) {
                    cell_t third = block::rs_head(&s)[2];
                    set_data(&result, &third, ALPHA);
                }
            }
        }
    } else {
        return to(proto, spec, type);
    }
    *stack::arguments = result;
    return stack::arguments;
}

// --- form and mold ------------------------------------------------------------------------------

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    cell_t self = *value;
    std::string text;
    auto line_break = [&](int32_t level) {
        text.push_back('\n');
        text.append(static_cast<size_t>(4 * std::max(level, 0)), ' ');
    };
    // The budget counts what has been written; the text stops once it is spent.
    auto spent = [&] { return how.part && how.limit - static_cast<int32_t>(text.size()) <= 0; };
    auto flush = [&] {
        string::append_bytes(buffer, text.data(), static_cast<int64_t>(text.size()));
        return how.limit - static_cast<int32_t>(text.size());
    };
    if (!how.only) text += "make image! [";
    text += std::to_string(width_of(&self)) + "x" + std::to_string(height_of(&self));
    if (!node_of(&self)) {
        text += " #{}";
        if (!how.only) text += "]";
        return flush();
    }
    const int32_t count = count_of(&self);
    const int32_t head = std::clamp(head_of(&self), 0, count);
    const int64_t shown = count - head;
    const bool lines = !how.flat && shown * 4 > FLAT_BYTES;
    text += " #{";
    if (lines) line_break(how.indent + 1);
    for (int32_t i = 0; i < shown; i++) {
        if (spent()) return flush();
        uint32_t p = pixels_of(&self)[head + i];
        for (int shift : {16, 8, 0}) {
            text.push_back(HEX[(p >> (shift + 4)) & 15]);
            text.push_back(HEX[(p >> shift) & 15]);
        }
        if (lines && (i + 1) % PIXELS_PER_LINE == 0) line_break(how.indent + 1);
    }
    if (lines && shown % PIXELS_PER_LINE != 0) line_break(how.indent);
    text += "}";
    const uint32_t* px = pixels_of(&self);
    bool clear = false;
    for (int32_t i = 0; i < count && !clear; i++) clear = (px[i] >> 24) != 255;
    if (clear) {
        text += " #{";
        line_break(how.indent + 1);
        for (int32_t i = 0; i < count; i++) {
            if (spent()) return flush();
            uint32_t a = 255 - (px[i] >> 24);
            text.push_back(HEX[a >> 4]);
            text.push_back(HEX[a & 15]);
            if (!how.flat && (i + 1) % PIXELS_PER_LINE == 0 && i + 1 < count)
                line_break(how.indent + 1);
        }
        line_break(how.indent);
        text += "}";
    }
    if (!how.only) text += "]";
    return flush();
}

int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit) {
    return mold(value, buffer, {.part = part, .limit = limit});
}

// --- path access --------------------------------------------------------------------------------

cell_t* eval_path(cell_t* parent, cell_t* element, cell_t* value, cell_t* path, cell_t*, cell_t*,
                  int32_t, bool, bool, bool, bool) {
    uint8_t t = type_of(element);
    if (t == TYPE_integer || t == TYPE_pair) {
        if (value)
            return poke(parent, t == TYPE_integer ? integer::get(element) : 0, element, value);
        return pick(parent, t == TYPE_integer ? integer::get(element) : 0, element);
    }
    if (t == TYPE_word) {
        int32_t mode = is_word(element, words::id::rgb)     ? RGB
                       : is_word(element, words::id::alpha) ? ALPHA
                       : is_word(element, words::id::argb)  ? RAW
                                                            : -1;
        if (mode >= 0) {
            if (value) {
                set_data(parent, value, mode);
                return value;
            }
            cell_t* out = stack::push_slot();
            out->header = TYPE_unset;
            return extract_data(parent, mode, out);
        }
        if (is_word(element, words::id::size) && !value)
            return pair::push(width_of(parent), height_of(parent));
    }
    fire(err::invalid_path, path, element);
}

// --- comparison ---------------------------------------------------------------------------------

int32_t compare(cell_t* value1, cell_t* value2, int32_t op) {
    if (type_of(value2) != TYPE_image) return -2;
    bool same = node_of(value1) == node_of(value2) && head_of(value1) == head_of(value2) &&
                value1->data3 == value2->data3;
    if (op == 9) return same ? 0 : 1;
    if (same) return 0;
    if (op != 0 && op != 1 && op != 2 && op != 7 && op != 8 && op != 12) return -2;
    int64_t n1 = node_of(value1) ? count_of(value1) : 0,
            n2 = node_of(value2) ? count_of(value2) : 0;
    if (n1 != n2) return n1 < n2 ? -1 : 1;
    if (n1 == 0) return 0;
    int r = std::memcmp(pixels_of(value1), pixels_of(value2), static_cast<size_t>(n1) * 4);
    return (r > 0) - (r < 0);
}

// --- positions ----------------------------------------------------------------------------------

void at() {
    cell_t* v = stack::arguments;
    int64_t n = offset_of(v, v + 1, false);
    int64_t p = static_cast<int64_t>(head_of(v)) + (n <= 0 ? n : n - 1);
    v->data1 = static_cast<uint32_t>(clamp_index(p, v));
}

void skip() {
    cell_t* v = stack::arguments;
    int64_t p = static_cast<int64_t>(head_of(v)) + offset_of(v, v + 1, true);
    v->data1 = static_cast<uint32_t>(clamp_index(p, v));
}

void next() {
    cell_t* v = stack::arguments;
    if (head_of(v) < count_of(v)) v->data1++;
}

void tail() { stack::arguments->data1 = static_cast<uint32_t>(count_of(stack::arguments)); }

void tail_q() {
    cell_t* v = stack::arguments;
    bool at_tail = head_of(v) >= count_of(v);
    *v = cell_t{TYPE_logic, at_tail ? 1u : 0u, 0, 0};
}

int32_t length_q(cell_t* value) { return count_of(value); }

// --- pick, poke, change -------------------------------------------------------------------------

cell_t* pick(cell_t* value, int32_t index, cell_t* index_cell) {
    int64_t i = selected(value, index, index_cell);
    cell_t v;
    get_pixel(value, static_cast<int32_t>(i), &v);
    return stack::push(&v);
}

cell_t* poke(cell_t* target, int32_t index, cell_t* index_cell, cell_t* data) {
    if (type_of(data) != TYPE_tuple) fire(err::invalid_arg, data);
    cell_t self = *target;  // the owner's handler may move the cell's block
    cell_t* value = &self;
    int64_t i = selected(value, index, index_cell);
    if (i < 0 || !node_of(value)) fire(err::out_of_range, index_cell);
    auto at = static_cast<int32_t>(i);
    ownership::check(value, words::id::poke, data, at, 1);
    pixels_of(value)[at] = tuple_to_pixel(data);
    os_image::set_changed(node_of(value));
    ownership::check(value, words::id::poked, data, at, 1);
    return data;
}

cell_t* change(cell_t* series, cell_t* value, int32_t part, bool, int32_t dup) {
    if (part != -1 || dup != 1) fire(err::not_done);
    cell_t self = *series;
    uint8_t t = type_of(value);
    if (t == TYPE_tuple) {
        int32_t head = head_of(&self);
        if (head < 0 || head >= count_of(&self) || !node_of(&self)) fire(err::out_of_range, value);
        ownership::check(&self, words::id::change, value, head, 1);
        pixels_of(&self)[head] = tuple_to_pixel(value);
        os_image::set_changed(node_of(&self));
        ownership::check(&self, words::id::changed, value, head, 1);
        self.data1 = static_cast<uint32_t>(head + 1);
    } else if (t == TYPE_image) {
        cell_t source = *value;
        collector::root_cell keep(&source);
        value = &source;
        int32_t head = head_of(&self), w = width_of(&self), h = height_of(&self);
        if (head >= 0 && head < count_of(&self) && node_of(&self) && node_of(value)) {
            int32_t x0 = head % w, y0 = head / w;
            int32_t sw = width_of(value), sh = height_of(value);
            int32_t cw = std::min(sw, w - x0), ch = std::min(sh, h - y0);
            ownership::check(&self, words::id::change, value, head, cw * ch);
            // Copied through a buffer: the source may be the target itself.
            std::vector<uint32_t> src(pixels_of(value),
                                      pixels_of(value) + static_cast<size_t>(sw) * sh);
            uint32_t* dst = pixels_of(&self);
            for (int32_t row = 0; row < ch; row++)
                std::copy_n(&src[static_cast<size_t>(row) * static_cast<size_t>(sw)], cw,
                            dst + static_cast<size_t>(y0 + row) * static_cast<size_t>(w) +
                                static_cast<size_t>(x0));
            os_image::set_changed(node_of(&self));
            ownership::check(&self, words::id::changed, value, head, cw * ch);
            self.data1 = static_cast<uint32_t>((y0 + ch - 1) * w + std::min(x0 + sw, w));
        }
    } else {
        fire_with_type(err::invalid_type, t, value);
    }
    *stack::arguments = self;
    return stack::arguments;
}

// --- copy ---------------------------------------------------------------------------------------

cell_t* copy(cell_t* value, cell_t* result, cell_t* part, bool, cell_t*) {
    cell_t self = *value;
    int32_t w = width_of(&self), h = height_of(&self);
    cell_t out;
    if (w == 0 || h == 0 || !node_of(&self)) {
        init_empty(&out, w, h);
    } else {
        int32_t head = std::clamp(head_of(&self), 0, w * h);
        int32_t x = head % w, y = head / w;
        if (!part) {
            copy_rect(&self, x, y, w - x, h - y, &out);
        } else if (type_of(part) == TYPE_pair) {
            int32_t pw = std::clamp(pair::get_x(part), 0, w - x),
                    ph = std::clamp(pair::get_y(part), 0, h - y);
            copy_rect(&self, x, y, pw, ph, &out);
        } else if (type_of(part) == TYPE_image) {
            if (node_of(part) != node_of(&self)) fire_part(part);
            int32_t other = std::clamp(head_of(part), 0, w * h);
            int32_t x2 = other % w, y2 = other / w;
            copy_rect(&self, std::min(x, x2), std::min(y, y2), std::abs(x2 - x), std::abs(y2 - y),
                      &out);
        } else if (type_of(part) == TYPE_integer) {
            fire(err::not_done);
        } else {
            fire_part(part);
        }
    }
    *result = out;
    return result;
}

// --- routines -----------------------------------------------------------------------------------

namespace routines {

void encode() {
    cell_t* a = stack::arguments;
    if (type_of(a + 2) != TYPE_integer) fire(err::invalid_arg, a + 2);
    int32_t index = integer::get(a + 2);
    if (index < image_codecs::format::BMP || index > image_codecs::format::TIFF) {
        static const char text[] = "Cannot find image encoder\n";
        print_hooks::call_raw(text, static_cast<int32_t>(sizeof text - 1), 0);
        stack::set_last(&unset_value);
        return;
    }
    cell_t out{};
    collector::root_cell keep(&out);
    image::encode(a, index, &out);
    stack::set_last(&out);
}

void decode() {
    cell_t* a = stack::arguments;
    uint8_t t = type_of(a);
    if (t != TYPE_binary && t != TYPE_file) fire(err::invalid_arg, a);
    cell_t out{};
    image::decode(a, &out);
    stack::set_last(&out);
}

}  // namespace routines

// --- registration -------------------------------------------------------------------------------

void init() {
    os_image::init();
    datatype::record_t r(TYPE_image, TYPE_series, "image!");
    r.own<ACT_make>(make);
    r.own<ACT_to>(to);
    r.own<ACT_form>(form);
    r.own<ACT_mold>(mold);
    r.own<ACT_eval_path>(eval_path);
    r.own<ACT_compare>(compare);
    r.own<ACT_at>(at);
    r.own<ACT_change>(change);
    r.own<ACT_copy>(copy);
    r.own<ACT_length_q>(length_q);
    r.own<ACT_next>(next);
    r.own<ACT_pick>(pick);
    r.own<ACT_poke>(poke);
    r.own<ACT_skip>(skip);
    r.own<ACT_tail>(tail);
    r.own<ACT_tail_q>(tail_q);
    r.inherit({ACT_back, ACT_head, ACT_head_q, ACT_index_q, ACT_modify});
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::image

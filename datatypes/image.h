// image!: a two-dimensional series of pixels, a head (in pixels, row-major)
// over a width x height bitmap (datatypes/os_image.h).
//
// The cell: word 1 the head index, word 2 the image node (0: an image
// without a bitmap, as every image of zero width or height is), word 3 the
// size, width in the low 16 bits and height in the high 16 bits.
//
// The bitmap keeps opacity (255 opaque); the language's tuples and alpha
// bytes keep transparency (0 opaque): every transfer converts with 255 - a.
#pragma once

#include <cstdint>
#include <vector>

#include "datatypes/action_types.h"
#include "runtime/cell.h"

namespace zuv::image {

inline int32_t head_of(const cell_t* c) { return static_cast<int32_t>(c->data1); }
inline node_t node_of(const cell_t* c) { return c->data2; }
inline int32_t width_of(const cell_t* c) { return static_cast<int32_t>(c->data3 & 0xFFFF); }
inline int32_t height_of(const cell_t* c) { return static_cast<int32_t>(c->data3 >> 16); }
inline int32_t count_of(const cell_t* c) { return width_of(c) * height_of(c); }

// Plane modes of extract_data and set_data.
enum mode : int32_t { ALPHA = 0, RGB = 1, RAW = 2 };

// An image! cell (head 0) over a node, its size taken from the node.
cell_t* init_image(cell_t* cell, node_t node);
// An image! of width x height with no bitmap (a side of 0).
cell_t* init_empty(cell_t* cell, int32_t width, int32_t height);
// A new image of width x height, every pixel fill (a bitmap word);
// out-of-range for a side above 65,535; no bitmap when a side is 0.
cell_t* make_sized(cell_t* cell, int32_t width, int32_t height, uint32_t fill);

// Tuple <-> bitmap word: transparency is 255 - opacity; a 3-byte tuple is opaque.
cell_t* pixel_to_tuple(uint32_t pixel, cell_t* out);
uint32_t tuple_to_pixel(const cell_t* tuple);

// The pixel at an absolute index as a tuple; none at or past the count.
cell_t* get_pixel(const cell_t* image, int32_t index, cell_t* out);
bool signature_q(const uint8_t* data, size_t size);
// An image from binary! data; bad-media when it is not one.
cell_t* load_binary(const cell_t* data, cell_t* out);
// An image from a file; cannot-open (with the file) when it cannot be read as one.
cell_t* load_file(const cell_t* file, cell_t* out);
// Codec entries: a binary! or a file!; encoding to a format index.
cell_t* decode(const cell_t* data, cell_t* out);
cell_t* encode(const cell_t* image, int32_t format, cell_t* out);
// The raw plane (mode RAW, bytes B, G, R, A per pixel) in place, without a
// copy; nullptr for an image without a bitmap.
const uint8_t* raw_pixels(const cell_t* image);
// A new binary! of a plane (mode above) of all pixels from the first.
cell_t* extract_data(const cell_t* image, int32_t mode, cell_t* out);
// Writes a plane from a binary!, tuple! or integer! and tells the owner.
void set_data(cell_t* image, const cell_t* value, int32_t mode);
cell_t* resize(const cell_t* image, int32_t width, int32_t height, cell_t* out);
// One foreach step over the pixels from the head into n words; the number set.
int32_t foreach_next(cell_t* state, int32_t n);

// --- action entries ---
cell_t* make(cell_t* proto, cell_t* spec, int32_t type);
cell_t* to(cell_t* proto, cell_t* spec, int32_t type);
int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
cell_t* eval_path(cell_t* parent, cell_t* element, cell_t* value, cell_t* path, cell_t* gparent,
                  cell_t* p_item, int32_t index, bool case_, bool get, bool tail, bool evt);
int32_t compare(cell_t* value1, cell_t* value2, int32_t op);
void at();
cell_t* change(cell_t* series, cell_t* value, int32_t part, bool only, int32_t dup);
cell_t* copy(cell_t* value, cell_t* result, cell_t* part, bool deep, cell_t* types);
int32_t length_q(cell_t* value);
void next();
cell_t* pick(cell_t* value, int32_t index, cell_t* index_cell);
cell_t* poke(cell_t* value, int32_t index, cell_t* index_cell, cell_t* data);
void skip();
void tail();
void tail_q();

// The codec objects' routines: img where index, and data.
namespace routines {
void encode();
void decode();
}  // namespace routines

// Registers image! (the last of the start-up types) and the image services.
void init();

}  // namespace zuv::image

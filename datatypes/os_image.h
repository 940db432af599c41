// The image node: the platform record behind every image! value.
//
// An image! cell's second word is the node of a small byte series holding
// the record below (so the collector keeps it while a value reaches it and
// frees it after); the record names an entry of the external-resource table
// whose object is the bitmap: width, height and straight-alpha pixels in
// C++ memory, always materialised. The collector marks the entry through
// the image marker; an entry it finds dead releases its bitmap.
//
// Pixels never move: an address from pixels() stays valid while the node
// lives, across any allocation.
#pragma once

#include <cstdint>
#include <vector>

#include "codecs/image_codecs.h"
#include "runtime/cell.h"

namespace zuv::os_image {

using bitmap_t = image_codecs::raster_t;

struct node_record_t {
    uint32_t flags;  // bit 1: pixels changed since the node was made
    int32_t external;  // entry in the external-resource table
    uint32_t size;  // width in the low 16 bits, height in the high 16 bits
    uint32_t unused;
};

constexpr uint32_t CHANGED = 1u << 1;
constexpr int32_t MAX_SIDE = 65535;
constexpr uint32_t WHITE = 0xFFFFFFFFu;

// Registers the external kind and installs the collector's image marker.
void init();

// A node over a bitmap (taken over; width and height at least 1). The node
// is fresh: root it before the next allocation.
node_t make_node(bitmap_t&& bitmap);
// A new node of width x height (each 1 to MAX_SIDE) with every pixel fill.
node_t make_image(int32_t width, int32_t height, uint32_t fill);
// A nearest-neighbour scaled copy.
node_t resize(node_t node, int32_t width, int32_t height);
// A copy of the rectangle (x, y, width, height), which must lie inside.
node_t copy_region(node_t node, int32_t x, int32_t y, int32_t width, int32_t height);
// A node decoded from bytes in C++ memory; 0 when they are not an image.
node_t from_bytes(const uint8_t* data, size_t size);
// A node decoded from a file; 0 when it cannot be read as an image.
node_t from_file(const char* path);
// The encoded bytes for a format index (image_codecs::format); false for an
// unknown index or a failing encoder.
bool encode(node_t node, int32_t format, std::vector<uint8_t>& out);

node_record_t* record(node_t node);
bitmap_t* bitmap(node_t node);
uint32_t* pixels(node_t node);
// Records a change of the pixels (through a write of the image! layer).
void set_changed(node_t node);

}  // namespace zuv::os_image

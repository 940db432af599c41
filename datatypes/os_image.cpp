#include "datatypes/os_image.h"

#include <cstdio>

#include "runtime/alloc.h"
#include "runtime/collector.h"
#include "runtime/externals.h"
#include "runtime/fire.h"

namespace zuv::os_image {

namespace {

uint32_t kind = 0;

// Bitmaps live outside the language's memory, so their bytes do not bring a
// collection closer. After this many bytes of new bitmaps, one runs before
// the next is made, so that dead images give theirs back.
constexpr size_t COLLECT_AFTER = size_t{256} << 20;
size_t made_since = 0;

void release_bitmap(uintptr_t object) { delete reinterpret_cast<bitmap_t*>(object); }

void mark(node_t node) {
    int32_t index = record(node)->external;
    if (index >= 0 && index < externals::capacity()) externals::mark(index, 0);
}

}  // namespace

void init() {
    kind = static_cast<uint32_t>(externals::register_kind(0, release_bitmap));
    collector::image_marker = mark;
}

node_record_t* record(node_t node) {
    return reinterpret_cast<node_record_t*>(alloc::buffer(node)->head_ptr());
}

bitmap_t* bitmap(node_t node) {
    return reinterpret_cast<bitmap_t*>(externals::entry(record(node)->external)->object);
}

uint32_t* pixels(node_t node) { return bitmap(node)->pixels.data(); }
void set_changed(node_t node) { record(node)->flags |= CHANGED; }

node_t make_node(bitmap_t&& pixels) {
    made_since += pixels.pixels.size() * 4;
    if (made_since > COLLECT_AFTER) {
        made_since = 0;
        collector::collect_if_enabled();
    }
    // The record's series first: allocating it may collect, and the bitmap
    // is not reachable from anything yet.
    node_t node = alloc::alloc_bytes(sizeof(node_record_t));
    auto* owned = new bitmap_t(std::move(pixels));
    node_record_t* r = record(node);
    *r = node_record_t{
        0, externals::add(reinterpret_cast<uintptr_t>(owned), kind),
        static_cast<uint32_t>(owned->width) | static_cast<uint32_t>(owned->height) << 16, 0};
    alloc::buffer(node)->tail =
        alloc::buffer(node)->head + static_cast<int32_t>(sizeof(node_record_t));
    return node;
}

node_t make_image(int32_t width, int32_t height, uint32_t fill) {
    bitmap_t b;
    b.width = width;
    b.height = height;
    b.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), fill);
    return make_node(std::move(b));
}

node_t resize(node_t node, int32_t width, int32_t height) {
    const bitmap_t* src = bitmap(node);
    bitmap_t b;
    image_codecs::allocate(b, width, height);
    for (int32_t y = 0; y < height; y++) {
        int64_t sy = static_cast<int64_t>(y) * src->height / height;
        for (int32_t x = 0; x < width; x++) {
            int64_t sx = static_cast<int64_t>(x) * src->width / width;
            b.pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] =
                src->pixels[static_cast<size_t>(sy * src->width + sx)];
        }
    }
    return make_node(std::move(b));
}

node_t copy_region(node_t node, int32_t x, int32_t y, int32_t width, int32_t height) {
    const bitmap_t* src = bitmap(node);
    bitmap_t b;
    image_codecs::allocate(b, width, height);
    for (int32_t row = 0; row < height; row++) {
        const uint32_t* from =
            &src->pixels[static_cast<size_t>(y + row) * static_cast<size_t>(src->width) +
                         static_cast<size_t>(x)];
        std::copy(from, from + width,
                  &b.pixels[static_cast<size_t>(row) * static_cast<size_t>(width)]);
    }
    return make_node(std::move(b));
}

node_t from_bytes(const uint8_t* data, size_t size) {
    bitmap_t b;
    if (!image_codecs::decode(data, size, b)) return 0;
    return make_node(std::move(b));
}

node_t from_file(const char* path) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return 0;
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) return 0;
    return from_bytes(bytes.data(), bytes.size());
}

bool encode(node_t node, int32_t format, std::vector<uint8_t>& out) {
    const bitmap_t* b = bitmap(node);
    return image_codecs::encode(format, b->pixels.data(), b->width, b->height, out);
}

}  // namespace zuv::os_image

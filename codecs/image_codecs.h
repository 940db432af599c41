// The image file formats: PNG, JPEG, GIF and TIFF over Debian's libraries,
// BMP written here.
//
// Every decoder works on bytes in C++ memory and fills a raster of straight
// (not premultiplied) pixels, one 32-bit word each: A << 24 | R << 16 |
// G << 8 | B, A being the opacity; in memory the bytes run B, G, R, A. No
// decoder touches the language's memory, so a collection cannot move its
// input or output while it runs.
//
// Sizes read from input are checked before anything is allocated: both sides
// must fit 16 bits and the pixel count must be within what the bytes present
// could hold (for compressed formats, a bound on the best compression the
// format allows). Input that fails anything gives false, never a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zuv::image_codecs {

// The format indexes of the encoders.
namespace format {
constexpr int32_t BMP = 0, PNG = 1, GIF = 2, JPEG = 3, TIFF = 4;
}

constexpr int64_t MAX_SIDE = 65535;
// The most pixels one input byte may stand for in a compressed format: DEFLATE
// reaches about 1032:1 on bytes, and a 1-bit image packs 8 pixels a byte.
constexpr int64_t MAX_PIXELS_PER_BYTE = 8300;

struct raster_t {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> pixels;  // width x height, row by row from the top
};

// A read cursor over input bytes, for the libraries' read callbacks.
struct byte_reader_t {
    const uint8_t* data;
    size_t size;
    size_t at;

    // Copies up to n bytes (fewer at the end); the count copied.
    size_t take(void* out, size_t n);
};

inline uint32_t pack(uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
    return a << 24 | r << 16 | g << 8 | b;
}

// Whether a width and height read from input may be allocated for data of
// `bytes` bytes holding at most `per_byte` pixels a byte. Sizes as read
// (before any narrowing), so that a forged 32-bit side is refused whole.
bool size_ok(int64_t width, int64_t height, int64_t bytes, int64_t per_byte);
// Sizes the raster, every pixel 0 (transparent black); size_ok first.
void allocate(raster_t& r, int32_t width, int32_t height);

// The format (index) whose signature starts the bytes, -1 for none.
int32_t sniff(const uint8_t* data, size_t size);

bool decode_png(const uint8_t* data, size_t size, raster_t& out);
bool decode_jpeg(const uint8_t* data, size_t size, raster_t& out);
bool decode_gif(const uint8_t* data, size_t size, raster_t& out);
bool decode_tiff(const uint8_t* data, size_t size, raster_t& out);
bool decode_bmp(const uint8_t* data, size_t size, raster_t& out);
// By signature; false for unknown or undecodable data.
bool decode(const uint8_t* data, size_t size, raster_t& out);

// Encoders: pixels is width x height words as above, both sides at least 1.
bool encode_png(const uint32_t* pixels, int32_t width, int32_t height, std::vector<uint8_t>& out);
bool encode_jpeg(const uint32_t* pixels, int32_t width, int32_t height, std::vector<uint8_t>& out);
bool encode_gif(const uint32_t* pixels, int32_t width, int32_t height, std::vector<uint8_t>& out);
bool encode_tiff(const uint32_t* pixels, int32_t width, int32_t height, std::vector<uint8_t>& out);
bool encode_bmp(const uint32_t* pixels, int32_t width, int32_t height, std::vector<uint8_t>& out);
// By format index; false for an unknown index or a failing encoder.
bool encode(int32_t format, const uint32_t* pixels, int32_t width, int32_t height,
            std::vector<uint8_t>& out);

}  // namespace zuv::image_codecs

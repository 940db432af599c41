// PNG over libpng. libpng reports errors by longjmp to the setjmp of the
// function that called it; the functions below keep every object with a
// destructor outside the jumped-over region (the raster and output vector
// belong to the caller, the row table is made before setjmp).
#include <png.h>

#include <csetjmp>
#include <cstring>

#include "codecs/image_codecs.h"

namespace zuv::image_codecs {

namespace {

void read_bytes(png_structp png, png_bytep out, png_size_t n) {
    if (static_cast<byte_reader_t*>(png_get_io_ptr(png))->take(out, n) != n)
        png_error(png, "truncated");
}

void write_bytes(png_structp png, png_bytep in, png_size_t n) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), in, in + n);
}

void flush_nothing(png_structp) {}

void on_error(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void on_warning(png_structp, png_const_charp) {}

// The decoding steps that may jump out; rows must already hold height
// entries. Answers false when the size is refused.
bool read_image(png_structp png, png_infop info, byte_reader_t& reader, raster_t& out,
                std::vector<png_bytep>& rows) {
    png_set_read_fn(png, &reader, read_bytes);
    png_read_info(png, info);
    png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
    if (!size_ok(width, height, static_cast<int64_t>(reader.size), MAX_PIXELS_PER_BYTE))
        return false;
    int color = png_get_color_type(png, info);
    int depth = png_get_bit_depth(png, info);
    if (depth == 16) png_set_strip_16(png);
    if (color == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (color == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    if (color == PNG_COLOR_TYPE_GRAY || color == PNG_COLOR_TYPE_GRAY_ALPHA)
        png_set_gray_to_rgb(png);
    png_set_bgr(png);
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != static_cast<size_t>(width) * 4) return false;
    allocate(out, static_cast<int32_t>(width), static_cast<int32_t>(height));
    rows.resize(height);
    for (png_uint_32 y = 0; y < height; y++)
        rows[y] = reinterpret_cast<png_bytep>(&out.pixels[size_t{y} * width]);
    png_read_image(png, rows.data());
    return true;
}

}  // namespace

bool decode_png(const uint8_t* data, size_t size, raster_t& out) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, on_error, on_warning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    byte_reader_t reader{data, size, 0};
    std::vector<png_bytep> rows;
    bool ok = false;
    if (info && !setjmp(png_jmpbuf(png))) ok = read_image(png, info, reader, out, rows);
    png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    if (!ok) out = raster_t{};
    return ok;
}

bool encode_png(const uint32_t* pixels, int32_t width, int32_t height, std::vector<uint8_t>& out) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, on_error, on_warning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    bool opaque = true;
    for (size_t i = 0; i < count && opaque; i++) opaque = (pixels[i] >> 24) == 0xFF;
    // An opaque image is written as RGB: a quarter smaller and faster.
    std::vector<uint8_t> row(opaque ? static_cast<size_t>(width) * 3 : 0);
    bool ok = false;
    if (info && !setjmp(png_jmpbuf(png))) {
        png_set_write_fn(png, &out, write_bytes, flush_nothing);
        png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height),
                     8, opaque ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_set_compression_level(png, 6);
        png_write_info(png, info);
        if (!opaque) png_set_bgr(png);
        for (int32_t y = 0; y < height; y++) {
            const uint32_t* src = pixels + static_cast<size_t>(y) * static_cast<size_t>(width);
            if (opaque) {
                uint8_t* d = row.data();
                for (int32_t x = 0; x < width; x++, d += 3) {
                    uint32_t p = src[x];
                    d[0] = static_cast<uint8_t>(p >> 16);
                    d[1] = static_cast<uint8_t>(p >> 8);
                    d[2] = static_cast<uint8_t>(p);
                }
                png_write_row(png, row.data());
            } else {
                png_write_row(png, reinterpret_cast<png_const_bytep>(src));
            }
        }
        png_write_end(png, nullptr);
        ok = true;
    }
    png_destroy_write_struct(&png, info ? &info : nullptr);
    return ok;
}

}  // namespace zuv::image_codecs

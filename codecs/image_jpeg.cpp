// JPEG over libjpeg-turbo: baseline, progressive, grey, YCbCr and CMYK in;
// written at quality 90 from the colour alone (JPEG has no transparency).
// The library's errors leave through longjmp to the setjmp below it; objects
// with destructors are made before that point.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include <jerror.h>
#include <jpeglib.h>

#include "codecs/image_codecs.h"

namespace zuv::image_codecs {

namespace {

struct error_t {
    jpeg_error_mgr mgr;
    jmp_buf jump;
};

void on_error(j_common_ptr info) { longjmp(reinterpret_cast<error_t*>(info->err)->jump, 1); }
// Warnings are quiet, except running out of data: a truncated file is bad
// data, not an image with a grey bottom.
void on_message(j_common_ptr info, int level) {
    if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF) on_error(info);
}
void no_output(j_common_ptr) {}

void quiet(error_t& e) {
    jpeg_std_error(&e.mgr);
    e.mgr.error_exit = on_error;
    e.mgr.emit_message = on_message;
    e.mgr.output_message = no_output;
}

// (255 - c)(255 - k) / 255, rounded as the usual 8-bit product.
inline uint32_t ink(uint32_t c, uint32_t nk) {
    uint32_t t = (255 - c) * nk + 128;
    return ((t >> 8) + t) >> 8;
}

bool read_image(jpeg_decompress_struct& d, raster_t& out, std::vector<uint8_t>& row, size_t size) {
    jpeg_read_header(&d, TRUE);
    if (!size_ok(d.image_width, d.image_height, static_cast<int64_t>(size), MAX_PIXELS_PER_BYTE))
        return false;
    bool cmyk = d.jpeg_color_space == JCS_CMYK || d.jpeg_color_space == JCS_YCCK;
    d.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
    jpeg_start_decompress(&d);
    auto width = static_cast<int32_t>(d.output_width),
         height = static_cast<int32_t>(d.output_height);
    allocate(out, width, height);
    row.resize(static_cast<size_t>(width) * 4);
    // Adobe's CMYK files store the inks inverted.
    bool inverted = cmyk && d.saw_Adobe_marker;
    while (d.output_scanline < d.output_height) {
        uint32_t* dst =
            &out.pixels[static_cast<size_t>(d.output_scanline) * static_cast<size_t>(width)];
        JSAMPROW r = cmyk ? row.data() : reinterpret_cast<JSAMPROW>(dst);
        if (jpeg_read_scanlines(&d, &r, 1) != 1) return false;
        if (!cmyk) continue;
        const uint8_t* s = row.data();
        for (int32_t x = 0; x < width; x++, s += 4) {
            uint32_t c = s[0], m = s[1], y = s[2], k = s[3];
            if (inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
            uint32_t nk = 255 - k;
            dst[x] = pack(ink(c, nk), ink(m, nk), ink(y, nk), 255);
        }
    }
    // libjpeg-turbo's BGRA output leaves the fourth byte at 255.
    jpeg_finish_decompress(&d);
    return true;
}

}  // namespace

bool decode_jpeg(const uint8_t* data, size_t size, raster_t& out) {
    jpeg_decompress_struct d;
    error_t e;
    quiet(e);
    d.err = &e.mgr;
    std::vector<uint8_t> row;
    bool ok = false;
    jpeg_create_decompress(&d);
    if (!setjmp(e.jump)) {
        jpeg_mem_src(&d, data, static_cast<unsigned long>(size));
        ok = read_image(d, out, row, size);
    }
    jpeg_destroy_decompress(&d);
    if (!ok) out = raster_t{};
    return ok;
}

bool encode_jpeg(const uint32_t* pixels, int32_t width, int32_t height, std::vector<uint8_t>& out) {
    jpeg_compress_struct c;
    error_t e;
    quiet(e);
    c.err = &e.mgr;
    unsigned char* buffer = nullptr;
    unsigned long length = 0;
    bool ok = false;
    jpeg_create_compress(&c);
    if (!setjmp(e.jump)) {
        jpeg_mem_dest(&c, &buffer, &length);
        c.image_width = static_cast<JDIMENSION>(width);
        c.image_height = static_cast<JDIMENSION>(height);
        c.input_components = 4;
        c.in_color_space = JCS_EXT_BGRX;
        jpeg_set_defaults(&c);
        jpeg_set_quality(&c, 90, TRUE);
        jpeg_start_compress(&c, TRUE);
        while (c.next_scanline < c.image_height) {
            auto row = const_cast<JSAMPROW>(reinterpret_cast<const JSAMPLE*>(
                pixels + static_cast<size_t>(c.next_scanline) * static_cast<size_t>(width)));
            jpeg_write_scanlines(&c, &row, 1);
        }
        jpeg_finish_compress(&c);
        ok = true;
    }
    jpeg_destroy_compress(&c);
    if (ok) out.assign(buffer, buffer + length);
    std::free(buffer);
    return ok;
}

}  // namespace zuv::image_codecs

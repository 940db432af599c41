#include "codecs/image_codecs.h"

#include <algorithm>
#include <cstring>

namespace zuv::image_codecs {

size_t byte_reader_t::take(void* out, size_t n) {
    size_t k = at >= size ? 0 : std::min(n, size - at);
    std::memcpy(out, data + at, k);
    at += k;
    return k;
}

bool size_ok(int64_t width, int64_t height, int64_t bytes, int64_t per_byte) {
    if (width < 1 || height < 1 || width > MAX_SIDE || height > MAX_SIDE) return false;
    return width * height <= bytes * per_byte;
}

void allocate(raster_t& r, int32_t width, int32_t height) {
    r.width = width;
    r.height = height;
    r.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
}

int32_t sniff(const uint8_t* p, size_t n) {
    if (n >= 4 && p[0] == 137 && p[1] == 'P' && p[2] == 'N' && p[3] == 'G') return format::PNG;
    if (n >= 3 && p[0] == 0xFF && p[1] == 0xD8 && p[2] == 0xFF) return format::JPEG;
    if (n >= 2 && p[0] == 'B' && p[1] == 'M') return format::BMP;
    if (n >= 6 && std::memcmp(p, "GIF8", 4) == 0 && (p[4] == '7' || p[4] == '9') && p[5] == 'a')
        return format::GIF;
    if (n >= 4 && ((p[0] == 'I' && p[1] == 'I' && p[2] == 0x2A && p[3] == 0) ||
                   (p[0] == 'M' && p[1] == 'M' && p[2] == 0 && p[3] == 0x2A)))
        return format::TIFF;
    return -1;
}

bool decode(const uint8_t* data, size_t size, raster_t& out) {
    switch (sniff(data, size)) {
    case format::PNG: return decode_png(data, size, out);
    case format::JPEG: return decode_jpeg(data, size, out);
    case format::BMP: return decode_bmp(data, size, out);
    case format::GIF: return decode_gif(data, size, out);
    case format::TIFF: return decode_tiff(data, size, out);
    default: return false;
    }
}

bool encode(int32_t format, const uint32_t* pixels, int32_t width, int32_t height,
            std::vector<uint8_t>& out) {
    out.clear();
    switch (format) {
    case format::BMP: return encode_bmp(pixels, width, height, out);
    case format::PNG: return encode_png(pixels, width, height, out);
    case format::GIF: return encode_gif(pixels, width, height, out);
    case format::JPEG: return encode_jpeg(pixels, width, height, out);
    case format::TIFF: return encode_tiff(pixels, width, height, out);
    default: return false;
    }
}

}  // namespace zuv::image_codecs

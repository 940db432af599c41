// BMP, read and written here. Read: the core (OS/2) header and the Windows
// headers of 40 to 124 bytes; 1-, 4- and 8-bit palettes, RLE4 and RLE8,
// 16-, 24- and 32-bit pixels, bit-field masks, bottom-up and top-down rows.
// A 32-bit file without masks keeps its fourth byte unused (opaque).
// Written: 32 bits with a version-5 header and an alpha mask, bottom-up.
#include <algorithm>
#include <cstring>

#include "codecs/image_codecs.h"

namespace zuv::image_codecs {

namespace {

constexpr uint32_t BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3, BI_ALPHABITFIELDS = 6;
constexpr size_t FILE_HEADER = 14;

inline uint32_t u16(const uint8_t* p) { return p[0] | p[1] << 8; }
inline uint32_t u32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// One channel of a bit-field mask: its shift and the largest value.
struct channel_t {
    uint32_t mask = 0;
    int shift = 0;
    uint32_t max = 0;

    explicit channel_t(uint32_t m = 0) : mask(m) {
        if (!m) return;
        while (!(m & 1)) m >>= 1, shift++;
        max = m;
    }
    // Scaled to 0..255 (a 5-bit 31 becomes 255); `otherwise` without a mask.
    uint32_t get(uint32_t v, uint32_t otherwise) const {
        if (!mask) return otherwise;
        uint64_t c = (v & mask) >> shift;
        return static_cast<uint32_t>(c * 255 / max);
    }
};

struct header_t {
    int64_t width = 0, height = 0;
    bool top_down = false;
    uint32_t bits = 0, compression = 0, colours = 0;
    uint32_t masks[4] = {0, 0, 0, 0};
    bool has_masks = false;
    size_t palette_at = 0, palette_entry = 4, offset = 0;
};

bool read_header(const uint8_t* p, size_t n, header_t& h) {
    if (n < FILE_HEADER + 12) return false;
    h.offset = u32(p + 10);
    uint32_t size = u32(p + FILE_HEADER);
    const uint8_t* d = p + FILE_HEADER;
    if (size == 12) {
        h.width = u16(d + 4);
        h.height = static_cast<int16_t>(u16(d + 6));
        h.bits = u16(d + 10);
        h.palette_entry = 3;
    } else {
        if (size < 40 || size > n - FILE_HEADER) return false;
        h.width = static_cast<int32_t>(u32(d + 4));
        h.height = static_cast<int32_t>(u32(d + 8));
        h.bits = u16(d + 14);
        h.compression = u32(d + 16);
        h.colours = u32(d + 32);
        if (h.compression == BI_BITFIELDS || h.compression == BI_ALPHABITFIELDS) {
            size_t count = h.compression == BI_ALPHABITFIELDS ? 4 : 3;
            // Version 3 headers keep the masks after them; later ones inside.
            if (size >= 52) count = size >= 56 ? 4 : 3;
            if (FILE_HEADER + 40 + count * 4 > n) return false;
            for (size_t i = 0; i < count; i++) h.masks[i] = u32(d + 40 + i * 4);
            h.has_masks = true;
            if (size == 40) size += static_cast<uint32_t>(count * 4);
        }
    }
    h.palette_at = FILE_HEADER + size;
    if (h.height < 0) h.top_down = true, h.height = -h.height;
    return true;
}

// Builds the palette of an indexed file; false when it does not fit.
bool read_palette(const uint8_t* p, size_t n, const header_t& h, std::vector<uint32_t>& palette) {
    uint64_t count = h.colours ? h.colours : uint64_t{1} << h.bits;
    if (count > 256) count = 256;
    if (h.palette_at + count * h.palette_entry > n) return false;
    palette.assign(256, pack(0, 0, 0, 255));
    for (uint64_t i = 0; i < count; i++) {
        const uint8_t* e = p + h.palette_at + i * h.palette_entry;
        palette[i] = pack(e[2], e[1], e[0], 255);
    }
    return true;
}

inline uint32_t* row_of(raster_t& out, int64_t y, bool top_down) {
    int64_t r = top_down ? y : out.height - 1 - y;
    return &out.pixels[static_cast<size_t>(r) * static_cast<size_t>(out.width)];
}

bool read_rle(const uint8_t* p, size_t n, const header_t& h, const std::vector<uint32_t>& palette,
              raster_t& out) {
    bool four = h.compression == BI_RLE4;
    // Pixels the run-length stream skips (deltas, early line ends) keep the
    // first palette colour.
    std::fill(out.pixels.begin(), out.pixels.end(), palette[0]);
    size_t at = h.offset;
    int64_t x = 0, y = 0;
    auto put = [&](uint32_t index) {
        if (x < out.width && y < out.height) row_of(out, y, h.top_down)[x] = palette[index & 0xFF];
        x++;
    };
    while (y < out.height) {
        if (at + 2 > n) return false;
        uint32_t count = p[at], value = p[at + 1];
        at += 2;
        if (count) {
            for (uint32_t i = 0; i < count; i++)
                put(four ? (i & 1 ? value & 15 : value >> 4) : value);
        } else if (value == 0) {
            x = 0, y++;
        } else if (value == 1) {
            return true;
        } else if (value == 2) {
            if (at + 2 > n) return false;
            x += p[at], y += p[at + 1];
            at += 2;
        } else {
            size_t bytes = four ? (value + 1) / 2 : value;
            if (at + bytes > n) return false;
            for (uint32_t i = 0; i < value; i++) {
                uint32_t b = p[at + (four ? i / 2 : i)];
                put(four ? (i & 1 ? b & 15 : b >> 4) : b);
            }
            at += (bytes + 1) & ~size_t{1};
        }
    }
    return true;
}

bool read_pixels(const uint8_t* p, size_t n, const header_t& h,
                 const std::vector<uint32_t>& palette, raster_t& out) {
    uint64_t stride = ((static_cast<uint64_t>(out.width) * h.bits + 31) / 32) * 4;
    if (h.offset > n || stride * static_cast<uint64_t>(out.height) > n - h.offset) return false;
    uint32_t default_masks[3] = {0x7C00, 0x03E0, 0x001F};
    const uint32_t* m = h.has_masks ? h.masks : h.bits == 16 ? default_masks : nullptr;
    channel_t r(m ? m[0] : 0), g(m ? m[1] : 0), b(m ? m[2] : 0), a(h.has_masks ? m[3] : 0);
    for (int64_t y = 0; y < out.height; y++) {
        const uint8_t* s = p + h.offset + static_cast<size_t>(y) * stride;
        uint32_t* dst = row_of(out, y, h.top_down);
        for (int64_t x = 0; x < out.width; x++) {
            switch (h.bits) {
            case 1: dst[x] = palette[s[x / 8] >> (7 - x % 8) & 1]; break;
            case 4: dst[x] = palette[x & 1 ? s[x / 2] & 15 : s[x / 2] >> 4]; break;
            case 8: dst[x] = palette[s[x]]; break;
            case 24: dst[x] = pack(s[x * 3 + 2], s[x * 3 + 1], s[x * 3], 255); break;
            case 16:
            case 32: {
                uint32_t v = h.bits == 16 ? u16(s + x * 2) : u32(s + x * 4);
                if (!m) dst[x] = (v & 0xFFFFFF) | 0xFF000000u;
                else dst[x] = pack(r.get(v, 0), g.get(v, 0), b.get(v, 0), a.get(v, 255));
                break;
            }
            default: return false;
            }
        }
    }
    return true;
}

}  // namespace

bool decode_bmp(const uint8_t* p, size_t n, raster_t& out) {
    header_t h;
    out = raster_t{};
    if (!read_header(p, n, h) || h.offset >= n) return false;
    bool rle = h.compression == BI_RLE8 || h.compression == BI_RLE4;
    bool indexed = h.bits == 1 || h.bits == 4 || h.bits == 8;
    if (rle &&
        !((h.compression == BI_RLE8 && h.bits == 8) || (h.compression == BI_RLE4 && h.bits == 4)))
        return false;
    if (!rle && h.compression != BI_RGB && !h.has_masks) return false;
    if (h.has_masks && h.bits != 16 && h.bits != 32) return false;
    if (!indexed && h.bits != 16 && h.bits != 24 && h.bits != 32) return false;
    // Every row of an uncompressed file is present in full; an RLE pair
    // gives at most 255 pixels for 2 bytes.
    if (!size_ok(h.width, h.height, static_cast<int64_t>(n - h.offset), rle ? 128 : 32))
        return false;
    uint64_t stride = ((static_cast<uint64_t>(h.width) * h.bits + 31) / 32) * 4;
    if (!rle && stride * static_cast<uint64_t>(h.height) > n - h.offset) return false;
    std::vector<uint32_t> palette;
    if (indexed && !read_palette(p, n, h, palette)) return false;
    allocate(out, static_cast<int32_t>(h.width), static_cast<int32_t>(h.height));
    bool ok = rle ? read_rle(p, n, h, palette, out) : read_pixels(p, n, h, palette, out);
    if (!ok) out = raster_t{};
    return ok;
}

namespace {

void put16(std::vector<uint8_t>& o, uint32_t v) {
    o.push_back(static_cast<uint8_t>(v));
    o.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& o, uint32_t v) {
    put16(o, v & 0xFFFF);
    put16(o, v >> 16);
}

}  // namespace

bool encode_bmp(const uint32_t* pixels, int32_t width, int32_t height, std::vector<uint8_t>& out) {
    constexpr uint32_t V5 = 124;
    uint64_t data = uint64_t{4} * static_cast<uint32_t>(width) * static_cast<uint32_t>(height);
    uint64_t total = FILE_HEADER + V5 + data;
    if (total > 0xFFFFFFFFu) return false;
    out.clear();
    out.reserve(static_cast<size_t>(total));
    out.push_back('B');
    out.push_back('M');
    put32(out, static_cast<uint32_t>(total));
    put32(out, 0);
    put32(out, FILE_HEADER + V5);
    put32(out, V5);
    put32(out, static_cast<uint32_t>(width));
    put32(out, static_cast<uint32_t>(height));  // positive: bottom-up
    put16(out, 1);
    put16(out, 32);
    put32(out, BI_BITFIELDS);
    put32(out, static_cast<uint32_t>(data));
    put32(out, 2835);  // 72 dots per inch
    put32(out, 2835);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0x00FF0000);
    put32(out, 0x0000FF00);
    put32(out, 0x000000FF);
    put32(out, 0xFF000000);
    put32(out, 0x73524742);  // 'sRGB'
    for (int i = 0; i < 9 + 3; i++) put32(out, 0);  // end points and gammas
    put32(out, 4);  // rendering intent: pictures
    put32(out, 0);  // profile data
    put32(out, 0);  // profile size
    put32(out, 0);
    for (int32_t y = height - 1; y >= 0; y--) {
        const uint32_t* src = pixels + static_cast<size_t>(y) * static_cast<size_t>(width);
        for (int32_t x = 0; x < width; x++) put32(out, src[x]);
    }
    return true;
}

}  // namespace zuv::image_codecs

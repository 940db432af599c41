// TIFF over libtiff, reading and writing in memory. RGB(A) and grey of 8 or
// 16 bits a sample with straight (unassociated) alpha or none are read as
// stored, in strips or tiles, contiguous or one plane a sample; everything
// else goes through the library's RGBA reader, whose alpha comes back
// premultiplied and is turned back into straight alpha. Premultiplying
// loses the colour of nearly transparent pixels, which is why the first
// way is taken wherever it can be. Written as 8-bit RGBA with unassociated
// alpha, LZW compressed.
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "codecs/image_codecs.h"
#include "runtime/platform/dynamic_library.h"

namespace zuv::image_codecs {

namespace {

// libtiff, and the codecs it brings (WebP, LERC, JBIG, Deflate, LZMA), are
// loaded at the first TIFF rather than linked: loading them cost every start-up
// about 3.6M instructions, which most scripts never use.
static_assert(TIFFLIB_AT_LEAST(4, 5, 0), "the headers must describe libtiff.so.6");

// clang-format off
#define ZUV_TIFF_FUNCTIONS(X)                                                                       \
    X(TIFFSetErrorHandler) X(TIFFSetWarningHandler) X(TIFFOpenOptionsAlloc)                         \
    X(TIFFOpenOptionsSetErrorHandlerExtR) X(TIFFOpenOptionsSetWarningHandlerExtR)                   \
    X(TIFFOpenOptionsSetMaxSingleMemAlloc) X(TIFFClientOpenExt) X(TIFFOpenOptionsFree)              \
    X(TIFFScanlineSize) X(TIFFReadScanline) X(TIFFReadRGBAImageOriented) X(TIFFGetField)            \
    X(TIFFGetFieldDefaulted) X(TIFFIsTiled) X(TIFFClose) X(TIFFSetField) X(TIFFDefaultStripSize)    \
    X(TIFFWriteScanline) X(TIFFReadTile) X(TIFFTileSize)
// clang-format on

struct tiff_api {
    ZUV_TIFF_FUNCTIONS(ZUV_LIBRARY_SLOT)

    static constexpr const char* SONAME = "libtiff.so.6";
    bool bind(void* library) { return true ZUV_TIFF_FUNCTIONS(ZUV_LIBRARY_BIND); }
};

// The loaded library, nullptr when it cannot be had (then no TIFF is read or
// written, as for bytes it refuses).
const tiff_api* tiff_lib() { return platform::load_library<tiff_api>(); }

struct memory_t {
    const uint8_t* data;  // reading
    std::vector<uint8_t>* out;  // writing
    size_t size;
    size_t at;
};

tmsize_t read_proc(thandle_t h, void* buf, tmsize_t n) {
    auto* m = static_cast<memory_t*>(h);
    if (!m->data || n < 0) return 0;
    size_t k = m->at >= m->size ? 0 : std::min(static_cast<size_t>(n), m->size - m->at);
    std::memcpy(buf, m->data + m->at, k);
    m->at += k;
    return static_cast<tmsize_t>(k);
}

tmsize_t write_proc(thandle_t h, void* buf, tmsize_t n) {
    auto* m = static_cast<memory_t*>(h);
    if (!m->out || n < 0) return -1;
    size_t end = m->at + static_cast<size_t>(n);
    if (end > m->out->size()) m->out->resize(end);
    std::memcpy(m->out->data() + m->at, buf, static_cast<size_t>(n));
    m->at = end;
    m->size = std::max(m->size, end);
    return n;
}

toff_t seek_proc(thandle_t h, toff_t offset, int whence) {
    auto* m = static_cast<memory_t*>(h);
    int64_t base = whence == SEEK_CUR   ? static_cast<int64_t>(m->at)
                   : whence == SEEK_END ? static_cast<int64_t>(m->size)
                                        : 0;
    int64_t to = base + static_cast<int64_t>(offset);
    if (to < 0) return static_cast<toff_t>(-1);
    m->at = static_cast<size_t>(to);
    return static_cast<toff_t>(to);
}

int close_proc(thandle_t) { return 0; }
toff_t size_proc(thandle_t h) { return static_cast<memory_t*>(h)->size; }
int map_proc(thandle_t, void**, toff_t*) { return 0; }
void unmap_proc(thandle_t, void*, toff_t) {}

int quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

TIFF* open(const tiff_api& lib, memory_t& m, const char* mode) {
    // Some messages come before the handle exists, through the global handlers.
    lib.TIFFSetErrorHandler(nullptr);
    lib.TIFFSetWarningHandler(nullptr);
    TIFFOpenOptions* options = lib.TIFFOpenOptionsAlloc();
    lib.TIFFOpenOptionsSetErrorHandlerExtR(options, quiet, nullptr);
    lib.TIFFOpenOptionsSetWarningHandlerExtR(options, quiet, nullptr);
    // No single buffer of the library may outgrow the largest image.
    lib.TIFFOpenOptionsSetMaxSingleMemAlloc(options, MAX_SIDE * MAX_SIDE * 4);
    TIFF* t = lib.TIFFClientOpenExt("memory", mode, &m, read_proc, write_proc, seek_proc,
                                    close_proc, size_proc, map_proc, unmap_proc, options);
    lib.TIFFOpenOptionsFree(options);
    return t;
}

inline uint32_t unpremultiply(uint32_t c, uint32_t a) {
    return a == 0 ? 0 : std::min<uint32_t>(255, (c * 255 + a / 2) / a);
}

// The layout of the samples as stored.
struct layout_t {
    uint16_t samples;  // per pixel
    uint16_t bytes;  // per sample: 1 or 2
    bool separate;  // one plane a sample
};

// Copies n pixels of one plane from src into px (every sample of every pixel,
// 8 bits each) at pixel `at`. A 16-bit sample (in the machine's order, as the
// library gives it) keeps its high byte, as PIL reads it.
void take(const layout_t& l, const uint8_t* src, uint8_t* px, size_t at, size_t n, int plane) {
    size_t per = l.separate ? 1 : l.samples;
    uint8_t* d = px + at * l.samples + (l.separate ? plane : 0);
    for (size_t i = 0; i < n; i++, d += l.samples)
        for (size_t k = 0; k < per; k++, src += l.bytes) {
            if (l.bytes == 1) {
                d[k] = src[0];
            } else {
                uint16_t v;
                std::memcpy(&v, src, 2);
                d[k] = static_cast<uint8_t>(v >> 8);
            }
        }
}

// Every sample of every pixel as stored, 8 bits each, from tiles or strips.
bool read_samples(const tiff_api& lib, TIFF* t, const layout_t& l, size_t w, size_t h,
                  std::vector<uint8_t>& px) {
    int planes = l.separate ? l.samples : 1;
    size_t pixel = (l.separate ? 1 : l.samples) * size_t{l.bytes};
    if (!lib.TIFFIsTiled(t)) {
        tmsize_t line = lib.TIFFScanlineSize(t);
        if (line < 0 || static_cast<size_t>(line) < w * pixel) return false;
        std::vector<uint8_t> row(static_cast<size_t>(line));
        for (int plane = 0; plane < planes; plane++)
            for (size_t y = 0; y < h; y++) {
                if (lib.TIFFReadScanline(t, row.data(), static_cast<uint32_t>(y),
                                         static_cast<uint16_t>(plane)) < 0)
                    return false;
                take(l, row.data(), px.data(), y * w, w, plane);
            }
        return true;
    }
    uint32_t tw = 0, th = 0;
    lib.TIFFGetField(t, TIFFTAG_TILEWIDTH, &tw);
    lib.TIFFGetField(t, TIFFTAG_TILELENGTH, &th);
    tmsize_t size = lib.TIFFTileSize(t);
    size_t row = size_t{tw} * pixel;
    // A tile no larger than the largest image: a forged size asks for no more.
    if (tw == 0 || th == 0 || size < 0 || static_cast<size_t>(size) < row * th ||
        static_cast<int64_t>(size) > MAX_SIDE * MAX_SIDE * 8)
        return false;
    // Left unfilled: the size comes from the file, and only the pages the
    // library writes are taken from the system. A forged tile, far larger
    // than its data, then costs no more than the data it holds.
    auto tile = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(size));
    for (int plane = 0; plane < planes; plane++)
        for (size_t ty = 0; ty < h; ty += th)
            for (size_t tx = 0; tx < w; tx += tw) {
                if (lib.TIFFReadTile(t, tile.get(), static_cast<uint32_t>(tx),
                                     static_cast<uint32_t>(ty), 0,
                                     static_cast<uint16_t>(plane)) < 0)
                    return false;
                size_t n = std::min<size_t>(tw, w - tx);
                for (size_t r = 0; r < th && ty + r < h; r++)
                    take(l, tile.get() + r * row, px.data(), (ty + r) * w + tx, n, plane);
            }
    return true;
}

// RGB, RGBA, grey or grey + alpha (alpha straight) as stored.
bool read_direct(const tiff_api& lib, TIFF* t, raster_t& out, const layout_t& l, bool grey,
                 bool alpha) {
    size_t w = static_cast<size_t>(out.width), h = static_cast<size_t>(out.height);
    std::vector<uint8_t> px(w * h * l.samples);
    if (!read_samples(lib, t, l, w, h, px)) return false;
    const uint8_t* s = px.data();
    for (uint32_t& p : out.pixels) {
        uint32_t a = alpha ? s[grey ? 1 : 3] : 255;
        p = grey ? pack(s[0], s[0], s[0], a) : pack(s[0], s[1], s[2], a);
        s += l.samples;
    }
    return true;
}

bool read_rgba(const tiff_api& lib, TIFF* t, raster_t& out) {
    if (!lib.TIFFReadRGBAImageOriented(t, static_cast<uint32_t>(out.width),
                                       static_cast<uint32_t>(out.height), out.pixels.data(),
                                       ORIENTATION_TOPLEFT, 0))
        return false;
    // The library's words hold R in the low byte; alpha is premultiplied.
    for (uint32_t& p : out.pixels) {
        uint32_t r = TIFFGetR(p), g = TIFFGetG(p), b = TIFFGetB(p), a = TIFFGetA(p);
        if (a != 255) r = unpremultiply(r, a), g = unpremultiply(g, a), b = unpremultiply(b, a);
        p = pack(r, g, b, a);
    }
    return true;
}

}  // namespace

bool decode_tiff(const uint8_t* data, size_t size, raster_t& out) {
    const tiff_api* api = tiff_lib();
    if (api == nullptr) return false;
    const tiff_api& lib = *api;
    memory_t m{data, nullptr, size, 0};
    TIFF* t = open(lib, m, "rm");
    if (!t) return false;
    uint32_t width = 0, height = 0;
    uint16_t bits = 0, samples = 0, photometric = 0, planar = PLANARCONFIG_CONTIG, extra_count = 0;
    uint16_t* extra = nullptr;
    lib.TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width);
    lib.TIFFGetField(t, TIFFTAG_IMAGELENGTH, &height);
    lib.TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    lib.TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &samples);
    lib.TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &planar);
    lib.TIFFGetFieldDefaulted(t, TIFFTAG_EXTRASAMPLES, &extra_count, &extra);
    bool has_photometric = lib.TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric) == 1;
    bool ok = size_ok(width, height, static_cast<int64_t>(size), MAX_PIXELS_PER_BYTE);
    if (ok) {
        allocate(out, static_cast<int32_t>(width), static_cast<int32_t>(height));
        bool grey = photometric == PHOTOMETRIC_MINISBLACK;
        bool rgb = photometric == PHOTOMETRIC_RGB;
        bool unassociated = extra_count == 1 && extra && extra[0] == EXTRASAMPLE_UNASSALPHA;
        bool direct = has_photometric && (bits == 8 || bits == 16) &&
                      ((rgb && (samples == 3 || (samples == 4 && unassociated))) ||
                       (grey && (samples == 1 || (samples == 2 && unassociated))));
        layout_t l{samples, static_cast<uint16_t>(bits / 8), planar == PLANARCONFIG_SEPARATE};
        ok = direct ? read_direct(lib, t, out, l, grey, samples == 4 || samples == 2)
                    : read_rgba(lib, t, out);
    }
    lib.TIFFClose(t);
    if (!ok) out = raster_t{};
    return ok;
}

bool encode_tiff(const uint32_t* pixels, int32_t width, int32_t height, std::vector<uint8_t>& out) {
    const tiff_api* api = tiff_lib();
    if (api == nullptr) return false;
    const tiff_api& lib = *api;
    memory_t m{nullptr, &out, 0, 0};
    TIFF* t = open(lib, m, "w");
    if (!t) return false;
    uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
    lib.TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width));
    lib.TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height));
    lib.TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    lib.TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 4);
    lib.TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, extra);
    lib.TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    lib.TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    lib.TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    lib.TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    lib.TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, lib.TIFFDefaultStripSize(t, 0));
    std::vector<uint8_t> row(static_cast<size_t>(width) * 4);
    bool ok = true;
    for (int32_t y = 0; ok && y < height; y++) {
        const uint32_t* src = pixels + static_cast<size_t>(y) * static_cast<size_t>(width);
        uint8_t* d = row.data();
        for (int32_t x = 0; x < width; x++, d += 4) {
            uint32_t p = src[x];
            d[0] = static_cast<uint8_t>(p >> 16);
            d[1] = static_cast<uint8_t>(p >> 8);
            d[2] = static_cast<uint8_t>(p);
            d[3] = static_cast<uint8_t>(p >> 24);
        }
        ok = lib.TIFFWriteScanline(t, row.data(), static_cast<uint32_t>(y), 0) >= 0;
    }
    lib.TIFFClose(t);
    return ok;
}

}  // namespace zuv::image_codecs

// TIFF over libtiff, reading and writing in memory. 8-bit RGB(A) and grey
// strips are read row by row as stored; everything else goes through the
// library's RGBA reader, whose alpha comes back premultiplied and is turned
// back into straight alpha. Written as 8-bit RGBA with unassociated alpha,
// LZW compressed.
#include <tiffio.h>

#include <algorithm>
#include <cstring>

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
    X(TIFFWriteScanline)
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

// Contiguous 8-bit RGB, RGBA, grey or grey + alpha, alpha unassociated:
// the rows as stored.
bool read_rows(const tiff_api& lib, TIFF* t, raster_t& out, uint16_t samples, bool grey,
               bool alpha) {
    tmsize_t line = lib.TIFFScanlineSize(t);
    if (line < static_cast<tmsize_t>(out.width) * samples) return false;
    std::vector<uint8_t> row(static_cast<size_t>(line));
    for (int32_t y = 0; y < out.height; y++) {
        if (lib.TIFFReadScanline(t, row.data(), static_cast<uint32_t>(y), 0) < 0) return false;
        uint32_t* dst = &out.pixels[static_cast<size_t>(y) * static_cast<size_t>(out.width)];
        const uint8_t* s = row.data();
        for (int32_t x = 0; x < out.width; x++, s += samples) {
            uint32_t a = alpha ? s[grey ? 1 : 3] : 255;
            dst[x] = grey ? pack(s[0], s[0], s[0], a) : pack(s[0], s[1], s[2], a);
        }
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
        bool plain = has_photometric && bits == 8 && planar == PLANARCONFIG_CONTIG &&
                     !lib.TIFFIsTiled(t) &&
                     ((rgb && (samples == 3 || (samples == 4 && unassociated))) ||
                      (grey && (samples == 1 || (samples == 2 && unassociated))));
        ok = plain ? read_rows(lib, t, out, samples, grey, samples == 4 || samples == 2)
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

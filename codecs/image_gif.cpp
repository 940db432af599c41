// GIF over giflib: the first frame of a file, at its own size, with its
// transparent index; written as one frame with an exact palette when the
// image has at most 256 colours (255 when it needs a transparent index),
// else through a fixed 6 x 7 x 6 colour cube. Pixels under half opacity are
// written as the one transparent index.
#include <gif_lib.h>

#include <algorithm>
#include <unordered_map>

#include "codecs/image_codecs.h"

namespace zuv::image_codecs {

namespace {

int read_bytes(GifFileType* gif, GifByteType* out, int n) {
    return static_cast<int>(
        static_cast<byte_reader_t*>(gif->UserData)->take(out, static_cast<size_t>(std::max(n, 0))));
}

int write_bytes(GifFileType* gif, const GifByteType* in, int n) {
    auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
    out->insert(out->end(), in, in + n);
    return n;
}

bool read_frame(GifFileType* gif, int transparent, size_t size, raster_t& out) {
    if (DGifGetImageDesc(gif) != GIF_OK) return false;
    const GifImageDesc& desc = gif->Image;
    if (!size_ok(desc.Width, desc.Height, static_cast<int64_t>(size), MAX_PIXELS_PER_BYTE))
        return false;
    const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
    if (!map) return false;
    allocate(out, desc.Width, desc.Height);
    std::vector<GifPixelType> line(static_cast<size_t>(desc.Width));
    uint32_t colours[256];
    for (int i = 0; i < 256; i++) {
        if (i >= map->ColorCount) {
            colours[i] = pack(0, 0, 0, 255);
            continue;
        }
        const GifColorType& c = map->Colors[i];
        colours[i] = pack(c.Red, c.Green, c.Blue, i == transparent ? 0 : 255);
    }
    static const int first[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
    int passes = desc.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; pass++) {
        int from = desc.Interlace ? first[pass] : 0, by = desc.Interlace ? step[pass] : 1;
        for (int y = from; y < desc.Height; y += by) {
            if (DGifGetLine(gif, line.data(), desc.Width) != GIF_OK) return false;
            uint32_t* dst = &out.pixels[static_cast<size_t>(y) * static_cast<size_t>(desc.Width)];
            for (int x = 0; x < desc.Width; x++) dst[x] = colours[line[static_cast<size_t>(x)]];
        }
    }
    return true;
}

}  // namespace

bool decode_gif(const uint8_t* data, size_t size, raster_t& out) {
    byte_reader_t reader{data, size, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&reader, read_bytes, &error);
    if (!gif) return false;
    int transparent = -1;
    bool ok = false, done = false;
    while (!done) {
        GifRecordType type;
        if (DGifGetRecordType(gif, &type) != GIF_OK) break;
        if (type == IMAGE_DESC_RECORD_TYPE) {
            ok = read_frame(gif, transparent, size, out);
            done = true;
        } else if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* ext = nullptr;
            if (DGifGetExtension(gif, &code, &ext) != GIF_OK) break;
            if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4)
                transparent = (ext[1] & 1) ? ext[4] : -1;
            while (ext)
                if (DGifGetExtensionNext(gif, &ext) != GIF_OK) done = true, ext = nullptr;
        } else {
            done = true;  // the end with no image, or an unknown record
        }
    }
    DGifCloseFile(gif, &error);
    if (!ok) out = raster_t{};
    return ok;
}

namespace {

constexpr uint32_t HALF_OPAQUE = 128;

// Level counts of the colour cube used when the colours do not fit.
constexpr uint32_t CUBE_R = 6, CUBE_G = 7, CUBE_B = 6;

inline uint32_t level(uint32_t v, uint32_t n) { return (v * (n - 1) + 127) / 255; }

// The palette index of every pixel, and the palette; -1 in transparent when
// no pixel needs it.
void index_pixels(const uint32_t* px, size_t count, std::vector<uint8_t>& indexes,
                  std::vector<uint32_t>& palette, int& transparent) {
    transparent = -1;
    bool any_clear = false;
    for (size_t i = 0; i < count && !any_clear; i++) any_clear = (px[i] >> 24) < HALF_OPAQUE;
    size_t room = any_clear ? 255 : 256;
    std::unordered_map<uint32_t, uint8_t> seen;
    bool exact = true;
    for (size_t i = 0; i < count && exact; i++) {
        if ((px[i] >> 24) < HALF_OPAQUE) continue;
        uint32_t rgb = px[i] & 0xFFFFFF;
        if (seen.count(rgb)) continue;
        if (seen.size() == room) exact = false;
        else seen.emplace(rgb, static_cast<uint8_t>(seen.size()));
    }
    palette.clear();
    if (exact) {
        palette.resize(seen.size());
        for (auto& [rgb, i] : seen) palette[i] = rgb;
    } else {
        for (uint32_t r = 0; r < CUBE_R; r++)
            for (uint32_t g = 0; g < CUBE_G; g++)
                for (uint32_t b = 0; b < CUBE_B; b++)
                    palette.push_back(r * 255 / (CUBE_R - 1) << 16 | g * 255 / (CUBE_G - 1) << 8 |
                                      b * 255 / (CUBE_B - 1));
    }
    if (any_clear) {
        transparent = static_cast<int>(palette.size());
        palette.push_back(0);
    }
    indexes.resize(count);
    for (size_t i = 0; i < count; i++) {
        uint32_t p = px[i];
        if ((p >> 24) < HALF_OPAQUE) {
            indexes[i] = static_cast<uint8_t>(transparent);
        } else if (exact) {
            indexes[i] = seen[p & 0xFFFFFF];
        } else {
            uint32_t r = level(p >> 16 & 0xFF, CUBE_R), g = level(p >> 8 & 0xFF, CUBE_G),
                     b = level(p & 0xFF, CUBE_B);
            indexes[i] = static_cast<uint8_t>((r * CUBE_G + g) * CUBE_B + b);
        }
    }
}

}  // namespace

bool encode_gif(const uint32_t* pixels, int32_t width, int32_t height, std::vector<uint8_t>& out) {
    size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    std::vector<uint8_t> indexes;
    std::vector<uint32_t> palette;
    int transparent = -1;
    index_pixels(pixels, count, indexes, palette, transparent);
    int bits = 1;
    while ((1u << bits) < palette.size()) bits++;
    ColorMapObject* map = GifMakeMapObject(1 << bits, nullptr);
    if (!map) return false;
    for (int i = 0; i < map->ColorCount; i++) {
        uint32_t rgb =
            static_cast<size_t>(i) < palette.size() ? palette[static_cast<size_t>(i)] : 0;
        map->Colors[i] =
            GifColorType{static_cast<GifByteType>(rgb >> 16), static_cast<GifByteType>(rgb >> 8),
                         static_cast<GifByteType>(rgb)};
    }
    int error = 0;
    GifFileType* gif = EGifOpen(&out, write_bytes, &error);
    bool ok = gif != nullptr;
    if (ok) {
        EGifSetGifVersion(gif, true);
        ok = EGifPutScreenDesc(gif, width, height, bits, 0, map) == GIF_OK;
        if (ok && transparent >= 0) {
            GifByteType control[4] = {1, 0, 0, static_cast<GifByteType>(transparent)};
            ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, control) == GIF_OK;
        }
        ok = ok && EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr) == GIF_OK;
        for (int32_t y = 0; ok && y < height; y++)
            ok = EGifPutLine(gif, &indexes[static_cast<size_t>(y) * static_cast<size_t>(width)],
                             width) == GIF_OK;
        if (EGifCloseFile(gif, &error) != GIF_OK) ok = false;
    }
    GifFreeMapObject(map);
    return ok;
}

}  // namespace zuv::image_codecs

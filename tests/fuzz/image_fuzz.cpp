// libFuzzer target: image/load-binary on arbitrary bytes. The first byte
// picks a signature (PNG, JPEG, BMP, GIF, TIFF, or none) put before the
// rest, so that every decoder sees most inputs; bad data must raise
// bad-media, never crash, hang, leak or allocate beyond what the input could
// hold (libFuzzer's -rss_limit_mb and -malloc_limit_mb catch that). A
// decoded image is encoded again to the format it came from, and for the
// lossless formats that must read back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codecs/image_codecs.h"
#include "datatypes/binary.h"
#include "datatypes/image.h"
#include "datatypes/os_image.h"
#include "fuzz_runtime.h"
#include "runtime/collector.h"
#include "runtime/fire.h"
#include "runtime/stack.h"

using namespace zuv;
using fuzz::reset_stacks;

namespace {

const char* const signatures[] = {"\x89PNG\r\n\x1a\n", "\xFF\xD8\xFF", "BM", "GIF89a", "II*", ""};
constexpr size_t SIGNATURES = sizeof signatures / sizeof signatures[0];
// The TIFF signature holds a NUL, which the table's strings cannot.
constexpr size_t TIFF_AT = 4;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::start_once();
    if (size < 1 || size > (1u << 20)) return 0;
    size_t pick = data[0] % SIGNATURES;
    std::vector<uint8_t> input(signatures[pick], signatures[pick] + std::strlen(signatures[pick]));
    if (pick == TIFF_AT) input.push_back(0);
    input.insert(input.end(), data + 1, data + size);

    reset_stacks();
    cell_t* bin = stack::push_slot();
    bin->header = TYPE_unset;
    binary::load_at(input.data(), static_cast<int64_t>(input.size()), bin);
    cell_t* img = stack::push_slot();
    img->header = TYPE_unset;
    try {
        image::load_binary(bin, img);
    } catch (const raised_error& e) {
        if (e.id != err::bad_media) std::abort();
        reset_stacks();
        collector::collect_if_enabled();
        return 0;
    }
    int32_t format = image_codecs::sniff(input.data(), input.size());
    std::vector<uint8_t> again;
    node_t node = image::node_of(img);
    if (!os_image::encode(node, format, again)) std::abort();
    if (format != image_codecs::format::JPEG && format != image_codecs::format::GIF) {
        image_codecs::raster_t back;
        if (!image_codecs::decode(again.data(), again.size(), back)) std::abort();
        const os_image::bitmap_t* b = os_image::bitmap(node);
        if (back.width != b->width || back.height != b->height || back.pixels != b->pixels)
            std::abort();
    }
    reset_stacks();
    collector::collect_if_enabled();
    return 0;
}

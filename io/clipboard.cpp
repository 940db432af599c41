// The in-process clipboard (see clipboard.h).
#include "io/clipboard.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/image.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "io/simple_io.h"
#include "runtime/fire.h"
#include "runtime/platform/os_image.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace zuv::clipboard {
namespace {

// The last value written, kept in C++ memory: nothing here for the
// collector to find, and every read makes fresh values.
struct content_t {
    enum kind_t { EMPTY, TEXT, FILES, IMAGE } kind = EMPTY;
    std::string text;  // UTF-8
    std::vector<std::string> files;  // each file!'s own text, UTF-8
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> pixels;  // bitmap words, row-major
};

content_t& held() {
    static content_t content;
    return content;
}

cell_t* push_image(int32_t width, int32_t height, const std::vector<uint32_t>& pixels) {
    cell_t* slot = stack::push_slot();
    node_t node = os_image::make_image(width, height, os_image::WHITE);
    image::init_image(slot, node);
    std::memcpy(os_image::pixels(node), pixels.data(), pixels.size() * sizeof(uint32_t));
    return slot;
}

}  // namespace

cell_t* read() {
    const content_t& c = held();
    switch (c.kind) {
    case content_t::TEXT:
        return string::load(reinterpret_cast<const uint8_t*>(c.text.data()),
                            static_cast<int64_t>(c.text.size()), string::ENCODING_UTF8);
    case content_t::FILES: return simple_io::push_files(c.files);
    case content_t::IMAGE: return push_image(c.width, c.height, c.pixels);
    case content_t::EMPTY: break;
    }
    cell_t* slot = stack::push_slot();
    none::make_at(slot);
    return slot;
}

bool write(const cell_t* value) {
    content_t next;
    switch (type_of(value)) {
    case TYPE_none: break;
    case TYPE_string:
        next.kind = content_t::TEXT;
        next.text = unicode::to_utf8(value);
        break;
    case TYPE_block: {
        next.kind = content_t::FILES;
        int32_t n = block::rs_length_q(value);
        const cell_t* at = block::rs_abs_at(value, block::head_index(value));
        for (int32_t i = 0; i < n; i++) {
            if (type_of(at + i) != TYPE_file) {
                cell_t bad = at[i];
                fire(err::invalid_arg, &bad);
            }
            // No allocation here: the block's cells stay put.
            next.files.push_back(unicode::to_utf8(at + i));
        }
        break;
    }
    case TYPE_image: {
        int32_t count = image::count_of(value);
        if (count == 0 || image::node_of(value) == 0) break;  // only empties
        next.kind = content_t::IMAGE;
        next.width = image::width_of(value);
        next.height = image::height_of(value);
        const uint32_t* px = os_image::pixels(image::node_of(value));
        next.pixels.assign(px, px + count);
        break;
    }
    default: {
        cell_t bad = *value;
        fire(err::invalid_arg, &bad);
    }
    }
    held() = std::move(next);
    return true;
}

namespace routines {

void read() {
    cell_t result = *clipboard::read();
    stack::set_last(&result);
}

void write() {
    bool ok = clipboard::write(stack::arguments);
    logic::make_at(stack::arguments, ok);
}

}  // namespace routines

}  // namespace zuv::clipboard

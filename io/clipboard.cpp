// The in-process clipboard and its forms on the desktop (see clipboard.h).
#include "io/clipboard.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/file.h"
#include "datatypes/image.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/os_image.h"
#include "datatypes/string.h"
#include "io/clipboard_tools.h"
#include "io/simple_io.h"
#include "runtime/fire.h"
#include "runtime/platform/platform.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace zuv::clipboard {
namespace {

// The last value written, kept in C++ memory: nothing here for the
// collector to find, and every read makes fresh values.
struct content_t {
    enum kind_t { EMPTY, TEXT, FILES, IMAGE } kind = EMPTY;
    std::string text;  // UTF-8
    std::vector<std::string> files;  // each file!'s local path (its own text on POSIX)
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

// --- the desktop's forms ---------------------------------------------------------

const char* const TEXT_TYPE = "text/plain;charset=utf-8";
const char* const URI_LIST_TYPE = "text/uri-list";
const char* const PNG_TYPE = "image/png";

// Taken in this order from what the desktop offers.
const char* const TEXT_TYPES[] = {TEXT_TYPE, "UTF8_STRING", "text/plain"};
const char* const IMAGE_TYPES[] = {PNG_TYPE, "image/jpeg", "image/gif", "image/bmp"};

bool unreserved_q(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~' || c == '/';
}

// file:// URIs of the absolute local paths, one a line.
std::string uri_list(const std::vector<std::string>& locals) {
    std::string cwd = platform::get_current_dir();
    if (cwd.empty() || cwd.back() != '/') cwd += '/';
    std::string out;
    for (const std::string& local : locals) {
        std::string path = !local.empty() && local[0] == '/' ? local : cwd + local;
        out += "file://";
        for (unsigned char c : path) {
            if (unreserved_q(c)) {
                out += static_cast<char>(c);
            } else {
                char hex[4];
                std::snprintf(hex, sizeof hex, "%%%02X", c);
                out += hex;
            }
        }
        out += "\r\n";
    }
    return out;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The local paths of a URI list's file URIs (on this host); other lines
// and comments are passed over.
std::vector<std::string> uri_list_paths(const std::string& list) {
    std::vector<std::string> paths;
    size_t from = 0;
    while (from < list.size()) {
        size_t to = list.find('\n', from);
        if (to == std::string::npos) to = list.size();
        std::string line = list.substr(from, to - from);
        from = to + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.compare(0, 7, "file://") != 0) continue;
        size_t slash = line.find('/', 7);
        std::string host = line.substr(7, slash == std::string::npos ? line.npos : slash - 7);
        if (slash == std::string::npos || (!host.empty() && host != "localhost")) continue;
        std::string path;
        for (size_t i = slash; i < line.size(); i++) {
            int hi, lo;
            if (line[i] == '%' && i + 2 < line.size() && (hi = hex_value(line[i + 1])) >= 0 &&
                (lo = hex_value(line[i + 2])) >= 0) {
                path += static_cast<char>(hi * 16 + lo);
                i += 2;
            } else {
                path += line[i];
            }
        }
        paths.push_back(path);
    }
    return paths;
}

std::string fold_crlf(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
    return out;
}

// Text from the desktop is loaded only when it is sound UTF-8: the loader
// would raise on anything else, and a read reports failure by its result.
bool utf8_q(const std::string& text) {
    const auto* p = reinterpret_cast<const uint8_t*>(text.data());
    return unicode::valid_utf8_q(p, p + text.size());
}

cell_t* push_false() {
    cell_t* slot = stack::push_slot();
    logic::make_at(slot, false);
    return slot;
}

cell_t* push_none() {
    cell_t* slot = stack::push_slot();
    none::make_at(slot);
    return slot;
}

bool offers_q(const std::vector<std::string>& types, const std::string& type) {
    for (const std::string& t : types)
        if (t == type) return true;
    return false;
}

// The desktop's clipboard as a value.
cell_t* read_desktop(tools::bridge_t bridge) {
    std::vector<std::string> types;
    if (!tools::offered(bridge, &types)) return push_false();
    std::string bytes;
    for (const char* t : TEXT_TYPES) {
        if (!offers_q(types, t)) continue;
        if (!tools::fetch(bridge, t, &bytes)) return push_false();
        std::string text = fold_crlf(bytes);
        if (!utf8_q(text)) return push_false();
        return string::load(reinterpret_cast<const uint8_t*>(text.data()),
                            static_cast<int64_t>(text.size()), string::ENCODING_UTF8);
    }
    if (offers_q(types, URI_LIST_TYPE)) {
        if (!tools::fetch(bridge, URI_LIST_TYPE, &bytes)) return push_false();
        std::vector<std::string> paths = uri_list_paths(bytes);
        for (const std::string& p : paths)
            if (!utf8_q(p)) return push_false();
        return simple_io::push_files(paths);
    }
    for (const char* t : IMAGE_TYPES) {
        if (!offers_q(types, t)) continue;
        if (!tools::fetch(bridge, t, &bytes)) return push_false();
        cell_t* slot = stack::push_slot();
        cell::begin(slot);
        // The checked decoders: sizes are held against the bytes.
        node_t node =
            os_image::from_bytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        if (node == 0) {
            logic::make_at(slot, false);
            return slot;
        }
        return image::init_image(slot, node);
    }
    return push_none();
}

// Places the clipboard's content on the desktop.
bool write_desktop(tools::bridge_t bridge, const content_t& c, node_t image_node) {
    switch (c.kind) {
    case content_t::TEXT: return tools::put(bridge, tools::type_name(bridge, TEXT_TYPE), c.text);
    case content_t::FILES: return tools::put(bridge, URI_LIST_TYPE, uri_list(c.files));
    case content_t::IMAGE: {
        std::vector<uint8_t> png;
        if (!os_image::encode(image_node, image_codecs::format::PNG, png)) return false;
        return tools::put(bridge, PNG_TYPE, std::string(png.begin(), png.end()));
    }
    case content_t::EMPTY: break;
    }
    return tools::put(bridge, "", "");
}

}  // namespace

cell_t* read() {
    tools::bridge_t bridge = tools::chosen();
    if (bridge != tools::bridge_t::NONE) return read_desktop(bridge);
    const content_t& c = held();
    switch (c.kind) {
    case content_t::TEXT:
        return string::load(reinterpret_cast<const uint8_t*>(c.text.data()),
                            static_cast<int64_t>(c.text.size()), string::ENCODING_UTF8);
    case content_t::FILES: return simple_io::push_files(c.files);
    case content_t::IMAGE: return push_image(c.width, c.height, c.pixels);
    case content_t::EMPTY: break;
    }
    return push_none();
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
            // No allocation here: the block's cells stay put.
            std::string path;
            if (type_of(at + i) != TYPE_file || !file::to_os_path(at + i, &path)) {
                cell_t bad = at[i];
                fire(err::invalid_arg, &bad);
            }
            next.files.push_back(std::move(path));
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
    tools::bridge_t bridge = tools::chosen();
    if (bridge == tools::bridge_t::NONE) return true;
    node_t node = held().kind == content_t::IMAGE ? image::node_of(value) : 0;
    return write_desktop(bridge, held(), node);
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

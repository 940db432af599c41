#include "datatypes/symbol.h"

#include <cstring>
#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/hashtable.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace zuv::symbol {

node_t block_node = 0;
node_t index_node = 0;

int32_t make_alt(const char* text, int32_t length) {
    return hashtable::put_string_key(index_node, text, length, false);
}

int32_t make(const char* text) { return make_alt(text, static_cast<int32_t>(std::strlen(text))); }

int32_t make_case_insensitive(const char* text) {
    return hashtable::put_string_key(index_node, text, static_cast<int32_t>(std::strlen(text)),
                                     true);
}

const char* get_utf8(int32_t id) {
    series_buffer_t* s = alloc::buffer(cell_of(id)->data3);
    if (s->tail >= s->size) s = alloc::expand_series(s, s->size + 16);
    *s->tail_ptr() = 0;
    return reinterpret_cast<const char*>(s->head_ptr());
}

int32_t utf8_length(int32_t id) { return alloc::buffer(cell_of(id)->data3)->used(); }

namespace {

std::string name_of(int32_t id) {
    series_buffer_t* s = alloc::buffer(cell_of(id)->data3);
    return std::string(reinterpret_cast<const char*>(s->head_ptr()),
                       static_cast<size_t>(s->used()));
}

node_t cache_string_id(int32_t id) {
    node_t node = cell_of(id)->data2;
    if (node != 0) return node;
    // The name is copied out first: making the string may move both the
    // name's buffer and the symbol block.
    std::string text = name_of(id);
    node = unicode::load_utf8_new(reinterpret_cast<const uint8_t*>(text.data()),
                                  static_cast<int64_t>(text.size()));
    cell_of(id)->data2 = node;
    return node;
}

int32_t id_of(const cell_t* symbol) {
    return static_cast<int32_t>(symbol - alloc::buffer(block_node)->head_cell()) + 1;
}

// A string! over the symbol's cached name buffer, head 0, for reading only.
cell_t name_view(int32_t id) {
    node_t node = cache_string_id(id);
    return cell_t{TYPE_string, 0, node, 0};
}

}  // namespace

node_t cache_string(cell_t* symbol) { return cache_string_id(id_of(symbol)); }

cell_t* get(int32_t id) {
    cache_string_id(id);
    return cell_of(id);
}

cell_t* push_name(int32_t id) {
    // A copy, never the symbol's own buffer: changing the string a script
    // was given must not rename the word everywhere.
    std::string text = name_of(id);
    return string::load(reinterpret_cast<const uint8_t*>(text.data()),
                        static_cast<int64_t>(text.size()), string::ENCODING_UTF8);
}

int32_t compare(cell_t* value1, cell_t* value2, int32_t op) {
    if (type_of(value2) != TYPE_symbol) return -2;
    int32_t id1 = id_of(value1);
    int32_t id2 = id_of(value2);
    cell_t a = name_view(id1);
    cell_t b = name_view(id2);
    return string::compare_strings(&a, &b, op, false);
}

void init_table() {
    if (block::root.data2 != 0) {
        block_node = block::node_of(block::rs_abs_at(&block::root, block::ROOT_SYMBOLS));
    } else if (block_node == 0) {
        block_node = alloc::alloc_cells(BLOCK_SIZE);
    }
    cell_t symbols{TYPE_block, 0, block_node, 0};
    index_node = hashtable::init(BLOCK_SIZE, &symbols, hashtable::KIND_SYMBOL, 1);
    // The datatype words need both the symbols and the global context.
    if (_context::global_node != 0) datatype::make_words();
}

void init() {
    datatype::record_t r(TYPE_symbol, 0, "symbol!");
    r.own<ACT_compare>(compare);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::symbol

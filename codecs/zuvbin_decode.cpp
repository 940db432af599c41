// The Zuvbin decoder: both layouts, codec and boot mode.
//
// Every count and size read from the stream is checked, in 64 bits, against
// the bytes left before anything is allocated from it. The decoder reads
// bytes from memory that no collection moves (the caller copies a binary!
// first) and builds cells in place: each new series is stored in its rooted
// place before anything else allocates, and cells are addressed by node and
// index, never by an address kept across an allocation.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>

#include "codecs/zstd.h"
#include "codecs/zuvbin.h"
#include "codecs/zuvbin_format.h"
#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/hash_type.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/map.h"
#include "datatypes/money.h"
#include "datatypes/native.h"
#include "datatypes/object.h"
#include "datatypes/op.h"
#include "datatypes/os_image.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/unset.h"
#include "datatypes/vector.h"
#include "datatypes/word.h"
#include "runtime/collector.h"
#include "runtime/fire.h"
#include "runtime/stack.h"

namespace zuv::zuvbin {

namespace {

constexpr int32_t ERROR_IDS = 0
#define ZUV_ERROR(cat, ident, word, text) +1
#include "runtime/errors.def"
#undef ZUV_ERROR
    ;

class reader {
public:
    reader(const uint8_t* base, int64_t origin, const uint8_t* end, bool compact, bool codec,
           node_t target, node_t scratch, int32_t root_base)
        : base_(base), origin_(origin), p_(base), end_(end), compact_(compact), codec_(codec),
          target_(target), scratch_(scratch), root_base_(root_base) {}

    void run(bool symbols);

private:
    const uint8_t* base_;
    int64_t origin_;  // stream offset of base_[0]
    const uint8_t* p_;
    const uint8_t* end_;  // nullptr: unknown
    bool compact_, codec_;
    node_t target_, scratch_;
    int32_t root_base_;
    uint32_t symbol_count_ = 0;
    uint32_t names_size_ = 0;
    const uint8_t* offsets_ = nullptr;
    const uint8_t* names_ = nullptr;
    std::vector<int32_t> symbol_ids_;
    // The global word each symbol of the stream names, found once: a boot
    // image names the same few thousand words tens of thousands of times.
    // Global words are only ever added, so an index stays right for the
    // whole read.
    std::vector<int32_t> global_index_;
    uint32_t last_symbol_ = 0;
    // Codec mode: each class id of the stream gets one new class id.
    std::unordered_map<int32_t, int32_t> classes_;
    int32_t depth_ = 0;
    // A map or hash sits in the target as a block while its cells are read,
    // since it is indexed only when complete. A reference reaching it then
    // (the map holds itself, or a series inside it holds the map) is noted
    // and gets the type and table once the map is made.
    struct building_t {
        node_t node;
        uint32_t type;
    };
    struct pending_t {
        node_t into;
        int32_t idx;
        node_t node;
    };
    std::vector<building_t> building_;
    std::vector<pending_t> pending_;
    uint32_t building_type(const cell_t& v) const;
    void refer(node_t into, int32_t idx, cell_t* v);
    void made(node_t node, const cell_t& made);

    // --- bytes ---
    [[noreturn]] void fault(const uint8_t* at) const {
        cell_t n{};
        integer::make_at(&n, static_cast<int32_t>(origin_ + (at - base_) + 1));
        fire(err::rb_invalid_record, &n);
    }
    int64_t left() const { return end_ ? end_ - p_ : INT64_MAX / 4; }
    void need(int64_t n) const {
        if (left() < n) fault(end_ ? end_ : p_);
    }
    uint8_t u8() {
        need(1);
        return *p_++;
    }
    uint32_t u32() {
        need(4);
        uint32_t v = load32(p_);
        p_ += 4;
        return v;
    }
    uint32_t varint() {
        const uint8_t* at = p_;
        uint32_t v = 0;
        for (int i = 0; i < VARINT_MAX_BYTES; i++) {
            uint8_t b = u8();
            if (i == 4 && b > 0x0F) fault(at);
            v |= static_cast<uint32_t>(b & 0x7F) << (7 * i);
            if (!(b & 0x80)) return v;
        }
        fault(at);
    }
    uint32_t count() { return compact_ ? varint() : u32(); }
    int32_t number() { return compact_ ? unzigzag(varint()) : static_cast<int32_t>(u32()); }
    // A count of items of at least `unit` bytes each, checked against what is left.
    int64_t items(int64_t unit) {
        const uint8_t* at = p_;
        int64_t n = count();
        if (n > 0x7FFFFFFF || n * unit > left()) fault(at);
        return n;
    }
    // A series or image head index: always there in the plain layout, with
    // the form flag in the compact one; 0 when absent.
    int32_t head_index(bool form) {
        if (!form && compact_) return 0;
        const uint8_t* a = p_;
        uint32_t h = count();
        if (h > 0x7FFFFFFF) fault(a);
        return static_cast<int32_t>(h);
    }
    // Raw data of n bytes (plain: padded to 4).
    const uint8_t* data(int64_t n, const uint8_t* at) {
        int64_t padded = compact_ ? n : (n + 3) & ~int64_t{3};
        if (padded > left()) fault(at);
        const uint8_t* d = p_;
        p_ += padded;
        return d;
    }

    int32_t symbol();
    void global_word(int32_t sym, uint32_t type, cell_t* out);

    // --- cells ---
    static cell_t* at(node_t into, int32_t i) { return alloc::buffer(into)->head_cell() + i; }
    static int32_t place(node_t into, int32_t slot) {
        if (slot >= 0) {
            at(into, slot)->header = TYPE_unset;
            return slot;
        }
        alloc::alloc_tail(alloc::buffer(into));
        return alloc::buffer(into)->used() / 16 - 1;
    }
    static void drop_last(node_t into, int32_t n) { alloc::buffer(into)->tail -= n * 16; }

    cell_t walk(bool headed = false);
    void read_record(node_t into, int32_t slot);
    void read_image(node_t into, int32_t idx, bool form, bool shared);
    void read_series(node_t into, int32_t idx, uint32_t type, bool form, uint32_t header,
                     bool shared, const uint8_t* tag_at);
    void read_word(node_t into, int32_t idx, uint32_t type, bool form, bool define, bool shared,
                   const uint8_t* tag_at);
    node_t read_context(int32_t kind, bool* values);
    void read_values(node_t ctx);
    void read_object(node_t into, int32_t idx, bool form, bool shared, const cell_t* as_word);
    void read_function(node_t into, int32_t idx, bool shared, const cell_t* as_word);
    void read_fn_block(node_t ctx, node_t into_node, bool spec);
    void read_native(node_t into, int32_t idx, uint32_t type);
    void read_op(node_t into, int32_t idx);
    void read_error(node_t into, int32_t idx, bool shared);
};

// An owner written after a word stands at the word's position: a path to
// it finds the word, whose context's self value is the owner.
cell_t owner_at(cell_t found) {
    uint8_t t = type_of(&found);
    if (t >= TYPE_word && t <= TYPE_refinement && found.data1 != 0)
        return *_context::get_self_value(found.data1);
    return found;
}

int32_t reader::symbol() {
    const uint8_t* at = p_;
    uint32_t i = count();
    if (i >= symbol_count_) fault(at);
    last_symbol_ = i;
    if (symbol_ids_[i]) return symbol_ids_[i];
    uint32_t off = load32(offsets_ + 4 * static_cast<size_t>(i));
    if ((off & 0x80000000u) || off >= names_size_) fault(at);
    const char* name = reinterpret_cast<const char*>(names_ + off);
    size_t n = strnlen(name, names_size_ - off);
    if (n == 0 || n == names_size_ - off) fault(at);
    return symbol_ids_[i] = symbol::make_alt(name, static_cast<int32_t>(n));
}

// The word of the global context for the symbol symbol() just read.
void reader::global_word(int32_t sym, uint32_t type, cell_t* out) {
    int32_t& index = global_index_[last_symbol_];
    if (index >= 0) {
        word::make_raw(out, static_cast<uint8_t>(type), _context::global_node, sym, index);
        return;
    }
    _context::add_global(sym, true, false, out);
    cell::set_type(out, type);
    index = static_cast<int32_t>(out->data3);
}

// The type a block still being read will have: a map or hash under
// construction; 0 for any other value.
uint32_t reader::building_type(const cell_t& v) const {
    if (type_of(&v) != TYPE_block) return 0;
    for (const building_t& b : building_)
        if (b.node == v.data2) return b.type;
    return 0;
}

// Places a value reached by a reference at into[idx]. A map or hash still
// being read stays a block there until it is made: the collector may run
// meanwhile, and a map cell without its table would not do.
void reader::refer(node_t into, int32_t idx, cell_t* v) {
    if (building_type(*v)) pending_.push_back({into, idx, v->data2});
    *at(into, idx) = *v;
}

// The map or hash of node is made: the references noted meanwhile become it.
void reader::made(node_t node, const cell_t& done) {
    building_.pop_back();
    for (size_t i = 0; i < pending_.size();) {
        if (pending_[i].node != node) {
            i++;
            continue;
        }
        cell_t* c = at(pending_[i].into, pending_[i].idx);
        cell::set_type(c, type_of(&done));
        if (type_of(&done) == TYPE_map) c->data1 = 0;
        c->data3 = done.data3;
        pending_[i] = pending_.back();
        pending_.pop_back();
    }
}

// Follows a reference path from the target block; the value found.
cell_t reader::walk(bool headed) {
    const uint8_t* at = p_;
    // Plain: the path is a reference record of its own.
    if (!compact_ && !headed && u32() != P_REFERENCE) fault(at);
    at = p_;
    int64_t n = count();
    if (n < 1 || n > PATH_MAX_LENGTH || n > left()) fault(at);
    cell_t cur{TYPE_block, 0, target_, 0};
    for (int64_t k = 0; k < n; k++) {
        const uint8_t* pos_at = p_;
        int64_t pos = count();
        if (k == 0) pos += root_base_;
        uint8_t t = type_of(&cur);
        if ((t == TYPE_word || t == TYPE_set_word || t == TYPE_lit_word || t == TYPE_get_word ||
             t == TYPE_refinement) &&
            cur.data1 != 0) {
            node_t ctx = cur.data1;
            if (_context::on_stack_q(_context::cell_of(ctx))) {
                cur = *_context::get_self_value(ctx);
                if (type_of(&cur) != TYPE_function) fault(pos_at);
                t = TYPE_function;
            } else {
                if (pos >= _context::word_count(ctx)) fault(pos_at);
                cur = *_context::value_at(ctx, static_cast<int32_t>(pos));
                continue;
            }
        }
        if (series::block_kind_q(t) || t == TYPE_map) {
            series_buffer_t* s = alloc::buffer(cur.data2);
            if (pos >= s->used() / 16) fault(pos_at);
            cur = s->head_cell()[pos];
        } else if (t == TYPE_native || t == TYPE_action) {
            series_buffer_t* s = alloc::buffer(cur.data2);
            if (pos >= s->used() / 16) fault(pos_at);
            cur = s->head_cell()[pos];
        } else if (t == TYPE_function || t == TYPE_op) {
            if (pos == 0) {
                cur = cell_t{TYPE_block, 0, cur.data2, 0};
            } else if (pos == 1 && t == TYPE_function) {
                cur = *function::more(&cur, function::MORE_BODY);
                if (type_of(&cur) != TYPE_block) fault(pos_at);
            } else {
                fault(pos_at);
            }
        } else if (t == TYPE_object || t == TYPE_error) {
            node_t ctx = cur.data1;
            int64_t i = pos + (t == TYPE_error ? error::FIELD_ARG1 : 0);
            if (i >= _context::word_count(ctx)) fault(pos_at);
            cur = *_context::value_at(ctx, static_cast<int32_t>(i));
        } else {
            fault(pos_at);
        }
    }
    return cur;
}

void reader::read_record(node_t into, int32_t slot) {
    if (++depth_ > MAX_DEPTH) fault(p_);
    bool nl = false, shared = false, define = false;
    uint32_t header = 0;
    uint32_t type;
    bool form = false;
    const uint8_t* tag_at;
    if (compact_) {
        for (;;) {
            need(1);
            uint8_t b = *p_;
            if (b == PREFIX_NEW_LINE) nl = true;
            else if (b == PREFIX_SHARED) shared = true;
            else if (b == PREFIX_DEFINE) {
                if (codec_) fault(p_);
                define = true;
            } else break;
            p_++;
        }
        tag_at = p_;
        uint8_t b = u8();
        if (b >= 0x80) {
            if (shared || define) fault(tag_at);
            cell_t v{};
            if (b < 0xC0) integer::make_at(&v, b - TAG_SMALL_INT);
            else if (b == TAG_TRUE || b == TAG_FALSE)
                v = cell_t{TYPE_logic, b == TAG_TRUE ? 1u : 0u, 0, 0};
            else if (b == TAG_REFERENCE) v = walk();
            else fault(tag_at);
            int32_t idx = place(into, slot);
            if (nl) v.header |= FLAG_NEW_LINE;
            refer(into, idx, &v);
            depth_--;
            return;
        }
        type = b & TAG_TYPE_MASK;
        form = (b & TAG_FORM) != 0;
        if (type == TAG_LONG_TYPE) type = varint();
    } else {
        do {
            tag_at = p_;
            header = u32();
        } while (header == 0);
        type = header & 0xFF;
        nl = (header & P_NEW_LINE) != 0;
        // An op!'s wrapped type (bits 16-23) covers the shared bit.
        shared = (header & P_SHARED) != 0 && (header & 0xFF) != TYPE_op;
        if (type == P_REFERENCE) {
            cell_t v = walk(true);
            int32_t idx = place(into, slot);
            if (nl) v.header |= FLAG_NEW_LINE;
            refer(into, idx, &v);
            depth_--;
            return;
        }
        bool is_word = type >= TYPE_word && type <= TYPE_refinement;
        if (is_word) {
            form = (header & P_WORD_GLOBAL) == 0;
            if (!codec_ && (header & P_WORD_DEFINE)) define = true;
        }
        if (type == TYPE_object) form = (header & P_HANDLERS) != 0;
        if (type == TYPE_bitset) form = (header & P_BITSET_NEGATED) != 0;
        if (type == TYPE_money) form = (header & P_MONEY_NEGATIVE) != 0;
    }
    if (type == 0 || type > 255) fault(tag_at);
    if (define && (type < TYPE_word || type > TYPE_issue || slot >= 0)) fault(tag_at);
    shape sh = shape_of(type);
    if (sh == shape::none) {
        cell_t d;
        datatype::make_at(&d, static_cast<int32_t>(type));
        fire(err::no_codec, &d);
    }
    if (sh == shape::invalid) fault(tag_at);
    bool sharable = sh == shape::block || sh == shape::map || sh == shape::string ||
                    sh == shape::binary || sh == shape::vector || sh == shape::bitset ||
                    sh == shape::object || sh == shape::function || sh == shape::word ||
                    sh == shape::error || sh == shape::image;
    if (shared && !sharable) fault(tag_at);

    int32_t idx = place(into, slot);
    cell_t v{TYPE_unset, 0, 0, 0};
    bool made = true;
    switch (sh) {
    case shape::empty: v.header = type; break;
    case shape::datatype: {
        const uint8_t* a = p_;
        uint32_t id = count();
        if (id < 1 || id > TYPE_COUNT) fault(a);
        datatype::make_at(&v, static_cast<int32_t>(id));
        break;
    }
    case shape::logic: v = cell_t{TYPE_logic, u32() ? 1u : 0u, 0, 0}; break;
    case shape::integer: integer::make_at(&v, number()); break;
    case shape::char_: {
        const uint8_t* a = p_;
        uint32_t c = count();
        if (c > 0x10FFFF) fault(a);
        v = cell_t{TYPE_char_, 0, c, 0};
        break;
    }
    case shape::pair: {
        int32_t x = number();
        int32_t y = number();
        v = cell_t{TYPE_pair, 0, static_cast<uint32_t>(x), static_cast<uint32_t>(y)};
        break;
    }
    case shape::raw2:
    case shape::raw3:
        v.data1 = u32();
        v.data2 = u32();
        if (sh == shape::raw3) v.data3 = u32();
        v.header = type;
        break;
    case shape::real: {
        double d;
        if (compact_ && form) {
            d = real_of_short(type, number());
        } else if (compact_) {
            uint32_t lo = u32(), hi = u32();
            uint64_t bits = static_cast<uint64_t>(hi) << 32 | lo;
            std::memcpy(&d, &bits, 8);
        } else {
            uint32_t hi = u32(), lo = u32();
            uint64_t bits = static_cast<uint64_t>(hi) << 32 | lo;
            std::memcpy(&d, &bits, 8);
        }
        cell::put_float(&v, d);
        v.header = type;
        break;
    }
    case shape::date: {
        uint32_t d = u32();
        v.data1 = d;
        if (compact_) {
            if (date::has_time_q(d) != form) fault(tag_at);
            if (form) {
                v.data2 = u32();
                v.data3 = u32();
            }
        } else {
            v.data3 = u32();
            v.data2 = u32();
        }
        v.header = type;
        break;
    }
    case shape::typeset:
    case shape::tuple: {
        if (!compact_) {
            v.data1 = u32();
            v.data2 = u32();
            v.data3 = u32();
            v.header = type;
            if (type == TYPE_tuple) {
                int32_t n = static_cast<int32_t>((header >> P_TUPLE_SHIFT) & 0x0F);
                if (n < tuple::MIN_LENGTH || n > tuple::MAX_LENGTH) fault(tag_at);
                tuple::set_length(&v, n);
            }
            break;
        }
        int32_t n = 3;
        const uint8_t* a = p_;
        if (type == TYPE_typeset || form) n = u8();
        if (type == TYPE_typeset ? n > TYPESET_BYTES
                                 : (n < tuple::MIN_LENGTH || n > tuple::MAX_LENGTH))
            fault(a);
        const uint8_t* b = data(n, a);
        std::memcpy(&v.data1, b, static_cast<size_t>(n));
        v.header = type;
        if (type == TYPE_tuple) tuple::set_length(&v, n);
        break;
    }
    case shape::money: {
        const uint8_t* a = p_;
        const uint8_t* b = data(MONEY_BYTES, a);
        std::memcpy(reinterpret_cast<uint8_t*>(&v) + MONEY_AT, b, MONEY_BYTES);
        for (int32_t i = 1; i < MONEY_BYTES; i++)
            if ((b[i] >> 4) > 9 || (b[i] & 15) > 9) fault(a + i);
        // The currency list exists once the library has made it.
        cell_t code;
        if (codec_ && b[0] != 0 && !money::currency_word(b[0], &code)) fault(a);
        v.header = type | (form ? money::SIGN_FLAG : 0);
        break;
    }
    case shape::issue: word::make_raw(&v, TYPE_issue, _context::global_node, symbol(), -1); break;
    case shape::word:
        read_word(into, idx, type, form, define, shared, tag_at);
        made = false;
        break;
    case shape::block:
    case shape::map:
    case shape::string:
    case shape::binary:
    case shape::vector:
    case shape::bitset:
        read_series(into, idx, type, form, header, shared, tag_at);
        made = false;
        break;
    case shape::object:
        read_object(into, idx, form, shared, nullptr);
        made = false;
        break;
    case shape::function:
        read_function(into, idx, shared, nullptr);
        made = false;
        break;
    case shape::native:
        read_native(into, idx, type);
        made = false;
        break;
    case shape::op:
        read_op(into, idx);
        made = false;
        break;
    case shape::error:
        read_error(into, idx, shared);
        made = false;
        break;
    case shape::image:
        read_image(into, idx, form, shared);
        made = false;
        break;
    default: fault(tag_at);
    }
    if (made) *at(into, idx) = v;
    if (define) {
        // The word just made, then its value: set, and both dropped.
        read_record(into, -1);
        cell_t w = *at(into, idx);
        cell_t value = *at(into, idx + 1);
        _context::set(&w, &value);
        drop_last(into, 2);
    } else if (nl) {
        at(into, idx)->header |= FLAG_NEW_LINE;
    }
    depth_--;
}

void reader::read_series(node_t into, int32_t idx, uint32_t type, bool form, uint32_t header,
                         bool shared, const uint8_t* tag_at) {
    bool has_head = type != TYPE_map && type != TYPE_bitset;
    int32_t head = has_head ? head_index(form) : 0;
    if (shared) {
        const uint8_t* a = p_;
        cell_t found = walk();
        uint8_t t = type_of(&found);
        cell_t v = found;
        bool block_family = series::block_kind_q(static_cast<uint8_t>(type)) && type != TYPE_hash;
        if (building_type(found) == type) {
            // The map or hash this record is inside of, or one it holds.
            if (has_head) v.data1 = static_cast<uint32_t>(head);
            refer(into, idx, &v);
            return;
        }
        if (block_family &&
            (t == TYPE_native || t == TYPE_action || t == TYPE_op || t == TYPE_function)) {
            v = cell_t{type, 0, found.data2, 0};
        } else if (block_family && series::block_kind_q(t)) {
            v = cell_t{type, 0, found.data2, 0};
        } else if (series::any_string_q(static_cast<uint8_t>(type)) && series::any_string_q(t)) {
            v = cell_t{type, 0, found.data2, 0};
        } else if (type == TYPE_binary && t == TYPE_binary) {
            v.data3 = 0;
        } else if (t != type) {
            fault(a);
        }
        if (has_head) v.data1 = static_cast<uint32_t>(head);
        *at(into, idx) = v;
        return;
    }
    if (series::block_kind_q(static_cast<uint8_t>(type)) || type == TYPE_map) {
        int64_t n = items(compact_ ? 1 : 4);
        if (type == TYPE_map && (n & 1)) fault(tag_at);
        node_t node = alloc::alloc_cells(n < 2 ? 2 : n);
        // Built as a block, indexed when complete: paths into it meanwhile see its cells.
        *at(into, idx) = cell_t{type == TYPE_map || type == TYPE_hash ? uint32_t{TYPE_block} : type,
                                static_cast<uint32_t>(type == TYPE_map ? 0 : head), node, 0};
        if (type == TYPE_map || type == TYPE_hash) building_.push_back({node, type});
        for (int64_t i = 0; i < n; i++) read_record(node, -1);
        if (type == TYPE_map) {
            cell_t whole{TYPE_block, 0, node, 0};
            cell_t m{TYPE_unset, 0, 0, 0};
            map::make_at(&m, &whole, 0);
            *at(into, idx) = m;
            made(node, m);
        } else if (type == TYPE_hash) {
            cell_t h{TYPE_block, static_cast<uint32_t>(head), node, 0};
            hash_type::index_block(&h, static_cast<int32_t>(n));
            *at(into, idx) = h;
            made(node, h);
        }
        return;
    }
    const uint8_t* a = p_;
    int64_t units;
    uint32_t unit = 1;
    uint32_t element = 0;
    if (type == TYPE_vector) {
        if (compact_) {
            uint8_t b = u8();
            element = b >> 2;
            unit = code_unit(b & 3);
            units = count();
        } else {
            unit = (header >> P_UNIT_SHIFT) & 0xFF;
            units = count();
            element = count();
        }
        if (!vector_element_q(element, unit)) fault(a);
    } else if (series::any_string_q(static_cast<uint8_t>(type))) {
        if (compact_) {
            uint32_t v = varint();
            if ((v & 3) > STRING_CODE_MAX) fault(a);
            unit = code_unit(v & 3);
            units = v >> 2;
        } else {
            unit = (header >> P_UNIT_SHIFT) & 0xFF;
            if (unit != 1 && unit != 2 && unit != 4) fault(tag_at);
            units = count();
        }
    } else {
        units = count();
    }
    int64_t n = units * unit;
    if (n > left() || n >= static_cast<int64_t>(alloc::SERIES_LIMIT)) fault(a);
    const uint8_t* bytes = data(n, a);
    node_t node =
        unit == 1 ? alloc::alloc_bytes(n) : alloc::alloc_units(units, static_cast<int32_t>(unit));
    series_buffer_t* s = alloc::buffer(node);
    std::memcpy(s->head_ptr(), bytes, static_cast<size_t>(n));
    s->tail = s->head + static_cast<int32_t>(n);
    if (type == TYPE_bitset && form) alloc::set_flag(node, bitset::FLAG_INVERTED);
    *at(into, idx) = cell_t{type, static_cast<uint32_t>(head), node, element};
}

void reader::read_image(node_t into, int32_t idx, bool form, bool shared) {
    int32_t head = head_index(form);
    if (shared) {
        const uint8_t* a = p_;
        cell_t found = walk();
        if (type_of(&found) != TYPE_image) fault(a);
        found.data1 = static_cast<uint32_t>(head);
        *at(into, idx) = found;
        return;
    }
    const uint8_t* a = p_;
    uint32_t width, height;
    if (compact_) {
        width = varint();
        height = varint();
    } else {
        uint32_t size = u32();
        width = size & 0xFFFF;
        height = size >> 16;
    }
    if (width > IMAGE_MAX_SIDE || height > IMAGE_MAX_SIDE) fault(a);
    int64_t n = int64_t{4} * width * height;
    const uint8_t* bytes = data(n, a);
    // The input is not language memory: making the bitmap cannot move it.
    cell_t v{TYPE_unset, 0, 0, 0};
    image::make_sized(&v, static_cast<int32_t>(width), static_cast<int32_t>(height), 0);
    if (n) std::memcpy(os_image::pixels(image::node_of(&v)), bytes, static_cast<size_t>(n));
    v.data1 = static_cast<uint32_t>(head);
    *at(into, idx) = v;
}

void reader::read_word(node_t into, int32_t idx, uint32_t type, bool form, bool define, bool shared,
                       const uint8_t* tag_at) {
    int32_t sym = symbol();
    cell_t w;
    if (!codec_) {
        // Boot form: an owner by root position, or the global context.
        int32_t position = -1, index = -1;
        if (compact_) {
            if (form) {
                const uint8_t* a = p_;
                uint32_t p = varint();
                if (p > 0x7FFFFFFF) fault(a);
                position = static_cast<int32_t>(p);
                index = number();
            }
        } else {
            position = static_cast<int32_t>(u32());
            index = static_cast<int32_t>(u32());
        }
        if (shared) fault(tag_at);
        if (position < 0) {
            global_word(sym, type, &w);
        } else {
            int64_t root = int64_t{root_base_} + position;
            if (root >= alloc::buffer(target_)->used() / 16) fault(tag_at);
            cell_t owner = *at(target_, static_cast<int32_t>(root));
            uint8_t ot = type_of(&owner);
            if (ot != TYPE_object && ot != TYPE_function &&
                !(ot >= TYPE_word && ot <= TYPE_refinement))
                fault(tag_at);
            node_t ctx = owner.data1;
            if (ctx == 0) fault(tag_at);
            if (index == -1) index = _context::find_word(ctx, sym, true);
            if (index < 0 || index >= _context::word_count(ctx)) fault(tag_at);
            word::make_raw(&w, static_cast<uint8_t>(type), ctx, sym, index);
        }
        *at(into, idx) = w;
        (void)define;
        return;
    }
    if (!form) {
        if (!compact_) u32();  // the index, unused for the global context
        global_word(sym, type, &w);
        *at(into, idx) = w;
        return;
    }
    int32_t index = number();
    const uint8_t* a = p_;
    if (shared) {
        cell_t found = walk();
        uint8_t t = type_of(&found);
        if (!(t == TYPE_object || t == TYPE_function || t == TYPE_op ||
              (t >= TYPE_word && t <= TYPE_refinement)) ||
            found.data1 == 0)
            fault(a);
        if (t == TYPE_op && op::wrapped_type(&found) != TYPE_function) fault(a);
        node_t ctx = found.data1;
        if (index < -1 || index >= _context::word_count(ctx)) fault(a);
        word::make_raw(&w, static_cast<uint8_t>(type), ctx, sym, index);
        *at(into, idx) = w;
        return;
    }
    // The owner follows inline; the word takes its place while it is read.
    uint32_t owner_type;
    bool owner_form;
    if (compact_) {
        uint8_t b = u8();
        owner_type = b & TAG_TYPE_MASK;
        owner_form = (b & TAG_FORM) != 0;
    } else {
        uint32_t h = u32();
        owner_type = h & 0xFF;
        owner_form = (h & P_HANDLERS) != 0;
        if (h & P_SHARED) fault(a);
    }
    word::make_raw(&w, static_cast<uint8_t>(type), 0, sym, index);
    if (owner_type == TYPE_object) read_object(into, idx, owner_form, false, &w);
    else if (owner_type == TYPE_function) read_function(into, idx, false, &w);
    else fault(a);
    node_t ctx = at(into, idx)->data1;
    if (index < -1 || index >= _context::word_count(ctx)) fault(a);
}

// A context! record: its words; the values are read by read_values.
node_t reader::read_context(int32_t kind, bool* values) {
    const uint8_t* a = p_;
    uint32_t flags;
    if (compact_) {
        if (u8() != TYPE_context) fault(a);
        flags = u8();
    } else {
        uint32_t h = u32();
        if ((h & 0xFF) != TYPE_context) fault(a);
        flags = ((h >> P_CTX_KIND_SHIFT) & 3) | ((h & P_CTX_ON_STACK) ? CTX_ON_STACK : 0) |
                ((h & P_CTX_SELF) ? CTX_SELF : 0) | ((h & P_CTX_VALUES) ? CTX_VALUES : 0);
    }
    bool on_stack = (flags & CTX_ON_STACK) != 0;
    if (static_cast<int32_t>(flags & CTX_KIND_MASK) != kind ||
        on_stack != (kind == _context::KIND_FUNCTION) || (flags & ~0x1Fu))
        fault(a);
    *values = (flags & CTX_VALUES) != 0 && !on_stack;
    int64_t n = items(compact_ ? 1 : 4);
    std::vector<int32_t> syms(static_cast<size_t>(n));
    for (auto& s : syms) s = symbol();
    node_t ctx =
        _context::create(static_cast<int32_t>(n), on_stack, (flags & CTX_SELF) != 0, nullptr, kind);
    collector::root_node keep(ctx);
    for (int32_t s : syms) {
        cell_t w{TYPE_word, 0, static_cast<uint32_t>(s), 0};
        _context::add(ctx, &w);
    }
    if (_context::word_count(ctx) != n) fault(a);  // a name given twice
    return ctx;
}

void reader::read_values(node_t ctx) {
    int32_t n = _context::word_count(ctx);
    for (int32_t i = 0; i < n; i++) read_record(_context::cell_of(ctx)->data2, i);
}

void reader::read_object(node_t into, int32_t idx, bool form, bool shared, const cell_t* as_word) {
    const uint8_t* a = p_;
    if (shared) {
        cell_t found = owner_at(walk());
        if (type_of(&found) != TYPE_object) fault(a);
        *at(into, idx) = found;
        return;
    }
    int32_t class_id = number();
    if (form) {
        number();
        number();
    }
    bool values;
    node_t ctx = read_context(_context::KIND_OBJECT, &values);
    cell_t obj;
    {
        collector::root_node keep(ctx);
        if (codec_) {
            auto it = classes_.find(class_id);
            class_id =
                it != classes_.end() ? it->second : classes_[class_id] = object::new_class_id();
        }
        object::init_value(&obj, TYPE_object, ctx, class_id, 0);
        if (as_word) {
            cell_t w = *as_word;
            w.data1 = ctx;
            *at(into, idx) = w;
        } else {
            *at(into, idx) = obj;
        }
    }
    if (values) read_values(ctx);
    if (form) {
        object::install_handlers(&obj);
        *_context::get_self_value(ctx) = obj;
        if (!as_word) *at(into, idx) = obj;
    }
}

void reader::read_fn_block(node_t ctx, node_t node, bool spec) {
    bool shared = false;
    const uint8_t* a;
    uint32_t type, header = 0;
    bool form = false;
    if (compact_) {
        for (;;) {
            need(1);
            if (*p_ == PREFIX_NEW_LINE) p_++;
            else if (*p_ == PREFIX_SHARED) shared = true, p_++;
            else break;
        }
        a = p_;
        uint8_t b = u8();
        type = b & 0xFF & ~TAG_FORM;
        form = (b & TAG_FORM) != 0;
    } else {
        a = p_;
        header = u32();
        type = header & 0xFF;
        shared = (header & P_SHARED) != 0;
    }
    if (type != TYPE_block) fault(a);
    if (form || !compact_) count();
    if (shared) {
        cell_t found = walk();
        if (!series::block_kind_q(type_of(&found))) fault(a);
        cell_t* self = _context::get_self_value(ctx);
        if (spec) self->data2 = found.data2;
        else *function::more(self, function::MORE_BODY) = cell_t{TYPE_block, 0, found.data2, 0};
        return;
    }
    int64_t n = items(compact_ ? 1 : 4);
    for (int64_t i = 0; i < n; i++) read_record(node, -1);
}

void reader::read_function(node_t into, int32_t idx, bool shared, const cell_t* as_word) {
    const uint8_t* a = p_;
    if (shared) {
        cell_t found = owner_at(walk());
        // An op! over a function holds the function's own cell.
        if (type_of(&found) == TYPE_op && op::wrapped_type(&found) == TYPE_function)
            found.header = TYPE_function;
        if (type_of(&found) != TYPE_function) fault(a);
        *at(into, idx) = found;
        return;
    }
    int64_t spec_length = items(compact_ ? 1 : 4);
    int64_t body_length = items(compact_ ? 1 : 4);
    bool values;
    node_t ctx = read_context(_context::KIND_FUNCTION, &values);
    node_t spec, body;
    {
        collector::root_node keep_ctx(ctx);
        spec = alloc::alloc_cells(spec_length < 1 ? 1 : spec_length);
        collector::root_node keep_spec(spec);
        body = alloc::alloc_cells(body_length < 1 ? 1 : body_length);
        collector::root_node keep_body(body);
        node_t more = alloc::alloc_unset_cells(function::MORE_COUNT);
        alloc::buffer(more)->tail = alloc::buffer(more)->head + function::MORE_COUNT * 16;
        alloc::buffer(more)->head_cell()[function::MORE_BODY] = cell_t{TYPE_block, 0, body, 0};
        cell_t fn{TYPE_function, ctx, spec, more};
        *_context::get_self_value(ctx) = fn;
        if (as_word) {
            cell_t w = *as_word;
            w.data1 = ctx;
            *at(into, idx) = w;
        } else {
            *at(into, idx) = fn;
        }
    }
    read_fn_block(ctx, spec, true);
    read_fn_block(ctx, body, false);
    if (!as_word) *at(into, idx) = *_context::get_self_value(ctx);
}

void reader::read_native(node_t into, int32_t idx, uint32_t type) {
    const uint8_t* a = p_;
    uint32_t number = count();
    uint32_t limit = type == TYPE_action ? ACTION_MAX : native::COUNT;
    if (number < 1 || number > limit) fault(a);
    // The spec goes to the scratch block until the value holds it.
    const uint8_t* spec_at = p_;
    read_record(scratch_, -1);
    int32_t last = alloc::buffer(scratch_)->used() / 16 - 1;
    cell_t spec = *at(scratch_, last);
    if (type_of(&spec) != TYPE_block) fault(spec_at);
    if (codec_) {
        // Scripts get the runtime's own value: a native or action called
        // through a spec other than its own would read arguments that its
        // frame does not hold.
        const cell_t* own = type == TYPE_native ? native_value(static_cast<int32_t>(number))
                                                : action_value(static_cast<int32_t>(number));
        if (!own) fault(a);
        *at(into, idx) = *own;
        drop_last(scratch_, 1);
        return;
    }
    node_t more = alloc::alloc_unset_cells(2);
    collector::root_node keep_more(more);
    alloc::buffer(more)->tail = alloc::buffer(more)->head + 2 * 16;
    cell_t whole{TYPE_block, 0, spec.data2, 0};
    node_t ctx = _context::make(&whole, true, false, _context::KIND_FUNCTION);
    cell_t* m = alloc::buffer(more)->head_cell();
    m[0] = *_context::cell_of(ctx);
    m[1] = none_value;
    *at(into, idx) = cell_t{type, number - 1, spec.data2, more};
    drop_last(scratch_, 1);
}

void reader::read_op(node_t into, int32_t idx) {
    const uint8_t* a = p_;
    read_record(into, idx);
    cell_t made = *at(into, idx);
    uint8_t t = type_of(&made);
    if (t != TYPE_native && t != TYPE_action && t != TYPE_function) fault(a);
    if (!op::check_spec(made.data2)) fault(a);
    made.header &= ~FLAG_NEW_LINE;
    if (t == TYPE_function) *function::more(&made, function::MORE_OP) = made;
    made.header = (static_cast<uint32_t>(t) << op::WRAPPED_SHIFT) | TYPE_op;
    *at(into, idx) = made;
}

void reader::read_error(node_t into, int32_t idx, bool shared) {
    const uint8_t* a = p_;
    if (shared) {
        cell_t found = walk();
        if (type_of(&found) != TYPE_error) fault(a);
        *at(into, idx) = found;
        return;
    }
    int64_t code = count();
    int32_t id = -1;
    for (int32_t i = 0; i < ERROR_IDS && id < 0; i++)
        if (errors::code(static_cast<err>(i)) == code) id = i;
    if (id < 0) fault(a);
    cell_t e = *error::create(static_cast<err>(id));
    *at(into, idx) = e;
    stack::pop(1);
    node_t ctx = object::context_of(&e);
    for (int32_t i = error::FIELD_ARG1; i <= error::FIELD_STACK; i++)
        read_record(_context::cell_of(ctx)->data2, i);
}

void reader::run(bool symbols) {
    const uint8_t* a = p_;
    uint32_t record_size;
    if (compact_) {
        // The header varints are read within a window of their own.
        const uint8_t* saved_end = end_;
        if (!end_ || end_ - p_ > HEADER_VARINT_WINDOW) end_ = p_ + HEADER_VARINT_WINDOW;
        varint();
        record_size = varint();
        uint32_t n = 0, s = 0;
        const uint8_t* sa = p_;
        if (symbols) {
            n = varint();
            s = varint();
        }
        end_ = saved_end;
        if (symbols) {
            if (n > 0x7FFFFFFF || int64_t{n} > left() / 4) fault(sa);
            if (s > 0x7FFFFFFF || int64_t{s} > left() - 4 * int64_t{n}) fault(sa);
        }
        symbol_count_ = n;
        names_size_ = s;
    } else {
        u32();
        record_size = u32();
        if (symbols) {
            const uint8_t* sa = p_;
            uint32_t n = u32(), s = u32();
            if (n > 0x7FFFFFFF || int64_t{n} > left() / 4) fault(sa);
            if (s > 0x7FFFFFFF || int64_t{s} > left() - 4 * int64_t{n}) fault(sa);
            symbol_count_ = n;
            names_size_ = s;
        }
    }
    if (symbols) {
        offsets_ = p_;
        p_ += 4 * static_cast<size_t>(symbol_count_);
        names_ = p_;
        p_ += names_size_;
        if (names_size_ > 0 && names_[names_size_ - 1] != 0) fault(p_ - 1);
        symbol_ids_.assign(symbol_count_, 0);
        global_index_.assign(symbol_count_, -1);
    }
    if (record_size > 0x7FFFFFFF || int64_t{record_size} > left()) fault(a);
    end_ = p_ + record_size;
    while (p_ < end_) read_record(target_, -1);
}

[[noreturn]] void invalid(const cell_t* argument, const uint8_t* data, int64_t length) {
    if (argument) {
        cell_t arg = *argument;
        fire(err::invalid_data, &arg);
    }
    // The binary made here stays on the stack while the error is made.
    cell_t* arg = stack::push_slot();
    arg->header = TYPE_unset;
    binary::load_at(data, length < 0 ? 0 : std::min<int64_t>(length, alloc::SERIES_LIMIT - 1), arg);
    fire(err::invalid_data, arg);
}

const cell_t* none_yet(int32_t) { return nullptr; }

}  // namespace

const cell_t* (*native_value)(int32_t number) = none_yet;
const cell_t* (*action_value)(int32_t number) = none_yet;

int32_t decode(const uint8_t* data, int64_t length, cell_t* target, bool codec_mode,
               const cell_t* argument) {
    int32_t previous = codec_q;
    codec_q = codec_mode ? 1 : 0;
    struct restore {
        int32_t v;
        ~restore() { codec_q = v; }
    } restore_mode{previous};

    if ((length >= 0 && length < HEADER_SIZE) || std::memcmp(data, MAGIC, 6) != 0)
        invalid(argument, data, length);
    uint8_t flags = data[7];
    bool compact = (flags & FLAG_COMPACT) != 0;
    const uint8_t* end = length >= 0 ? data + length : nullptr;
    const uint8_t* body = data + HEADER_SIZE;
    int64_t origin = HEADER_SIZE;
    std::unique_ptr<uint8_t, void (*)(uint8_t*)> unpacked(nullptr, zstd::free_buffer);
    if (flags & FLAG_COMPRESSED) {
        int64_t frame = 0;
        if (!end || end - body >= 4) {
            frame = static_cast<int32_t>(load32(body));
            if (end && frame > end - body - 4) frame = 0;
        }
        uint32_t size = 0;
        if (frame > 0)
            unpacked.reset(zstd::decompress_alloc(body + 4, static_cast<size_t>(frame), &size));
        if (!unpacked) invalid(argument, data, length);
        body = unpacked.get();
        end = body + size;
    }
    if (!compact && end && end - body < PLAIN_MIN_AFTER_HEADER) invalid(argument, data, length);

    int32_t base = block::abs_length(target);
    // The scratch block holds native specs while they are read.
    cell_t* scratch = stack::push_slot();
    cell::begin(scratch);
    block::make_at(scratch, 4);
    node_t scratch_node = scratch->data2;
    // On a fault the error's unwinding resets the stack.
    reader r(body, origin, end, compact, codec_mode, target->data2, scratch_node, base);
    r.run((flags & FLAG_SYMBOLS) != 0);
    stack::pop(1);
    return base;
}

}  // namespace zuv::zuvbin

// The Zuvbin encoder: one record writer for both layouts.
//
// Writing never allocates language memory (everything goes to C++ buffers
// until the output binary is made at the end), so no collection can run
// while cells are read, and buffer addresses stay valid for the walk.
#include <new>
#include <string>
#include <unordered_map>

#include "codecs/zuvbin.h"
#include "codecs/zuvbin_format.h"
#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/date.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/money.h"
#include "datatypes/native.h"
#include "datatypes/object.h"
#include "datatypes/op.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/vector.h"
#include "datatypes/word.h"
#include "runtime/fire.h"
#include "runtime/stack.h"

namespace zuv::zuvbin {

int32_t codec_q = 0;

namespace {

class writer {
public:
    explicit writer(bool compact) : compact_(compact) {}

    void record(const cell_t* v);

    std::vector<uint8_t> finish(uint8_t version) const;

private:
    bool compact_;
    std::vector<uint8_t> out_;
    std::vector<int32_t> symbols_;  // symbol ids in order of first use
    std::unordered_map<int32_t, uint32_t> symbol_index_;
    std::string names_;
    std::vector<uint32_t> name_offsets_;
    uint32_t counter_ = 0;  // position of the next record in its container
    std::vector<uint32_t> path_;  // positions of the enclosing containers
    std::vector<uint32_t> store_;  // each stored path: its depth, then the positions
    std::unordered_map<node_t, uint32_t> refs_;  // node -> offset of its path in store_
    int32_t depth_ = 0;

    // --- primitives ---
    void byte(uint8_t b) { out_.push_back(b); }
    void word32(uint32_t v) {
        uint8_t b[4];
        store32(b, v);
        out_.insert(out_.end(), b, b + 4);
    }
    void varint(uint32_t v) {
        while (v >= 0x80) {
            byte(static_cast<uint8_t>(v | 0x80));
            v >>= 7;
        }
        byte(static_cast<uint8_t>(v));
    }
    // A count or index: varint or word.
    void count(uint32_t v) { compact_ ? varint(v) : word32(v); }
    // A signed number: zigzag varint or word.
    void number(int32_t v) { compact_ ? varint(zigzag(v)) : word32(static_cast<uint32_t>(v)); }
    void bytes(const uint8_t* p, size_t n) {
        out_.insert(out_.end(), p, p + n);
        if (!compact_)
            while (out_.size() % 4) byte(0);
    }
    // Prefixes and tag (compact) or the header word (plain).
    void begin(uint32_t type, bool new_line, bool shared, bool form, uint32_t plain_bits = 0) {
        if (compact_) {
            if (new_line) byte(PREFIX_NEW_LINE);
            if (shared) byte(PREFIX_SHARED);
            uint8_t f = form ? TAG_FORM : 0;
            if (type < TAG_LONG_TYPE) {
                byte(static_cast<uint8_t>(type | f));
            } else {
                byte(TAG_LONG_TYPE | f);
                varint(type);
            }
        } else {
            word32(type | plain_bits | (new_line ? P_NEW_LINE : 0) | (shared ? P_SHARED : 0));
        }
    }

    uint32_t symbol_index(int32_t symbol);
    bool known(node_t node, uint32_t* at) const {
        auto it = refs_.find(node);
        if (it == refs_.end()) return false;
        *at = it->second;
        return true;
    }
    void put_path(uint32_t at);
    // Enters a container: its path is stored under node and its inner
    // records count from 0. leave() restores the counter.
    void enter(node_t node);
    void leave();

    void real(const cell_t* v, bool nl);
    void series(const cell_t* v, bool nl);
    void word(const cell_t* v, bool nl);
    void context(node_t ctx);
    void object(const cell_t* v, bool nl);
    void function(const cell_t* v, bool nl);
    void native(const cell_t* v, bool nl);
    void error(const cell_t* v, bool nl);
    void block_of_node(node_t node, uint32_t type, bool nl);
};

[[noreturn]] void no_codec(const cell_t* v) {
    cell_t copy = *v;
    fire(err::no_codec, &copy);
}

uint32_t writer::symbol_index(int32_t symbol) {
    auto it = symbol_index_.find(symbol);
    if (it != symbol_index_.end()) return it->second;
    uint32_t index = static_cast<uint32_t>(symbols_.size());
    symbols_.push_back(symbol);
    symbol_index_.emplace(symbol, index);
    name_offsets_.push_back(static_cast<uint32_t>(names_.size()));
    series_buffer_t* s = alloc::buffer(symbol::cell_of(symbol)->data3);
    names_.append(reinterpret_cast<const char*>(s->head_ptr()), static_cast<size_t>(s->used()));
    names_.push_back('\0');
    if (!compact_)
        while (names_.size() % 8) names_.push_back('\0');
    return index;
}

void writer::put_path(uint32_t at) {
    uint32_t n = store_[at];
    if (!compact_) word32(P_REFERENCE);
    count(n);
    for (uint32_t i = 0; i < n; i++) count(store_[at + 1 + i]);
}

void writer::enter(node_t node) {
    path_.push_back(counter_);
    refs_.emplace(node, static_cast<uint32_t>(store_.size()));
    store_.push_back(static_cast<uint32_t>(path_.size()));
    store_.insert(store_.end(), path_.begin(), path_.end());
    counter_ = 0;
}

void writer::leave() {
    counter_ = path_.back();
    path_.pop_back();
}

void writer::real(const cell_t* v, bool nl) {
    uint32_t t = type_of(v);
    double d = cell::get_float(v);
    int32_t n;
    if (compact_ && short_real(t, d, &n)) {
        begin(t, nl, false, true);
        number(n);
        return;
    }
    if (compact_) {
        begin(t, nl, false, false);
        uint8_t b[8];
        std::memcpy(b, &d, 8);
        out_.insert(out_.end(), b, b + 8);
        return;
    }
    if (out_.size() % 8) word32(0);
    begin(t, nl, false, false);
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    word32(static_cast<uint32_t>(bits >> 32));
    word32(static_cast<uint32_t>(bits));
}

void writer::block_of_node(node_t node, uint32_t type, bool nl) {
    cell_t b{type, 0, node, 0};
    series(&b, nl);
}

// Series of every kind: blocks, hash!, map!, strings, binary!, bitset!.
void writer::series(const cell_t* v, bool nl) {
    uint32_t t = type_of(v);
    node_t node = v->data2;
    int32_t head = static_cast<int32_t>(v->data1);
    bool has_head = t != TYPE_map && t != TYPE_bitset;
    bool form = has_head ? head != 0 : false;
    series_buffer_t* s = alloc::buffer(node);
    uint32_t plain_bits = 0;
    if (zuv::series::any_string_q(static_cast<uint8_t>(t)) || t == TYPE_vector)
        plain_bits = s->unit() << P_UNIT_SHIFT;
    if (t == TYPE_bitset && bitset::inverted_q(v)) {
        form = true;
        plain_bits = P_BITSET_NEGATED;
    }
    uint32_t at;
    if (known(node, &at)) {
        begin(t, nl, true, form, plain_bits);
        if (has_head && (form || !compact_)) count(static_cast<uint32_t>(head));
        put_path(at);
        return;
    }
    begin(t, nl, false, form, plain_bits);
    if (has_head && (form || !compact_)) count(static_cast<uint32_t>(head));
    enter(node);
    if (zuv::series::block_kind_q(static_cast<uint8_t>(t)) || t == TYPE_map) {
        int32_t cells = s->used() / 16;
        if (t == TYPE_map) {
            int32_t live = 0;
            for (int32_t i = 0; i + 1 < cells; i += 2) live += s->head_cell()[i + 1].header != 0;
            count(static_cast<uint32_t>(live * 2));
            for (int32_t i = 0; i + 1 < cells; i += 2) {
                const cell_t* c = alloc::buffer(node)->head_cell() + i;
                if (c[1].header == 0) continue;
                record(c);
                record(alloc::buffer(node)->head_cell() + i + 1);
            }
        } else {
            count(static_cast<uint32_t>(cells));
            for (int32_t i = 0; i < cells; i++) record(alloc::buffer(node)->head_cell() + i);
        }
    } else if (t == TYPE_vector) {
        uint32_t unit = s->unit();
        uint32_t units = static_cast<uint32_t>(s->used()) / unit;
        if (compact_) {
            byte(static_cast<uint8_t>(vector::element_type(v) << 2 | unit_code(unit)));
            count(units);
        } else {
            count(units);
            count(vector::element_type(v));
        }
        bytes(s->head_ptr(), static_cast<size_t>(s->used()));
    } else if (t == TYPE_binary || t == TYPE_bitset) {
        count(static_cast<uint32_t>(s->used()));
        bytes(s->head_ptr(), static_cast<size_t>(s->used()));
    } else {
        uint32_t unit = s->unit();
        uint32_t units = static_cast<uint32_t>(s->used()) / unit;
        if (compact_) {
            if (units >= (1u << 30)) fire(err::no_memory);
            varint(units << 2 | unit_code(unit));
        } else {
            count(units);
        }
        bytes(s->head_ptr(), static_cast<size_t>(s->used()));
    }
    leave();
}

void writer::context(node_t ctx) {
    const cell_t* c = _context::cell_of(ctx);
    uint32_t kind = static_cast<uint32_t>(_context::kind_of(c));
    bool on_stack = _context::on_stack_q(c);
    bool self = (c->header & _context::FLAG_SELF) != 0;
    int32_t words = _context::word_count(ctx);
    bool values = false;
    if (!on_stack)
        for (int32_t i = 0; i < words && !values; i++)
            values = type_of(_context::value_at(ctx, i)) != TYPE_unset;
    if (compact_) {
        byte(TYPE_context);
        byte(static_cast<uint8_t>(kind | (on_stack ? CTX_ON_STACK : 0) | (self ? CTX_SELF : 0) |
                                  (values ? CTX_VALUES : 0)));
    } else {
        word32(TYPE_context | kind << P_CTX_KIND_SHIFT | (self ? P_CTX_SELF : 0) |
               (on_stack ? P_CTX_ON_STACK : 0) | (values ? P_CTX_VALUES : 0));
    }
    count(static_cast<uint32_t>(words));
    for (int32_t i = 0; i < words; i++)
        count(symbol_index(word::symbol_of(_context::get_symbol_word(ctx, i))));
    if (values)
        for (int32_t i = 0; i < words; i++) record(_context::value_at(ctx, i));
}

void writer::object(const cell_t* v, bool nl) {
    node_t ctx = object::context_of(v);
    node_t handlers = v->data3;
    uint32_t at;
    if (known(ctx, &at)) {
        begin(TYPE_object, nl, true, handlers != 0, handlers ? P_HANDLERS : 0);
        put_path(at);
        return;
    }
    begin(TYPE_object, nl, false, handlers != 0, handlers ? P_HANDLERS : 0);
    number(static_cast<int32_t>(v->data2));
    if (handlers) {
        const cell_t* h = alloc::buffer(handlers)->head_cell();
        number(static_cast<int32_t>(h[0].data2));
        number(static_cast<int32_t>(h[1].data2));
    }
    enter(ctx);
    context(ctx);
    leave();
}

void writer::function(const cell_t* v, bool nl) {
    node_t ctx = function::context_of(v);
    uint32_t at;
    if (known(ctx, &at)) {
        begin(TYPE_function, nl, true, false);
        put_path(at);
        return;
    }
    node_t spec = function::spec_node(v);
    cell_t body = *function::more(v, function::MORE_BODY);
    if (type_of(&body) != TYPE_block) no_codec(v);
    begin(TYPE_function, nl, false, false);
    count(static_cast<uint32_t>(alloc::buffer(spec)->used() / 16));
    count(static_cast<uint32_t>(block::abs_length(&body)));
    enter(ctx);
    context(ctx);
    counter_ = 0;
    block_of_node(spec, TYPE_block, false);
    counter_ = 1;
    series(&body, false);
    leave();
}

void writer::native(const cell_t* v, bool nl) {
    uint32_t t = type_of(v);
    begin(t, nl, false, false);
    count(static_cast<uint32_t>(native::number_of(v)));
    // The spec sits at the native's own position.
    block_of_node(native::spec_node(v), TYPE_block, false);
}

void writer::error(const cell_t* v, bool nl) {
    node_t ctx = object::context_of(v);
    uint32_t at;
    if (known(ctx, &at)) {
        begin(TYPE_error, nl, true, false);
        put_path(at);
        return;
    }
    begin(TYPE_error, nl, false, false);
    const cell_t* code = error::field(v, error::FIELD_CODE);
    count(type_of(code) == TYPE_integer ? code->data2 : 0);
    enter(ctx);
    for (int32_t i = error::FIELD_ARG1; i <= error::FIELD_STACK; i++) record(error::field(v, i));
    leave();
}

// The owner of a word's context: an object or a function, else nothing
// (the word is then written unbound, as for the global context).
const cell_t* owner_of(node_t ctx) {
    if (ctx == 0 || ctx == _context::global_node) return nullptr;
    const cell_t* self = _context::get_self_value(ctx);
    uint8_t t = type_of(self);
    return t == TYPE_object || t == TYPE_function ? self : nullptr;
}

void writer::word(const cell_t* v, bool nl) {
    uint32_t t = type_of(v);
    uint32_t sym = symbol_index(word::symbol_of(v));
    node_t ctx = v->data1;
    const cell_t* owner = owner_of(ctx);
    if (!owner) {
        begin(t, nl, false, false, P_WORD_GLOBAL);
        count(sym);
        if (!compact_) word32(static_cast<uint32_t>(-1));
        return;
    }
    uint32_t at;
    bool shared = known(ctx, &at);
    begin(t, nl, shared, true);
    count(sym);
    number(static_cast<int32_t>(v->data3));
    if (shared) {
        put_path(at);
        return;
    }
    // The owner sits at the word's own position.
    cell_t o = *owner;
    record(&o);
    counter_--;
}

void writer::record(const cell_t* v) {
    if (++depth_ > MAX_DEPTH) {
        depth_ = 0;
        fire(err::stack_overflow);
    }
    uint32_t t = type_of(v);
    bool nl = (v->header & FLAG_NEW_LINE) != 0;
    switch (shape_of(t)) {
    case shape::empty: begin(t, nl, false, false); break;
    case shape::datatype:
        begin(t, nl, false, false);
        count(v->data1);
        break;
    case shape::logic:
        if (compact_) {
            if (nl) byte(PREFIX_NEW_LINE);
            byte(v->data1 ? TAG_TRUE : TAG_FALSE);
        } else {
            begin(t, nl, false, false);
            word32(v->data1 ? 1 : 0);
        }
        break;
    case shape::integer: {
        int32_t n = static_cast<int32_t>(v->data2);
        if (compact_ && n >= 0 && n <= SMALL_INT_MAX) {
            if (nl) byte(PREFIX_NEW_LINE);
            byte(static_cast<uint8_t>(TAG_SMALL_INT + n));
        } else {
            begin(t, nl, false, false);
            number(n);
        }
        break;
    }
    case shape::char_:
        begin(t, nl, false, false);
        count(v->data2);
        break;
    case shape::pair:
        begin(t, nl, false, false);
        number(static_cast<int32_t>(v->data2));
        number(static_cast<int32_t>(v->data3));
        break;
    case shape::raw2:
    case shape::raw3:
        begin(t, nl, false, false);
        word32(v->data1);
        word32(v->data2);
        if (shape_of(t) == shape::raw3) word32(v->data3);
        break;
    case shape::real: real(v, nl); break;
    case shape::date: {
        uint32_t d = v->data1;
        bool timed = date::has_time_q(d);
        begin(t, nl, false, timed);
        word32(d);
        if (!compact_) {
            word32(v->data3);
            word32(v->data2);
        } else if (timed) {
            word32(v->data2);
            word32(v->data3);
        }
        break;
    }
    case shape::typeset:
    case shape::tuple: {
        const uint8_t* b = reinterpret_cast<const uint8_t*>(&v->data1);
        if (!compact_) {
            uint32_t bits =
                t == TYPE_tuple ? static_cast<uint32_t>(tuple::length_of(v)) << P_TUPLE_SHIFT : 0;
            begin(t, nl, false, false, bits);
            word32(v->data1);
            word32(v->data2);
            word32(v->data3);
            break;
        }
        int32_t n;
        if (t == TYPE_tuple) {
            n = tuple::length_of(v);
            begin(t, nl, false, n != 3);
        } else {
            n = TYPESET_BYTES;
            while (n > 0 && b[n - 1] == 0) n--;
            begin(t, nl, false, false);
        }
        if (t != TYPE_tuple || n != 3) byte(static_cast<uint8_t>(n));
        out_.insert(out_.end(), b, b + n);
        break;
    }
    case shape::money: {
        bool negative = money::sign_q(v);
        begin(t, nl, false, negative, negative ? P_MONEY_NEGATIVE : 0);
        if (compact_) {
            const uint8_t* b = reinterpret_cast<const uint8_t*>(v) + MONEY_AT;
            out_.insert(out_.end(), b, b + MONEY_BYTES);
        } else {
            word32(v->data1);
            word32(v->data2);
            word32(v->data3);
        }
        break;
    }
    case shape::issue:
        begin(t, nl, false, false);
        count(symbol_index(word::symbol_of(v)));
        break;
    case shape::word: word(v, nl); break;
    case shape::block:
    case shape::map:
    case shape::string:
    case shape::binary:
    case shape::vector:
    case shape::bitset: series(v, nl); break;
    case shape::object: object(v, nl); break;
    case shape::function: function(v, nl); break;
    case shape::native: native(v, nl); break;
    case shape::op: {
        uint8_t wrapped = op::wrapped_type(v);
        if (wrapped != TYPE_native && wrapped != TYPE_action && wrapped != TYPE_function)
            no_codec(v);
        begin(t, nl, false, false, static_cast<uint32_t>(wrapped) << P_WRAPPED_SHIFT);
        cell_t w = *v;
        w.header = wrapped;
        record(&w);
        counter_--;
        break;
    }
    case shape::error: error(v, nl); break;
    default: no_codec(v);
    }
    counter_++;
    depth_--;
}

std::vector<uint8_t> writer::finish(uint8_t version) const {
    uint32_t n = static_cast<uint32_t>(symbols_.size());
    std::vector<uint8_t> s;
    s.reserve(out_.size() + names_.size() + 4 * n + 32);
    s.insert(s.end(), MAGIC, MAGIC + 6);
    s.push_back(version);
    auto w32 = [&s](uint32_t v) {
        uint8_t b[4];
        store32(b, v);
        s.insert(s.end(), b, b + 4);
    };
    auto vint = [&s](uint32_t v) {
        while (v >= 0x80) {
            s.push_back(static_cast<uint8_t>(v | 0x80));
            v >>= 7;
        }
        s.push_back(static_cast<uint8_t>(v));
    };
    auto put = [&](uint32_t v) { compact_ ? vint(v) : w32(v); };
    s.push_back(static_cast<uint8_t>((compact_ ? FLAG_COMPACT : 0) | (n ? FLAG_SYMBOLS : 0)));
    put(1);
    put(static_cast<uint32_t>(out_.size()));
    if (n) {
        put(n);
        put(static_cast<uint32_t>(names_.size()));
        for (uint32_t off : name_offsets_) w32(off);
        s.insert(s.end(), names_.begin(), names_.end());
    }
    s.insert(s.end(), out_.begin(), out_.end());
    return s;
}

void to_binary(const std::vector<uint8_t>& bytes, cell_t* out) {
    if (bytes.size() >= alloc::SERIES_LIMIT) fire(err::no_memory);
    binary::load_at(bytes.data(), static_cast<int64_t>(bytes.size()), out);
}

}  // namespace

std::vector<uint8_t> encode_values(const cell_t* values, int32_t count, bool compact,
                                   uint8_t version) {
    codec_q = 1;
    try {
        writer w(compact);
        for (int32_t i = 0; i < count; i++) w.record(values + i);
        return w.finish(version);
    } catch (const std::bad_alloc&) {
        fire(err::no_memory);
    }
}

void encode(const cell_t* value, cell_t* out) {
    to_binary(encode_values(value, 1, false, VERSION), out);
}

void encode_cp(const cell_t* value, cell_t* out) {
    to_binary(encode_values(value, 1, true, VERSION), out);
}

}  // namespace zuv::zuvbin

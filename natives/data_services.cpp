// The natives of the data services: checksum, compress and decompress. They
// check their arguments, pick the method by its word and hand the bytes to
// codecs/checksum.h, codecs/crypto.h and codecs/compress.h.
//
// The bytes of a binary! argument lie in a series buffer, which moves when
// anything allocates; they are read again after every allocation (the codec
// entries themselves allocate no series).
#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "codecs/checksum.h"
#include "codecs/compress.h"
#include "codecs/crypto.h"
#include "codecs/zstd.h"
#include "datatypes/actions.h"
#include "datatypes/binary.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "io/simple_io.h"
#include "natives/natives.h"
#include "runtime/alloc.h"
#include "runtime/fire.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"
#include "runtime/words.h"

namespace zuv::natives {

namespace {

// The bytes of a string! (its UTF-8, kept here) or of a binary! from its
// head (read again at each use).
class source_t {
public:
    explicit source_t(const cell_t* value) : value_(value), text_q_(type_of(value) != TYPE_binary) {
        if (text_q_) text_ = unicode::to_utf8(value);
    }
    const uint8_t* data() const {
        return text_q_ ? reinterpret_cast<const uint8_t*>(text_.data()) : binary::rs_head(value_);
    }
    size_t size() const {
        return text_q_ ? text_.size()
                       : static_cast<size_t>(std::max(binary::rs_length_q(value_), 0));
    }

private:
    const cell_t* value_;
    bool text_q_;
    std::string text_;
};

[[noreturn, gnu::cold]] void fire_with(err id, const cell_t* value) {
    cell_t v = *value;
    fire(id, &v);
}

[[noreturn, gnu::cold]] void fire_refine(const cell_t* value) {
    cell_t w = words::word(words::id::with);
    cell_t v = *value;
    fire(err::invalid_refine_arg, &w, &v);
}

int32_t symbol_of(const cell_t* word) { return word::symbol_of(word); }

// --- checksum ------------------------------------------------------------------

// The checksums that give an integer!, by method word; nullptr for others.
using sum_t = uint32_t (*)(const uint8_t*, size_t);
sum_t integer_sum(int32_t symbol) {
    int32_t s = symbol::resolve(symbol);
    if (s == checksum::crc32_word) return checksum::crc32;
    if (s == checksum::tcp_word) return checksum::tcp;
    if (s == checksum::adler32_word) return checksum::adler32;
    return nullptr;
}

void set_digest(const crypto::digest_t& d) {
    binary::load_at(d.bytes, d.size, stack::arguments);
    stack::keep();
}

// --- compress and decompress -------------------------------------------------------

// The codec entry of a method, both ways, with the level bounds.
struct method_entries_t {
    int (*pack)(uint8_t*, uint32_t*, const uint8_t*, size_t, int);
    int (*unpack)(uint8_t*, uint32_t*, const uint8_t*, size_t);
    int32_t max_level;
};

method_entries_t entries_of(compress::method_t m) {
    switch (m) {
    case compress::method_t::zlib: return {compress::zlib_compress, compress::zlib_decompress, 9};
    case compress::method_t::deflate:
        return {compress::deflate_compress, compress::deflate_decompress, 9};
    case compress::method_t::gzip: return {compress::gzip_compress, compress::gzip_decompress, 9};
    case compress::method_t::zstd: return {zstd::compress, zstd::decompress, 19};
    default: return {nullptr, nullptr, 0};
    }
}

compress::method_t method_arg(const cell_t* word) {
    compress::method_t m = compress::method_of(symbol_of(word));
    if (m == compress::method_t::none) fire_with(err::invalid_arg, word);
    return m;
}

// Raises what a refused decompression calls for: size-limit for output past
// a series' limit (the data may be sound), else invalid-data; the message
// names the method and the reason ("gzip: truncated").
[[noreturn, gnu::cold]] void fire_refused(const cell_t* method) {
    compress::failure_t why = compress::last_failure;
    if (why == compress::failure_t::none) fire_with(err::invalid_data, method);
    cell_t* text = stack::push_slot();
    text->header = TYPE_unset;
    string::make_at(text, 64);
    cell_t word = *method;
    actions::form(&word, text, false, 0);
    string::concatenate_literal(text, ": ");
    string::concatenate_literal(text, compress::failure_text(why));
    fire_with(why == compress::failure_t::too_large ? err::size_limit : err::invalid_data, text);
}

// Above this much unused room the result is copied into a binary of its
// own size: a buffer sized for the worst case would stay mostly empty.
constexpr uint32_t SLACK = 4096;

// Runs `entry` (called with the destination and the capacity) into a new
// binary of `room` bytes, and once more with the room it asks for when that
// was short. The result replaces the native's first argument. Any other
// answer raises invalid-data with the method word.
template <typename F> void run_twice(F entry, uint64_t room, const cell_t* method) {
    cell_t* out = stack::push_slot();
    out->header = TYPE_unset;
    for (int attempt = 0;; attempt++) {
        if (room > compress::SIZE_LIMIT || room > alloc::SERIES_LIMIT) fire(err::no_memory);
        binary::make_at(out, static_cast<int64_t>(room));
        uint32_t cap = static_cast<uint32_t>(room);
        compress::last_failure = compress::failure_t::none;
        int code = entry(binary::rs_head(out), &cap);
        if (code == compress::MORE_ROOM && attempt == 0 && cap > room) {
            room = cap;
            continue;
        }
        if (code != compress::DONE || cap > room) fire_refused(method);
        series_buffer_t* s = binary::buffer_of(out);
        s->tail = s->head + static_cast<int32_t>(cap);
        if (room - cap > SLACK) {
            cell_t* exact = stack::push_slot();
            exact->header = TYPE_unset;
            binary::make_at(exact, cap);
            series_buffer_t* e = binary::buffer_of(exact);
            std::memcpy(e->head_ptr(), binary::rs_head(out), cap);
            e->tail = e->head + static_cast<int32_t>(cap);
            *out = *exact;
        }
        break;
    }
    stack::set_last_keep(out);
}

}  // namespace

void checksum(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::checksum, refinements);
    cell_t* data = stack::arguments;
    const cell_t* method = stack::arguments + 1;
    const cell_t* with = refinements[0] >= 0 ? stack::arguments + refinements[0] : nullptr;

    switch (type_of(data)) {
    case TYPE_file: {
        // Read whole; the bytes stay rooted on the stack while they are summed.
        data = simple_io::read(data, nullptr, nullptr, true, false);
        if (type_of(data) != TYPE_binary) fire_with(err::cannot_open, stack::arguments);
        break;
    }
    case TYPE_string:
    case TYPE_binary: break;
    default: fire_with(err::invalid_arg, data);
    }
    int32_t symbol = symbol_of(method);
    if (!checksum::method_q(symbol)) fire_with(err::invalid_arg, method);

    source_t bytes(data);
    if (sum_t sum = integer_sum(symbol)) {
        if (with) fire_refine(with);
        uint32_t r = sum(bytes.data(), bytes.size());
        integer::make_at(stack::arguments, static_cast<int32_t>(r));
        stack::keep();
        return;
    }
    if (symbol::resolve(symbol) == checksum::hash_word) {
        cell_t none_value{TYPE_none, 0, 0, 0};
        if (!with) fire_refine(&none_value);
        if (type_of(with) == TYPE_string || type_of(with) == TYPE_binary) fire_refine(with);
        if (type_of(with) != TYPE_integer) fire_with(err::invalid_arg, with);
        // Nothing computes this kind of hash: the service says so.
        checksum::hash();
        none::make_at(stack::arguments);
        stack::keep();
        return;
    }
    int32_t digest_id = checksum::method_id(symbol);
    if (!with) {
        set_digest(crypto::get_digest(bytes.data(), bytes.size(), digest_id));
        return;
    }
    if (type_of(with) != TYPE_string && type_of(with) != TYPE_binary)
        fire_with(err::invalid_arg, with);
    source_t key(with);
    std::optional<crypto::digest_t> mac =
        checksum::hmac(bytes.data(), bytes.size(), key.data(), key.size(), symbol);
    if (!mac) fire_with(err::invalid_arg, method);
    set_digest(*mac);
}

void compress(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::compress, refinements);
    const cell_t* method = stack::arguments + 1;
    method_entries_t e = entries_of(method_arg(method));
    int level = -1;
    if (refinements[0] >= 0) {
        const cell_t* lvl = stack::arguments + refinements[0];
        int32_t n = integer::get(lvl);
        if (n < 1 || n > e.max_level) fire_with(err::out_of_range, lvl);
        level = n;
    }
    source_t src(stack::arguments);
    uint64_t len = src.size();
    if (len >= compress::SIZE_LIMIT) fire(err::no_memory);
    // First guess: a little more than the input, as incompressible data needs.
    uint64_t room = std::min<uint64_t>(len + len / 2048 + 32, compress::SIZE_LIMIT);
    run_twice([&](uint8_t* dst,
                  uint32_t* cap) { return e.pack(dst, cap, src.data(), src.size(), level); },
              room, method);
}

void decompress(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::decompress, refinements);
    const cell_t* method = stack::arguments + 1;
    compress::method_t m = method_arg(method);
    method_entries_t e = entries_of(m);
    int64_t hint = -1;
    if (refinements[0] >= 0) {
        const cell_t* size = stack::arguments + refinements[0];
        hint = integer::get(size);
        if (hint < 0) fire_with(err::out_of_range, size);
    }
    source_t src(stack::arguments);
    compress::last_failure = compress::failure_t::none;
    // The size comes from the data when the hint cannot be trusted: gzip
    // reads its trailer, zstd its frame header; zlib and deflate need a
    // counting pass, worth it only when the hint would not hold the input.
    bool query = m == compress::method_t::gzip || (m == compress::method_t::zstd && hint < 0) ||
                 ((m == compress::method_t::zlib || m == compress::method_t::deflate) &&
                  (hint < 0 || static_cast<uint64_t>(hint) <= src.size()));
    uint64_t room = hint < 0 ? 0 : static_cast<uint64_t>(hint);
    if (query) {
        uint32_t cap = 0;
        int code = e.unpack(nullptr, &cap, src.data(), src.size());
        if (code != compress::DONE && code != compress::MORE_ROOM) fire_refused(method);
        room = cap;
    }
    run_twice(
        [&](uint8_t* dst, uint32_t* cap) { return e.unpack(dst, cap, src.data(), src.size()); },
        room, method);
}

}  // namespace zuv::natives

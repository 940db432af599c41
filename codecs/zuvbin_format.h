// The Zuvbin stream: the one description that the encoder and the decoder
// both follow.
//
// A stream is an 8-byte header (magic "ZUVBIN", version, flags), then the
// counts, an optional symbol table and the record area. Two record layouts
// share it: plain (32-bit little-endian words, records 4-byte aligned) and
// compact (LEB128 varints, one-byte tags). With the compressed flag, bytes
// 12 on hold a Zstandard frame (its length at 8) that decompresses to what
// an uncompressed stream holds from byte 8 on.
//
// Compact record: prefixes (new-line, shared, definition), then a tag byte:
// bits 0-5 the datatype id (63: the id follows as a varint), bit 6 a form
// flag whose meaning each type fixes. Bytes 0x80-0xBF are the integers 0 to
// 63; 0xC2/0xC3 true/false; 0xFF a copy of the value at a reference path.
//
// Plain record: a 32-bit header word (datatype id in bits 0-7 and the bits
// below), then 32-bit payload words. A header word 0 is padding.
//
// Reference paths name a value written earlier by its positions: from the
// decode target, each position selects a cell of a series (from the start of
// its buffer), a value of a context, or a part of a function. A value that
// shares its series, context or object with an earlier one writes only its
// head part and the path to the first.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#include "runtime/cell.h"

namespace zuv::zuvbin {

constexpr uint8_t MAGIC[6] = {'Z', 'U', 'V', 'B', 'I', 'N'};
constexpr int32_t HEADER_SIZE = 8;
constexpr uint8_t VERSION = 2;  // what the encoder writes
constexpr uint8_t BOOT_VERSION = 1;  // what the boot image carries

// Flags byte (offset 7).
constexpr uint8_t FLAG_COMPACT = 1;
constexpr uint8_t FLAG_COMPRESSED = 2;
constexpr uint8_t FLAG_SYMBOLS = 4;

// --- compact layout ------------------------------------------------------
constexpr uint8_t PREFIX_NEW_LINE = 0xC0;
constexpr uint8_t PREFIX_SHARED = 0xC1;
constexpr uint8_t PREFIX_DEFINE = 0xC4;
constexpr uint8_t TAG_SMALL_INT = 0x80;  // 0x80 + n for n in 0..63
constexpr int32_t SMALL_INT_MAX = 63;
constexpr uint8_t TAG_TRUE = 0xC2;
constexpr uint8_t TAG_FALSE = 0xC3;
constexpr uint8_t TAG_REFERENCE = 0xFF;
constexpr uint8_t TAG_TYPE_MASK = 0x3F;
constexpr uint8_t TAG_FORM = 0x40;
constexpr uint8_t TAG_LONG_TYPE = 63;  // the datatype id follows as a varint
constexpr int32_t VARINT_MAX_BYTES = 5;
constexpr int32_t HEADER_VARINT_WINDOW = 20;

// Flags byte of a compact context! record.
constexpr uint8_t CTX_KIND_MASK = 3;
constexpr uint8_t CTX_ON_STACK = 4;
constexpr uint8_t CTX_SELF = 8;
constexpr uint8_t CTX_VALUES = 16;

// Unit codes of string and vector records: 1, 2 or 4 bytes; 3 stands for
// the 8-byte elements of float vectors and is invalid in a string record.
inline uint32_t unit_code(uint32_t unit) {
    return unit == 8 ? 3 : unit == 4 ? 2 : unit == 2 ? 1 : 0;
}
inline uint32_t code_unit(uint32_t code) { return 1u << code; }
constexpr uint32_t STRING_CODE_MAX = 2;

// The element types and sizes a vector record may carry.
inline bool vector_element_q(uint32_t type, uint32_t size) {
    if (type == TYPE_char_ || type == TYPE_integer) return size == 1 || size == 2 || size == 4;
    if (type == TYPE_float_ || type == TYPE_percent) return size == 4 || size == 8;
    return false;
}

// --- plain layout ----------------------------------------------------------
constexpr uint32_t P_NEW_LINE = 1u << 31;
constexpr uint32_t P_SHARED = 1u << 19;
constexpr uint32_t P_TUPLE_SHIFT = 8;  // bits 8-11: tuple length
constexpr uint32_t P_UNIT_SHIFT = 8;  // bits 8-15: unit in bytes
constexpr uint32_t P_WRAPPED_SHIFT = 16;  // bits 16-23: op!'s wrapped type
constexpr uint32_t P_MONEY_NEGATIVE = 1u << 22;
constexpr uint32_t P_BITSET_NEGATED = 1u << 23;
constexpr uint32_t P_HANDLERS = 1u << 24;
constexpr uint32_t P_WORD_GLOBAL = 1u << 25;  // codec form: bound to the global context
constexpr uint32_t P_WORD_DEFINE = 1u << 25;  // boot form: a definition
constexpr uint32_t P_CTX_KIND_SHIFT = 26;
constexpr uint32_t P_CTX_SELF = 1u << 28;
constexpr uint32_t P_CTX_ON_STACK = 1u << 29;
constexpr uint32_t P_CTX_VALUES = 1u << 30;
constexpr uint32_t P_REFERENCE = 255;  // type of a reference record
constexpr int32_t PLAIN_MIN_AFTER_HEADER = 8;

// --- shared limits -------------------------------------------------------------
constexpr int64_t PATH_MAX_LENGTH = 65536;
constexpr int32_t MAX_DEPTH = 1000;  // nesting of records, both ways
constexpr int32_t IMAGE_MAX_SIDE = 65535;
constexpr int32_t TUPLE_MIN = 1;  // as the stream allows; the datatype wants 3
constexpr int32_t TUPLE_MAX = 12;
constexpr int32_t TYPESET_BYTES = 12;
constexpr int32_t MONEY_BYTES = 12;  // the currency byte and 11 bytes of digits
constexpr int32_t MONEY_AT = 4;  // its cell offset: the currency byte, then the digits
constexpr int32_t ACTION_MAX = 62;
// Data of 10 bytes or less is no stream for the codec.
constexpr int64_t CODEC_MIN_SIZE = 11;

// The shape of each type's payload, by datatype id: one table that both
// directions dispatch on.
enum class shape : uint8_t {
    none,  // not representable here (no-codec)
    invalid,  // never a record (id 0, abstract types)
    empty,  // tag only: unset!, none!
    datatype,
    logic,
    integer,
    char_,
    pair,
    raw2,  // point2D!
    raw3,  // point3D!
    real,  // float!, time!, percent!
    date,
    typeset,
    tuple,
    money,
    issue,
    word,
    block,  // the block kinds and hash!
    map,
    string,  // the string kinds
    binary,
    vector,
    bitset,
    image,
    context,
    object,
    function,
    native,  // native!, action!
    op,
    error,
};

inline shape shape_of(uint32_t type) {
    switch (type) {
    case TYPE_unset:
    case TYPE_none: return shape::empty;
    case TYPE_datatype: return shape::datatype;
    case TYPE_logic: return shape::logic;
    case TYPE_integer: return shape::integer;
    case TYPE_char_: return shape::char_;
    case TYPE_pair: return shape::pair;
    case TYPE_point2d: return shape::raw2;
    case TYPE_point3d: return shape::raw3;
    case TYPE_float_:
    case TYPE_time:
    case TYPE_percent: return shape::real;
    case TYPE_date: return shape::date;
    case TYPE_typeset: return shape::typeset;
    case TYPE_tuple: return shape::tuple;
    case TYPE_issue: return shape::issue;
    case TYPE_word:
    case TYPE_set_word:
    case TYPE_lit_word:
    case TYPE_get_word:
    case TYPE_refinement: return shape::word;
    case TYPE_block:
    case TYPE_paren:
    case TYPE_path:
    case TYPE_lit_path:
    case TYPE_set_path:
    case TYPE_get_path:
    case TYPE_hash: return shape::block;
    case TYPE_map: return shape::map;
    case TYPE_string:
    case TYPE_file:
    case TYPE_url:
    case TYPE_tag:
    case TYPE_email:
    case TYPE_ref: return shape::string;
    case TYPE_binary: return shape::binary;
    case TYPE_bitset: return shape::bitset;
    case TYPE_context: return shape::context;
    case TYPE_object: return shape::object;
    case TYPE_function: return shape::function;
    case TYPE_native:
    case TYPE_action: return shape::native;
    case TYPE_op: return shape::op;
    case TYPE_error: return shape::error;
    case TYPE_vector: return shape::vector;
    case TYPE_money: return shape::money;
    // image! records come with the image datatype; until then images are
    // refused like the types below.
    case TYPE_routine:
    case TYPE_triple:
    case TYPE_handle:
    case TYPE_port:
    case TYPE_event:
    case TYPE_image: return shape::none;
    default: return shape::invalid;
    }
}

// --- numbers ---------------------------------------------------------------------
inline uint32_t zigzag(int32_t n) {
    return (static_cast<uint32_t>(n) << 1) ^ static_cast<uint32_t>(n >> 31);
}
inline int32_t unzigzag(uint32_t v) { return static_cast<int32_t>((v >> 1) ^ (0u - (v & 1))); }

inline uint32_t load32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline void store32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

// The short form of float!, time! and percent!: n when the value is
// exactly n (percent!: n / 100), with -0.0 kept long.
inline bool short_real(uint32_t type, double v, int32_t* n) {
    int64_t k;
    if (type == TYPE_percent) {
        if (!(v >= -21474836.0 && v <= 21474836.0)) return false;
        k = v >= 0 ? static_cast<int64_t>(v * 100 + 0.5) : static_cast<int64_t>(v * 100 - 0.5);
        if (static_cast<double>(k) / 100.0 != v) return false;
    } else {
        if (!(v >= -2147483000.0 && v <= 2147483000.0)) return false;
        k = static_cast<int64_t>(v);
        if (static_cast<double>(k) != v) return false;
    }
    if (k == 0 && std::signbit(v)) return false;
    *n = static_cast<int32_t>(k);
    return true;
}
inline double real_of_short(uint32_t type, int32_t n) {
    return type == TYPE_percent ? n / 100.0 : static_cast<double>(n);
}

}  // namespace zuv::zuvbin

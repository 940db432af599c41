#include "codecs/base_n.h"

#include <cstring>

namespace zuv::base_n {

namespace {

constexpr char HEX_DIGITS[] = "0123456789ABCDEF";
constexpr char ALPHABET_58[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
constexpr char ALPHABET_64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Code point classes of the decoders' tables, beside the digit values 0-63.
constexpr int8_t INVALID = -1;
constexpr int8_t SKIP = -2;

struct digit_table_t {
    int8_t value[128];
};

// Base 58 and 64 skip only these blanks; every other control character is invalid there.
constexpr bool skipped_blank(uint32_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\b' || c == '\'';
}

constexpr digit_table_t make_table(const char* alphabet, bool skips_blanks) {
    digit_table_t t{};
    for (int c = 0; c < 128; c++)
        t.value[c] = skips_blanks && skipped_blank(static_cast<uint32_t>(c)) ? SKIP : INVALID;
    for (int i = 0; alphabet[i] != 0; i++)
        t.value[static_cast<uint8_t>(alphabet[i])] = static_cast<int8_t>(i);
    return t;
}

constexpr digit_table_t HEX_TABLE = [] {
    digit_table_t t = make_table(HEX_DIGITS, false);
    for (int i = 10; i < 16; i++) t.value['a' + i - 10] = static_cast<int8_t>(i);
    return t;
}();
constexpr digit_table_t TABLE_58 = make_table(ALPHABET_58, true);
constexpr digit_table_t TABLE_64 = make_table(ALPHABET_64, true);

// Code points of a text in any storage unit (the strings' own layout).
struct text_reader_t {
    const uint8_t* at;
    const uint8_t* end;
    uint32_t unit;

    text_reader_t(const void* text, size_t length, uint32_t unit_)
        : at(static_cast<const uint8_t*>(text)), end(at + length * unit_), unit(unit_) {}

    bool more() const { return at < end; }
    uint32_t next() {
        uint32_t c;
        switch (unit) {
        case 1: c = *at; break;
        case 2: c = static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8; break;
        default: std::memcpy(&c, at, 4); break;
        }
        at += unit;
        return c;
    }
    // After a ";": the comment runs to the end of its line.
    void skip_line() {
        while (more()) {
            uint32_t c = next();
            if (c == '\n' || c == '\r') return;
        }
    }
};

}  // namespace

char* encode_2(const uint8_t* data, size_t n, char* out) {
    for (size_t i = 0; i < n; i++) {
        for (int bit = 7; bit >= 0; bit--) *out++ = static_cast<char>('0' + ((data[i] >> bit) & 1));
    }
    return out;
}

char* encode_16(const uint8_t* data, size_t n, char* out) {
    for (size_t i = 0; i < n; i++) {
        *out++ = HEX_DIGITS[data[i] >> 4];
        *out++ = HEX_DIGITS[data[i] & 15];
    }
    return out;
}

char* encode_58(const uint8_t* data, size_t n, char* out) {
    size_t zeros = 0;
    while (zeros < n && data[zeros] == 0) zeros++;
    // The number is divided in a scratch copy; digits come out least
    // significant first, so they are written from the end of the room.
    std::vector<uint8_t> number(data + zeros, data + n);
    char* room_end = out + encoded_size_58(n);
    char* digits = room_end;
    size_t first = 0;  // leading bytes of number that have become zero
    while (first < number.size()) {
        uint32_t carry = 0;
        for (size_t i = first; i < number.size(); i++) {
            uint32_t current = carry * 256 + number[i];
            number[i] = static_cast<uint8_t>(current / 58);
            carry = current % 58;
        }
        *--digits = ALPHABET_58[carry];
        while (first < number.size() && number[first] == 0) first++;
    }
    size_t digit_count = static_cast<size_t>(room_end - digits);
    std::memset(out, '1', zeros);
    std::memmove(out + zeros, digits, digit_count);
    return out + zeros + digit_count;
}

char* encode_64(const uint8_t* data, size_t n, char* out) {
    size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        uint32_t v = static_cast<uint32_t>(data[i]) << 16 |
                     static_cast<uint32_t>(data[i + 1]) << 8 | data[i + 2];
        *out++ = ALPHABET_64[v >> 18];
        *out++ = ALPHABET_64[(v >> 12) & 63];
        *out++ = ALPHABET_64[(v >> 6) & 63];
        *out++ = ALPHABET_64[v & 63];
    }
    if (n - i == 1) {
        uint32_t v = static_cast<uint32_t>(data[i]) << 16;
        *out++ = ALPHABET_64[v >> 18];
        *out++ = ALPHABET_64[(v >> 12) & 63];
        *out++ = '=';
        *out++ = '=';
    } else if (n - i == 2) {
        uint32_t v = static_cast<uint32_t>(data[i]) << 16 | static_cast<uint32_t>(data[i + 1]) << 8;
        *out++ = ALPHABET_64[v >> 18];
        *out++ = ALPHABET_64[(v >> 12) & 63];
        *out++ = ALPHABET_64[(v >> 6) & 63];
        *out++ = '=';
    }
    return out;
}

namespace {

template <char* (*encode)(const uint8_t*, size_t, char*)>
void append_encoded(const uint8_t* data, size_t n, size_t room, std::string& out) {
    size_t old = out.size();
    out.resize(old + room);
    char* end = encode(data, n, out.data() + old);
    out.resize(static_cast<size_t>(end - out.data()));
}

}  // namespace

void encode_2(const uint8_t* data, size_t n, std::string& out) {
    append_encoded<static_cast<char* (*)(const uint8_t*, size_t, char*)>(encode_2)>(
        data, n, encoded_size_2(n), out);
}
void encode_16(const uint8_t* data, size_t n, std::string& out) {
    append_encoded<static_cast<char* (*)(const uint8_t*, size_t, char*)>(encode_16)>(
        data, n, encoded_size_16(n), out);
}
void encode_58(const uint8_t* data, size_t n, std::string& out) {
    append_encoded<static_cast<char* (*)(const uint8_t*, size_t, char*)>(encode_58)>(
        data, n, encoded_size_58(n), out);
}
void encode_64(const uint8_t* data, size_t n, std::string& out) {
    append_encoded<static_cast<char* (*)(const uint8_t*, size_t, char*)>(encode_64)>(
        data, n, encoded_size_64(n), out);
}

std::optional<bytes_t> decode_2(const void* text, size_t length, uint32_t unit) {
    text_reader_t in(text, length, unit);
    bytes_t out;
    out.reserve(length / 8);
    uint32_t byte = 0;
    int bits = 0;
    while (in.more()) {
        uint32_t c = in.next();
        if (c <= ' ') continue;
        if (c == ';') {
            in.skip_line();
            continue;
        }
        if (c != '0' && c != '1') return std::nullopt;
        byte = byte << 1 | (c - '0');
        if (++bits == 8) {
            out.push_back(static_cast<uint8_t>(byte));
            byte = 0;
            bits = 0;
        }
    }
    if (bits != 0) return std::nullopt;
    return out;
}

std::optional<bytes_t> decode_16(const void* text, size_t length, uint32_t unit) {
    text_reader_t in(text, length, unit);
    bytes_t out;
    out.reserve(length / 2);
    uint32_t high = 0;
    bool have_high = false;
    while (in.more()) {
        uint32_t c = in.next();
        if (c <= ' ') continue;
        if (c == ';') {
            in.skip_line();
            continue;
        }
        // Only ASCII can be a digit: a wider code point must not alias one
        // through its low bits.
        if (c > 127 || HEX_TABLE.value[c] < 0) return std::nullopt;
        uint32_t v = static_cast<uint32_t>(HEX_TABLE.value[c]);
        if (have_high) out.push_back(static_cast<uint8_t>(high << 4 | v));
        else high = v;
        have_high = !have_high;
    }
    return out;  // a final unpaired digit is dropped
}

std::optional<bytes_t> decode_58(const void* text, size_t length, uint32_t unit) {
    text_reader_t in(text, length, unit);
    size_t zeros = 0;
    bool leading = true;
    bytes_t number;  // base 256, most significant first
    while (in.more()) {
        uint32_t c = in.next();
        if (c == ';') {
            in.skip_line();
            continue;
        }
        // A code point above 127 would otherwise end the text silently and
        // turn a damaged text into a shorter number.
        if (c > 127) return std::nullopt;
        int8_t v = TABLE_58.value[c];
        if (v == SKIP) continue;
        if (v == INVALID) return std::nullopt;
        if (leading && v == 0) {
            zeros++;
            continue;
        }
        leading = false;
        uint32_t carry = static_cast<uint32_t>(v);
        for (size_t i = number.size(); i-- > 0;) {
            carry += static_cast<uint32_t>(number[i]) * 58;
            number[i] = static_cast<uint8_t>(carry);
            carry >>= 8;
        }
        if (carry != 0) number.insert(number.begin(), static_cast<uint8_t>(carry));
    }
    bytes_t out(zeros, 0);
    out.insert(out.end(), number.begin(), number.end());
    return out;
}

namespace {

// The digit values of base 64 for every byte: -1 for anything that is not
// a digit (blanks, "=", ";", bytes above 127 included), so that one test of
// four lookups tells whether a group of 1-byte text is four plain digits.
constexpr struct digits_64_t {
    int8_t value[256];
} DIGITS_64 = [] {
    digits_64_t t{};
    for (int c = 0; c < 256; c++)
        t.value[c] = c < 128 && TABLE_64.value[c] >= 0 ? TABLE_64.value[c] : -1;
    return t;
}();

}  // namespace

std::optional<size_t> decode_64(const void* text, size_t length, uint32_t unit, uint8_t* out) {
    text_reader_t in(text, length, unit);
    uint8_t* w = out;
    auto finish = [&]() { return std::optional<size_t>(static_cast<size_t>(w - out)); };
    uint32_t bits = 0;
    int pending = 0;
    while (in.more()) {
        // Text without blanks or comments, the usual kind, goes a group of
        // four digits at a time; anything else takes the careful path below.
        if (unit == 1 && pending == 0) {
            while (in.end - in.at >= 4) {
                int32_t a = DIGITS_64.value[in.at[0]], b = DIGITS_64.value[in.at[1]];
                int32_t c = DIGITS_64.value[in.at[2]], d = DIGITS_64.value[in.at[3]];
                if ((a | b | c | d) < 0) break;
                uint32_t group = static_cast<uint32_t>(a << 18 | b << 12 | c << 6 | d);
                w[0] = static_cast<uint8_t>(group >> 16);
                w[1] = static_cast<uint8_t>(group >> 8);
                w[2] = static_cast<uint8_t>(group);
                w += 3;
                in.at += 4;
            }
            if (!in.more()) break;
        }
        uint32_t c = in.next();
        if (c == ';') {
            in.skip_line();
            continue;
        }
        if (c == '=') {
            // The padding ends the data; it completes only a group that
            // already holds a whole byte.
            if (pending == 3) {
                *w++ = static_cast<uint8_t>(bits >> 10);
                *w++ = static_cast<uint8_t>(bits >> 2);
            } else if (pending == 2) {
                *w++ = static_cast<uint8_t>(bits >> 4);
            } else {
                return std::nullopt;
            }
            return finish();
        }
        if (c > 127) return std::nullopt;
        int8_t v = TABLE_64.value[c];
        if (v == SKIP) continue;
        if (v == INVALID) return std::nullopt;
        bits = bits << 6 | static_cast<uint32_t>(v);
        if (++pending == 4) {
            *w++ = static_cast<uint8_t>(bits >> 16);
            *w++ = static_cast<uint8_t>(bits >> 8);
            *w++ = static_cast<uint8_t>(bits);
            bits = 0;
            pending = 0;
        }
    }
    return finish();  // values pending without "=" are dropped
}

std::optional<bytes_t> decode_64(const void* text, size_t length, uint32_t unit) {
    bytes_t out(decoded_size_64(length));
    std::optional<size_t> n = decode_64(text, length, unit, out.data());
    if (!n) return std::nullopt;
    out.resize(*n);
    return out;
}

}  // namespace zuv::base_n

// Base-2, base-16, base-58 and base-64 text for raw bytes: the work behind
// enbase and debase, the conversion of issue! to binary!, and anything else
// that turns bytes into text and back.
//
// Encoders write into a caller-sized character buffer (encoded_size_N gives
// the room they may need) and return the end of what they wrote; an
// appending form adds to a std::string. They insert no line breaks.
//
// Decoders read text of any unit (1, 2 or 4 bytes per code point,
// little-endian, as strings store it) and give the bytes, or nothing when
// the text is not valid in that base. Blanks (and, for base 58 and 64, the
// apostrophe) are skipped and ";" comments out the rest of its line. A code
// point above 127 is never a digit: it makes the text invalid in every base.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zuv::base_n {

using bytes_t = std::vector<uint8_t>;

// Room an encoder needs for n bytes.
constexpr size_t encoded_size_2(size_t n) { return 8 * n; }
constexpr size_t encoded_size_16(size_t n) { return 2 * n; }
constexpr size_t encoded_size_58(size_t n) { return 2 * n + 1; }
constexpr size_t encoded_size_64(size_t n) { return (n + 2) / 3 * 4; }

// 8 characters "0"/"1" per byte, most significant bit first.
char* encode_2(const uint8_t* data, size_t n, char* out);
// 2 upper-case hexadecimal digits per byte.
char* encode_16(const uint8_t* data, size_t n, char* out);
// Base-58 text, one "1" per leading zero byte.
char* encode_58(const uint8_t* data, size_t n, char* out);
// Standard alphabet, "=" padding to a multiple of 4 characters.
char* encode_64(const uint8_t* data, size_t n, char* out);

void encode_2(const uint8_t* data, size_t n, std::string& out);
void encode_16(const uint8_t* data, size_t n, std::string& out);
void encode_58(const uint8_t* data, size_t n, std::string& out);
void encode_64(const uint8_t* data, size_t n, std::string& out);

// text: length code points of unit bytes each (1, 2 or 4).
std::optional<bytes_t> decode_2(const void* text, size_t length, uint32_t unit);
std::optional<bytes_t> decode_16(const void* text, size_t length, uint32_t unit);
std::optional<bytes_t> decode_58(const void* text, size_t length, uint32_t unit);
std::optional<bytes_t> decode_64(const void* text, size_t length, uint32_t unit);
// Into a caller's buffer of decoded_size_64(length) bytes: the count of
// bytes written, or nothing when the text is not base 64.
constexpr size_t decoded_size_64(size_t length) { return length / 4 * 3 + 3; }
std::optional<size_t> decode_64(const void* text, size_t length, uint32_t unit, uint8_t* out);

// One byte per code point.
inline std::optional<bytes_t> decode_2(std::string_view text) {
    return decode_2(text.data(), text.size(), 1);
}
inline std::optional<bytes_t> decode_16(std::string_view text) {
    return decode_16(text.data(), text.size(), 1);
}
inline std::optional<bytes_t> decode_58(std::string_view text) {
    return decode_58(text.data(), text.size(), 1);
}
inline std::optional<bytes_t> decode_64(std::string_view text) {
    return decode_64(text.data(), text.size(), 1);
}

}  // namespace zuv::base_n

// Colours of the cell screen.
//
// A colour word keeps its kind in the top byte and its value below: kind 0
// is the terminal's default colour, kind 1 a basic colour (index 0-17 of the
// SGR table below), kind 2 an xterm 256-colour index, kind 4 a true colour
// (R in bits 16-23, G 8-15, B 0-7). Faces, fonts and pens are always shown in
// 256 colours; only image pixels use true colour, when the terminal has it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zuv::tui {

namespace colour_kind {
constexpr uint32_t DEFAULT = 0;
constexpr uint32_t BASIC = 1;
constexpr uint32_t INDEXED = 2;
constexpr uint32_t TRUE_COLOUR = 4;
}  // namespace colour_kind

constexpr uint32_t colour_word(uint32_t kind, uint32_t value) {
    return (kind << 24) | (value & 0xFFFFFF);
}
constexpr uint32_t colour_kind_of(uint32_t word) { return word >> 24; }

// A tuple's bytes as one integer, first byte in bits 0-7. Only the first
// four bytes count; fewer than four leave the high bytes 0, so a 3-byte
// tuple is an opaque colour.
uint32_t tuple_rgb(const uint8_t* bytes, size_t count);

// The 256-colour word nearest to rgb (R bits 0-7, G 8-15, B 16-23, alpha
// 24-31): the better of the 6x6x6 cube's colour and the grey ramp's, or the
// default colour when the alpha byte says fully transparent.
uint32_t rgb_to_256(uint32_t rgb);

// Appends the SGR parameters of a colour word ("39", "38;5;196", ...), in
// the foreground or the background form.
void append_colour_code(std::string& out, uint32_t word, bool foreground);

}  // namespace zuv::tui

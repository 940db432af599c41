// Colours of the cell screen: tuples to RGB, RGB to the 256-colour palette,
// colour words to SGR parameters.
#include <gtest/gtest.h>

#include <string>

#include "view/backends/terminal/colour.h"

namespace zuv::tui {
namespace {

TEST(TuiColour, TupleBytesFirstByteLowest) {
    const uint8_t rgb[] = {1, 2, 3};
    const uint8_t rgba[] = {1, 2, 3, 255};
    const uint8_t longer[] = {1, 2, 3, 4, 5};
    EXPECT_EQ(tuple_rgb(rgb, 3), 0x030201u);
    EXPECT_EQ(tuple_rgb(rgba, 4), 0xFF030201u);
    EXPECT_EQ(tuple_rgb(longer, 5), 0x04030201u);
}

TEST(TuiColour, RgbTo256) {
    struct rgb_case {
        uint8_t bytes[4];
        size_t count;
        uint32_t word;
    };
    const rgb_case cases[] = {
        {{0, 0, 0}, 3, colour_word(colour_kind::INDEXED, 16)},
        {{255, 255, 255}, 3, colour_word(colour_kind::INDEXED, 231)},
        {{128, 128, 128}, 3, colour_word(colour_kind::INDEXED, 244)},  // the grey is nearer
        {{255, 0, 0}, 3, colour_word(colour_kind::INDEXED, 196)},
        {{0, 0, 255}, 3, colour_word(colour_kind::INDEXED, 21)},
        {{0, 255, 0}, 3, colour_word(colour_kind::INDEXED, 46)},
        {{0, 48, 115}, 3, colour_word(colour_kind::INDEXED, 24)},  // levels 0, 1, 2 at their edges
        {{47, 48, 114}, 3, colour_word(colour_kind::INDEXED, 238)},  // cube 23 is farther
        {{250, 250, 250}, 3, colour_word(colour_kind::INDEXED, 231)},  // average above 238
        {{240, 240, 240}, 3, colour_word(colour_kind::INDEXED, 255)},
        {{255, 0, 0, 255}, 4, 0},  // fully transparent: the default colour
        {{255, 0, 0, 254}, 4, colour_word(colour_kind::INDEXED, 196)},
    };
    for (const auto& c : cases) {
        uint32_t rgb = tuple_rgb(c.bytes, c.count);
        EXPECT_EQ(rgb_to_256(rgb), c.word) << std::hex << rgb;
    }
}

TEST(TuiColour, ColourCodes) {
    struct code_case {
        uint32_t word;
        const char* fg;
        const char* bg;
    };
    const code_case cases[] = {
        {0, "39", "49"},
        {colour_word(colour_kind::BASIC, 1), "31", "41"},
        {colour_word(colour_kind::BASIC, 8), "0", "0"},
        {colour_word(colour_kind::BASIC, 9), "39", "49"},
        {colour_word(colour_kind::BASIC, 17), "97", "107"},
        {colour_word(colour_kind::BASIC, 18), "0", "0"},
        {colour_word(colour_kind::INDEXED, 196), "38;5;196", "48;5;196"},
        {colour_word(colour_kind::TRUE_COLOUR, 0x0A0B0C), "38;2;10;11;12", "48;2;10;11;12"},
        {colour_word(3, 5), "0", "0"},
    };
    for (const auto& c : cases) {
        std::string fg, bg;
        append_colour_code(fg, c.word, true);
        append_colour_code(bg, c.word, false);
        EXPECT_EQ(fg, c.fg) << std::hex << c.word;
        EXPECT_EQ(bg, c.bg) << std::hex << c.word;
    }
}

}  // namespace
}  // namespace zuv::tui

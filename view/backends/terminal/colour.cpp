#include "view/backends/terminal/colour.h"

namespace zuv::tui {

namespace {

// SGR codes of the basic colours: background, foreground.
constexpr const char* BASIC_CODES[18][2] = {
    {"40", "30"},  {"41", "31"},  {"42", "32"},  {"43", "33"},  {"44", "34"},  {"45", "35"},
    {"46", "36"},  {"47", "37"},  {"0", "0"},    {"49", "39"},  {"100", "90"}, {"101", "91"},
    {"102", "92"}, {"103", "93"}, {"104", "94"}, {"105", "95"}, {"106", "96"}, {"107", "97"},
};

constexpr int CUBE_STEPS[6] = {0, 95, 135, 175, 215, 255};

int cube_level(int c) {
    if (c < 48) return 0;
    if (c <= 114) return 1;
    return (c - 35) / 40;
}

int square(int v) { return v * v; }

}  // namespace

uint32_t tuple_rgb(const uint8_t* bytes, size_t count) {
    uint32_t rgb = 0;
    for (size_t i = 0; i < count && i < 4; ++i) rgb |= static_cast<uint32_t>(bytes[i]) << (8 * i);
    return rgb;
}

uint32_t rgb_to_256(uint32_t rgb) {
    if ((rgb >> 24) == 0xFF) return colour_word(colour_kind::DEFAULT, 0);
    int r = rgb & 0xFF, g = (rgb >> 8) & 0xFF, b = (rgb >> 16) & 0xFF;
    int lr = cube_level(r), lg = cube_level(g), lb = cube_level(b);
    int cube = 16 + 36 * lr + 6 * lg + lb;
    int cube_distance =
        square(CUBE_STEPS[lr] - r) + square(CUBE_STEPS[lg] - g) + square(CUBE_STEPS[lb] - b);
    int average = (r + g + b) / 3;
    int step = average <= 238 ? (average > 3 ? (average - 3) / 10 : 0) : 23;
    int grey_value = 8 + 10 * step;
    int grey_distance = square(grey_value - r) + square(grey_value - g) + square(grey_value - b);
    int index = cube_distance < grey_distance ? cube : 232 + step;
    return colour_word(colour_kind::INDEXED, static_cast<uint32_t>(index));
}

void append_colour_code(std::string& out, uint32_t word, bool foreground) {
    uint32_t value = word & 0xFFFFFF;
    switch (colour_kind_of(word)) {
    case colour_kind::DEFAULT: out += foreground ? "39" : "49"; return;
    case colour_kind::BASIC:
        // Indices beyond the table reset, as an unknown kind does.
        out += value < 18 ? BASIC_CODES[value][foreground ? 1 : 0] : "0";
        return;
    case colour_kind::INDEXED:
        out += foreground ? "38;5;" : "48;5;";
        out += std::to_string(value & 0xFF);
        return;
    case colour_kind::TRUE_COLOUR:
        out += foreground ? "38;2;" : "48;2;";
        out += std::to_string((value >> 16) & 0xFF);
        out += ';';
        out += std::to_string((value >> 8) & 0xFF);
        out += ';';
        out += std::to_string(value & 0xFF);
        return;
    default: out += '0'; return;
    }
}

}  // namespace zuv::tui

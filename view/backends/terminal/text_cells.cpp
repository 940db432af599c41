#include "view/backends/terminal/text_cells.h"

#include <algorithm>
#include <iterator>

#include "runtime/case_folding.h"
#include "view/backends/terminal/colour.h"

namespace zuv::tui {

namespace {

constexpr char32_t LF = U'\n';
constexpr char32_t ESC = 0x1B;
// Parameters beyond any meaningful code stop growing here, so that a long
// run of digits cannot overflow.
constexpr int32_t SGR_PARAM_CAP = 9999;
constexpr int SGR_MAX_PARAMS = 3;

// Characters a terminal draws with the one before them that the runtime's
// width table (marks) gives a column: the format characters (zero-width
// space, non-joiner and joiner, direction marks, embeddings and isolates,
// word joiner and invisible operators, byte order mark, tags) less the
// soft hyphen, the Mongolian vowel separator, and the vowels and final
// consonants of conjoining Hangul. These are the characters the C
// library's wcwidth gives no column and the table one. Sorted.
constexpr struct {
    uint32_t first, last;
} JOINED[] = {
    {0x061C, 0x061C},   {0x1160, 0x11FF},   {0x180E, 0x180E},   {0x200B, 0x200F},
    {0x202A, 0x202E},   {0x2060, 0x2064},   {0x2066, 0x206F},   {0xD7B0, 0xD7C6},
    {0xD7CB, 0xD7FB},   {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x13430, 0x13438},
    {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001}, {0xE0020, 0xE007F},
};

const uint32_t SGR_ATTRS[10] = {
    0,           attr::BOLD, attr::DIM,     attr::ITALIC,  attr::UNDERLINE,
    attr::BLINK, 0,          attr::INVERSE, attr::CONCEAL, attr::STRIKE};

uint32_t basic(int32_t index) {
    return colour_word(colour_kind::BASIC, static_cast<uint32_t>(index));
}

// One character to draw: what the walk reads from plain text or from runs.
struct glyph_t {
    uint32_t cp, fg, bg, attrs;
};

// Puts one character into the grid. A narrow character over a wide one
// clears the wide one's tail; anything over a tail clears the character it
// belonged to, so no half of a wide character stays behind. Laid over,
// a character with no background of its own keeps the cell's.
void put(screen_t& grid, int32_t col, int32_t row, glyph_t g, int width, bool over) {
    tui_cell_t* cell = grid.at(col, row);
    if (cell == nullptr) return;
    if (over && g.bg == 0) g.bg = cell->bg;
    if (cell->attrs & attr::WIDE_TAIL) {
        if (tui_cell_t* head = grid.at(col - 1, row)) *head = tui_cell_t{0, head->bg, 0, 0};
    }
    tui_cell_t* next = grid.at(col + 1, row);
    if (next != nullptr && (next->attrs & attr::WIDE_TAIL) && width < 2)
        *next = tui_cell_t{0, next->bg, 0, 0};
    *cell = tui_cell_t{static_cast<int32_t>(g.cp), g.bg, g.fg,
                       g.attrs & ~(attr::WIDE_TAIL | attr::MARKS)};
    if (width == 2 && next != nullptr) {
        tui_cell_t* after = grid.at(col + 2, row);
        if (after != nullptr && (after->attrs & attr::WIDE_TAIL))
            *after = tui_cell_t{0, after->bg, 0, 0};
        *next = tui_cell_t{0, g.bg, g.fg, (g.attrs & ~attr::MARKS) | attr::WIDE_TAIL};
    }
}

// The drawing walk over any source of glyphs: source(i, state, glyph)
// fills the glyph at i and answers the index after it.
template <typename Source>
void draw_walk(screen_t& grid, size_t length, Source&& source, int32_t x, int32_t y,
               const clip_box_t& clip, const text_style_t& style) {
    if (style.flags & draw_flag::NO_TEXT) return;
    bool wrap = (style.para & para_bit::WRAP) != 0;
    bool over = (style.flags & draw_flag::OVER) != 0;
    int32_t col = x, row = y;
    // The cell of the character just drawn, which takes the zero-width
    // characters after it; -1 when that character was not drawn.
    int32_t base_col = -1, base_row = -1;
    size_t i = 0;
    while (i < length && row < clip.y2) {
        glyph_t g{};
        size_t next = source(i, g);
        if (next == i) break;  // guards against a source that does not move
        i = next;
        if (g.cp == 0xFFFFFFFF) continue;  // an escape sequence, consumed
        if (g.cp == LF) {
            col = x;
            ++row;
            base_col = -1;
            continue;
        }
        // A masked text shows one "*" per character, whatever its width.
        int w = (g.attrs & attr::MASKED) ? 1 : char_width(g.cp);
        if (w == 0) {
            if (base_col >= 0) grid.add_mark(base_col, base_row, g.cp);
            continue;
        }
        base_col = -1;
        if (col + w > clip.x2) {
            if (!wrap) {
                // The rest of the line is out of the box.
                while (i < length) {
                    glyph_t skip{};
                    size_t after = source(i, skip);
                    if (after == i) return;
                    i = after;
                    if (skip.cp == LF) break;
                }
                col = x;
                ++row;
                continue;
            }
            col = x;
            ++row;
            if (row >= clip.y2) break;
            if (col + w > clip.x2) return;  // wider than the box itself
        }
        if (row >= clip.y1 && col >= clip.x1) {
            put(grid, col, row, g, w, over);
            base_col = col;
            base_row = row;
        }
        col += w;
    }
}

}  // namespace

int32_t char_width(uint32_t cp) {
    if (cp >= JOINED[0].first && cp <= JOINED[std::size(JOINED) - 1].last) {
        for (const auto& range : JOINED) {
            if (cp < range.first) break;
            if (cp <= range.last) return 0;
        }
    }
    return terminal::char_width(cp);
}

text_measure_t text_columns(std::u32string_view text, int32_t max_width) {
    text_measure_t m{0, 0, 1};
    int32_t current = 0, last_width = 0;
    size_t i = 0;
    while (i < text.size()) {
        char32_t c = text[i++];
        if (c == LF) {
            ++m.lines;
            current = 0;
            continue;
        }
        last_width = char_width(c);
        current += last_width;
        m.widest = std::max(m.widest, current);
        if (current >= max_width) break;
    }
    m.count = static_cast<int32_t>(i);
    if (m.widest > max_width) {
        m.widest -= last_width;
        --m.count;
    }
    return m;
}

text_measure_t wrap_columns(std::u32string_view text, int32_t wrap_width) {
    int32_t limit = wrap_width > 0 ? wrap_width : NO_LIMIT;
    text_measure_t m{0, 0, 1};
    int32_t current = 0;
    size_t i = 0;
    for (; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c == LF) {
            ++m.lines;
            current = 0;
            continue;
        }
        int32_t w = char_width(c);
        if (w > limit) break;
        if (current + w > limit) {
            ++m.lines;
            current = 0;
        }
        current += w;
        m.widest = std::max(m.widest, current);
    }
    m.count = static_cast<int32_t>(i);
    return m;
}

offset_t align_text(std::u32string_view text, int32_t w, int32_t h, uint32_t para) {
    text_measure_t m =
        (para & para_bit::WRAP) ? wrap_columns(text, w) : text_columns(text, NO_LIMIT);
    offset_t off{0, 0};
    if (m.widest < w) {
        if (para & para_bit::CENTER) off.x = (w - m.widest) / 2;
        else if (para & para_bit::RIGHT) off.x = w - m.widest;
    }
    if (m.lines < h) {
        if (para & para_bit::MIDDLE) off.y = (h - m.lines) / 2;
        else if (para & para_bit::BOTTOM) off.y = h - m.lines;
    }
    return off;
}

clip_box_t clip_box(int32_t x, int32_t y, int32_t w, int32_t h, const clip_box_t* parent,
                    const screen_t& grid) {
    clip_box_t box{x, y, x + w, y + h};
    if (parent != nullptr) {
        box.x1 = std::max(box.x1, parent->x1);
        box.y1 = std::max(box.y1, parent->y1);
        box.x2 = std::min(box.x2, parent->x2);
        box.y2 = std::min(box.y2, parent->y2);
    }
    box.x2 = std::min(box.x2, grid.width());
    box.y2 = std::min(box.y2, grid.height());
    box.x1 = std::max(box.x1, 0);
    box.y1 = std::max(box.y1, 0);
    return box;
}

void fill_box(screen_t& grid, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t bg) {
    int32_t x1 = std::max(x, 0), y1 = std::max(y, 0);
    int32_t x2 = std::min(x + w, grid.width()), y2 = std::min(y + h, grid.height());
    for (int32_t r = y1; r < y2; ++r)
        for (int32_t c = x1; c < x2; ++c) *grid.at(c, r) = tui_cell_t{0, bg, 0, 0};
}

void sgr_apply(int32_t code, sgr_state_t& state, const sgr_state_t& base) {
    if (code == 0) {
        state = base;
    } else if (code >= 1 && code <= 9) {
        state.attrs |= SGR_ATTRS[code];
    } else if (code >= 21 && code <= 29) {
        state.attrs &= ~SGR_ATTRS[code - 20];
    } else if ((code >= 30 && code <= 37) || code == 39) {
        state.fg = basic(code - 30);
    } else if ((code >= 40 && code <= 47) || code == 49) {
        state.bg = basic(code - 40);
    } else if (code >= 90 && code <= 97) {
        state.fg = basic(code - 80);
    } else if (code >= 100 && code <= 107) {
        state.bg = basic(code - 90);
    }
}

// An extended colour (38 or 48) takes the parameters after it as its own,
// so "38;5;1" does not turn bold on through its 1.
size_t parse_sgr(std::u32string_view text, size_t at, sgr_state_t& state, const sgr_state_t& base) {
    size_t i = at + 1;
    if (i >= text.size() || text[i] != U'[') return at;
    ++i;
    int32_t params[SGR_MAX_PARAMS];
    int count = 0;
    bool digits = false;
    int32_t value = 0;
    for (;; ++i) {
        if (i >= text.size()) return at;
        char32_t c = text[i];
        if (c >= U'0' && c <= U'9') {
            value = std::min(value * 10 + static_cast<int32_t>(c - U'0'), SGR_PARAM_CAP);
            digits = true;
            continue;
        }
        if (c == U';') {
            if (count == SGR_MAX_PARAMS - 1) return at;
            params[count++] = value;
            value = 0;
            digits = false;
            continue;
        }
        if (digits || count > 0) params[count++] = value;
        switch (c) {
        case U'm':
            if (count == 0) params[count++] = 0;  // "ESC[m" is a reset
            for (int k = 0; k < count; ++k) {
                if (params[k] == 38 || params[k] == 48) break;
                sgr_apply(params[k], state, base);
            }
            return i + 1;
        case U'A':
        case U'B':
        case U'C':
        case U'D':
        case U'J':
        case U'K':
        case U'H':
        case U'f': return i + 1;
        default: return at;
        }
    }
}

void draw_text(screen_t& grid, std::u32string_view text, int32_t x, int32_t y,
               const clip_box_t& clip, const text_style_t& style) {
    uint32_t own = style.flags & (draw_flag::DIM | draw_flag::INVERSE | draw_flag::MASKED);
    sgr_state_t base{style.fg, style.bg, own};
    sgr_state_t state = base;
    bool sgr = (style.flags & draw_flag::SGR) != 0;
    auto source = [&](size_t i, glyph_t& g) -> size_t {
        if (sgr && text[i] == ESC) {
            size_t after = parse_sgr(text, i, state, base);
            if (after != i) {
                g.cp = 0xFFFFFFFF;
                return after;
            }
        }
        g = glyph_t{static_cast<uint32_t>(text[i]), state.fg, state.bg, state.attrs};
        return i + 1;
    };
    draw_walk(grid, text.size(), source, x, y, clip, style);
}

void draw_runs(screen_t& grid, const tui_cell_t* runs, int32_t count, int32_t x, int32_t y,
               const clip_box_t& clip, const text_style_t& style) {
    uint32_t own = style.flags & (draw_flag::DIM | draw_flag::INVERSE | draw_flag::MASKED);
    auto source = [&](size_t i, glyph_t& g) -> size_t {
        const tui_cell_t& run = runs[i];
        g = glyph_t{static_cast<uint32_t>(run.code), run.fg != 0 ? run.fg : style.fg,
                    run.bg != 0 ? run.bg : style.bg, own | run.attrs};
        return i + 1;
    };
    draw_walk(grid, count > 0 ? static_cast<size_t>(count) : 0, source, x, y, clip, style);
}

}  // namespace zuv::tui

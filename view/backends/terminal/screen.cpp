#include "view/backends/terminal/screen.h"

#include <algorithm>

#include "view/backends/terminal/colour.h"

namespace zuv::tui {

namespace {

constexpr char32_t ZWJ = 0x200D;

void csi(std::string& out, const char* tail) {
    out += "\x1b[";
    out += tail;
}

void csi_n(std::string& out, int32_t n, char final) {
    out += "\x1b[";
    out += std::to_string(n);
    out += final;
}

bool has(uint32_t attrs, uint32_t bit) { return (attrs & bit) != 0; }

// The sequences that turn the running state into the cell's. "22m" ends
// bold and dim together, so whichever of the two the new state keeps is
// sent again after it.
void append_changes(std::string& out, const tui_cell_t& from, const tui_cell_t& to) {
    uint32_t a = from.attrs, b = to.attrs;
    bool normal_sent = false;
    if (has(a, attr::DIM) && !has(b, attr::DIM)) {
        csi(out, "22m");
        normal_sent = true;
    } else if (has(b, attr::DIM) && !has(a, attr::DIM)) {
        csi(out, "2m");
    }
    if (has(a, attr::INVERSE) != has(b, attr::INVERSE))
        csi(out, has(b, attr::INVERSE) ? "7m" : "27m");
    if (has(a, attr::BOLD) && !has(b, attr::BOLD)) {
        if (!normal_sent) {
            csi(out, "22m");
            normal_sent = true;
            if (has(b, attr::DIM)) csi(out, "2m");
        }
    } else if (has(b, attr::BOLD) && (!has(a, attr::BOLD) || normal_sent)) {
        csi(out, "1m");
    }
    if (has(a, attr::ITALIC) != has(b, attr::ITALIC)) csi(out, has(b, attr::ITALIC) ? "3m" : "23m");
    if (has(a, attr::STRIKE) != has(b, attr::STRIKE)) csi(out, has(b, attr::STRIKE) ? "9m" : "29m");
    if (has(a, attr::UNDERLINE) != has(b, attr::UNDERLINE))
        csi(out, has(b, attr::UNDERLINE) ? "4m" : "24m");
    if (from.fg != to.fg) {
        out += "\x1b[";
        append_colour_code(out, to.fg, true);
        out += 'm';
    }
    if (from.bg != to.bg) {
        out += "\x1b[";
        append_colour_code(out, to.bg, false);
        out += 'm';
    }
}

// Control characters in a cell would reach the terminal as commands: they
// are shown as their pictures (C0, DEL) or as U+FFFD (C1).
void append_shown(std::string& out, uint32_t cp) {
    if (cp < 0x20) cp += 0x2400;
    else if (cp == 0x7F) cp = 0x2421;
    else if (cp >= 0x80 && cp <= 0x9F) cp = 0xFFFD;
    append_utf8(out, cp);
}

// Rows of an earlier, taller area below the new one: erased one by one
// and the cursor brought back. Only rows the terminal has below the area
// are visited: a move down stops at the bottom, where the erase would hit
// the area's own last row.
void erase_below(std::string& out, int32_t rows) {
    if (rows <= 0) return;
    for (int32_t i = 0; i < rows; ++i) csi(out, "1B\x1b[2K");
    csi_n(out, rows, 'A');
}

}  // namespace

void append_utf8(std::string& out, uint32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void screen_t::size_to(int32_t w, int32_t h) {
    width_ = std::clamp(w, 0, std::max(term_width, 0));
    height_ = std::clamp(h, 0, std::max(term_height, 0));
    size_t need = static_cast<size_t>(width_) * static_cast<size_t>(height_);
    if (need > cells_.size()) cells_.resize(need);
    clear();
}

void screen_t::clear() {
    std::fill(cells_.begin(), cells_.end(), tui_cell_t{0, 0, 0, 0});
    marks_.clear();
}

void screen_t::add_mark(int32_t x, int32_t y, uint32_t cp) {
    tui_cell_t* cell = at(x, y);
    if (cell == nullptr) return;
    std::u32string& marks = marks_[static_cast<size_t>(y) * width_ + x];
    if (!(cell->attrs & attr::MARKS)) {
        marks.clear();
        cell->attrs |= attr::MARKS;
    }
    if (marks.size() < MAX_MARKS) marks += static_cast<char32_t>(cp);
}

std::u32string_view screen_t::marks_of(int32_t x, int32_t y) const {
    const tui_cell_t* cell = at(x, y);
    if (cell == nullptr || !(cell->attrs & attr::MARKS)) return {};
    auto found = marks_.find(static_cast<size_t>(y) * width_ + x);
    return found == marks_.end() ? std::u32string_view() : std::u32string_view(found->second);
}

tui_cell_t* screen_t::at(int32_t x, int32_t y) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return nullptr;
    return &cells_[static_cast<size_t>(y) * width_ + x];
}

const tui_cell_t* screen_t::at(int32_t x, int32_t y) const {
    return const_cast<screen_t*>(this)->at(x, y);
}

void screen_t::place_inline(int32_t height) {
    if (fullscreen) {
        origin_row = 0;
        return;
    }
    if (origin_row + height > term_height) origin_row = std::max(term_height - height, 0);
}

void screen_t::erase_into(std::string& out) {
    out += '\r';
    if (cursor_row > 0) csi_n(out, cursor_row, 'A');
    csi(out, "2K");
    int32_t rows = drawn ? std::min(written_rows, std::max(term_height - origin_row, 1)) : 1;
    erase_below(out, rows - 1);
    cursor_row = 0;
}

void screen_t::write_into(std::string& out) {
    if (width_ < 1 || height_ < 1) return;
    int32_t stale = 0;
    if (fullscreen) {
        csi(out, "H");
    } else {
        out += '\r';
        if (cursor_row > 0) csi_n(out, cursor_row, 'A');
        if (drawn) stale = std::min(written_rows, term_height - origin_row) - height_;
    }
    tui_cell_t running{0, 0, 0, 0};
    for (int32_t y = 0; y < height_; ++y) {
        if (!fullscreen) csi(out, "2K");
        const tui_cell_t* row = &cells_[static_cast<size_t>(y) * width_];
        // A terminal may give a character and the zero-width ones after it
        // other columns than the grid does: a variation selector may ask
        // for a wide emoji, and a joiner (U+200D) may take the character
        // after it into the same place, as one emoji. The cell after either
        // is placed by its column, so the rest of the row stays where the
        // grid has it.
        bool place_next = false, joins_next = false;
        for (int32_t x = 0; x < width_; ++x) {
            const tui_cell_t& cell = row[x];
            if (has(cell.attrs, attr::WIDE_TAIL)) continue;
            if (place_next) csi_n(out, x + 1, 'G');
            place_next = joins_next;
            joins_next = false;
            append_changes(out, running, cell);
            running = cell;
            if (has(cell.attrs, attr::MASKED)) {
                out += '*';
                continue;
            }
            if (cell.code == 0) out += ' ';
            else append_shown(out, static_cast<uint32_t>(cell.code));
            std::u32string_view marks = marks_of(x, y);
            for (char32_t mark : marks) append_shown(out, mark);
            if (!marks.empty()) {
                place_next = true;
                joins_next = marks.back() == ZWJ;
            }
        }
        if (y + 1 < height_) {
            running.bg = 0;
            csi(out, "49m\r\n");
        }
    }
    append_changes(out, running, tui_cell_t{0, 0, 0, 0});
    erase_below(out, stale);
    written_rows = height_;
    if (caret_shown && (caret_col >= 0 || caret_row >= 0)) {
        out += '\r';
        if (height_ - caret_row - 1 > 0) csi_n(out, height_ - caret_row - 1, 'A');
        if (caret_col > 0) csi_n(out, caret_col, 'C');
        cursor_row = caret_row;
    } else {
        cursor_row = height_ - 1;
    }
}

}  // namespace zuv::tui

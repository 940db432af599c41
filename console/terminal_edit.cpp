// The line editor's core (see terminal_edit.h).
#include "console/terminal_edit.h"

#include "console/terminal_keys.h"
#include "runtime/case_folding.h"
#include "runtime/unicode.h"

namespace zuv::terminal {
namespace {

constexpr char32_t ESC = 27;

bool control_q(char32_t c) { return c < 0x20 || (c >= 0x7F && c < 0xA0); }

void append_utf8(std::string& out, char32_t c) {
    uint8_t bytes[4];
    out.append(reinterpret_cast<const char*>(bytes),
               static_cast<size_t>(unicode::cp_to_utf8(static_cast<uint32_t>(c), bytes)));
}

// A cursor move of n rows or columns: "ESC [ n X".
void csi(std::string& out, int32_t n, char final) {
    out += "\x1b[";
    if (n != 1) out += std::to_string(n);
    out += final;
}

}  // namespace

int32_t cell_width(char32_t c) {
    if (c == '\t') return 4;
    if (c >= 0x1F300 && c <= 0x1F5FF) return 2;
    if (control_q(c)) return 1;
    return char_width(c);
}

bool history_takes_q(history_t& history, const std::u32string& line, bool hidden) {
    if (hidden || line.empty()) return false;
    return history.count() == 0 || history.entry(0) != line;
}

void line_editor::begin(const std::u32string& prompt, bool hide, int32_t columns,
                        int32_t start_column, history_t* history) {
    prompt_ = prompt;
    hide_ = hide;
    columns_ = columns > 0 ? columns : 80;
    start_ = start_column > 0 && start_column < columns_ ? start_column : 0;
    term_ = start_;
    history_ = history;
    index_ = -1;
    count_ = history != nullptr ? history->count() : 0;
    result_head_ = 0;
    quit_key = false;
    first_refresh_ = true;
    full_redraw_ = true;
    owed_ = false;
    defer = false;
    pending_wrap_ = false;
    if (!saved_line.empty()) {
        line = saved_line;
        cursor = saved_cursor;
    }
    if (cursor < 0 || cursor > static_cast<int32_t>(line.size()))
        cursor = static_cast<int32_t>(line.size());
    refresh();
}

void line_editor::emit_char(char32_t c, bool hidden) {
    if (hidden) {
        out += '*';
    } else if (c == '\t') {
        out += "    ";
    } else if (control_q(c)) {
        out += '?';
    } else {
        append_utf8(out, c);
    }
}

int32_t line_editor::emit(const std::u32string& s, size_t from, size_t to, int32_t off, bool draw,
                          bool hidden, bool line_part) {
    const int32_t cols = columns_;
    for (size_t i = from; i < to; ++i) {
        char32_t c = s[i];
        if (line_part) offsets_[i] = off;
        if (c == ESC && !hidden) {
            // The sequence goes to the terminal as it is and takes no cell.
            if (draw) out += '\x1b';
            if (i + 1 < to && (s[i + 1] == '[' || s[i + 1] == '(')) {
                size_t j = i + 1;
                auto take = [&](size_t k) {
                    if (line_part) offsets_[k] = off;
                    if (draw) append_utf8(out, s[k]);
                };
                take(j++);
                while (j < to && ((s[j] >= '0' && s[j] <= '9') || s[j] == ';')) take(j++);
                if (j < to) take(j++);
                i = j - 1;
            }
            continue;
        }
        if (c == '\n' && !hidden) {
            if (draw) out += "\r\n";
            // After a full row the terminal's cursor already waits at its end.
            if (!pending_wrap_) off = (off / cols + 1) * cols;
            pending_wrap_ = false;
            continue;
        }
        int32_t w = hidden ? 1 : cell_width(c);
        if (draw) emit_char(c, hidden);
        if (w == 2 && off % cols == cols - 1) {
            off += 3;  // the last cell stays blank; the character starts the next row
        } else {
            off += w;
        }
        if (w > 0) pending_wrap_ = off % cols == 0;
    }
    return off;
}

int32_t line_editor::display_offset(int32_t index) const {
    int32_t o = offsets_.empty() ? start_ : offsets_[static_cast<size_t>(index)];
    // A wide character that cannot start in the last column is drawn on the
    // next row; the cursor stands on it there.
    if (index < static_cast<int32_t>(line.size()) && !hide_ &&
        cell_width(line[static_cast<size_t>(index)]) == 2 && o % columns_ == columns_ - 1)
        return o + 1;
    return o;
}

void line_editor::move_to(int32_t target) {
    if (target == term_) return;
    int32_t r0 = term_ / columns_, c0 = term_ % columns_;
    int32_t r1 = target / columns_, c1 = target % columns_;
    if (r1 < r0) csi(out, r0 - r1, 'A');
    if (r1 > r0) csi(out, r1 - r0, 'B');
    if (c1 > c0) {
        csi(out, c1 - c0, 'C');
    } else if (c1 < c0) {
        if (c1 == 0) {
            out += '\r';
        } else {
            csi(out, c0 - c1, 'D');
        }
    }
    term_ = target;
}

void line_editor::redraw() {
    pending_wrap_ = false;
    int32_t off = emit(prompt_, 0, prompt_.size(), start_, true, false, false);
    offsets_.assign(line.size() + 1, 0);
    off = emit(line, 0, line.size(), off, true, hide_, true);
    offsets_[line.size()] = off;
    term_ = off;
    if (pending_wrap_) {
        // Take the cursor to the next row, so that it is where the offset says.
        out += "\r\n";
        pending_wrap_ = false;
    }
}

void line_editor::refresh() {
    if (first_refresh_) {
        first_refresh_ = false;
        redraw();
    } else if (full_redraw_ || owed_) {
        if (defer) {
            // The terminal's cursor stays where the screen has it.
            owed_ = true;
            return;
        }
        owed_ = false;
        move_to(start_);
        clear_below();
        redraw();
    }
    move_to(display_offset(cursor));
}

void line_editor::settle() {
    defer = false;
    if (owed_) refresh();
}

void line_editor::set_columns(int32_t columns) {
    // A line owed is drawn at the width it was edited at, as it would have
    // been before the change.
    settle();
    columns_ = columns > 0 ? columns : 80;
    if (start_ >= columns_) start_ = 0;
    // The terminal rewraps the text its own way; the offsets follow the new
    // width, and the next edit that is not at the end redraws the whole line.
    pending_wrap_ = false;
    offsets_.assign(line.size() + 1, 0);
    int32_t prompt_end = emit(prompt_, 0, prompt_.size(), start_, false, false, false);
    offsets_[line.size()] = emit(line, 0, line.size(), prompt_end, false, hide_, true);
    pending_wrap_ = false;
    term_ = display_offset(cursor);
}

void line_editor::insert(char32_t c) {
    size_t n = line.size();
    if (static_cast<size_t>(cursor) == n && !owed_) {
        // At the end: only the new character goes out.
        int32_t off = offsets_.back();
        move_to(off);
        line.push_back(c);
        pending_wrap_ = false;
        int32_t end = emit(line, n, n + 1, off, true, hide_, false);
        offsets_.push_back(end);
        term_ = end;
        if (pending_wrap_) {
            out += "\r\n";
            pending_wrap_ = false;
        }
        full_redraw_ = false;
    } else {
        line.insert(static_cast<size_t>(cursor), 1, c);
    }
    cursor++;
    refresh();
}

void line_editor::fetch_history(int32_t index) {
    line = history_->entry(index);
    cursor = static_cast<int32_t>(line.size());
}

int32_t line_editor::complete_line() {
    completion_t answer = complete(line, cursor);
    size_t n = answer.size();
    if (n == 0) return 0;
    auto clamp = [](const std::u32string& s, int32_t at) {
        return at < 0 || at > static_cast<int32_t>(s.size()) ? static_cast<int32_t>(s.size()) : at;
    };
    if (n == 1) {
        line = answer[0].first;
        cursor = clamp(line, answer[0].second);
        refresh();
        return 1;
    }
    // The candidates take the line's place on the screen; the next read
    // starts from the line with their common part. They are drawn now: the
    // read ends with them.
    saved_line = answer[0].first;
    saved_cursor = clamp(saved_line, answer[0].second);
    line.clear();
    for (size_t i = 1; i < n; ++i) {
        line += answer[i].first;
        line += U' ';
    }
    cursor = static_cast<int32_t>(line.size());
    defer = false;
    refresh();
    line.clear();
    cursor = 0;
    finish(0);
    return static_cast<int32_t>(n);
}

void line_editor::finish(int32_t head) {
    result_head_ = head;
    // The cursor goes to the row after the text.
    int32_t end = end_offset();
    if (end > start_ && end % columns_ == 0) {
        move_to(end);
    } else {
        move_to(end - end % columns_);
        out += "\r\n";
    }
    term_ = 0;
}

bool line_editor::key(int32_t k) {
    full_redraw_ = true;
    const int32_t length = static_cast<int32_t>(line.size());
    // A key that ends the read finds the line on the screen: the end of the
    // read is placed by its offsets, and the line it answers ("q" for
    // Ctrl-C) is never drawn.
    if (k == KEY_ENTER || k == KEY_ESCAPE || k == 3 || (k == 4 && length == 0)) settle();
    if (k == KEY_TAB && complete != nullptr) {
        int32_t n = complete_line();
        if (n > 1) return false;  // the candidates are listed: the read ends with an empty line
        if (n == 1) return true;
    }
    switch (k) {
    case KEY_ENTER:
        cursor = 0;
        if (history_ != nullptr && history_takes_q(*history_, line, hide_)) history_->add(line);
        saved_line.clear();
        finish(0);
        return false;
    case KEY_BACKSPACE:
    case KEY_DEL_CHAR:
        if (cursor > 0) {
            cursor--;
            line.erase(static_cast<size_t>(cursor), 1);
            bool at_end = cursor == length - 1 && !owed_;
            if (at_end) {
                full_redraw_ = false;
                offsets_.pop_back();
            }
            refresh();
            if (at_end) clear_below();
        }
        return true;
    case KEY_LEFT:
    case 2:  // Ctrl-B
        if (cursor > 0) {
            cursor--;
            full_redraw_ = false;
            refresh();
        }
        return true;
    case KEY_RIGHT:
    case 6:  // Ctrl-F
        if (cursor < length) {
            cursor++;
            full_redraw_ = false;
            refresh();
        }
        return true;
    case KEY_UP:
    case 16:  // Ctrl-P
        if (index_ < count_ - 1) {
            fetch_history(++index_);
        } else {
            line.clear();
            cursor = 0;
        }
        refresh();
        return true;
    case KEY_DOWN:
    case 14:  // Ctrl-N
        if (index_ > 0) {
            fetch_history(--index_);
        } else {
            index_ = -1;
            line.clear();
            cursor = 0;
        }
        refresh();
        return true;
    case KEY_HOME:
    case 1:  // Ctrl-A
        cursor = 0;
        full_redraw_ = false;
        refresh();
        return true;
    case KEY_END:
    case 5:  // Ctrl-E
        cursor = length;
        full_redraw_ = false;
        refresh();
        return true;
    case KEY_DELETE:
        if (cursor < length) {
            line.erase(static_cast<size_t>(cursor), 1);
            refresh();
        }
        return true;
    case 11:  // Ctrl-K
        if (cursor < length) {
            line.erase(static_cast<size_t>(cursor));
            refresh();
        }
        return true;
    case 4:  // Ctrl-D
        if (cursor < length) {
            line.erase(static_cast<size_t>(cursor), 1);
            refresh();
            return true;
        }
        if (length != 0) return true;
        line = U"q";
        quit_key = true;
        finish(0);
        return false;
    case 3:  // Ctrl-C
        line = U"q";
        quit_key = true;
        finish(0);
        return false;
    case KEY_ESCAPE: {
        saved_line.clear();
        int32_t at = cursor;
        line.push_back(ESC);
        finish(at);
        return false;
    }
    default:
        if (k >= 32 || k == KEY_TAB) insert(static_cast<char32_t>(k));
        return true;
    }
}

}  // namespace zuv::terminal

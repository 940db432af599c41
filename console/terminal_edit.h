// The line editor's core: one line edited key by key, and its display.
//
// The editor works on a C++ copy of the line and writes what the terminal
// must show into `out` (UTF-8 text and ANSI escape sequences); the terminal
// module feeds it keys and writes `out`. Nothing here touches a terminal, so
// the tests drive it with keys and read `out`.
//
// Display: the prompt is drawn where the terminal's cursor stands (column
// start_column); positions are counted in cells from column 0 of that row,
// row by row (offset = row x columns + column). Every move of the terminal's
// cursor is relative to where the editor last left it, so a screen that
// scrolls while the line grows needs no bookkeeping. A tab shows as four
// blanks, an escape sequence (Esc, "[" or "(", digits and ";", a final
// character) takes no cell, a wide character two (when it would start in the
// last column it starts the next row, as terminals draw it), a zero-width
// one none. Other control characters show as "?" so that they cannot move
// the terminal's cursor behind the editor's back; a line feed in the prompt
// starts a new row. Hidden input shows one "*" per character.
//
// Typing at the end of the line writes the new character only; cursor moves
// and Backspace at the end only move the cursor (and blank what follows);
// every other edit redraws prompt and line in one piece of output. The cell
// offset of every character is kept from one key to the next, so the cheap
// paths cost no measuring of the line. While more keys are waiting (a paste)
// an edit that would redraw leaves the screen as it is, and the line is
// drawn once when they are all in: a paste into the middle of a line costs
// one redraw, not one per character.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "console/terminal.h"

namespace zuv::terminal {

// The history browsed by a read, newest entry first.
class history_t {
public:
    virtual int32_t count() = 0;
    // The text of an entry (0 the newest); empty for an entry that is no string.
    virtual std::u32string entry(int32_t index) = 0;
    // Inserts the line as the newest entry.
    virtual void add(const std::u32string& line) = 0;

protected:
    ~history_t() = default;
};

// Whether Enter adds the line to the history: never a hidden or empty line,
// nor one equal (case-sensitively) to the newest entry.
bool history_takes_q(history_t& history, const std::u32string& line, bool hidden);

// The cells a character takes on the terminal (tab 4, wide 2, zero-width 0).
int32_t cell_width(char32_t c);

class line_editor {
public:
    // The line and its cursor (in characters). Set them before begin to edit
    // a line that is not empty.
    std::u32string line;
    int32_t cursor = 0;
    // A line with its cursor kept for the next read (after a completion
    // listing); emptied by Enter and Esc.
    std::u32string saved_line;
    int32_t saved_cursor = 0;
    // Terminal output gathered since the caller last took it.
    std::string out;
    // The Tab completion (nullptr: Tab is an ordinary character).
    complete_hook_t complete = nullptr;
    // Set by the caller before a key when more keys are already waiting:
    // edits that would redraw the line only note that it is owed.
    bool defer = false;
    // The read was ended by Ctrl-C, or Ctrl-D on an empty line (the line is
    // then "q").
    bool quit_key = false;

    // Starts a read: draws the prompt and the line (or the saved line). The
    // terminal's cursor stands at start_column of its row.
    void begin(const std::u32string& prompt, bool hide, int32_t columns, int32_t start_column,
               history_t* history);

    // Acts on one key; answers false when the read has ended. The line is
    // then the answer (see _read_input) and out ends with the line end.
    bool key(int32_t key);

    // After the read: where the line's head goes (the cursor after Esc, else 0).
    int32_t result_head() const { return result_head_; }

    // The waiting keys are in: draws the line if deferred edits left it
    // owing, and ends deferring.
    void settle();

    // The window width changed (SIGWINCH); used from the next redraw on.
    void set_columns(int32_t columns);

    // Offsets, for the tests: where the cursor and the end of the line are.
    int32_t cursor_offset() const { return display_offset(cursor); }
    int32_t end_offset() const { return offsets_.empty() ? start_ : offsets_.back(); }

private:
    void refresh();
    void redraw();
    void insert(char32_t c);
    void fetch_history(int32_t index);
    // Asks the completion; answers how many strings it gave.
    int32_t complete_line();
    void finish(int32_t head);
    void move_to(int32_t offset);
    void clear_below() { out += "\x1b[J"; }
    int32_t display_offset(int32_t index) const;
    // Emits s[from, to) from offset off (into out when draw); the line's
    // character offsets go to offsets_ when line_part. Returns the end offset.
    int32_t emit(const std::u32string& s, size_t from, size_t to, int32_t off, bool draw,
                 bool hidden, bool line_part);
    void emit_char(char32_t c, bool hidden);

    std::u32string prompt_;
    bool hide_ = false;
    int32_t columns_ = 80;
    int32_t start_ = 0;  // offset where the prompt begins
    int32_t term_ = 0;  // offset where the terminal's cursor stands
    bool first_refresh_ = true;  // nothing drawn yet in this read
    bool full_redraw_ = true;
    bool owed_ = false;  // the screen shows an older line; offsets_ are stale
    bool pending_wrap_ = false;  // the last cell drawn filled a row's last column
    history_t* history_ = nullptr;
    int32_t index_ = -1;  // history entry shown, -1 none
    int32_t count_ = 0;
    int32_t result_head_ = 0;
    // offsets_[i]: the offset where line character i starts (i = size: the end).
    std::vector<int32_t> offsets_;
};

}  // namespace zuv::terminal

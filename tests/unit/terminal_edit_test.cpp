// The line editor's core: editing keys, history, completion and what the
// terminal is told to show. The output goes through a small model of an
// xterm-like screen (deferred wrap at the last column, wide characters that
// do not fit moved to the next row, scrolling), so the tests check what the
// user sees and where the cursor stands.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/terminal_edit.h"
#include "console/terminal_keys.h"

namespace zuv::terminal {
namespace {

class screen {
public:
    screen(int32_t cols, int32_t rows)
        : cols_(cols), rows_(rows), grid_(static_cast<size_t>(rows), blank()) {}

    void feed(const std::string& bytes) {
        for (size_t i = 0; i < bytes.size();) {
            unsigned char b = static_cast<unsigned char>(bytes[i]);
            if (b == 0x1b) {
                i = escape(bytes, i + 1);
            } else if (b == '\r') {
                x_ = 0;
                wrap_ = false;
                ++i;
            } else if (b == '\n') {
                down();
                wrap_ = false;
                ++i;
            } else if (b < 0x20) {
                ADD_FAILURE() << "control byte " << int(b) << " reached the terminal";
                ++i;
            } else {
                char32_t c;
                int n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
                c = n == 1 ? b : b & (0x7F >> n);
                for (int k = 1; k < n; ++k)
                    c = c << 6 | (static_cast<unsigned char>(bytes[i + k]) & 0x3F);
                put(c);
                i += static_cast<size_t>(n);
            }
        }
    }

    // The row's text without trailing blanks (a wide character's second cell
    // is left out).
    std::u32string row(int32_t r) const {
        std::u32string s;
        for (char32_t c : grid_[static_cast<size_t>(r)])
            if (c != WIDE_TAIL) s += c;
        while (!s.empty() && s.back() == U' ') s.pop_back();
        return s;
    }
    int32_t x() const { return x_; }
    int32_t y() const { return y_; }
    int32_t scrolled() const { return scrolled_; }

private:
    static constexpr char32_t WIDE_TAIL = 0xFFFF;
    std::u32string blank() const { return std::u32string(static_cast<size_t>(cols_), U' '); }

    void down() {
        if (y_ == rows_ - 1) {
            grid_.erase(grid_.begin());
            grid_.push_back(blank());
            ++scrolled_;
        } else {
            ++y_;
        }
    }

    void put(char32_t c) {
        int32_t w = cell_width(c);
        if (wrap_) {
            x_ = 0;
            down();
            wrap_ = false;
        }
        if (w == 2 && x_ == cols_ - 1) {
            x_ = 0;
            down();
        }
        grid_[static_cast<size_t>(y_)][static_cast<size_t>(x_)] = c;
        if (w == 2) grid_[static_cast<size_t>(y_)][static_cast<size_t>(x_ + 1)] = WIDE_TAIL;
        x_ += w;
        if (x_ >= cols_) {
            x_ = cols_ - 1;
            wrap_ = true;
        }
    }

    size_t escape(const std::string& s, size_t i) {
        if (i < s.size() && s[i] == ']') {  // OSC, to BEL
            while (i < s.size() && s[i] != '\x07') ++i;
            return i + 1;
        }
        if (i >= s.size() || s[i] != '[') {
            ADD_FAILURE() << "stray Esc";
            return i;
        }
        ++i;
        int n = 0;
        bool given = false;
        while (i < s.size() && ((s[i] >= '0' && s[i] <= '9') || s[i] == ';')) {
            if (s[i] != ';') n = n * 10 + (s[i] - '0');
            given = true;
            ++i;
        }
        if (i >= s.size()) return i;
        char f = s[i];
        if (!given) n = 1;
        wrap_ = f == 'm' ? wrap_ : false;
        switch (f) {
        case 'A': y_ = std::max(0, y_ - n); break;
        case 'B': y_ = std::min(rows_ - 1, y_ + n); break;
        case 'C': x_ = std::min(cols_ - 1, x_ + n); break;
        case 'D': x_ = std::max(0, x_ - n); break;
        case 'J':
            for (int32_t k = x_; k < cols_; ++k)
                grid_[static_cast<size_t>(y_)][static_cast<size_t>(k)] = U' ';
            for (int32_t r = y_ + 1; r < rows_; ++r) grid_[static_cast<size_t>(r)] = blank();
            break;
        case 'm': break;
        default: ADD_FAILURE() << "unexpected sequence final " << f;
        }
        return i + 1;
    }

    int32_t cols_, rows_;
    std::vector<std::u32string> grid_;
    int32_t x_ = 0, y_ = 0, scrolled_ = 0;
    bool wrap_ = false;
};

class vector_history final : public history_t {
public:
    std::vector<std::u32string> entries;  // newest first
    int32_t count() override { return static_cast<int32_t>(entries.size()); }
    std::u32string entry(int32_t i) override { return entries[static_cast<size_t>(i)]; }
    void add(const std::u32string& line) override { entries.insert(entries.begin(), line); }
};

// An editor on a screen, reading keys one at a time.
class TerminalEditor : public ::testing::Test {
protected:
    void start(const std::u32string& prompt = U">> ", bool hide = false, int32_t cols = 80,
               int32_t rows = 24) {
        term = std::make_unique<screen>(cols, rows);
        ed.line.clear();
        ed.cursor = 0;
        ed.begin(prompt, hide, cols, 0, &history);
        flush();
    }
    // Sends the keys; answers whether the read still goes on.
    bool keys(std::initializer_list<int32_t> ks) {
        bool more = true;
        for (int32_t k : ks) {
            EXPECT_TRUE(more) << "key after the end of the read";
            more = ed.key(k);
            flush();
        }
        return more;
    }
    bool type(const std::u32string& text) {
        bool more = true;
        for (char32_t c : text) more = ed.key(static_cast<int32_t>(c)) && more;
        flush();
        return more;
    }
    std::string flush() {
        last = ed.out;
        term->feed(ed.out);
        ed.out.clear();
        return last;
    }
    void expect_screen(const std::u32string& row0, int32_t x, int32_t y = 0) {
        EXPECT_EQ(term->row(0), row0);
        EXPECT_EQ(term->x(), x);
        EXPECT_EQ(term->y(), y);
    }

    line_editor ed;
    vector_history history;
    std::unique_ptr<screen> term;
    std::string last;  // the output of the last flush
};

TEST_F(TerminalEditor, PromptThenTypingAtTheEndEchoesOnlyTheNewCharacter) {
    start();
    expect_screen(U">>", 3);
    for (char32_t c : std::u32string(U"print 1")) {
        ed.key(static_cast<int32_t>(c));
        EXPECT_EQ(flush(), std::string(1, static_cast<char>(c)));
    }
    expect_screen(U">> print 1", 10);
    EXPECT_EQ(ed.line, U"print 1");
}

TEST_F(TerminalEditor, EditingKeysGiveTheRightLineAndColumn) {
    struct edit_case {
        const char* what;
        std::u32string typed;
        std::vector<int32_t> keys;
        std::u32string line;
        int32_t cursor;
    };
    const edit_case cases[] = {
        {"left, insert in the middle", U"ac", {KEY_LEFT, 'b'}, U"abc", 2},
        {"ctrl-b and ctrl-f", U"abc", {2, 2, 6}, U"abc", 2},
        {"home, insert at the start", U"bc", {KEY_HOME, 'a'}, U"abc", 1},
        {"ctrl-a, ctrl-e", U"abc", {1, 5}, U"abc", 3},
        {"end after home", U"abc", {KEY_HOME, KEY_END}, U"abc", 3},
        {"backspace at the end", U"abcd", {KEY_BACKSPACE}, U"abc", 3},
        {"del-char backspace in the middle", U"abxc", {KEY_LEFT, KEY_DEL_CHAR}, U"abc", 2},
        {"backspace at column 0 does nothing", U"abc", {KEY_HOME, KEY_BACKSPACE}, U"abc", 0},
        {"delete in the middle", U"axbc", {KEY_HOME, KEY_RIGHT, KEY_DELETE}, U"abc", 1},
        {"delete at the end does nothing", U"abc", {KEY_DELETE}, U"abc", 3},
        {"ctrl-k cuts to the end", U"abcdef", {KEY_LEFT, KEY_LEFT, KEY_LEFT, 11}, U"abc", 3},
        {"ctrl-k at the end does nothing", U"abc", {11}, U"abc", 3},
        {"ctrl-d deletes under the cursor", U"abxc", {KEY_LEFT, KEY_LEFT, 4}, U"abc", 2},
        {"ctrl-d at the end of a line does nothing", U"abc", {4}, U"abc", 3},
        {"left at 0 and right at the end stop", U"ab", {KEY_RIGHT, KEY_HOME, KEY_LEFT}, U"ab", 0},
        {"keys without an action",
         U"ab",
         {KEY_INSERT, KEY_PAGE_UP, KEY_PAGE_DOWN, -31, 0, 7, 26},
         U"ab",
         2},
    };
    for (const edit_case& c : cases) {
        SCOPED_TRACE(c.what);
        ed = line_editor{};
        start();
        type(c.typed);
        for (int32_t k : c.keys) EXPECT_TRUE(keys({k}));
        EXPECT_EQ(ed.line, c.line);
        EXPECT_EQ(ed.cursor, c.cursor);
        expect_screen(U">> " + c.line, 3 + c.cursor);
    }
}

TEST_F(TerminalEditor, EndingKeys) {
    start();
    type(U"abc");
    EXPECT_FALSE(keys({KEY_ENTER}));
    EXPECT_EQ(ed.line, U"abc");
    EXPECT_EQ(term->y(), 1);  // the line end moved on
    EXPECT_EQ(term->x(), 0);

    start();
    type(U"abc");
    EXPECT_FALSE(keys({3}));  // Ctrl-C quits whatever the line holds
    EXPECT_EQ(ed.line, U"q");

    start();
    EXPECT_FALSE(keys({4}));  // Ctrl-D on an empty line
    EXPECT_EQ(ed.line, U"q");

    start();
    type(U"abcd");
    ed.saved_line = U"stale";
    EXPECT_FALSE(keys({KEY_LEFT, KEY_ESCAPE}));
    EXPECT_EQ(ed.line, U"abcd\x1b");  // the console prints "(escape)" for it
    EXPECT_EQ(ed.result_head(), 3);
    EXPECT_TRUE(ed.saved_line.empty());
}

TEST_F(TerminalEditor, HistoryBrowsingPastBothEnds) {
    start();
    EXPECT_TRUE(keys({KEY_UP}));  // an empty history empties the line
    EXPECT_EQ(ed.line, U"");

    history.entries = {U"newest", U"middle", U"oldest"};
    start();
    type(U"draft");
    keys({KEY_UP});
    EXPECT_EQ(ed.line, U"newest");
    EXPECT_EQ(ed.cursor, 6);
    expect_screen(U">> newest", 9);
    keys({16, KEY_UP});  // Ctrl-P
    EXPECT_EQ(ed.line, U"oldest");
    keys({KEY_UP});  // past the oldest: empty
    EXPECT_EQ(ed.line, U"");
    expect_screen(U">>", 3);
    keys({KEY_DOWN});
    EXPECT_EQ(ed.line, U"middle");
    keys({14});  // Ctrl-N
    EXPECT_EQ(ed.line, U"newest");
    keys({KEY_DOWN});  // past the newest: empty
    EXPECT_EQ(ed.line, U"");
    keys({KEY_UP});
    EXPECT_EQ(ed.line, U"newest");
}

TEST_F(TerminalEditor, HistoryKeepsNoRepeatsNoEmptyAndNoHiddenLines) {
    struct add_case {
        const char* what;
        std::u32string line;
        bool hide;
        size_t count_after;
    };
    const add_case cases[] = {
        {"a new line is added", U"a: 1", false, 1},
        {"the same line again is not", U"a: 1", false, 1},
        {"a line differing in case is", U"A: 1", false, 2},
        {"an older line is added again", U"a: 1", false, 3},
        {"an empty line is not", U"", false, 3},
        {"a hidden line is not", U"secret", true, 3},
    };
    for (const add_case& c : cases) {
        SCOPED_TRACE(c.what);
        start(U">> ", c.hide);
        type(c.line);
        keys({KEY_ENTER});
        EXPECT_EQ(history.entries.size(), c.count_after);
        if (!c.line.empty() && !c.hide) {
            EXPECT_EQ(history.entries.front(), c.line);
        }
    }
    EXPECT_TRUE(history_takes_q(history, U"x", false));
    EXPECT_FALSE(history_takes_q(history, U"a: 1", false));
}

TEST_F(TerminalEditor, HiddenInputShowsStarsAndThePromptInClear) {
    start(U"Password: ", true);
    type(U"s3cr\tt");
    expect_screen(U"Password: ******", 16);
    keys({KEY_LEFT, KEY_LEFT, 'X'});  // a redraw in the middle stays hidden
    expect_screen(U"Password: *******", 15);
    EXPECT_EQ(ed.line, U"s3crX\tt");
}

TEST_F(TerminalEditor, LongLineWrapsAndHomeEndMoveAcrossRows) {
    start();
    std::u32string text(85, U'x');
    type(text);
    EXPECT_EQ(term->row(0), U">> " + std::u32string(77, U'x'));
    EXPECT_EQ(term->row(1), std::u32string(8, U'x'));
    EXPECT_EQ(term->x(), 8);
    EXPECT_EQ(term->y(), 1);
    keys({KEY_HOME});
    EXPECT_EQ(term->x(), 3);
    EXPECT_EQ(term->y(), 0);
    keys({KEY_END});
    EXPECT_EQ(term->x(), 8);
    EXPECT_EQ(term->y(), 1);
    // An edit in the first row redraws both rows in place.
    keys({KEY_HOME, 'y'});
    EXPECT_EQ(term->row(0), U">> y" + std::u32string(76, U'x'));
    EXPECT_EQ(term->row(1), std::u32string(9, U'x'));
    EXPECT_EQ(term->x(), 4);
    EXPECT_EQ(term->y(), 0);
    keys({KEY_ENTER});
    EXPECT_EQ(term->y(), 2);
    EXPECT_EQ(term->x(), 0);
}

TEST_F(TerminalEditor, LineOfExactlyTheWidthPutsTheCursorOnTheNextRow) {
    start(U">> ", false, 20);
    type(std::u32string(17, U'a'));
    EXPECT_EQ(term->x(), 0);
    EXPECT_EQ(term->y(), 1);
    EXPECT_EQ(ed.cursor_offset(), 20);
    // Backspace goes back to the last cell of the first row and blanks after it.
    keys({KEY_BACKSPACE});
    EXPECT_EQ(term->x(), 19);
    EXPECT_EQ(term->y(), 0);
    EXPECT_EQ(term->row(0), U">> " + std::u32string(16, U'a'));
    // Enter on a full row ends on the row below it, with no empty row between.
    type(U"a");
    keys({KEY_ENTER});
    EXPECT_EQ(term->y(), 1);
    EXPECT_EQ(term->row(1), U"");
}

TEST_F(TerminalEditor, WideCharactersTakeTwoCellsAndDoNotStartInTheLastColumn) {
    start(U">> ", false, 10);
    type(U"ab\u4E2D");  // CJK: two cells
    expect_screen(U">> ab\u4E2D", 7);
    keys({KEY_LEFT});
    EXPECT_EQ(term->x(), 5);
    keys({KEY_END});
    type(U"cd\U0001F600");  // from column 9: the emoji starts the next row
    EXPECT_EQ(term->row(0), U">> ab\u4E2Dcd");
    EXPECT_EQ(term->row(1), U"\U0001F600");
    EXPECT_EQ(term->x(), 2);
    EXPECT_EQ(term->y(), 1);
    EXPECT_EQ(ed.line.size(), 6u);  // the emoji is one character
    keys({KEY_LEFT});  // on the emoji: drawn on the second row
    EXPECT_EQ(term->x(), 0);
    EXPECT_EQ(term->y(), 1);
    keys({KEY_END, 'e'});  // counted from where the emoji was drawn
    EXPECT_EQ(term->row(1), U"\U0001F600e");
    EXPECT_EQ(term->x(), 3);
    keys({KEY_HOME, 'z'});  // a redraw: the emoji still cannot start in the last column
    EXPECT_EQ(term->row(0), U">> zab\u4E2Dcd");
    EXPECT_EQ(term->row(1), U"\U0001F600e");
    EXPECT_EQ(term->x(), 4);
    EXPECT_EQ(term->y(), 0);
    keys({KEY_BACKSPACE, KEY_DELETE});  // one cell less: now it fits in the first row
    EXPECT_EQ(term->row(0), U">> b\u4E2Dcd\U0001F600");
    EXPECT_EQ(term->row(1), U"e");
}

TEST_F(TerminalEditor, TabTakesFourCellsWherever) {
    start();
    type(U"a\tb");
    expect_screen(U">> a    b", 9);
    keys({KEY_LEFT});
    EXPECT_EQ(term->x(), 8);
    keys({KEY_LEFT});
    EXPECT_EQ(term->x(), 4);
}

TEST_F(TerminalEditor, EscapeSequencesInThePromptTakeNoCells) {
    start(U"\x1b[1;31m>>\x1b[0m ");
    expect_screen(U">>", 3);
    type(U"abc");
    keys({KEY_HOME});
    EXPECT_EQ(term->x(), 3);
    keys({KEY_RIGHT, 'X'});  // a full redraw re-sends the prompt
    expect_screen(U">> aXbc", 5);
}

TEST_F(TerminalEditor, ControlCharactersFromHistoryCannotMoveTheTerminalCursor) {
    history.entries = {U"a\rb\x07"};
    start();
    keys({KEY_UP});
    expect_screen(U">> a?b?", 7);
}

TEST_F(TerminalEditor, PromptLineFeedStartsARow) {
    start(U"line one\n>> ");
    type(U"ab");
    EXPECT_EQ(term->row(0), U"line one");
    EXPECT_EQ(term->row(1), U">> ab");
    keys({KEY_HOME, 'x'});
    EXPECT_EQ(term->row(0), U"line one");
    EXPECT_EQ(term->row(1), U">> xab");
    EXPECT_EQ(term->x(), 4);
    EXPECT_EQ(term->y(), 1);
}

TEST_F(TerminalEditor, ScreenThatScrollsMovesTheLineUp) {
    term = std::make_unique<screen>(10, 5);
    term->feed("\r\n\r\n\r\n");  // the prompt starts on row 3 of 5
    ed.begin(U">> ", false, 10, 0, &history);
    flush();
    type(std::u32string(25, U'w'));  // 28 cells: rows 3 to 5
    EXPECT_EQ(term->scrolled(), 1);
    keys({KEY_HOME});
    EXPECT_EQ(term->y(), 2);
    EXPECT_EQ(term->x(), 3);
    keys({'v'});
    EXPECT_EQ(term->row(2), U">> v" + std::u32string(6, U'w'));
    EXPECT_EQ(term->row(3), std::u32string(10, U'w'));
    EXPECT_EQ(term->row(4), std::u32string(9, U'w'));
    EXPECT_EQ(term->y(), 2);
    EXPECT_EQ(term->x(), 4);
}

TEST_F(TerminalEditor, PasteCostsASmallConstantPerCharacter) {
    start();
    std::string all;
    for (int i = 0; i < 10000; ++i) {
        ed.key('a' + i % 26);
        all += ed.out;
        ed.out.clear();
    }
    EXPECT_EQ(ed.line.size(), 10000u);
    EXPECT_LE(all.size(), 10000u * 2);
    // Cursor moves cost no redraw either.
    ed.key(KEY_HOME);
    ed.key(KEY_END);
    EXPECT_LT(ed.out.size(), 32u);
}

std::u32string last_line;
int32_t last_cursor;
completion_t complete_one(const std::u32string& line, int32_t cursor) {
    last_line = line;
    last_cursor = cursor;
    return {{U"print 1", 5}};
}
completion_t complete_many(const std::u32string&, int32_t) {
    return {{U"pr", 2}, {U"print", 0}, {U"probe", 0}};
}
completion_t complete_none(const std::u32string&, int32_t) { return {}; }

TEST_F(TerminalEditor, TabWithoutACompletionIsInsertedAsAnyCharacter) {
    ed.complete = nullptr;
    start();
    keys({KEY_TAB, 'a'});
    EXPECT_EQ(ed.line, U"\ta");
    ed.complete = complete_none;
    start();
    keys({'a', KEY_TAB});
    EXPECT_EQ(ed.line, U"a\t");
}

TEST_F(TerminalEditor, TabWithOneCompletionCompletesInPlace) {
    ed.complete = complete_one;
    start();
    type(U"pri 1");
    keys({KEY_LEFT, KEY_LEFT});
    EXPECT_TRUE(keys({KEY_TAB}));
    EXPECT_EQ(last_line, U"pri 1");
    EXPECT_EQ(last_cursor, 3);
    EXPECT_EQ(ed.line, U"print 1");
    EXPECT_EQ(ed.cursor, 5);
    expect_screen(U">> print 1", 8);
}

TEST_F(TerminalEditor, TabWithSeveralCandidatesListsThemAndTheNextReadGoesOn) {
    ed.complete = complete_many;
    start();
    type(U"p");
    EXPECT_FALSE(keys({KEY_TAB}));
    EXPECT_EQ(ed.line, U"");  // ask answers an empty line
    EXPECT_EQ(term->row(0), U">> print probe");
    EXPECT_EQ(term->y(), 1);
    // The next read starts from the common part, cursor after it.
    ed.line.clear();
    ed.cursor = 0;
    ed.begin(U">> ", false, 80, 0, &history);
    flush();
    EXPECT_EQ(ed.line, U"pr");
    EXPECT_EQ(term->row(1), U">> pr");
    EXPECT_EQ(term->x(), 5);
    keys({'i', KEY_ENTER});
    EXPECT_EQ(ed.line, U"pri");
    EXPECT_TRUE(ed.saved_line.empty());
}

// A paste arrives as keys already waiting: the editor edits them all and
// draws the line once, and the screen ends as it would after drawing every
// key (the editor fed one key at a time beside it on a screen of its own).
TEST_F(TerminalEditor, PasteWithKeysWaitingEndsOnTheSameScreen) {
    const std::u32string wide = U"\u4e2d";
    struct paste_case {
        const char* what;
        std::u32string typed;  // before the paste, one key at a time
        std::vector<int32_t> before;  // keys then, one at a time
        std::u32string pasted;
        std::vector<int32_t> keys;  // pasted after the text
        bool hide = false;
        complete_hook_t complete = nullptr;
    };
    const paste_case cases[] = {
        {"into the middle", U"abcd", {KEY_LEFT, KEY_LEFT}, U"0123456789", {}},
        {"into the middle of a wrapped line",
         std::u32string(30, U'x'),
         {KEY_HOME, KEY_RIGHT},
         U"pasted text that wraps twice over",
         {}},
        {"at the start, then on at the end", U"tail", {KEY_HOME}, U"head ", {KEY_END, '!'}},
        {"with moves and deletions in it",
         U"abc",
         {KEY_LEFT},
         U"xyz",
         {KEY_LEFT, KEY_BACKSPACE, KEY_HOME, KEY_DELETE, 11, KEY_END, KEY_BACKSPACE}},
        {"wide characters across the last column",
         U"ab",
         {KEY_LEFT},
         wide + wide + wide + wide + wide + wide + wide + wide + wide,
         {}},
        {"hidden", U"pw", {KEY_LEFT}, U"secret", {}, true},
        {"ended by Enter", U"ab", {KEY_LEFT}, U"xyz", {KEY_ENTER}},
        {"ended by Esc", U"ab", {KEY_LEFT}, U"xyz", {KEY_ESCAPE}},
        {"ended by Ctrl-C", U"ab", {KEY_LEFT}, U"xyz", {3}},
        {"history in it", U"ab", {KEY_LEFT}, U"x", {KEY_UP, 'y', KEY_DOWN, 'z'}},
        {"a Tab completing", U"ab", {KEY_LEFT}, U"x", {KEY_TAB, 'y'}, false, complete_one},
        {"a Tab listing candidates", U"ab", {KEY_LEFT}, U"x", {KEY_TAB}, false, complete_many},
    };
    for (const paste_case& c : cases) {
        SCOPED_TRACE(c.what);
        history.entries = {U"an older line"};
        std::vector<int32_t> paste(c.pasted.begin(), c.pasted.end());
        paste.insert(paste.end(), c.keys.begin(), c.keys.end());
        screen shown[2] = {screen(20, 12), screen(20, 12)};
        line_editor eds[2];
        bool went_on[2] = {true, true};
        for (int waiting = 0; waiting < 2; ++waiting) {
            line_editor& e = eds[waiting];
            e.complete = c.complete;
            e.begin(U">> ", c.hide, 20, 0, &history);
            for (char32_t ch : c.typed) e.key(static_cast<int32_t>(ch));
            for (int32_t k : c.before) e.key(k);
            shown[waiting].feed(e.out);
            e.out.clear();
            for (size_t i = 0; i < paste.size() && went_on[waiting]; ++i) {
                e.defer = waiting && i + 1 < paste.size();
                went_on[waiting] = e.key(paste[i]);
            }
            e.settle();
            shown[waiting].feed(e.out);
        }
        EXPECT_EQ(went_on[1], went_on[0]);
        EXPECT_EQ(eds[1].line, eds[0].line);
        for (int32_t r = 0; r < 12; ++r) EXPECT_EQ(shown[1].row(r), shown[0].row(r)) << "row " << r;
        EXPECT_EQ(shown[1].x(), shown[0].x());
        EXPECT_EQ(shown[1].y(), shown[0].y());
        EXPECT_EQ(shown[1].scrolled(), shown[0].scrolled());
    }
}

// Drawn once, a paste of 10,000 characters into the middle of a line costs
// output in proportion to the line (one redraw per character wrote about
// 50 million bytes).
TEST_F(TerminalEditor, PasteIntoTheMiddleDrawsTheLineOnce) {
    start();
    type(U"()");
    keys({KEY_LEFT});
    for (int i = 0; i < 10000; ++i) {
        ed.defer = i + 1 < 10000;
        ed.key('a' + i % 26);
    }
    ed.settle();
    EXPECT_EQ(ed.line.size(), 10002u);
    EXPECT_LE(ed.out.size(), 10002u * 2);
    flush();
    // 10,005 cells: the last row holds the paste's last four and ")", the
    // cursor on ")".
    EXPECT_EQ(term->row(23), U"mnop)");
    EXPECT_EQ(term->x(), 4);
    EXPECT_EQ(term->y(), 23);
}

// A new width while a line is owed: the line is drawn at the width it was
// edited at first, and the offsets follow the new one.
TEST_F(TerminalEditor, NewWidthDrawsAnOwedLineFirst) {
    start(U">> ", false, 20);
    type(std::u32string(25, U'k'));
    keys({KEY_HOME});
    ed.defer = true;
    ed.key('j');
    EXPECT_EQ(flush(), "");
    ed.set_columns(10);
    flush();
    EXPECT_EQ(term->row(0), U">> j" + std::u32string(16, U'k'));
    EXPECT_EQ(ed.end_offset(), 29);
    EXPECT_EQ(ed.cursor_offset(), 4);
}

TEST_F(TerminalEditor, NewWidthReflowsTheOffsets) {
    start(U">> ", false, 20);
    type(std::u32string(25, U'k'));
    EXPECT_EQ(ed.end_offset(), 28);
    ed.set_columns(10);
    EXPECT_EQ(ed.cursor_offset(), 28);
    ed.set_columns(0);  // no width: 80
    keys({'k'});
    EXPECT_EQ(ed.end_offset(), 29);
}

}  // namespace
}  // namespace zuv::terminal

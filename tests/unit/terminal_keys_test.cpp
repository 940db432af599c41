// Key decoding: terminal bytes to key codes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/terminal_keys.h"

namespace zuv::terminal {
namespace {

// Every key the bytes give, up to the end of the input.
std::vector<int32_t> keys_of(const std::string& bytes) {
    string_source source(bytes);
    key_reader reader(source);
    std::vector<int32_t> keys;
    for (int guard = 0; guard < 1000; ++guard) {
        int32_t k = reader.read();
        if (k == KEY_FAILED) break;
        keys.push_back(k);
    }
    return keys;
}

struct key_case {
    const char* what;
    std::string bytes;
    std::vector<int32_t> keys;
};

TEST(TerminalKeys, SequencesOfXtermTmuxAndTheLinuxConsole) {
    const key_case cases[] = {
        {"arrows (normal mode)",
         "\x1b[A\x1b[B\x1b[C\x1b[D",
         {KEY_UP, KEY_DOWN, KEY_RIGHT, KEY_LEFT}},
        {"arrows (application mode)",
         "\x1bOA\x1bOB\x1bOC\x1bOD",
         {KEY_UP, KEY_DOWN, KEY_RIGHT, KEY_LEFT}},
        {"home and end, xterm", "\x1b[H\x1b[F\x1bOH\x1bOF", {KEY_HOME, KEY_END, KEY_HOME, KEY_END}},
        {"home and end, tmux and screen", "\x1b[1~\x1b[4~", {KEY_HOME, KEY_END}},
        {"home and end, rxvt", "\x1b[7~\x1b[8~", {KEY_HOME, KEY_END}},
        {"insert, delete, pages",
         "\x1b[2~\x1b[3~\x1b[5~\x1b[6~",
         {KEY_INSERT, KEY_DELETE, KEY_PAGE_UP, KEY_PAGE_DOWN}},
        {"modifiers are ignored", "\x1b[1;5C\x1b[1;2D\x1b[3;5~", {KEY_RIGHT, KEY_LEFT, KEY_DELETE}},
        {"F1-F4, xterm", "\x1bOP\x1bOQ\x1bOR\x1bOS", {-31, -32, -33, -34}},
        {"F1-F4, vt220", "\x1b[11~\x1b[12~\x1b[13~\x1b[14~", {-31, -32, -33, -34}},
        {"F1-F5, Linux console", "\x1b[[A\x1b[[E", {-31, -35}},
        {"F5-F12",
         "\x1b[15~\x1b[17~\x1b[18~\x1b[19~\x1b[20~\x1b[21~\x1b[23~\x1b[24~",
         {-35, -36, -37, -38, -39, -40, -41, -42}},
        {"keypad Enter", "\x1bOM", {KEY_ENTER}},
        {"unknown sequences are dropped whole",
         "\x1b[200~x\x1b[99~\x1b[?1;2c",
         {KEY_NONE, 'x', KEY_NONE, KEY_NONE}},
        {"control keys",
         "\x01\x03\x04\x08\x09\x0b\x7f",
         {1, 3, 4, KEY_BACKSPACE, KEY_TAB, 11, KEY_DEL_CHAR}},
        {"Enter as CR or LF", "\r\n", {KEY_ENTER, KEY_ENTER}},
        {"Alt and a key gives the key",
         "\x1b"
         "b\x1b"
         "\x7f",
         {'b', KEY_DEL_CHAR}},
        {"UTF-8 of 2, 3 and 4 bytes",
         "\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80",
         {0xE9, 0x4E2D, 0x1F600}},
    };
    for (const key_case& c : cases) EXPECT_EQ(keys_of(c.bytes), c.keys) << c.what;
}

TEST(TerminalKeys, LoneEscapeIsToldFromASequenceByTheWait) {
    // Nothing follows within the wait: the Esc key.
    EXPECT_EQ(keys_of("\x1b"), (std::vector<int32_t>{KEY_ESCAPE}));
    // Esc pressed before an arrow: the arrow is still read whole.
    EXPECT_EQ(keys_of("\x1b\x1b[A"), (std::vector<int32_t>{KEY_ESCAPE, KEY_UP}));
    EXPECT_EQ(keys_of("\x1b\x1b"), (std::vector<int32_t>{KEY_ESCAPE, KEY_ESCAPE}));
}

// A source that times out after a given byte, as a slow link would.
class pausing_source final : public byte_source {
public:
    pausing_source(std::string bytes, size_t pause_after)
        : bytes_(std::move(bytes)), pause_(pause_after) {}
    int read_byte(bool wait) override {
        if (wait && pos_ == pause_ && !paused_) {
            paused_ = true;
            return BYTE_TIMEOUT;
        }
        if (pos_ < bytes_.size()) return static_cast<uint8_t>(bytes_[pos_++]);
        return wait ? BYTE_TIMEOUT : BYTE_END;
    }

private:
    std::string bytes_;
    size_t pos_ = 0, pause_;
    bool paused_ = false;
};

TEST(TerminalKeys, SequenceCutShortByTheWait) {
    // "ESC [" then a pause: Alt and "[", and what comes later is typed text.
    pausing_source source("\x1b[1~a", 2);
    key_reader reader(source);
    EXPECT_EQ(reader.read(), '[');
    EXPECT_EQ(reader.read(), '1');
    EXPECT_EQ(reader.read(), '~');
    EXPECT_EQ(reader.read(), 'a');
    EXPECT_EQ(reader.read(), KEY_FAILED);
    // A pause inside the parameters: the sequence is dropped.
    pausing_source cut("\x1b[1~a", 3);
    key_reader after_cut(cut);
    EXPECT_EQ(after_cut.read(), KEY_NONE);
    EXPECT_EQ(after_cut.read(), '~');
    EXPECT_EQ(after_cut.read(), 'a');
}

TEST(TerminalKeys, BrokenInputGivesNoKeyAndLosesNothingAfterIt) {
    // A lead byte whose sequence breaks off: the breaking byte is the next key.
    EXPECT_EQ(keys_of("\xc3"
                      "a"),
              (std::vector<int32_t>{KEY_NONE, 'a'}));
    EXPECT_EQ(keys_of("\xe4\xb8\r"), (std::vector<int32_t>{KEY_NONE, KEY_ENTER}));
    // Bytes that start nothing, an overlong form, an encoded surrogate and a
    // code point past U+10FFFF.
    EXPECT_EQ(keys_of("\x80\xff"), (std::vector<int32_t>{KEY_NONE, KEY_NONE}));
    EXPECT_EQ(keys_of("\xe0\x80\x80"), (std::vector<int32_t>{KEY_NONE}));
    EXPECT_EQ(keys_of("\xed\xa0\x80"), (std::vector<int32_t>{KEY_NONE}));
    EXPECT_EQ(keys_of("\xf4\x90\x80\x80"), (std::vector<int32_t>{KEY_NONE}));
    // A sequence broken by a control byte gives that byte back as a key.
    EXPECT_EQ(keys_of("\x1b[1\r"), (std::vector<int32_t>{KEY_NONE, KEY_ENTER}));
    // The end of the input in the middle of a character.
    EXPECT_EQ(keys_of("\xf0\x9f"), (std::vector<int32_t>{KEY_NONE}));
}

TEST(TerminalKeys, DecodeSequenceRejectsMalformedOnes) {
    EXPECT_EQ(decode_sequence("["), KEY_NONE);
    EXPECT_EQ(decode_sequence("[~"), KEY_NONE);
    EXPECT_EQ(decode_sequence("[99999999999~"), KEY_NONE);
    EXPECT_EQ(decode_sequence("OAB"), KEY_NONE);
    EXPECT_EQ(decode_sequence("[[Z"), KEY_NONE);
    EXPECT_EQ(decode_sequence("X"), KEY_NONE);
}

}  // namespace
}  // namespace zuv::terminal

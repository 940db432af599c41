// Key decoding: terminal input bytes to key codes.
//
// Keys that carry a character come back as that character's code point
// (Enter 13, Tab 9, Backspace 8 or 127, Esc 27, Ctrl-A to Ctrl-Z as 1 to 26);
// keys without one as the negative codes shared with the terminal UI; 0 for
// any other key (an unknown sequence is read to its end and dropped).
//
// A lone Esc is told from the start of a sequence by time: when no byte
// follows within the source's short wait, it is the Esc key. Esc followed by
// an ordinary character (Alt and the key) gives that character, as the
// keyboard gives it without Alt.
#pragma once

#include <cstdint>
#include <string>

namespace zuv::terminal {

constexpr int32_t KEY_NONE = 0;
constexpr int32_t KEY_FAILED = -1;  // the input ended or failed
constexpr int32_t KEY_UP = -20;
constexpr int32_t KEY_DOWN = -21;
constexpr int32_t KEY_RIGHT = -22;
constexpr int32_t KEY_LEFT = -23;
constexpr int32_t KEY_END = -24;
constexpr int32_t KEY_HOME = -25;
constexpr int32_t KEY_INSERT = -26;
constexpr int32_t KEY_DELETE = -27;
constexpr int32_t KEY_PAGE_UP = -28;
constexpr int32_t KEY_PAGE_DOWN = -29;
constexpr int32_t KEY_F1 = -31;  // F1 to F12: -31 to -42
constexpr int32_t KEY_F12 = -42;

constexpr int32_t KEY_ENTER = 13;
constexpr int32_t KEY_TAB = 9;
constexpr int32_t KEY_BACKSPACE = 8;
constexpr int32_t KEY_ESCAPE = 27;
constexpr int32_t KEY_DEL_CHAR = 127;  // what most terminals send for Backspace

// What read_byte answers besides a byte.
constexpr int BYTE_END = -1;  // end of input or a failed read
constexpr int BYTE_TIMEOUT = -2;  // nothing came within the short wait

// Where the decoder takes its bytes from. wait: false blocks until a byte
// comes; true gives up after the short wait that tells a lone Esc from a
// sequence.
class byte_source {
public:
    virtual int read_byte(bool wait) = 0;

protected:
    ~byte_source() = default;
};

// Reads keys from a byte source. A byte that cannot start a UTF-8
// character, or a broken UTF-8 sequence, gives KEY_NONE; the byte that broke
// a sequence is read again as the start of the next key.
class key_reader {
public:
    explicit key_reader(byte_source& source) : source_(source) {}
    // The next key; KEY_FAILED once the input has ended.
    int32_t read();

private:
    int next(bool wait) {
        if (pending_ != NO_BYTE) {
            int b = pending_;
            pending_ = NO_BYTE;
            return b;
        }
        return source_.read_byte(wait);
    }
    int32_t read_escape();
    int32_t read_utf8(int lead);

    static constexpr int NO_BYTE = -100;
    byte_source& source_;
    int pending_ = NO_BYTE;
};

// The key of a complete escape sequence (the bytes after Esc, as sent by
// xterm, tmux, screen and the Linux console); KEY_NONE for a sequence that
// names no key here. Exposed for the tests.
int32_t decode_sequence(const std::string& bytes);

// A byte source over a fixed string, for the tests: a waiting read at the
// end answers BYTE_TIMEOUT, a blocking one BYTE_END.
class string_source final : public byte_source {
public:
    explicit string_source(std::string bytes) : bytes_(std::move(bytes)) {}
    int read_byte(bool wait) override {
        if (pos_ < bytes_.size()) return static_cast<uint8_t>(bytes_[pos_++]);
        return wait ? BYTE_TIMEOUT : BYTE_END;
    }
    bool at_end() const { return pos_ >= bytes_.size(); }

private:
    std::string bytes_;
    size_t pos_ = 0;
};

}  // namespace zuv::terminal
